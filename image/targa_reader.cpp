// Reading Targa texture images: colour-mapped, true-colour and grey, uncompressed or run-length encoded.
#include <cstring>
#include <new>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

namespace quorva {

namespace {

[[noreturn]] void prematureEnd() {
    fatal("Premature EOF in image file");
}

void readPixels(std::FILE* file, std::uint8_t* into, std::size_t bytes) {
    if (std::fread(into, 1, bytes, file) != bytes) prematureEnd();
}

// Run-length packets are decoded in file order and may continue from one row into the next.
void readPacked(std::FILE* file, ImageFile& image, std::size_t pixelBytes) {
    const std::size_t rowBytes = image.width * pixelBytes;
    std::uint8_t pixel[4];
    std::size_t row = 0, offset = 0;
    while (row < image.height) {
        const int header = std::getc(file);
        if (header == EOF) prematureEnd();
        int count = (header & 0x7F) + 1;
        const bool run = header & 0x80;
        if (run) readPixels(file, pixel, pixelBytes);
        // Pixels of a last packet that reach past the image are not needed.
        for (; count > 0 && row < image.height; --count) {
            if (!run) readPixels(file, pixel, pixelBytes);
            std::memcpy(image.rows[row].data() + offset, pixel, pixelBytes);
            offset += pixelBytes;
            if (offset == rowBytes) {
                offset = 0;
                ++row;
            }
        }
    }
}

}  // namespace

void readTargaImage(std::FILE* file, ImageFile& image) {
    const char* name = image.name.c_str();
    std::uint8_t h[18];
    if (std::fread(h, 1, sizeof h, file) != sizeof h) fatal("Failed to read Targa header of %s", name);
    const int idLength = h[0];
    const int mapType = h[1];
    const int type = h[2];
    const int mapLength = h[5] | (h[6] << 8);
    const int mapEntryBits = h[7];
    image.width = h[12] | (h[13] << 8);
    image.height = h[14] | (h[15] << 8);
    int bits = h[16];
    if (type != 1 && type != 2 && type != 3 && type != 8 && type != 9 && type != 10 && type != 11)
        fatal("Unsupported Targa type (%d)", type);
    image.imageType = type;
    image.compressed = type >= 8 ? 1 : 0;
    image.orientation = h[17] & 0x20;
    if (bits == 15) bits = 16;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) fatal("Unsupported Targa pixel size (%d)", bits);
    image.bitsPerPixel = bits;

    std::uint8_t id[256];
    if (idLength > 0 &&
        std::fread(id, 1, static_cast<std::size_t>(idLength), file) != static_cast<std::size_t>(idLength))
        fatal("Failed to read Targa id field of %s", name);

    if (mapType != 0 && mapLength > 0) {
        // Entry sizes of 15 bits occupy two bytes like 16-bit entries.
        image.colorMapEntrySize = (mapEntryBits + 7) / 8;
        image.colorMapLength = mapLength;
        try {
            image.colorMap.assign(static_cast<std::size_t>(mapLength) * image.colorMapEntrySize, 0);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate Targa color map");
        }
        if (std::fread(image.colorMap.data(), 1, image.colorMap.size(), file) != image.colorMap.size())
            fatal("Premature EOF in image file color map");
    }

    // Refuse sizes the file cannot hold before allocating: a run packet of one byte-pixel covers at most
    // 128 pixels in two bytes.
    const std::size_t pixelBytes = static_cast<std::size_t>(bits / 8);
    const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
    const long remaining = bytesRemaining(file);
    if (remaining >= 0) {
        const std::uint64_t available = static_cast<std::uint64_t>(remaining);
        const std::uint64_t limit =
            image.compressed ? (available / (1 + pixelBytes) + 1) * 128 : available / pixelBytes;
        if (pixels > limit) prematureEnd();
    }
    if (tooManyPixels(image.width, image.height)) fatal("Failed to load image file \"%s\"", name);
    allocateRows(image, image.width * pixelBytes, "Failed to allocate image size");
    if (pixels == 0) return;

    if (image.compressed) {
        readPacked(file, image, pixelBytes);
    } else {
        for (auto& row : image.rows) readPixels(file, row.data(), row.size());
    }
}

}  // namespace quorva
