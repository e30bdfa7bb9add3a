// Handing out work units, waiting between dependent units, and stopping on a key or a failure.
#include "render/work_units.h"

#include "diagnostics/console.h"
#include "render/render_workers.h"

namespace quorva {

UnitRunner::UnitRunner(RenderWorkers* workers, int units)
    : units_(units),
      workers_(workers),
      progress_(static_cast<std::size_t>(units > 0 ? units : 0)) {
    if (workers_ && workers_->count() > 1 && units > 1) workerCount_ = workers_->count();
}

bool UnitRunner::pollKey() {
    KeySource& source = keys();
    if (!source.keyWaiting()) return false;
    if (source.readKey() == EscapeKey)
        stopRequested = true;
    else
        keyPressed = true;
    stopping_.store(true, std::memory_order_relaxed);
    return true;
}

void UnitRunner::markProgress(int unit, int done) {
    std::atomic<int>& p = progress_[static_cast<std::size_t>(unit)].done;
    p.store(done);
    if (workerCount_ <= 1) return;
    // Waking a thread costs a system call: only a mark that reaches what a sleeping waiter asked for
    // wakes the waiters, and clears the request (one that needs more asks again). A request made
    // meanwhile stays, and the waiter that made it sees this mark before it sleeps.
    std::atomic<int>& w = progress_[static_cast<std::size_t>(unit)].wanted;
    int want = w.load();
    if (done < want) return;
    w.compare_exchange_strong(want, INT_MAX);
    p.notify_all();
}

void UnitRunner::waitProgress(int unit, int done) {
    std::atomic<int>& p = progress_[static_cast<std::size_t>(unit)].done;
    int seen = p.load(std::memory_order_acquire);
    // The unit waited for is mostly a pixel or two ahead: a short spin saves going to sleep and being
    // woken for every pixel.
    for (int spin = 0; seen < done && spin < 256; ++spin) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        seen = p.load(std::memory_order_acquire);
    }
    std::atomic<int>& w = progress_[static_cast<std::size_t>(unit)].wanted;
    while (seen < done) {
        // Ask for `done` (the least of what the waiters ask for), then look again before sleeping: a
        // mark made before the request is seen here, one made after it sees the request.
        int want = w.load();
        while (done < want && !w.compare_exchange_weak(want, done)) {
        }
        seen = p.load();
        if (seen >= done) break;
        p.wait(seen);
        seen = p.load(std::memory_order_acquire);
    }
    if (aborted_.load(std::memory_order_acquire)) throw Aborted{};
}

void UnitRunner::abort() {
    aborted_.store(true, std::memory_order_release);
    stopping_.store(true, std::memory_order_relaxed);
    for (Progress& unit : progress_) {
        std::atomic<int>& p = unit.done;
        p.store(INT_MAX, std::memory_order_release);
        p.notify_all();
    }
}

void UnitRunner::run(const std::function<void(int, int)>& body, const std::function<void(int)>& finished) {
    auto work = [&](int worker) {
        try {
            // A unit is taken only while no stop is pending, and once taken it is finished: the units
            // before it are all taken, so waiting for one of them always ends.
            while (!stopping()) {
                const int unit = next_.fetch_add(1, std::memory_order_relaxed);
                if (unit >= units_) break;
                body(unit, worker);
                markProgress(unit, INT_MAX);
                std::lock_guard<std::mutex> hold(lock_);
                finished(unit);
            }
        } catch (const Aborted&) {
        } catch (...) {
            abort();
            throw;
        }
    };
    if (workerCount_ > 1)
        workers_->run(work);
    else
        work(0);
}

FinishedRows::FinishedRows(int first, int end)
    : first_(first), prefixEnd_(first), done_(static_cast<std::size_t>(end > first ? end - first : 0), 0) {}

int FinishedRows::mark(int from, int to) {
    for (int y = from; y < to; ++y) {
        unsigned char& d = done_[static_cast<std::size_t>(y - first_)];
        if (!d) ++count_;
        d = 1;
    }
    while (prefixEnd_ - first_ < static_cast<int>(done_.size()) &&
           done_[static_cast<std::size_t>(prefixEnd_ - first_)])
        ++prefixEnd_;
    return prefixEnd_;
}

}  // namespace quorva
