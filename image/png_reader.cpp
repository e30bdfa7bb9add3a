// Reading PNG texture images through libpng into blue, green, red (alpha) or grey rows, top row first.
#include <png.h>

#include <csetjmp>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"

namespace quorva {

namespace {

struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;
    int passes = 1;
    png_size_t storedRowBytes = 0;  // before the transformations: what the compressed data must hold
    png_size_t rowBytes = 0;
};

// libpng reports errors by a long jump back to the setjmp below. The two functions that set it keep
// only plain values in their frames so the jump skips no destructor; the C++ objects live in the caller.
bool startPng(png_structp png, png_infop info, std::FILE* file, PngLayout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colourType, interlace;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    layout->storedRowBytes = png_get_rowbytes(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (depth == 16) png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE || (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) ||
        transparency)
        png_set_expand(png);
    // Grey with alpha becomes colour with alpha, so every record with alpha is blue, green, red, alpha.
    if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA || (colourType == PNG_COLOR_TYPE_GRAY && transparency))
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    layout->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = width;
    layout->height = height;
    layout->channels = png_get_channels(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return true;
}

// Every pass is read into the record's own rows: libpng merges each interlace pass into the pixels
// earlier passes left there.
bool readPngRows(png_structp png, png_infop info, png_bytep* rows, png_uint_32 height, int passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, rows[y], nullptr);
    png_read_end(png, info);
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

bool readPngImage(std::FILE* file, ImageFile& image) {
    const long fileBytes = bytesRemaining(file);
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!reader.png) return false;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) return false;
    PngLayout layout;
    if (!startPng(reader.png, reader.info, file, &layout)) return false;
    if (layout.channels < 1 || layout.channels > 4 || layout.channels == 2) return false;

    // Deflate expands at most about 1032 times: a header claiming far more than the file can hold is
    // corrupt, and is refused before anything is allocated.
    const std::uint64_t stored = std::uint64_t{layout.storedRowBytes + 1} * layout.height;
    if (fileBytes >= 0 && stored > static_cast<std::uint64_t>(fileBytes) * 1040 + 4096) return false;
    if (tooManyPixels(layout.width, layout.height)) return false;

    image.width = layout.width;
    image.height = layout.height;
    image.bitsPerPixel = 8 * layout.channels;
    image.imageType = layout.channels == 1 ? 3 : 2;
    image.orientation = 0x20;
    image.compressed = 0;
    allocateRows(image, layout.rowBytes, "Failed to allocate PNG image space");
    std::vector<png_bytep> rows;
    try {
        rows.resize(layout.height);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate PNG image");
    }
    for (png_uint_32 y = 0; y < layout.height; ++y) rows[y] = image.rows[y].data();
    return readPngRows(reader.png, reader.info, rows.data(), layout.height, layout.passes);
}

}  // namespace quorva
