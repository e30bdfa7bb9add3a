// Making and writing the rows of a frame in order as their samples become final.
#include "render/image_rows.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"
#include "trace/camera.h"

namespace quorva {

ImageRows::ImageRows(FrameBuffers& frame, TargaOutput* output, const RenderRegion& region,
                     const Camera& camera, bool averageBlocks)
    : frame_(frame),
      output_(output),
      region_(region),
      filter_(makePixelFilter(camera.pixelFilterType, camera.pixelFilterWidthX, camera.pixelFilterWidthY)),
      averageBlocks_(averageBlocks),
      height_(static_cast<int>(region.finished.size())) {
    separate_ = filter_.type != NoPixelFilter;
    for (int y = 0; y < height_ && !separate_; ++y) {
        const ColumnSpan f = region.finished[static_cast<std::size_t>(y)];
        const ColumnSpan s = region.sampled[static_cast<std::size_t>(y)];
        separate_ = f.begin != s.begin || f.end != s.end;
    }
    if (!separate_) return;
    try {
        before_ = frame.color.rows;
        image_.color.width = frame.color.width;
        image_.color.height = frame.color.height;
        image_.color.rows.resize(frame.color.rows.size());
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate FilteredBuffer");
    }
}

void ImageRows::rowFinished(int row) {
    if (separate_ || !output_) return;
    const ColumnSpan span = region_.finished[static_cast<std::size_t>(row)];
    if (!span.empty()) markDrawn(*output_, row, span.begin, span.end);
}

void ImageRows::rowsFinished(int endRow) {
    if (!separate_ && output_) {
        for (int y = made_; y < std::min(endRow, height_); ++y) {
            const ColumnSpan span = region_.finished[static_cast<std::size_t>(y)];
            if (!span.empty()) markDrawn(*output_, y, span.begin, span.end);
        }
    }
    sampledEnd_ = std::max(sampledEnd_, endRow);
    advance(false);
}

void ImageRows::finish(bool complete) {
    const char* filterName = pixelFilterName(filter_.type);
    if (filterName) message("\nPerforming %s pixel filtering...", filterName);
    if (complete) rowsFinished(height_);
    advance(true);
    if (separate_) frame_.color.rows.swap(image_.color.rows);
    if (filterName) message(" Done.");
}

void ImageRows::makeRow(int y, ColumnSpan kept) {
    std::vector<std::uint8_t>& row = image_.color.rows[static_cast<std::size_t>(y)];
    row = std::move(before_[static_cast<std::size_t>(y)]);
    const SBuffer& samples = frame_.color;
    if (kept.empty() || !samples.hasRow(y) || row.size() != samples.rows[static_cast<std::size_t>(y)].size())
        return;
    if (filter_.type != NoPixelFilter)
        filterPixels(samples, filter_, y, 0, height_ - 1, kept.begin, kept.end, row.data());
    else
        std::memcpy(row.data() + 4 * kept.begin, samples.row(y) + 4 * kept.begin,
                    4 * static_cast<std::size_t>(kept.end - kept.begin));
    if (output_) markDrawn(*output_, y, kept.begin, kept.end);
}

void ImageRows::advance(bool last) {
    while (made_ < height_) {
        const int y = made_;
        const ColumnSpan finished = region_.finished[static_cast<std::size_t>(y)];
        // A row the frame does not finish is made of its old pixels alone.
        const bool ready = finished.empty() || std::min(y + region_.margin, height_ - 1) < sampledEnd_;
        if (!ready && !last) break;
        if (separate_) makeRow(y, ready ? finished : ColumnSpan{});
        ++made_;
    }
    // The mean of a pixel's block reads the row below.
    const int end = averageBlocks_ && made_ < height_ ? made_ - 1 : made_;
    if (!output_ || end <= written_) return;
    writeTargaRows(written_, separate_ ? image_ : frame_, *output_, end - 1, averageBlocks_);
    written_ = end;
}

}  // namespace quorva
