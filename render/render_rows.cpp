// RenderRows: per-band set-up, the choice of pixel loop, the plain loop and finishing a pixel.
#include "render/render_rows.h"

#include <cmath>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "render/antialias.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_context.h"
#include "render/render_job.h"
#include "render/trace.h"
#include "scene/scene_state.h"

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

// After each row: any waiting key ends the loop, Escape also stops the render. Returns true to go on.
bool continueAfterRow(RenderJob& job) {
    KeySource& source = keys();
    if (!source.keyWaiting()) return true;
    if (source.readKey() == EscapeKey) job.stopRequested = true;
    job.keyPressed = true;
    return false;
}

// One pixel per image position at integer coordinates; with depth of field S rays through the aperture
// are averaged.
void renderPlain(RenderJob& job, int rowStart, int rowEnd) {
    RenderContext& ctx = job.ctx;
    const Camera& camera = job.scene.camera;
    const Options& options = job.scene.options;
    const int samples = options.depthOfFieldSamples;
    const double inverseSamples = samples > 0 ? 1.0 / samples : 1.0;

    for (int y = rowStart; y < rowEnd; ++y) {
        ctx.currentRow = y;
        for (int x = job.columnStart; x < job.columnEnd; ++x) {
            ctx.currentColumn = x;
            ctx.beginSample(x, y);
            const Ray ray = primaryRay(camera, job.view, x, y, ctx.settings.shadowBias);
            Color colour;
            double alpha = 0;
            double depth;
            if (camera.aperture != 0 && samples > 0) {
                Color sum;
                double alphaSum = 0;
                depth = traceApertureSamples(job, ray, samples, sum, alphaSum);
                colour = sum * inverseSamples;
                alpha = alphaSum * inverseSamples;
            } else {
                depth = traceRay(ctx, 0, ray, colour, alpha, &ctx.stats.primaryRays);
            }
            applyExposure(camera, options, colour);
            finishPixel(job, x, y, colour, alpha, depth);
        }
        reportRowsFinished(job, y + 1);
        if (!continueAfterRow(job)) break;
        progressMessage("\rRendering: %d%% (antialiasing disabled)", (y + 1) * 100 / rowEnd);
    }
}

}  // namespace

void prepareRenderContext(RenderContext& ctx, const SceneState& scene) {
    ctx.scene = &scene;
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
    settleAntialiasing(job, job.scene.options);

    if (!job.stopRequested) {
        if (job.scene.options.undersampling) {
            renderUndersampled(job, rowStart, rowEnd);
        } else if (job.level > 0) {
            renderAdaptive(job, rowStart, rowEnd);
        } else {
            renderPlain(job, rowStart, rowEnd);
        }
    }
    if (job.stopRequested) message("\n\nStopped at row %d !", job.ctx.currentRow);
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

void finishPixel(RenderJob& job, int x, int y, const Color& colour, double alpha, double depth) {
    putSBufferPixel(job.frame, colour, alpha, x, y);
    if (job.frame.hasDepth) putZBufferDepth(job.frame, depth, y, x);
    if (job.display) job.display->drawPixel(x, y, colour);
}

}  // namespace quorva
