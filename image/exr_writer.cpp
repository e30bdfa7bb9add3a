// EXR output through OpenEXR's scan-line interface.
#include "image/exr_writer.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"

namespace quorva {
std::string exrNameFor(const std::string& targaPath) {
    const std::string ext = ".tga";
    if (targaPath.size() >= ext.size() && targaPath.compare(targaPath.size() - ext.size(), ext.size(), ext) == 0)
        return targaPath.substr(0, targaPath.size() - ext.size()) + ".exr";
    return targaPath + ".exr";
}

void writeExrImage(const FrameBuffers& frame, const std::string& exrPath) {
    const SBuffer& sb = frame.color;
    const int width = sb.width, height = sb.height;
    if (width < 1 || height < 1) return;
    const std::size_t stride = static_cast<std::size_t>(width) + 1;
    const bool withLinear = frame.linear.size() >= stride * (static_cast<std::size_t>(height) + 1) * 4;
    const bool withDepth = frame.hasDepth;
    std::vector<half> rgba(static_cast<std::size_t>(width) * height * 4);
    std::vector<float> depth(withDepth ? static_cast<std::size_t>(width) * height : 0, 0.0f);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* bytes = sb.hasRow(y) ? sb.row(y) : nullptr;
        for (int x = 0; x < width; ++x) {
            half* out = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            const float* kept = withLinear ? &frame.linear[(y * stride + x) * 4] : nullptr;
            for (int c = 0; c < 4; ++c) {
                const std::uint8_t byte = bytes ? bytes[4 * x + c] : 0;
                const float v = kept ? kept[c] : NAN;
                out[c] = half((v == v && colourByte(v) == byte) ? v : byte / 255.0f);
            }
            if (withDepth)
                depth[static_cast<std::size_t>(y) * width + x] =
                    frame.depth.hasRow(y) ? static_cast<float>(frame.depth.rows[y][x]) : 1000000.0f;
        }
    }
    const std::string temporary = exrPath + ".part";
    try {
        Imf::Header header(width, height);
        header.compression() = Imf::ZIP_COMPRESSION;
        header.zipCompressionLevel() = 1;  // a quick pass: most of the gain for a small share of the time
        Imf::FrameBuffer slices;
        const char* names[4] = {"R", "G", "B", "A"};
        const std::size_t pixelBytes = 4 * sizeof(half);
        for (int c = 0; c < 4; ++c) {
            header.channels().insert(names[c], Imf::Channel(Imf::HALF));
            slices.insert(names[c], Imf::Slice(Imf::HALF, reinterpret_cast<char*>(rgba.data() + c), pixelBytes,
                                               pixelBytes * width));
        }
        if (withDepth) {
            header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
            slices.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth.data()), sizeof(float),
                                          sizeof(float) * width));
        }
        {
            Imf::OutputFile file(temporary.c_str(), header, 1);
            file.setFrameBuffer(slices);
            file.writePixels(height);
        }
        if (std::rename(temporary.c_str(), exrPath.c_str()) != 0) throw std::runtime_error("rename");
    } catch (const std::exception&) {
        std::remove(temporary.c_str());
        fatal("Failed to write EXR image file %s", exrPath.c_str());
    }
}

}  // namespace quorva
