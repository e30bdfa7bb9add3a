// The rows of a frame whose irradiance cache several workers share: every worker renders its row at once,
// against the records there are, and the rows become final one after the other, in their order (see
// gi/irradiance_unit.h). A row's turn comes when the row above is final; a row that missed (or used) a
// change the rows above made while it rendered is rendered again then, and only then are its records
// final. Each worker keeps a few columns behind the row above, so that it seldom misses what that row makes
// near it. The image, the cache file and the counters are those of one worker.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "geometry/intersect_context.h"
#include "gi/irradiance_unit.h"

namespace quorva {

class IrradianceCache;
class RenderContext;
class UnitRunner;

class CacheUnits {
  public:
    // `contexts[w]` is worker w's context; `width` the columns a row spans; unit u renders image row
    // firstRow + u (-1: rows of the primary grid).
    CacheUnits(IrradianceCache& cache, UnitRunner& runner, int units, std::vector<RenderContext*> contexts,
               int width, int firstRow = -1);
    // No context keeps pointing at a unit of these, also when a worker failed inside one.
    ~CacheUnits();
    CacheUnits(const CacheUnits&) = delete;
    CacheUnits& operator=(const CacheUnits&) = delete;

    // A unit starts on `worker`: its context records into the worker's unit.
    void begin(int unit, int worker);
    // Before column `done` (counted from the row's first) of the first pass: waits until the unit above
    // is far enough ahead.
    void waitAhead(int unit, int done);
    // Column `done` of the first pass is finished.
    void markDone(int unit, int done);
    // After the first pass: waits for the unit's turn, when every unit before it is final.
    void awaitTurn(int unit);
    // Then: true when the unit must be rendered again (its context's statistics are back where the unit
    // began); `forced` asks for it.
    bool again(int worker, bool forced = false);
    // What the worker's unit hands to the next row, kept with its records (set before `commit`).
    std::vector<unsigned char>& handOver(int worker) { return units_[static_cast<std::size_t>(worker)].handOver; }
    // The unit's records become final.
    void commit(int unit, int worker);

    // The progress of a unit whose first pass is over (its final pass may still run).
    static constexpr int FirstPassDone = INT_MAX - 1;
    // Columns between the progress marks of a first pass.
    static constexpr int MarkEvery = 8;

  private:
    IrradianceCache& cache_;
    UnitRunner& runner_;
    std::vector<RenderContext*> contexts_;
    std::vector<IrradianceUnit> units_;  // one per worker
    std::vector<RenderStatistics> statistics_;
    std::uint64_t first_ = 0;
    int lag_ = 0;
    int firstRow_ = -1;
};

}  // namespace quorva
