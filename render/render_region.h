// Which pixels a frame renders: the requested rows and columns less what an older image already holds,
// widened by the pixel filter's reach so that every pixel finished is filtered from fresh samples.
#pragma once

#include <functional>
#include <vector>

namespace quorva {

struct ColumnSpan {
    int begin = 0, end = 0;  // columns begin <= x < end
    bool empty() const { return end <= begin; }
};

// Rows rowStart <= y < rowEnd rendered over the same columns.
struct RowGroup {
    int rowStart = 0, rowEnd = 0;
    ColumnSpan columns;
};

struct RenderRegion {
    std::vector<ColumnSpan> finished;  // per row: the pixels this frame must finish
    std::vector<ColumnSpan> sampled;   // per row: the pixels rendered (finished ones and the margin)
    std::vector<RowGroup> groups;      // the sampled pixels in row order, for the pixel loops
    int margin = 0;
    bool empty() const { return groups.empty(); }
};

// Plans the render of columns x0 <= x < x1 and rows y0 <= y < y1 of a width x height frame. A row
// finishes the span from its first to its last pixel that `drawn` does not report; with a margin the
// pixels within `margin` rows and columns of a finished one are rendered too. A grid above 1 (the
// undersampling blocks) renders one rectangle whose sides lie on grid lines, as a full render's
// blocks do.
RenderRegion planRenderRegion(int width, int height, int x0, int x1, int y0, int y1, int margin, int grid,
                              const std::function<bool(int x, int y)>& drawn);

}  // namespace quorva
