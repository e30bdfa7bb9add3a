// The primary grid: before the image pass, primary rays on coarse, then finer, grids of pixels seed the
// irradiance cache, so that the image pass mostly interpolates.
#pragma once

namespace quorva {

struct Frame;
class RenderContext;
class IrradianceCache;
class RenderWorkers;

// The first grid step and the finest one for the larger image side: the step is side x 0.08 (side / n
// with a grid size n from -g or ComputeIrradiance), the finest side x 0.02 (0.01 when the sky lights
// the scene); both at least 2, the finest never above the first.
void primaryGridSteps(int side, int gridSize, bool skyLight, int& first, int& finest);

// Fatal when a grid size n (from -g or ComputeIrradiance) is more than half the larger image side.
void checkGridSize(const Frame& scene);

// Shades every step-th pixel of rows firstRow <= y < endRow and columns columnStart <= x < columnEnd for
// each step from the first down to the finest (halving), with the error bound halved and computing
// forced. Returns false when Escape stopped it. `ctx` must be prepared for the scene. With `workers`, the
// rows of the grids render on every worker, and the records, the counters and the cache file are those
// of one.
bool computePrimaryGrid(Frame& scene, RenderContext& ctx, IrradianceCache& cache, int firstRow,
                        int endRow, int columnStart, int columnEnd, RenderWorkers* workers = nullptr);

}  // namespace quorva
