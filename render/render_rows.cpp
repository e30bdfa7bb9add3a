// RenderRows: per-band set-up of every worker's context, the choice of pixel loop, the plain loop and
// finishing a pixel.
#include "render/render_rows.h"

#include <cmath>
#include <optional>
#include <vector>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "render/antialias.h"
#include "render/cache_units.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_job.h"
#include "render/render_progress.h"
#include "render/render_workers.h"
#include "render/work_units.h"
#include "trace/frame.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

// A FeatureMask never chosen (bit 15 still set) enables everything that applies to the mode.
std::uint16_t settledFeatureMask(const Options& options) {
    if ((options.featureMask & 0x8000) == 0) return options.featureMask;
    return options.renderMode == 2 || options.renderMode == 3 ? 96 : 127;
}

// A stored level above 10 asks for super-adaptive anti-aliasing at level - 10 on the full grid; plain
// adaptive anti-aliasing subdivides half as deep.
void settleAntialiasing(RenderJob& job, const Options& options) {
    if (options.antialiasing > 10) {
        job.superAdaptive = true;
        job.level = options.antialiasing - 10;
        job.gridSize = options.adaptiveDepth;
    } else {
        job.superAdaptive = false;
        job.level = options.antialiasing;
        job.gridSize = options.adaptiveDepth / 2;
    }
}

// One row of the plain loop: one pixel per image position at integer coordinates; with depth of field
// S rays through the aperture are averaged. `units`, when given, paces the first pass of unit `unit`.
void renderPlainRow(RenderJob& job, RenderContext& ctx, int y, CacheUnits* units = nullptr, int unit = 0) {
    const Camera& camera = job.scene.camera;
    const Options& options = job.scene.options;
    const int samples = options.depthOfFieldSamples;
    const double inverseSamples = samples > 0 ? 1.0 / samples : 1.0;
    ctx.startWorkUnit();
    ctx.currentRow = y;
    for (int x = job.columnStart; x < job.columnEnd; ++x) {
        if (units) units->waitAhead(unit, x - job.columnStart + 1);
        ctx.currentColumn = x;
        ctx.beginSample(x, y);
        const Ray ray = primaryRay(camera, job.view, x, y, ctx.settings.shadowBias);
        Color colour;
        double alpha = 0;
        double depth;
        if (camera.aperture != 0 && samples > 0) {
            Color sum;
            double alphaSum = 0;
            depth = traceApertureSamples(job, ctx, ray, samples, sum, alphaSum);
            colour = sum * inverseSamples;
            alpha = alphaSum * inverseSamples;
        } else {
            depth = traceRay(ctx, 0, ray, colour, alpha, &ctx.stats.primaryRays);
        }
        applyExposure(camera, options, colour);
        finishPixel(job, x, y, colour, alpha, depth);
        if (units) units->markDone(unit, x - job.columnStart + 1);
    }
}

// The contexts of the runner's workers.
std::vector<RenderContext*> workerContexts(RenderJob& job, int count) {
    std::vector<RenderContext*> contexts;
    for (int w = 0; w < count; ++w) contexts.push_back(&workerContext(job, w));
    return contexts;
}

// Rows are the work units. After each finished row any waiting key ends the loop (Escape also stops the
// render); otherwise the progress line counts the finished rows.
void renderPlain(RenderJob& job, int rowStart, int rowEnd) {
    UnitRunner runner(job.workers, rowEnd - rowStart);
    FinishedRows rows(rowStart, rowEnd);
    std::optional<CacheUnits> units;
    if (job.cache)
        units.emplace(*job.cache, runner, rowEnd - rowStart, workerContexts(job, runner.workerCount()),
                      job.columnEnd - job.columnStart, rowStart);
    runner.run(
        [&](int unit, int worker) {
            RenderContext& ctx = workerContext(job, worker);
            if (!units) return renderPlainRow(job, ctx, rowStart + unit);
            units->begin(unit, worker);
            renderPlainRow(job, ctx, rowStart + unit, &*units, unit);
            units->awaitTurn(unit);
            if (units->again(worker)) renderPlainRow(job, ctx, rowStart + unit);
            units->commit(unit, worker);
        },
        [&](int unit) {
            const int y = rowStart + unit;
            job.lastFinishedRow = y;
            if (job.rowSink) job.rowSink->rowFinished(y);
            reportRowsFinished(job, rows.mark(y, y + 1));
            if (runner.stopping() || runner.pollKey()) return;
            const int percent = (rowStart + rows.count()) * 100 / rowEnd;
            job.progress->show(percent, formatText("Rendering: %d%% (antialiasing disabled)", percent));
        });
    if (runner.stopRequested) job.stopRequested = true;
    if (runner.stopRequested || runner.keyPressed) job.keyPressed = true;
}

// Every worker's context renders this frame's scene with the settings of worker 0's.
void prepareWorkerContexts(RenderJob& job) {
    if (!job.workers) return;
    const RenderContext& main = job.ctx;
    for (int w = 1; w < job.workers->count(); ++w) {
        RenderContext& ctx = job.workers->context(w);
        prepareRenderContext(ctx, job.scene);
        ctx.stats = RenderStatistics{};
        ctx.globalIllumination = main.globalIllumination;
        ctx.skyLightMode = main.skyLightMode;
        ctx.photonPass = main.photonPass;
        ctx.primaryGrid = main.primaryGrid;
        ctx.irradianceDepth = main.irradianceDepth;
    }
}

// The counters of every worker go to worker 0's context, which counts the frame.
void collectWorkerStatistics(RenderJob& job) {
    if (!job.workers) return;
    for (int w = 1; w < job.workers->count(); ++w) {
        RenderContext& ctx = job.workers->context(w);
        addStatistics(job.ctx.stats, ctx.stats);
        ctx.stats = RenderStatistics{};
    }
}

}  // namespace

void prepareRenderContext(RenderContext& ctx, const Frame& scene) {
    ctx.frame = &scene;
    const Options& options = scene.options;
    ctx.settings.featureMask = settledFeatureMask(options);
    ctx.settings.renderMode = options.renderMode;
    ctx.settings.shadowBias = options.shadowBias;
    ctx.settings.maxRayLevel = options.maxRayLevel;
    ctx.shadowCache.assign(scene.lights.size(), {});
    ctx.levels.fill({});
    ctx.eye = scene.camera.location;
    ctx.hasEye = true;
}

void renderRows(RenderJob& job, int rowStart, int rowEnd) {
    Camera& camera = job.scene.camera;
    applyCameraTransform(camera);
    job.view = prepareView(camera);
    prepareRenderContext(job.ctx, job.scene);
    prepareWorkerContexts(job);
    settleAntialiasing(job, job.scene.options);
    RenderProgress ownProgress;
    RenderProgress* const frameProgress = job.progress;
    if (!frameProgress) job.progress = &ownProgress;
    if (rowEnd > 0) job.progress->begin(rowStart * 100.0 / rowEnd);

    if (!job.stopRequested) {
        if (job.scene.options.undersampling) {
            // The blocks of the undersampling loop depend on each other in both directions: with a
            // growing irradiance cache they render on one worker.
            RenderWorkers* const workers = job.workers;
            if (job.cache) job.workers = nullptr;
            renderUndersampled(job, rowStart, rowEnd);
            job.workers = workers;
        } else if (job.level > 0) {
            renderAdaptive(job, rowStart, rowEnd);
        } else {
            renderPlain(job, rowStart, rowEnd);
        }
        collectWorkerStatistics(job);
    }
    job.progress = frameProgress;
    if (job.stopRequested)
        message("\n\nStopped at row %d !",
                job.lastFinishedRow >= 0 ? job.lastFinishedRow : job.ctx.currentRow);
}

RenderContext& workerContext(RenderJob& job, int worker) {
    return worker == 0 ? job.ctx : job.workers->context(worker);
}

void reportRowsFinished(RenderJob& job, int endRow) {
    if (endRow <= job.finishedEnd) return;
    job.finishedEnd = endRow;
    if (job.rowSink) job.rowSink->rowsFinished(endRow);
}

void applyExposure(const Camera& camera, const Options& options, Color& colour) {
    // Powers are taken of positive channels only; the pixel store turns what is left negative into 0.
    if (camera.exposureScale > 0 && camera.exposureExponent > 0) {
        const double exponent = 1 / camera.exposureExponent;
        for (int i = 0; i < 3; ++i) {
            double c = colour[i] * camera.exposureScale;
            colour[i] = c > 0 ? std::pow(c, exponent) : c;
        }
    }
    if (options.gammaOn) {
        for (int i = 0; i < 3; ++i) {
            if (colour[i] > 0) colour[i] = std::pow(colour[i], options.gammaFactor);
        }
    }
}

void finishPixel(RenderJob& job, int x, int y, const Color& colour, double alpha, double depth,
                 const Color* unclipped) {
    putSBufferPixel(job.frame, colour, alpha, x, y, unclipped);
    if (job.frame.hasDepth) putZBufferDepth(job.frame, depth, y, x);
    if (job.display) job.display->drawPixel(x, y, colour);
}

}  // namespace quorva
