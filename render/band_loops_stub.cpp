// Placeholder bodies of the frame-buffer stores and the anti-aliasing loops until their owner's code
// lands (delete this file then). The stores follow the documented clamping and depth rules so that the
// plain loop can be exercised; band set-up, filtering and the anti-aliasing loops do nothing.
#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "render/antialias.h"
#include "render/frame_buffers.h"

namespace quorva {

void putSBufferPixel(FrameBuffers& frame, const Color& colour, double alpha, int x, int y) {
    SBuffer& s = frame.color;
    if (x < 0 || x > s.width || y < 0 || y > s.height) fatal("SBufer coordinate out of range (%d, %d)", x, y);
    if (!s.hasRow(y)) {
        message("Out of bounds pixel (x:%d, y:%d)", x, y);
        return;
    }
    std::uint8_t* p = s.row(y) + 4 * x;
    const double v[4] = {colour.r, colour.g, colour.b, alpha};
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(std::clamp(std::trunc(v[i] * 255), 0.0, 255.0));
}

void putZBufferDepth(FrameBuffers& frame, double depth, int y, int x) {
    ZBuffer& z = frame.depth;
    if (x < 0 || x > z.width || y < 0 || y > z.height) fatal("ZBufer coordinate out of range (%d, %d)", x, y);
    if (!z.hasRow(y)) {
        message("Out of bounds pixel (x:%d, y:%d)", x, y);
        return;
    }
    double& d = z.rows[y][x];
    if (depth < d) d = depth;
}

void prepareBand(FrameBuffers&, const Camera&, TargaOutput*, int, int, bool) {}
void filterBand(FrameBuffers&, const Camera&, int, int) {}
void releaseBand(FrameBuffers&) {}

int contrastThreshold(int level) {
    return std::max(11 - level, 1);
}
void renderAdaptive(RenderJob&, int, int) {}
void renderUndersampled(RenderJob&, int, int) {}

}  // namespace quorva
