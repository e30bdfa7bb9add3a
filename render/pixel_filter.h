// Pixel filters: the seven weight functions and the 5 x 5 weight table built per band (filterBand in
// render/frame_buffers.h applies it).
#pragma once

namespace quorva {

enum PixelFilterType : int {
    NoPixelFilter = -1,
    BoxFilter = 1,
    TriangleFilter = 2,
    CatmullRomFilter = 3,
    GaussianFilter = 4,
    SincFilter = 5,
    DiskFilter = 6,
    BesselFilter = 7,
};

// The weight table of one filter. weights[j][k] belongs to the neighbour at row offset j - 2 and column
// offset k - 2; the kernel is sampled at x = k * wx / 4 - wx / 2, y = j * wy / 4 - wy / 2.
struct PixelFilter {
    int type = NoPixelFilter;
    double widthX = 1.0;
    double widthY = 1.0;
    double weights[5][5] = {};
};

// The name printed while filtering ("Box", "Triangle", ...); null for a type outside 1..7.
const char* pixelFilterName(int type);
// A width outside 1..5 becomes 3.
double settlePixelFilterWidth(double width);
// The filter's weight at offset (x, y) for widths (wx, wy).
double pixelFilterWeight(int type, double x, double y, double wx, double wy);
// The table for a type 1..7 with settled widths; a type outside 1..7 gives type NoPixelFilter.
PixelFilter makePixelFilter(int type, double widthX, double widthY);

}  // namespace quorva
