// The render entry the driver calls for each band of rows, the plain pixel loop, and the per-frame
// preparation of a render context.
#pragma once

namespace quorva {

class RenderContext;
struct Frame;
struct RenderJob;

// Points `ctx` at the scene and copies what every trace reads from the options (the settled
// FeatureMask, render mode, ShadowBias, MaxRayLevel); empties the per-light shadow caches and the
// per-level ray records, and takes the camera location as the eye point. The statistics are left alone:
// they count a whole frame, which may render in several bands.
void prepareRenderContext(RenderContext& ctx, const Frame& scene);

// Renders rows rowStart <= y < rowEnd of the current band into job.frame. First applies the camera's
// transformation items, builds the view frame into job.view (the orthogonalised up vector is stored
// back into the camera), prepares the contexts of every worker and settles the anti-aliasing mode into
// job.superAdaptive, job.level and job.gridSize; then runs the undersampling, adaptive or plain loop on
// job.workers (the calling thread alone without them) and adds every worker's counters to job.ctx.
// Returns when the rows are done or a key ended the loop (job.keyPressed; Escape also sets
// job.stopRequested, which no later call clears).
void renderRows(RenderJob& job, int rowStart, int rowEnd);

}  // namespace quorva
