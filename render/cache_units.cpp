// Numbering the units, the distance kept behind the row above, and the turn of each unit.
#include "render/cache_units.h"

#include <algorithm>

#include "gi/irradiance_cache.h"
#include "render/work_units.h"
#include "trace/render_context.h"

namespace quorva {

CacheUnits::CacheUnits(IrradianceCache& cache, UnitRunner& runner, int units, std::vector<RenderContext*> contexts,
                       int width, int firstRow)
    : cache_(cache),
      runner_(runner),
      contexts_(std::move(contexts)),
      units_(contexts_.size()),
      statistics_(contexts_.size()),
      firstRow_(firstRow) {
    first_ = cache_.reserveUnits(units);
    cache_.setReaders(static_cast<int>(contexts_.size()));
    // The rows in progress stay this far apart: far enough that a record made in one row seldom lies
    // beyond what the row below waits for, near enough that every worker has a row to render.
    const int workers = static_cast<int>(contexts_.size());
    lag_ = std::max(8, width / (workers + 1));
}

CacheUnits::~CacheUnits() {
    for (RenderContext* ctx : contexts_) ctx->irradianceUnit = nullptr;
}

void CacheUnits::begin(int unit, int worker) {
    RenderContext& ctx = *contexts_[static_cast<std::size_t>(worker)];
    IrradianceUnit& u = units_[static_cast<std::size_t>(worker)];
    cache_.beginUnit(u, first_ + static_cast<std::uint64_t>(unit));
    u.row = firstRow_ >= 0 ? firstRow_ + unit : -1;
    u.slot = worker;
    ctx.irradianceUnit = &u;
    statistics_[static_cast<std::size_t>(worker)] = ctx.stats;
}

void CacheUnits::waitAhead(int unit, int done) {
    if (unit == 0) return;
    const auto ahead = [](long columns) { return columns < FirstPassDone ? static_cast<int>(columns) : FirstPassDone; };
    const int needed = ahead(static_cast<long>(done) + lag_);
    // A row that caught up with the one above waits for a good part of the distance again, rather than
    // waking for every column the row above finishes.
    runner_.waitProgress(unit - 1, runner_.progress(unit - 1) >= needed ? needed : ahead(static_cast<long>(done) + lag_ + lag_ / 2));
}

void CacheUnits::markDone(int unit, int done) {
    // Every few columns: each mark may wake the row below, which waits far behind anyway.
    if (done - runner_.progress(unit) >= MarkEvery) runner_.markProgress(unit, done < FirstPassDone ? done : FirstPassDone);
}

void CacheUnits::awaitTurn(int unit) {
    runner_.markProgress(unit, FirstPassDone);
    if (unit > 0) runner_.waitProgress(unit - 1);
}

bool CacheUnits::again(int worker, bool forced) {
    IrradianceUnit& u = units_[static_cast<std::size_t>(worker)];
    if (!forced && !cache_.unitConflicts(u)) return false;
    RenderContext& ctx = *contexts_[static_cast<std::size_t>(worker)];
    ctx.stats = statistics_[static_cast<std::size_t>(worker)];
    cache_.restartUnit(u);
    return true;
}

void CacheUnits::commit(int, int worker) {
    cache_.commitUnit(units_[static_cast<std::size_t>(worker)]);
    contexts_[static_cast<std::size_t>(worker)]->irradianceUnit = nullptr;
}

}  // namespace quorva
