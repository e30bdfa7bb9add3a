// Hand-built 3DS chunks for the converter's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace quorva::converter::testing {

inline std::string u16(unsigned v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
inline std::string u32(std::uint32_t v) {
    return u16(v & 0xFFFF) + u16(v >> 16);
}
inline std::string f32(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return u32(bits);
}
inline std::string floats(std::initializer_list<float> values) {
    std::string s;
    for (float f : values) s += f32(f);
    return s;
}
inline std::string cstr(const std::string& s) {
    return s + std::string(1, '\0');
}
inline std::string chunk(unsigned id, const std::string& payload = {}) {
    return u16(id) + u32(static_cast<std::uint32_t>(payload.size() + 6)) + payload;
}
inline std::string rgb(float r, float g, float b) {
    return chunk(0x0010, floats({r, g, b}));
}
inline std::string percent(int p) {
    return chunk(0x0030, u16(static_cast<unsigned>(p)));
}
inline std::string file(const std::string& editorContent) {
    return chunk(0x4D4D, chunk(0x3D3D, editorContent));
}
inline std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// A named triangle mesh: vertices, faces (three indices each) and optional sub-chunks after the faces.
inline std::string meshObject(const std::string& name, const std::vector<float>& xyz,
                              const std::vector<unsigned>& faces, const std::string& faceChildren = {},
                              const std::string& meshChildren = {}) {
    std::string v = u16(static_cast<unsigned>(xyz.size() / 3));
    for (float f : xyz) v += f32(f);
    std::string f = u16(static_cast<unsigned>(faces.size() / 3));
    for (std::size_t i = 0; i < faces.size(); i += 3)
        f += u16(faces[i]) + u16(faces[i + 1]) + u16(faces[i + 2]) + u16(0);
    return chunk(0x4000, cstr(name) + chunk(0x4100, chunk(0x4110, v) + chunk(0x4120, f + faceChildren) +
                                                        meshChildren));
}

}  // namespace quorva::converter::testing
