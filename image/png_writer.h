// The PNG copy of a finished Targa image (option -p), written through libpng.
#pragma once

#include <string>

namespace quorva {

// The PNG name beside a Targa name: ".tga" replaced by ".png" (appended when the name has no ".tga").
std::string pngNameFor(const std::string& targaPath);

// Reads the complete Targa image at `targaPath` back and writes its pixels to `pngPath`: 8-bit RGB, or
// RGBA when the Targa has 32 bits per pixel. The file appears under its name only once it is whole.
// Fatal "Failed to write PNG image file %s" when it cannot be written.
void writePngCopy(const std::string& targaPath, const std::string& pngPath);

}  // namespace quorva
