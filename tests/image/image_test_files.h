// Helpers for the image tests: a scratch folder, whole-file reads and writes, and frame buffers filled
// with a pattern.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "render/frame_buffers.h"

namespace quorva::testing {

using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorva-image-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the files in the folder.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename());
        return names;
    }

  private:
    std::string path_;
};

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Every row present, (width + 1) pixels of red, green, blue, alpha from `pixel(x, y, rgba)`.
inline FrameBuffers patternFrame(int width, int height,
                                 const std::function<void(int, int, std::uint8_t*)>& pixel) {
    FrameBuffers frame;
    frame.color.width = width;
    frame.color.height = height;
    frame.color.rows.resize(height + 1);
    for (int y = 0; y < height; ++y) {
        frame.color.rows[y].assign(static_cast<std::size_t>(width + 1) * 4, 0);
        for (int x = 0; x < width; ++x) pixel(x, y, frame.color.rows[y].data() + 4 * x);
    }
    return frame;
}

inline void le16(Bytes& b, int v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

inline void le32(Bytes& b, std::uint32_t v) {
    le16(b, static_cast<int>(v & 0xFFFF));
    le16(b, static_cast<int>(v >> 16));
}

// An 18-byte Targa header with no image ID.
inline Bytes targaHeader(int type, int width, int height, int bits, int descriptor, int mapLength = 0,
                         int mapBits = 0) {
    Bytes h = {0, static_cast<std::uint8_t>(mapLength ? 1 : 0), static_cast<std::uint8_t>(type), 0, 0};
    le16(h, mapLength);
    h.push_back(static_cast<std::uint8_t>(mapBits));
    le16(h, 0);
    le16(h, 0);
    le16(h, width);
    le16(h, height);
    h.push_back(static_cast<std::uint8_t>(bits));
    h.push_back(static_cast<std::uint8_t>(descriptor));
    return h;
}

}  // namespace quorva::testing
