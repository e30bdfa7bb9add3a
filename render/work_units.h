// Work units of one pixel loop (a row, or a band of rows), handed out in order to the render workers.
//
// Units are taken in increasing order, and a unit once taken is always finished, so a unit may wait for
// the progress of an earlier one (the adaptive loops read the edge of the row above while it is being
// drawn) without ever waiting for a unit nobody works on. What finishes is collected under one lock, in
// `finished`: rows that became final, progress text, and the key poll that may end the loop. After a key
// no further unit is taken; the units in progress complete, so all workers stop within one unit's time.
//
// Shared structures filled while rendering (irradiance records, photon gathers) are consulted and updated
// in this place only: inside a unit through the worker's render context, read-only, and merged in
// `finished`, under the lock. For an image identical with any number of workers, a value a unit reads
// must not depend on which units happen to be finished: see the README on what such structures must
// guarantee.
#pragma once

#include <atomic>
#include <climits>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace quorva {

class RenderWorkers;

class UnitRunner {
  public:
    UnitRunner(RenderWorkers* workers, int units);

    int workerCount() const { return workerCount_; }

    // Runs body(unit, worker) for the units 0 .. units - 1 on every worker; after each unit, finished(unit)
    // runs under the runner's lock. Returns when every unit taken is done; a worker's exception is thrown
    // again here, after all workers have stopped.
    void run(const std::function<void(int unit, int worker)>& body,
             const std::function<void(int unit)>& finished);

    // From `finished`: reads a waiting key, if any. Escape sets stopRequested, any other key keyPressed;
    // either ends the handing out of units. True when a key was read.
    bool pollKey();
    bool stopping() const { return stopping_.load(std::memory_order_relaxed); }
    // Ends the handing out of units (the units taken are finished).
    void stop() { stopping_.store(true, std::memory_order_relaxed); }
    bool stopRequested = false;
    bool keyPressed = false;

    // Progress inside a unit, for units that read what an earlier one writes: `done` counts finished
    // steps (pixels, blocks). A finished unit has made every step.
    void markProgress(int unit, int done);
    // Blocks until `unit` has made `done` steps.
    void waitProgress(int unit, int done = INT_MAX);
    // The steps `unit` has marked so far.
    int progress(int unit) const {
        return progress_[static_cast<std::size_t>(unit)].done.load(std::memory_order_relaxed);
    }

  private:
    struct Aborted {};  // another worker failed: this one gives up its unit
    void abort();

    int workerCount_ = 1;
    int units_ = 0;
    RenderWorkers* workers_;
    // Per unit: the steps made, and the least progress a waiter sleeps for (INT_MAX: none; a mark below
    // it wakes nobody). On a cache line of its own: neighbouring units are marked by other workers.
    struct alignas(64) Progress {
        std::atomic<int> done{0};
        std::atomic<int> wanted{INT_MAX};
    };
    std::vector<Progress> progress_;
    std::atomic<int> next_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> aborted_{false};
    std::mutex lock_;
};

// The rows of a loop that are final, as units finish them in any order.
class FinishedRows {
  public:
    FinishedRows(int first, int end);
    // Marks rows [from, to) final and returns the end of the unbroken run of final rows from the first.
    int mark(int from, int to);
    int count() const { return count_; }  // rows marked so far

  private:
    int first_;
    int prefixEnd_;
    int count_ = 0;
    std::vector<unsigned char> done_;
};

}  // namespace quorva
