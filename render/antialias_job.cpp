// Runs the anti-aliasing and undersampling loops for a band of the render job: samples come from the
// camera in the worker's own context, finished pixels go through the exposure to the frame buffers.
#include "render/antialias.h"
#include "render/frame_buffers.h"
#include "render/render_workers.h"
#include "render/render_job.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

class JobSampleSource final : public SampleSource {
  public:
    explicit JobSampleSource(RenderJob& job) : job_(job) {}

    void startUnit(int worker) override { workerContext(job_, worker).startWorkUnit(); }

    double sample(int worker, double x, double y, Color& colour, double& alpha, bool* recordFirstDepth,
                  double* firstDepth) override {
        return cameraSample(job_, workerContext(job_, worker), colour, alpha, x, y, recordFirstDepth,
                            firstDepth);
    }

    void finish(int, int x, int y, const Color& colour, double alpha, double depth) override {
        Color exposed = colour;
        applyExposure(job_.scene.camera, job_.scene.options, exposed);
        finishPixel(job_, x, y, exposed, alpha, depth);
    }

    double sampleUnclipped(int worker, double x, double y, Color& colour, Color& unclipped, double& alpha,
                           bool* recordFirstDepth, double* firstDepth) override {
        return cameraSample(job_, workerContext(job_, worker), colour, alpha, x, y, recordFirstDepth,
                            firstDepth, &unclipped);
    }

    void finishUnclipped(int, int x, int y, const Color& colour, const Color& unclipped, double alpha,
                         double depth) override {
        Color exposed = colour, exposedUnclipped = unclipped;
        applyExposure(job_.scene.camera, job_.scene.options, exposed);
        applyExposure(job_.scene.camera, job_.scene.options, exposedUnclipped);
        finishPixel(job_, x, y, exposed, alpha, depth, &exposedUnclipped);
    }

    void rowFinished(int row) override {
        if (job_.rowSink) job_.rowSink->rowFinished(row);
    }
    void rowsFinished(int endRow) override { reportRowsFinished(job_, endRow); }

  private:
    RenderJob& job_;
};

template <typename Loop>
void runForJob(RenderJob& job, int rowStart, int rowEnd, Loop run) {
    if (job.stopRequested) return;
    JobSampleSource source(job);
    SamplingLoop loop{source};
    loop.width = job.scene.camera.width;
    loop.columnStart = job.columnStart;
    loop.columnEnd = job.columnEnd;
    loop.level = job.level;
    loop.gridSize = job.gridSize;
    loop.superAdaptive = job.superAdaptive;
    loop.carryUnclipped = !job.frame.linear.empty();
    loop.workers = job.workers;
    loop.cache = job.cache;
    loop.firstRowAbove = job.firstRowAbove;
    if (job.cache)
        for (int w = 0; w < (job.workers ? job.workers->count() : 1); ++w)
            loop.contexts.push_back(&workerContext(job, w));
    loop.progress = job.progress;
    run(loop, rowStart, rowEnd);
    job.lastFinishedRow = loop.lastFinishedRow;
    if (loop.stopRequested) job.stopRequested = true;
    if (loop.keyPressed) job.keyPressed = true;
}

}  // namespace

void renderAdaptive(RenderJob& job, int rowStart, int rowEnd) {
    runForJob(job, rowStart, rowEnd, runAdaptive);
}

void renderUndersampled(RenderJob& job, int rowStart, int rowEnd) {
    runForJob(job, rowStart, rowEnd, runUndersampled);
}

}  // namespace quorva
