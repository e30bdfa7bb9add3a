// What the pixel loops share while one band renders: the scene, the render contexts, the frame buffers,
// the view frame computed when RenderRows starts, the column range and the stop state.
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

struct Frame;
class RenderContext;
struct FrameBuffers;
struct Camera;
struct Options;
class RenderWorkers;
class RenderProgress;
class IrradianceCache;

// Optional on-screen frame buffer window; the loops draw finished pixels into it, from every worker.
class FramebufferDisplay {
  public:
    virtual ~FramebufferDisplay() = default;
    virtual void drawPixel(int x, int y, const Color& colour) = 0;
};

// View data computed once per call of RenderRows.
struct ViewFrame {
    Vec3 viewDir;  // D
    Vec3 right;    // R
    Vec3 up;       // U (orthogonalised)
    double tanHalf = 0;
    double tanHalfAspect = 0;
};

// Told when the rows above a given row are final, so that they can be written out at once. Called by one
// worker at a time.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void rowsFinished(int endRow) = 0;  // rows < endRow are final
    // Row `row` is final; rows finish in any order when several workers render.
    virtual void rowFinished(int /*row*/) {}
};

struct RenderJob {
    Frame& scene;  // the frame rendered: its camera is settled when the rows start
    RenderContext& ctx;  // worker 0's context; the statistics of every worker are added up here
    FrameBuffers& frame;
    ViewFrame view;
    int columnStart = 0;
    int columnEnd = 0;
    bool stopRequested = false;  // Escape: stop the render (and the run)
    bool keyPressed = false;     // any key: the pixel loop ended early
    FramebufferDisplay* display = nullptr;
    RowSink* rowSink = nullptr;
    int finishedEnd = -1;      // rows below this one are final (-1: none reported yet)
    int lastFinishedRow = -1;  // the lowest row of the units finished last (named when Escape stops)
    // Workers sharing the rows; null (or a pool of one) renders on the calling thread alone.
    RenderWorkers* workers = nullptr;
    // The frame's irradiance cache, which grows while the rows render: several workers then render the
    // rows as units that become final in their order (render/cache_units.h).
    IrradianceCache* cache = nullptr;
    // What the row above the first row handed on when an earlier run rendered it (the anti-aliasing
    // loops' shared corners), kept beside a partial image; null: nothing.
    const std::vector<unsigned char>* firstRowAbove = nullptr;
    // The frame's progress line (its clock runs over every band); null: renderRows keeps one per call.
    RenderProgress* progress = nullptr;
    // Anti-aliasing state settled once per frame when rendering starts.
    bool superAdaptive = false;
    int level = 0;     // anti-aliasing level after settling
    int gridSize = 4;  // N
};

// The context worker `worker` renders with.
RenderContext& workerContext(RenderJob& job, int worker);

// One anti-aliasing sample at image position (x, y) (depth of field included), traced in `ctx`; colour
// and alpha are clamped to [0, 1]; `unclipped`, when given, receives the colour before the clamp. When
// *recordFirstDepth is set, the depth is stored in *firstDepth and the flag is cleared. Returns the depth
// of the last traced ray.
double cameraSample(const RenderJob& job, RenderContext& ctx, Color& colour, double& alpha, double x,
                    double y, bool* recordFirstDepth, double* firstDepth, Color* unclipped = nullptr);

// Exposure, then the display gamma exponent.
void applyExposure(const Camera& camera, const Options& options, Color& colour);

// Records that the rows below endRow are final and tells the job's sink.
void reportRowsFinished(RenderJob& job, int endRow);

// Finishes one pixel: SBuffer store, ZBuffer depth test, framebuffer display. Workers finish disjoint
// pixels. `unclipped` (the colour before the loop clipped its samples) goes to the EXR copy instead of
// `colour` when given.
void finishPixel(RenderJob& job, int x, int y, const Color& colour, double alpha, double depth,
                 const Color* unclipped = nullptr);

}  // namespace quorva
