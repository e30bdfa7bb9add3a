// ComputePrimaryGrid and its progress report.
#include "gi/primary_grid.h"

#include <ctime>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "gi/irradiance_cache.h"
#include "render/camera_rays.h"
#include "render/render_job.h"
#include "render/render_progress.h"
#include "trace/frame.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

int rowsInPass(int firstRow, int endRow, int step) {
    return endRow > firstRow ? (endRow - firstRow + step - 1) / step : 0;
}

void printElapsed(long seconds) {
    message("\nThis was done in ");
    const int hours = static_cast<int>(seconds / 3600);
    const int minutes = static_cast<int>(seconds / 60 % 60);
    if (hours) message("%d hour ", hours);
    if (minutes) message("%d minute ", minutes);
    message("%d seconds.", static_cast<int>(seconds % 60));
}

}  // namespace

void primaryGridSteps(int side, int gridSize, bool skyLight, int& first, int& finest) {
    first = gridSize > 0 ? side / gridSize : static_cast<int>(side * GridStartFraction);
    finest = static_cast<int>(side * (skyLight ? SkyGridEndFraction : GridEndFraction));
    if (first < 2) first = 2;
    if (finest < 2) finest = 2;
    if (finest > first) finest = first;
}

void checkGridSize(const Frame& scene) {
    const int size = scene.options.irradiance.gridSize;
    const Camera& camera = scene.camera;
    const int larger = camera.width > camera.height ? camera.width : camera.height;
    if (size > 0 && size > larger / 2) fatal("Grid size must be less than 50%% of max image resolution");
}

bool computePrimaryGrid(Frame& scene, RenderContext& ctx, IrradianceCache& cache, int firstRow,
                        int endRow, int columnStart, int columnEnd) {
    const bool sky = cache.config().skyLight;
    message(sky ? "Initializing Diffuse Solar Radiation calculation...\n"
                : "Computing primary global illumination grid...\n");
    const std::time_t start = std::time(nullptr);
    Camera& camera = scene.camera;
    const ViewFrame view = prepareView(camera);
    const int side = camera.width > camera.height ? camera.width : camera.height;
    int step = 0, finest = 0;
    primaryGridSteps(side, scene.options.irradiance.gridSize, sky, step, finest);

    int totalRows = 0;
    for (int s = step; s >= finest && s >= 2; s /= 2) totalRows += rowsInPass(firstRow, endRow, s);
    int rowsDone = 0;
    bool firstPass = true;
    bool stopped = false;
    ctx.primaryGrid = true;
    ProgressCounter counter;
    for (int s = step; s >= finest && s >= 2 && !stopped; s /= 2) {
        const int passRows = rowsInPass(firstRow, endRow, s);
        int passDone = 0;
        for (int y = firstRow; y < endRow && !stopped; y += s) {
            ctx.currentRow = y;
            for (int x = columnStart; x < columnEnd; x += s) {
                ctx.currentColumn = x;
                ctx.beginSample(x, y);
                const Ray ray = primaryRay(camera, view, x, y, ctx.settings.shadowBias);
                Color colour;
                double alpha = 0;
                traceRay(ctx, 0, ray, colour, alpha, &ctx.stats.primaryRays);
            }
            ++passDone;
            ++rowsDone;
            const int whole = totalRows ? rowsDone * 100 / totalRows : 100;
            if (sky)
                counter.show(whole, "%d%% completed", whole);
            else
                counter.show(whole, "[grid %dx%d : %d%%] Done computing: %d%%, %ld samples   ", s, s,
                             passRows ? passDone * 100 / passRows : 100, whole, cache.computed());
            if (keys().keyWaiting() && keys().readKey() == EscapeKey) stopped = true;
        }
        if (firstPass && cache.saving() && cache.meanPrimaryIrradiance() > 0) cache.writeScaleItem();
        firstPass = false;
    }
    ctx.primaryGrid = false;
    if (stopped) return false;
    cache.writeGridCompleteItem();
    cache.markGridComplete();
    counter.close("%ld initial global illumination ray samples computed.          ", cache.computed());
    printElapsed(static_cast<long>(std::time(nullptr) - start));
    return true;
}

}  // namespace quorva
