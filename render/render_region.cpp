// Planning the pixels of a frame that still need rendering.
#include "render/render_region.h"

#include <algorithm>

namespace quorva {

namespace {

// Widens the sampled pixels to one rectangle of whole blocks (a block's last row and column are the
// next block's first).
void alignToGrid(RenderRegion& region, int width, int height, int grid) {
    int top = height, bottom = -1, left = width, right = 0;
    for (int y = 0; y < height; ++y) {
        const ColumnSpan s = region.sampled[static_cast<std::size_t>(y)];
        if (s.empty()) continue;
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, s.begin);
        right = std::max(right, s.end);
    }
    if (bottom < 0) return;
    // Pixels on a grid line belong to the blocks on both sides of it: those blocks are rendered whole.
    top = top > 0 ? (top - 1) / grid * grid : 0;
    bottom = std::min(height - 1, (bottom / grid + 1) * grid);
    left = left > 0 ? (left - 1) / grid * grid : 0;
    right = std::min(width, ((right - 1) / grid + 1) * grid + 1);
    for (int y = top; y <= bottom; ++y) region.sampled[static_cast<std::size_t>(y)] = {left, right};
}

}  // namespace

RenderRegion planRenderRegion(int width, int height, int x0, int x1, int y0, int y1, int margin, int grid,
                              const std::function<bool(int x, int y)>& drawn) {
    RenderRegion region;
    region.margin = margin;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width);
    y0 = std::max(y0, 0);
    y1 = std::min(y1, height);
    const std::size_t rows = static_cast<std::size_t>(std::max(height, 0));
    region.finished.assign(rows, ColumnSpan{});
    region.sampled.assign(rows, ColumnSpan{});
    for (int y = y0; y < y1; ++y) {
        int first = x1, last = x0 - 1;
        for (int x = x0; x < x1; ++x)
            if (!drawn || !drawn(x, y)) {
                first = std::min(first, x);
                last = x;
            }
        if (first > last) continue;
        region.finished[static_cast<std::size_t>(y)] = {first, last + 1};
        const ColumnSpan widened{std::max(first - margin, 0), std::min(last + 1 + margin, width)};
        for (int r = std::max(y - margin, 0); r <= std::min(y + margin, height - 1); ++r) {
            ColumnSpan& s = region.sampled[static_cast<std::size_t>(r)];
            s = s.empty() ? widened
                          : ColumnSpan{std::min(s.begin, widened.begin), std::max(s.end, widened.end)};
        }
    }
    if (grid > 1) alignToGrid(region, width, height, grid);
    for (int y = 0; y < height; ++y) {
        const ColumnSpan s = region.sampled[static_cast<std::size_t>(y)];
        if (s.empty()) continue;
        RowGroup* last = region.groups.empty() ? nullptr : &region.groups.back();
        if (last && last->rowEnd == y && last->columns.begin == s.begin && last->columns.end == s.end)
            ++last->rowEnd;
        else
            region.groups.push_back({y, y + 1, s});
    }
    return region;
}

}  // namespace quorva
