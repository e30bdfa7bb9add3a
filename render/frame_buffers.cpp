// The frame buffers of a band: allocation and starting content, the pixel and depth stores, release.
#include "render/frame_buffers.h"

#include <algorithm>
#include <new>

#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"
#include "trace/camera.h"

namespace quorva {

void putSBufferPixel(FrameBuffers& frame, const Color& colour, double alpha, int x, int y,
                     const Color* unclipped) {
    SBuffer& sb = frame.color;
    if (x < 0 || x > sb.width || y < 0 || y > sb.height)
        fatal("SBufer coordinate out of range (%d, %d)", x, y);
    if (!sb.hasRow(y)) {
        message("Out of bounds pixel (x:%d, y:%d)", x, y);
        return;
    }
    std::uint8_t* p = sb.row(y) + 4 * x;
    p[0] = colourByte(colour.r);
    p[1] = colourByte(colour.g);
    p[2] = colourByte(colour.b);
    p[3] = colourByte(alpha);
    if (!frame.linear.empty()) {
        float* f =
            &frame.linear[(static_cast<std::size_t>(y) * (static_cast<std::size_t>(sb.width) + 1) + x) * 4];
        const Color& kept = unclipped ? *unclipped : colour;
        f[0] = static_cast<float>(kept.r);
        f[1] = static_cast<float>(kept.g);
        f[2] = static_cast<float>(kept.b);
        f[3] = static_cast<float>(alpha);
    }
}

void putZBufferDepth(FrameBuffers& frame, double depth, int y, int x) {
    ZBuffer& zb = frame.depth;
    if (!frame.hasDepth) return;
    if (x < 0 || x > zb.width || y < 0 || y > zb.height)
        fatal("ZBufer coordinate out of range (%d, %d)", x, y);
    if (!zb.hasRow(y)) {
        message("Out of bounds pixel (x:%d, y:%d)", x, y);
        return;
    }
    double& stored = zb.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    if (depth < stored) stored = depth;
}

void prepareBand(FrameBuffers& frame, const Camera& camera, TargaOutput* resume, int firstRow, int lastRow,
                 bool withDepth) {
    releaseBand(frame);
    const int width = camera.width, height = camera.height;
    const std::size_t rowCount = static_cast<std::size_t>(std::max(height, 0)) + 1;
    const std::size_t rowWidth = static_cast<std::size_t>(std::max(width, 0)) + 1;
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, height);

    frame.hasDepth = withDepth;
    frame.depth.width = width;
    frame.depth.height = height;
    if (withDepth) {
        try {
            frame.depth.rows.resize(rowCount);
            for (int r = firstRow; r <= lastRow; ++r)
                frame.depth.rows[static_cast<std::size_t>(r)].assign(rowWidth, 1000000.0);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate ZBuffer");
        }
    }

    frame.color.width = width;
    frame.color.height = height;
    try {
        frame.color.rows.resize(rowCount);
        for (int r = firstRow; r <= lastRow; ++r) {
            auto& row = frame.color.rows[static_cast<std::size_t>(r)];
            row.assign(rowWidth * 4, 0);
            // A row of an interrupted earlier render is kept as it was written.
            if (resume && !readResumedRow(frame, *resume, r)) std::fill(row.begin(), row.end(), 0);
        }
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate SBuffer");
    }

    frame.filter =
        makePixelFilter(camera.pixelFilterType, camera.pixelFilterWidthX, camera.pixelFilterWidthY);
}

void keepUnclippedColours(FrameBuffers& frame) {
    const std::size_t entries = (static_cast<std::size_t>(std::max(frame.color.width, 0)) + 1) *
                                (static_cast<std::size_t>(std::max(frame.color.height, 0)) + 1) * 4;
    frame.linear.allocate(entries);
}

void releaseBand(FrameBuffers& frame) {
    frame.linear.release();
    frame.color.rows.clear();
    frame.color.rows.shrink_to_fit();
    frame.depth.rows.clear();
    frame.depth.rows.shrink_to_fit();
    frame.filter = PixelFilter{};
}

}  // namespace quorva
