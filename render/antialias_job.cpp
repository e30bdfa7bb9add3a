// Runs the anti-aliasing and undersampling loops for a band of the render job: samples come from the
// camera, finished pixels go through the exposure to the frame buffers and the window.
#include "render/antialias.h"
#include "render/render_job.h"
#include "scene/scene_state.h"

namespace quorva {
namespace {

class JobSampleSource final : public SampleSource {
  public:
    explicit JobSampleSource(RenderJob& job) : job_(job) {}

    double sample(double x, double y, Color& colour, double& alpha, bool* recordFirstDepth,
                  double* firstDepth) override {
        return cameraSample(job_, colour, alpha, x, y, recordFirstDepth, firstDepth);
    }

    void finish(int x, int y, const Color& colour, double alpha, double depth) override {
        Color exposed = colour;
        applyExposure(job_.scene.camera, job_.scene.options, exposed);
        finishPixel(job_, x, y, exposed, alpha, depth);
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
    run(loop, rowStart, rowEnd);
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
