// The two frame buffers of a band: SBuffer (8-bit red, green, blue, alpha per pixel) and ZBuffer
// (camera distance per pixel). Both have height + 1 rows of which only the band's rows are present;
// each present row has width + 1 entries (the last column is a spare).
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec3.h"
#include "render/page_buffer.h"
#include "render/pixel_filter.h"

namespace quorva {

struct SBuffer {
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> rows;  // empty vector = absent row; else (width + 1) * 4 bytes
    bool hasRow(int y) const { return y >= 0 && y < static_cast<int>(rows.size()) && !rows[y].empty(); }
    std::uint8_t* row(int y) { return rows[y].data(); }
    const std::uint8_t* row(int y) const { return rows[y].data(); }
};

struct ZBuffer {
    int width = 0, height = 0;
    std::vector<std::vector<double>> rows;  // empty = absent; else width + 1 depths, 1000000 = no hit
    bool hasRow(int y) const { return y >= 0 && y < static_cast<int>(rows.size()) && !rows[y].empty(); }
};

struct FrameBuffers {
    SBuffer color;
    ZBuffer depth;
    bool hasDepth = false;  // the ZBuffer exists
    bool zDumped = false;   // the Z channel of this frame was written
    PixelFilter filter;     // weight table of the band; type NoPixelFilter when none
    // Only for an EXR copy (-E), else empty: the unclipped R, G, B, alpha of every finished pixel, laid
    // out as the SBuffer's rows ((width + 1) x (height + 1) x 4), zero where nothing was finished. A value
    // counts only where it gives the byte the image holds, and a zero gives the byte 0, whose value it
    // is: entries never written need no filling.
    PageBuffer<float> linear;
};

// A colour channel in 0..1 as a byte: trunc(v * 255) clamped to 0..255. Values that came from a byte
// (b / 255) convert back to that byte despite the rounding of the division.
inline std::uint8_t colourByte(double v) {
    double t = v * 255.0 + 1e-9;
    if (!(t >= 0)) return 0;  // negative or NaN
    if (t >= 255) return 255;
    return static_cast<std::uint8_t>(t);
}

}  // namespace quorva

namespace quorva {

struct Camera;
struct TargaOutput;
class RenderWorkers;

// Stores one pixel: each channel becomes trunc(v * 255) clamped to 0..255. Coordinates outside
// 0..width / 0..height are fatal "SBufer coordinate out of range (%d, %d)"; an absent row prints
// "Out of bounds pixel (x:%d, y:%d)" and stores nothing. The EXR copy, when kept, takes `unclipped`
// when given, else `colour`.
void putSBufferPixel(FrameBuffers& frame, const Color& colour, double alpha, int x, int y,
                     const Color* unclipped = nullptr);
// Keeps the smaller depth; same checks with "ZBufer coordinate out of range (%d, %d)".
void putZBufferDepth(FrameBuffers& frame, double depth, int y, int x);

// Per band: allocate and fill the buffers for rows firstRow..lastRow (resumed rows read back from
// `resume` when given), build the pixel filter's weight table.
void prepareBand(FrameBuffers& frame, const Camera& camera, TargaOutput* resume, int firstRow, int lastRow,
                 bool withDepth);
// Filters rows firstRow..lastRow in place when the camera has a pixel filter, over the full 5 x 5
// neighbourhood, normalised by the weights of the neighbours present in the image and the band
// ("\nPerforming %s pixel filtering..." / " Done."). Rows are filtered by the workers when given.
void filterBand(FrameBuffers& frame, const Camera& camera, int firstRow, int lastRow,
                RenderWorkers* workers = nullptr);
// Filters pixels columnBegin <= x < columnEnd of row y into `out` (a row of the SBuffer's layout) from the
// unfiltered rows of `sb`, the neighbours taken and normalised as filterBand takes them for a band of
// rows firstRow..lastRow; the other bytes of `out` are left alone.
void filterPixels(const SBuffer& sb, const PixelFilter& filter, int y, int firstRow, int lastRow,
                  int columnBegin, int columnEnd, std::uint8_t* out);
// Makes frame.linear for the band's size (after prepareBand).
void keepUnclippedColours(FrameBuffers& frame);
void releaseBand(FrameBuffers& frame);

}  // namespace quorva
