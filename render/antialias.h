// The adaptive / super-adaptive anti-aliasing loop and the fast undersampling loop, run by RenderRows
// instead of the plain loop.
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

struct RenderJob;
class RenderWorkers;
class RenderProgress;
class IrradianceCache;
class RenderContext;

// Contrast threshold in 8-bit units for a level 1..10: 11 - level, at least 1.
int contrastThreshold(int level);

void renderAdaptive(RenderJob& job, int rowStart, int rowEnd);
void renderUndersampled(RenderJob& job, int rowStart, int rowEnd);

// Where the loops take their samples from and where finished pixels go. The render job's source traces
// camera samples in the worker's context and finishes pixels through the exposure and the frame buffers;
// tests supply their own. `worker` names the worker calling; workers call at the same time.
class SampleSource {
  public:
    virtual ~SampleSource() = default;
    // Worker `worker` starts a work unit (a row or a band of rows).
    virtual void startUnit(int /*worker*/) {}
    // One sample at image position (x, y), colour and alpha in [0, 1]; when *recordFirstDepth is set the
    // depth goes to *firstDepth and the flag is cleared. Returns the depth of the sample.
    virtual double sample(int worker, double x, double y, Color& colour, double& alpha,
                          bool* recordFirstDepth, double* firstDepth) = 0;
    // Finishes pixel (x, y): exposure and gamma, SBuffer, ZBuffer, framebuffer window.
    virtual void finish(int worker, int x, int y, const Color& colour, double alpha, double depth) = 0;
    // The same with the colour before it was clipped to [0, 1] (kept for an EXR copy of the image). By
    // default the sample is traced and finished as above, the unclipped colour being the clipped one.
    virtual double sampleUnclipped(int worker, double x, double y, Color& colour, Color& unclipped,
                                   double& alpha, bool* recordFirstDepth, double* firstDepth) {
        const double depth = sample(worker, x, y, colour, alpha, recordFirstDepth, firstDepth);
        unclipped = colour;
        return depth;
    }
    virtual void finishUnclipped(int worker, int x, int y, const Color& colour, const Color& /*unclipped*/,
                                 double alpha, double depth) {
        finish(worker, x, y, colour, alpha, depth);
    }
    // Row `row` is final (in any order), and then the rows below endRow are; called by one worker at a
    // time.
    virtual void rowFinished(int /*row*/) {}
    virtual void rowsFinished(int /*endRow*/) {}
};

// One run of a sampling loop over rows [rowStart, rowEnd) and columns [columnStart, columnEnd).
struct SamplingLoop {
    SampleSource& source;
    int width = 0;  // image width (the row cache spans it)
    int columnStart = 0;
    int columnEnd = 0;
    int level = 0;     // 1..10
    int gridSize = 4;  // N, already halved for adaptive mode
    bool superAdaptive = false;
    // The unclipped colours are carried beside the 8-bit ones and finished through finishUnclipped. They
    // never steer the sampling, so the 8-bit image is the same either way.
    bool carryUnclipped = false;
    // Workers sharing the rows (null: the calling thread alone). Every sample depends only on its
    // position, and the edges shared between neighbouring pixels and bands are handed from unit to unit
    // exactly as one worker would keep them, so the image and the statistics do not depend on the count.
    RenderWorkers* workers = nullptr;
    // With several workers, the irradiance cache the rows share (see render/cache_units.h): the loop
    // then makes the units that pace and settle the rows. Null: no cache grows while the rows render.
    IrradianceCache* cache = nullptr;
    // The contexts of the workers, by worker (needed with `cache`).
    std::vector<RenderContext*> contexts{};
    // What the row above the first one handed on when an earlier run rendered it (see `rowHandOver`), kept
    // beside a partial image; null or empty: the first row has no row above.
    const std::vector<unsigned char>* firstRowAbove = nullptr;
    RenderProgress* progress = nullptr;  // null: the loop keeps its own
    // Set when a key ended the loop: Escape stops the render, any other key only this loop.
    bool stopRequested = false;
    bool keyPressed = false;
    int lastFinishedRow = -1;  // the lowest row of the unit finished last
};

void runAdaptive(SamplingLoop& loop, int rowStart, int rowEnd);
void runUndersampled(SamplingLoop& loop, int rowStart, int rowEnd);
// The undersampling grid: blocks of this many pixels a side, from row 0 and from the first column.
constexpr int UndersamplingBlockSize = 6;

}  // namespace quorva
