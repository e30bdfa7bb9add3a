// The format readers behind loadImageFile. Each fills the record from an open file; the library readers
// and the BMP reader return false for a file they cannot decode, the Targa reader ends the run instead
// (for a picture beyond MaxImagePixels with the message a failed load gets).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/texture_image.h"

namespace quorva {

// Most pixels a texture image may have (2^28: 1 GiB at four bytes a pixel). Every reader refuses a
// header claiming more before anything is sized by it, and the load fails ("Failed to load image
// file "%s"").
constexpr std::uint64_t MaxImagePixels = std::uint64_t{1} << 28;
// Whether width x height exceeds MaxImagePixels; exact for any sizes below 2^32.
constexpr bool tooManyPixels(std::uint64_t width, std::uint64_t height) {
    return width != 0 && height > MaxImagePixels / width;
}

void readTargaImage(std::FILE* file, ImageFile& image);
bool readBmpImage(std::FILE* file, ImageFile& image);
bool readPngImage(std::FILE* file, ImageFile& image);
bool readJpegImage(std::FILE* file, ImageFile& image);
bool readTiffImage(const std::string& path, ImageFile& image);

// Bytes from the current position to the end of the file; -1 when the file cannot tell.
long bytesRemaining(std::FILE* file);

// Allocates the record's rows (height rows of rowBytes zero bytes); fatal with `failure` when that fails.
void allocateRows(ImageFile& image, std::size_t rowBytes, const char* failure);

}  // namespace quorva
