// Pixel lookups on texture images: texture coordinates to pixels (with tiling), colour, index and height
// decoding, and nearest, bilinear and inverse-square-distance interpolation.
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "image/texture_image.h"

namespace quorva {

namespace {

// Brings a coordinate into [0, 1): tiled coordinates wrap, others outside fail.
bool settleCoordinate(double& t, bool tile) {
    if (t >= 0.0 && t < 1.0) return true;
    if (!tile || !std::isfinite(t)) return false;
    t = t >= 0.0 ? std::fmod(t, 1.0) : 1.0 - std::fmod(std::fabs(t), 1.0);
    return true;
}

struct Position {
    double u, v;  // settled coordinates
};

// Stored pixel for texture coordinates (u, v) plus a neighbour offset; v = 0 is the bottom of the
// picture whichever way the rows are stored.
const std::uint8_t* pixelAt(const ImageFile& image, const Position& p, int dx, int dy, int& column,
                            int& row) {
    const long w = image.width, h = image.height;
    long c = static_cast<long>(p.u * w) + dx;
    c = c < 0 ? 0 : (c > w - 1 ? w - 1 : c);
    long r = static_cast<long>(p.v * h) + dy;
    if (image.orientation == 0x20) r = h - r - 1;
    r = r < 0 ? 0 : (r > h - 1 ? h - 1 : r);
    column = static_cast<int>(c);
    row = static_cast<int>(r);
    return image.rows[r].data() + c * (image.bitsPerPixel / 8);
}

// Little-endian value of a stored pixel of `bytes` bytes.
unsigned storedValue(const std::uint8_t* pixel, int bytes) {
    unsigned value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | pixel[i];
    return value;
}

struct Rgba {
    double r, g, b, a;
};

Rgba decodeTrueColour(const std::uint8_t* p, int bytes) {
    switch (bytes) {
        case 1:
            return {double(p[0]), double(p[0]), double(p[0]), 255.0};
        case 2: {
            const unsigned w = p[0] | (p[1] << 8);
            return {double(((w >> 10) & 0x1F) * 8), double(((w >> 5) & 0x1F) * 8), double((w & 0x1F) * 8),
                    (w & 0x8000) ? 0.0 : 255.0};
        }
        case 3:
            return {double(p[2]), double(p[1]), double(p[0]), 255.0};
        default:
            return {double(p[2]), double(p[1]), double(p[0]), double(p[3])};
    }
}

Rgba colourOf(const ImageFile& image, const std::uint8_t* p, int row, int column) {
    const int bytes = image.bitsPerPixel / 8;
    switch (image.imageType) {
        case 1:
        case 9: {
            const unsigned index = storedValue(p, bytes);
            if (image.colorMapEntrySize <= 0 || index >= static_cast<unsigned>(image.colorMapLength))
                fatal("Bad color index %d of %d at pixel [%d,%d]", static_cast<int>(index),
                      image.colorMapLength, row, column);
            return decodeTrueColour(image.colorMap.data() + index * image.colorMapEntrySize,
                                    image.colorMapEntrySize);
        }
        case 2:
        case 10:
            return decodeTrueColour(p, bytes);
        case 3:
        case 11:
            return {double(p[0]), double(p[0]), double(p[0]), 255.0};
        default:
            internalFailure(InternalFailure::BadImageType1, "Bad image type (%d)", image.imageType);
    }
}

double indexOf(const ImageFile& image, const std::uint8_t* p) {
    const int bytes = image.bitsPerPixel / 8;
    switch (image.imageType) {
        case 1:
        case 9: {
            const unsigned index = storedValue(p, bytes);
            if (index >= static_cast<unsigned>(image.colorMapLength))
                internalFailure(InternalFailure::BadColorIndex, "Bad color index");
            return index;
        }
        case 2:
        case 10:
            return bytes == 2 ? p[1] : (bytes == 1 ? p[0] : p[2]);
        case 3:
        case 11:
            return p[0];
        default:
            internalFailure(InternalFailure::BadImageType4, "Bad image type (%d)", image.imageType);
    }
}

bool knownType(int type) {
    return type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
}

// Height of a stored pixel: 8-bit values centre on 128, wider pixels add finer fractional bytes.
bool heightOf(const ImageFile& image, const std::uint8_t* p, double& height) {
    switch (image.bitsPerPixel) {
        case 8:
            height = p[0] - 128.0;
            return true;
        case 16:
            height = p[1] + p[0] / 256.0 - 128.0;
            return true;
        case 24:
        case 32:
            height = p[2] + p[1] / 256.0 + p[0] / 65536.0 - 128.0;
            return true;
        default:
            return false;
    }
}

// Blends the four neighbours s(0,-1), s(1,-1), s(0,0), s(1,0) (corners (0,0), (1,0), (0,1), (1,1) of the
// unit cell) at the fractional position (a, b).
template <typename Value>
Value blend(int interpolation, double a, double b, const Value s[4]) {
    double w[4];
    if (interpolation == 1) {
        w[0] = (1 - a) * (1 - b);
        w[1] = a * (1 - b);
        w[2] = (1 - a) * b;
        w[3] = a * b;
    } else {
        if (a == 0.0 && b == 0.0) return s[0];
        const double cx[4] = {0, 1, 0, 1}, cy[4] = {0, 0, 1, 1};
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            const double dx = a - cx[i], dy = b - cy[i];
            w[i] = 1.0 / (dx * dx + dy * dy);
            sum += w[i];
        }
        for (double& x : w) x /= sum;
    }
    Value result = s[0] * w[0];
    for (int i = 1; i < 4; ++i) result = result + s[i] * w[i];
    return result;
}

struct Channels {
    double r, g, b, filter;
    Channels operator*(double s) const { return {r * s, g * s, b * s, filter * s}; }
    Channels operator+(const Channels& o) const { return {r + o.r, g + o.g, b + o.b, filter + o.filter}; }
};

// Runs `one(pixel, row, column)` at the coordinates, interpolating as asked; false outside the image.
template <typename Value, typename One>
bool lookup(const ImageFile& image, int interpolation, bool tile, double u, double v, Value& result,
            One one) {
    if (image.width == 0 || image.height == 0 || image.rows.size() < image.height) return false;
    if (!settleCoordinate(u, tile) || !settleCoordinate(v, tile)) return false;
    const Position p{u, v};
    int column, row;
    if (interpolation != 1 && interpolation != 2) {
        const std::uint8_t* pixel = pixelAt(image, p, 0, 0, column, row);
        result = one(pixel, row, column);
        return true;
    }
    static constexpr int Offsets[4][2] = {{0, -1}, {1, -1}, {0, 0}, {1, 0}};
    Value s[4];
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* pixel = pixelAt(image, p, Offsets[i][0], Offsets[i][1], column, row);
        s[i] = one(pixel, row, column);
    }
    double whole;
    const double a = std::modf(u * image.width, &whole);
    const double b = std::modf(v * image.height, &whole);
    result = blend(interpolation, a, b, s);
    return true;
}

}  // namespace

ImageSample imageColor(const ImageFile& image, int interpolation, bool tile, double u, double v) {
    ImageSample sample;
    Channels c{};
    sample.ok = lookup(image, interpolation, tile, u, v, c, [&](const std::uint8_t* p, int row, int column) {
        const Rgba x = colourOf(image, p, row, column);
        return Channels{x.r / 255.0, x.g / 255.0, x.b / 255.0, 1.0 - x.a / 255.0};
    });
    if (sample.ok) {
        sample.colour = Color(c.r, c.g, c.b);
        sample.filter = c.filter;
    }
    return sample;
}

double imageIndex(const ImageFile& image, int interpolation, bool tile, double u, double v) {
    double value = 0;
    if (!lookup(image, interpolation, tile, u, v, value,
                [&](const std::uint8_t* p, int, int) { return indexOf(image, p); }))
        return 0;
    return value;
}

double imageHeight(const ImageFile& image, int interpolation, bool tile, double u, double v) {
    if (!knownType(image.imageType))
        internalFailure(InternalFailure::BadImageType2, "Bad image type (%d)", image.imageType);
    double value = 0;
    if (!lookup(image, interpolation, tile, u, v, value, [&](const std::uint8_t* p, int, int) {
            double h;
            if (!heightOf(image, p, h)) fatal("Unsupported image buffer type");
            return h;
        }))
        return 0;
    return value;
}

double imageHeightAt(const ImageFile& image, int column, int row) {
    if (!knownType(image.imageType))
        internalFailure(InternalFailure::BadImageType3, "Bad image type (%d)", image.imageType);
    if (column < 0 || row < 0 || static_cast<unsigned>(column) >= image.width ||
        static_cast<unsigned>(row) >= image.height || image.rows.size() < image.height)
        return 0;
    if (image.orientation == 0x20) row = static_cast<int>(image.height) - row - 1;
    double h;
    if (!heightOf(image, image.rows[row].data() + column * (image.bitsPerPixel / 8), h))
        internalFailure(InternalFailure::UnsupportedImageBuffer, "Unsupported image buffer type (%d)",
                        image.bitsPerPixel);
    return h;
}

}  // namespace quorva
