// The rows of a frame as they go to the output image: each row is written as soon as it and every row
// above it can no longer change, and its pixels are recorded as drawn, so that a render stopped, killed
// or crashed at any moment leaves an image of every row written, which the same command resumes.
//
// With a pixel filter or undersampling the frame renders more pixels than it finishes (the filter reads
// two rows and columns around each pixel; the undersampling blocks lie on a fixed grid). A row is then
// made once the samples of every row its filter reads are final: the pixels it finishes are filtered
// from the samples (or taken as sampled), and all its other pixels get back what they held before the
// frame rendered (an older image's pixels, or black). The row made is the same whenever it is made, so
// the image does not depend on the moment of a stop, nor on the number of workers.
#pragma once

#include <cstdint>
#include <vector>

#include "render/frame_buffers.h"
#include "render/pixel_filter.h"
#include "render/render_job.h"
#include "render/render_region.h"

namespace quorva {

struct Camera;
struct TargaOutput;

class ImageRows final : public RowSink {
  public:
    // `frame` holds the frame's starting content (prepareBand) and receives the samples; `output` may be
    // null (no image file). The filter is the camera's. `averageBlocks` as for writeTargaRows.
    ImageRows(FrameBuffers& frame, TargaOutput* output, const RenderRegion& region, const Camera& camera,
              bool averageBlocks);

    void rowFinished(int row) override;
    // The samples of the rows above endRow are final.
    void rowsFinished(int endRow) override;
    // The frame ends, `complete` when every row was rendered; after a stop only the rows whose samples
    // were all final count as drawn. Writes every row not written yet; frame.color then holds the rows
    // as written.
    void finish(bool complete);

  private:
    void makeRow(int y, ColumnSpan kept);
    void advance(bool last);

    FrameBuffers& frame_;
    TargaOutput* output_;
    const RenderRegion& region_;
    PixelFilter filter_;
    bool averageBlocks_;
    int height_;
    // Rows are made apart from the samples when pixels are rendered that the frame does not finish:
    // `before_` holds each row as it was before the frame (given up once the row is made) and `image_`
    // the rows made.
    bool separate_ = false;
    std::vector<std::vector<std::uint8_t>> before_;
    FrameBuffers image_;
    int sampledEnd_ = 0;  // the samples of the rows above are final
    int made_ = 0;        // rows above are made
    int written_ = 0;     // rows above are in the output
};

}  // namespace quorva
