// Builds binary scene and mesh files byte by byte for the format tests, and reads them back.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <string>

#include "diagnostics/diagnostics.h"
#include "formats/binary_scene.h"
#include "formats/qsb_records.h"
#include "scene/scene_state.h"

namespace quorva::testing {

struct Bytes {
    std::string data;

    Bytes& u8(int b) {
        data.push_back(static_cast<char>(b));
        return *this;
    }
    Bytes& i32(std::int32_t n) { return raw(n); }
    Bytes& floats(std::initializer_list<float> values) {
        for (float f : values) raw(f);
        return *this;
    }
    // A 32-byte name field: zero padded, or exactly 32 characters without a terminator.
    Bytes& name(const std::string& text) {
        std::string field = text.substr(0, qsb::NameSize);
        field.resize(qsb::NameSize, '\0');
        data += field;
        return *this;
    }
    template <class T>
    Bytes& raw(const T& value, std::size_t size = sizeof(T)) {
        data.append(reinterpret_cast<const char*>(&value), size);
        return *this;
    }
    Bytes& operator+=(const Bytes& other) {
        data += other.data;
        return *this;
    }
};

inline Bytes sceneHeader(int version = 3) {
    Bytes b;
    b.data = std::string(qsb::SceneMagic);
    b.u8(version);
    return b;
}
inline Bytes meshHeader() {
    Bytes b;
    b.data = std::string(qsb::MeshMagic);
    return b;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary) << bytes.data;
}

// Reads the bytes as a binary scene file at `path`: "" on success, else the fatal message.
inline std::string readScene(SceneState& scene, const std::string& path, const Bytes& bytes) {
    writeBytes(path, bytes);
    try {
        ReadBinaryScene(scene, path);
    } catch (const FatalError& e) {
        return e.what();
    }
    return "";
}

}  // namespace quorva::testing
