// The PNG copy of a finished image: the Targa file is read back, so the copy has exactly its pixels.
#include "image/png_writer.h"

#include <png.h>

#include <cstdio>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/image_readers.h"
#include "image/targa_writer.h"

namespace quorva {

namespace {

// libpng reports errors by a long jump back here; the frame holds only plain values, so the jump skips
// no destructor.
bool encodePng(png_structp png, png_infop info, std::FILE* file, png_uint_32 width, png_uint_32 height,
               bool alpha, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

}  // namespace

std::string pngNameFor(const std::string& targaPath) {
    const std::string suffix = ".tga";
    if (targaPath.size() >= suffix.size() &&
        targaPath.compare(targaPath.size() - suffix.size(), suffix.size(), suffix) == 0)
        return targaPath.substr(0, targaPath.size() - suffix.size()) + ".png";
    return targaPath + ".png";
}

void writePngCopy(const std::string& targaPath, const std::string& pngPath) {
    ImageFile image;
    image.name = targaPath;
    std::FILE* in = std::fopen(targaPath.c_str(), "rb");
    if (!in) fatal("Failed to write PNG image file %s", pngPath.c_str());
    try {
        readTargaImage(in, image);
    } catch (...) {
        std::fclose(in);
        throw;
    }
    std::fclose(in);

    // Stored pixels to red, green, blue (alpha); rows are top first in the images we write.
    const bool alpha = image.bitsPerPixel == 32;
    const std::size_t channels = alpha ? 4 : 3;
    const int stored = image.bitsPerPixel / 8;
    std::vector<std::vector<png_byte>> rows(image.height);
    std::vector<png_bytep> pointers(image.height);
    for (unsigned y = 0; y < image.height; ++y) {
        const std::vector<std::uint8_t>& from =
            image.rows[image.orientation & 0x20 ? y : image.height - 1 - y];
        std::vector<png_byte>& to = rows[y];
        to.resize(image.width * channels);
        std::uint8_t rgba[4];
        for (unsigned x = 0; x < image.width; ++x) {
            decodeTargaPixel(from.data() + x * stored, image.bitsPerPixel, rgba);
            for (std::size_t c = 0; c < channels; ++c) to[x * channels + c] = rgba[c];
        }
        pointers[y] = to.data();
    }

    const std::string partial = pngPath + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) fatal("Failed to write PNG image file %s", pngPath.c_str());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written =
        png && info && encodePng(png, info, out, image.width, image.height, alpha, pointers.data());
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    written = std::ferror(out) == 0 && written;
    if (std::fclose(out) != 0) written = false;
    if (!written || std::rename(partial.c_str(), pngPath.c_str()) != 0) {
        std::remove(partial.c_str());
        fatal("Failed to write PNG image file %s", pngPath.c_str());
    }
}

}  // namespace quorva
