// ComputePrimaryGrid and its progress report.
#include "render/primary_grid.h"

#include <ctime>
#include <vector>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "gi/irradiance_cache.h"
#include "render/cache_units.h"
#include "render/camera_rays.h"
#include "render/render_job.h"
#include "render/render_progress.h"
#include "render/render_rows.h"
#include "render/render_workers.h"
#include "render/work_units.h"
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
                        int endRow, int columnStart, int columnEnd, RenderWorkers* workers) {
    const bool sky = cache.config().skyLight;
    message(sky ? "Initializing Diffuse Solar Radiation calculation...\n"
                : "Computing primary global illumination grid...\n");
    const std::time_t start = std::time(nullptr);
    Camera& camera = scene.camera;
    const ViewFrame view = prepareView(camera);
    const int side = camera.width > camera.height ? camera.width : camera.height;
    int step = 0, finest = 0;
    primaryGridSteps(side, scene.options.irradiance.gridSize, sky, step, finest);

    // The rows of every grid, coarsest first: the units.
    struct GridRow {
        int step, y, passRows, passDone;
        bool lastOfFirstPass;
    };
    std::vector<GridRow> rows;
    for (int s = step; s >= finest && s >= 2; s /= 2) {
        const int passRows = rowsInPass(firstRow, endRow, s);
        int done = 0;
        for (int y = firstRow; y < endRow; y += s) rows.push_back({s, y, passRows, ++done, false});
        if (s == step && !rows.empty()) rows.back().lastOfFirstPass = true;
    }
    const int totalRows = static_cast<int>(rows.size());

    UnitRunner runner(workers, totalRows);
    std::vector<RenderContext*> contexts{&ctx};
    ctx.primaryGrid = true;
    for (int w = 1; w < runner.workerCount(); ++w) {
        RenderContext& c = workers->context(w);
        prepareRenderContext(c, scene);
        c.stats = RenderStatistics{};
        c.globalIllumination = ctx.globalIllumination;
        c.skyLightMode = ctx.skyLightMode;
        c.photonPass = ctx.photonPass;
        c.irradianceDepth = ctx.irradianceDepth;
        c.primaryGrid = true;
        contexts.push_back(&c);
    }
    CacheUnits units(cache, runner, totalRows, contexts, columnEnd - columnStart);

    // The points of one row; `paced` passes keep behind the row above.
    const auto renderRow = [&](int unit, RenderContext& c, bool paced) {
        const GridRow& row = rows[static_cast<std::size_t>(unit)];
        c.startWorkUnit();
        c.currentRow = row.y;
        for (int x = columnStart; x < columnEnd; x += row.step) {
            if (paced) units.waitAhead(unit, x - columnStart + 1);
            c.currentColumn = x;
            c.beginSample(x, row.y);
            const Ray ray = primaryRay(camera, view, x, row.y, c.settings.shadowBias);
            Color colour;
            double alpha = 0;
            traceRay(c, 0, ray, colour, alpha, &c.stats.primaryRays);
            if (paced) units.markDone(unit, x - columnStart + 1);
        }
    };
    bool stopped = false;
    bool firstPassOver = false;
    ProgressCounter counter;
    // After each row, in the order of the rows: the progress, the key, the scale of the first grid.
    const auto rowFinal = [&](int unit) {
        const GridRow& row = rows[static_cast<std::size_t>(unit)];
        const int whole = totalRows ? (unit + 1) * 100 / totalRows : 100;
        if (sky)
            counter.show(whole, "%d%% completed", whole);
        else
            counter.show(whole, "[grid %dx%d : %d%%] Done computing: %d%%, %ld samples   ", row.step, row.step,
                         row.passRows ? row.passDone * 100 / row.passRows : 100, whole, cache.computed());
        if (!stopped && keys().keyWaiting() && keys().readKey() == EscapeKey) {
            stopped = true;
            runner.stop();
        }
        if (row.lastOfFirstPass || (stopped && !firstPassOver)) {
            if (cache.saving() && cache.meanPrimaryIrradiance() > 0) cache.writeScaleItem();
            firstPassOver = true;
        }
    };
    runner.run(
        [&](int unit, int worker) {
            RenderContext& c = *contexts[static_cast<std::size_t>(worker)];
            units.begin(unit, worker);
            renderRow(unit, c, true);
            units.awaitTurn(unit);
            if (units.again(worker)) renderRow(unit, c, false);
            units.commit(unit, worker);
            rowFinal(unit);
        },
        [](int) {});
    for (std::size_t w = 1; w < contexts.size(); ++w) {
        addStatistics(ctx.stats, contexts[w]->stats);
        contexts[w]->stats = RenderStatistics{};
        contexts[w]->primaryGrid = false;
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
