// Z-channel files: the frame's depths as raw 64-bit doubles or as 8/16/24/32-bit Targa depth images.
#include <algorithm>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"
#include "image/targa_writer.h"
#include "render/frame_buffers.h"

namespace quorva {

namespace {

constexpr double NoHit = 1000000.0;

double depthAt(const ZBuffer& z, int x, int y) {
    if (!z.hasRow(y) || x >= static_cast<int>(z.rows[y].size())) return NoHit;
    return z.rows[y][x];
}

// Depth split into whole units and two fractional bytes, each passed through the 0..1 colour scale the
// renderer stores pixels with (so 255 stays 255 but a fraction byte of 255 becomes 254).
void depthBytes(double d, std::uint8_t& whole, std::uint8_t& frac1, std::uint8_t& frac2) {
    d = std::clamp(d, 0.0, 255.0);
    if (d != d) d = 255.0;  // an undefined depth counts as no hit
    const int i = static_cast<int>(d);
    const int f1 = static_cast<int>((d - i) * 256.0);
    const int f2 = static_cast<int>((d - (i + f1 / 256.0)) * 65536.0) % 256;
    whole = static_cast<std::uint8_t>(static_cast<int>(i / 255.0 * 255.0));
    frac1 = static_cast<std::uint8_t>(static_cast<int>(f1 / 256.0 * 255.0));
    frac2 = static_cast<std::uint8_t>(static_cast<int>(f2 / 256.0 * 255.0));
}

// Written under a temporary name and renamed when whole: a run killed during the dump leaves no cut
// file under the final name.
bool dumpRaw(const ZBuffer& z, int width, int height, const std::string& name) {
    const std::string partial = name + ".part";
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) {
        warning("Unable to create Z-channel 64-bit file");
        return false;
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double d = depthAt(z, x, y);
            std::uint64_t bits;
            std::memcpy(&bits, &d, 8);
            for (int b = 0; b < 8; ++b) row[8 * x + b] = static_cast<std::uint8_t>(bits >> (8 * b));
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    // A dump cut short (a full disk) is never left behind as if it were the frame's depths.
    const bool ok = std::fflush(f) == 0 && std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !ok || std::rename(partial.c_str(), name.c_str()) != 0) {
        std::remove(partial.c_str());
        fatal("Failed to write Z-channel file %s", name.c_str());
    }
    return true;
}

bool dumpTarga(const ZBuffer& z, int width, int height, int depth, const std::string& name) {
    TargaOutputPtr out = createTargaOutput(name, width, height, depth, false);
    if (!out) {
        warning("Unable to create Z-channel TGA file");
        return false;
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t whole, frac1, frac2;
            depthBytes(depthAt(z, x, y), whole, frac1, frac2);
            const std::uint8_t stored[4] = {frac2, frac1, whole, 255};
            switch (depth) {
                case 8:
                    out->pixels.put(&whole);
                    break;
                case 16: {
                    const std::uint8_t word[2] = {frac1, whole};
                    out->pixels.put(word);
                    break;
                }
                default:
                    out->pixels.put(stored);
                    break;
            }
        }
        markDrawn(*out, y, 0, width);
        out->rowsInFile = y + 1;
    }
    finishTargaOutput(*out);
    return true;
}

}  // namespace

void dumpZChannel(FrameBuffers& frame, const std::string& zBase, int depth) {
    if (frame.zDumped) return;
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32 && depth != 64) return;
    frame.zDumped = true;
    const ZBuffer& z = frame.depth;
    const int width = z.width > 0 ? z.width : frame.color.width;
    const int height = z.height > 0 ? z.height : frame.color.height;
    const std::string name =
        depth == 64 ? zBase + ".Z64.quorva" : formatText("%s.Z%d.tga", zBase.c_str(), depth);
    const bool ok = depth == 64 ? dumpRaw(z, width, height, name) : dumpTarga(z, width, height, depth, name);
    if (ok) message("\nZ-channel dumped to \"%s\"", name.c_str());
}

}  // namespace quorva
