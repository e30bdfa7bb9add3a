// Reading BMP texture images: 1, 4 and 8-bit palettes and 24-bit pixels, stored as 24-bit blue, green,
// red rows with the top row first.
#include <cstring>
#include <vector>

#include "image/image_readers.h"

namespace quorva {

namespace {

constexpr int FileHeaderSize = 14;
constexpr int InfoHeaderSize = 40;

std::uint32_t word32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t word16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool readBmpImage(std::FILE* file, ImageFile& image) {
    const long fileBytes = bytesRemaining(file);
    std::uint8_t h[FileHeaderSize + InfoHeaderSize];
    if (std::fread(h, 1, sizeof h, file) != sizeof h) return false;
    if (!((h[0] == 'B' && h[1] == 'M') || (h[0] == 'B' && h[1] == 'A'))) return false;
    const std::uint32_t dataOffset = word32(h + 10);
    const std::uint32_t infoSize = word32(h + 14);
    const std::int32_t width = static_cast<std::int32_t>(word32(h + 18));
    const std::int32_t signedHeight = static_cast<std::int32_t>(word32(h + 22));
    const int bits = word16(h + 28);
    const std::uint32_t compression = word32(h + 30);
    const std::uint32_t coloursUsed = word32(h + 46);
    // Older 12-byte headers lay the fields out differently; compressed pixel data is not decoded here.
    if (infoSize < InfoHeaderSize || compression != 0) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
    // A negative height marks rows stored top row first.
    const bool topDown = signedHeight < 0;
    const std::int64_t height = topDown ? -std::int64_t{signedHeight} : signedHeight;
    if (width <= 0 || height <= 0) return false;

    // The palette follows the info header; entries past the ones stored stay black.
    std::uint8_t palette[256 * 4] = {};
    if (bits <= 8) {
        const std::uint32_t full = 1u << bits;
        const std::uint32_t entries = coloursUsed > 0 && coloursUsed < full ? coloursUsed : full;
        if (std::fseek(file, FileHeaderSize + static_cast<long>(infoSize), SEEK_SET) != 0 ||
            std::fread(palette, 4, entries, file) != entries)
            return false;
    }

    const std::uint64_t rowBytes = (std::uint64_t{static_cast<std::uint32_t>(width)} * bits + 31) / 32 * 4;
    const std::uint64_t outBytes = std::uint64_t{static_cast<std::uint32_t>(width)} * 3;
    if (fileBytes < 0 || dataOffset > static_cast<std::uint64_t>(fileBytes) ||
        rowBytes * height > static_cast<std::uint64_t>(fileBytes) - dataOffset)
        return false;
    if (tooManyPixels(static_cast<std::uint32_t>(width), static_cast<std::uint64_t>(height))) return false;
    if (std::fseek(file, static_cast<long>(dataOffset), SEEK_SET) != 0) return false;

    image.width = static_cast<unsigned>(width);
    image.height = static_cast<unsigned>(height);
    image.bitsPerPixel = 24;
    image.imageType = 2;
    image.orientation = 0x20;
    image.compressed = 0;
    allocateRows(image, outBytes, "Failed to allocate BMP image space");

    std::vector<std::uint8_t> stored(rowBytes);
    for (std::int64_t i = 0; i < height; ++i) {
        if (std::fread(stored.data(), 1, stored.size(), file) != stored.size()) return false;
        std::uint8_t* out = image.rows[topDown ? i : height - 1 - i].data();
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* pixel;
            if (bits == 24) {
                pixel = stored.data() + 3 * x;
            } else {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                const int index = (stored[x / perByte] >> shift) & ((1 << bits) - 1);
                pixel = palette + 4 * index;
            }
            std::memcpy(out + 3 * x, pixel, 3);
        }
    }
    return true;
}

}  // namespace quorva
