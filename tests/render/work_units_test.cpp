// UnitRunner's progress between dependent units: a waiter sleeps until the progress it asked for is
// marked, however many waiters a unit has and whatever they ask for.
#include "render/work_units.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "render/render_workers.h"

namespace quorva {
namespace {

// Each unit waits for the one above at every step (as the adaptive rows do) and, before it starts, for
// the unit two above to be finished (as a reused slot does): two waiters with different requests on one
// unit. A waiter that returned early, or one that was never woken, fails or hangs the test.
TEST(WorkUnits, WaitersWakeWhenWhatTheyAskedForIsMarked) {
    constexpr int Units = 60, Steps = 400;
    for (int threads : {2, 3, 5}) {
        RenderWorkers workers(threads);
        UnitRunner runner(&workers, Units);
        std::atomic<int> early{0};
        std::atomic<int> finishedUnits{0};
        runner.run(
            [&](int unit, int) {
                if (unit >= 2) {
                    runner.waitProgress(unit - 2);
                    if (runner.progress(unit - 2) != INT_MAX) ++early;
                }
                for (int step = 1; step <= Steps; ++step) {
                    if (unit > 0) {
                        // Asks for a few steps ahead, as a row keeps behind the row above.
                        const int wanted = step + (unit % 7) * 5 < Steps ? step + (unit % 7) * 5 : Steps;
                        runner.waitProgress(unit - 1, wanted);
                        if (runner.progress(unit - 1) < wanted) ++early;
                    }
                    // Marks every step on some units and every few steps on others.
                    if (unit % 3 != 0 || step % 8 == 0 || step == Steps) runner.markProgress(unit, step);
                }
            },
            [&](int) { ++finishedUnits; });
        EXPECT_EQ(early.load(), 0) << threads << " threads";
        EXPECT_EQ(finishedUnits.load(), Units) << threads << " threads";
    }
}

// A marker that goes on only once the waiter has seen each step: a mark that failed to wake the waiter
// it was asked for would stop both (the marker gives up after a while and says so). The waiter asks
// for every step in turn, for some steps after the marker's request check has passed.
TEST(WorkUnits, EveryMarkReachingARequestWakesItsWaiter) {
    RenderWorkers pool(2);
    UnitRunner runner(&pool, 2);
    constexpr int Steps = 3000;
    std::atomic<int> seen{0};
    std::atomic<bool> stuck{false};
    int stuckAt = 0;
    std::thread waiter([&] {
        for (int step = 1; step <= Steps; ++step) {
            runner.waitProgress(0, step);
            seen.store(step);
        }
    });
    for (int step = 1; step <= Steps && !stuck; ++step) {
        runner.markProgress(0, step);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (seen.load() < step) {
            if (std::chrono::steady_clock::now() > deadline) {
                stuck = true;
                stuckAt = step;
                break;
            }
            std::this_thread::yield();
        }
    }
    runner.markProgress(0, INT_MAX);  // releases a waiter left asleep
    waiter.join();
    EXPECT_FALSE(stuck) << "a waiter slept through the mark it asked for, at step " << stuckAt;
}

}  // namespace
}  // namespace quorva
