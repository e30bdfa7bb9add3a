// Texture images (Targa, BMP, PNG, JPEG, TIFF) loaded into one in-memory record, and the pixel lookups
// texture mappings and height fields perform on them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/vec3.h"

namespace quorva {

struct ImageFile {
    std::string name;
    int notOwned = 0;
    int bitsPerPixel = 0;
    int compressed = 0;
    unsigned width = 0;
    unsigned height = 0;
    int orientation = 0x20;  // 0x20: row 0 is the top row
    int imageType = 2;       // Targa codes: 1/9 colour-mapped, 2/10 true colour, 3/11 grey
    int colorMapLength = 0;
    int colorMapEntrySize = 0;  // bytes per entry
    std::vector<std::uint8_t> colorMap;
    std::vector<std::vector<std::uint8_t>> rows;
    int interpolation = 0;  // 0 nearest, 1 bilinear, 2 inverse-square-distance (set by the ImageFile call)
};

// Loads through the search path; the format is chosen by the name (".png" is searched before ".tga").
// Fatal for unreadable or unsupported files; returns null when a library reader (PNG, JPEG, TIFF, BMP)
// reported a failure (the caller reports it).
std::shared_ptr<ImageFile> loadImageFile(const std::string& name);

// Lookups at texture coordinates (u, v); v = 0 is the bottom of the picture.
struct ImageSample {
    bool ok = false;  // false: outside [0, 1) without tiling
    Color colour;
    double filter = 0;  // 1 - alpha / 255
};
ImageSample imageColor(const ImageFile& image, int interpolation, bool tile, double u, double v);
double imageIndex(const ImageFile& image, int interpolation, bool tile, double u, double v);
double imageHeight(const ImageFile& image, int interpolation, bool tile, double u, double v);
double imageHeightAt(const ImageFile& image, int column, int row);

}  // namespace quorva
