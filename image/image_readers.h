// The format readers behind loadImageFile. Each fills the record from an open file; the library readers
// and the BMP reader return false for a file they cannot decode, the Targa reader ends the run instead.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/texture_image.h"

namespace quorva {

// Largest decoded texture accepted; a header claiming more is refused before anything is allocated.
constexpr std::uint64_t MaxImageBytes = std::uint64_t{1} << 30;

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
