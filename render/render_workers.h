// The pool of rendering threads, started once per run and reused by every frame and band. Each worker
// owns a render context (samplers, shadow caches, hit-distance slots, traversal scratch, statistics);
// the scene stays shared and read-only while the workers run.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quorva {

class RenderContext;

// Most workers a run may ask for; more are capped to this.
constexpr int MaxRenderThreads = 256;

// The worker count for a -j value: 0 (or below) means one per hardware thread, at least 1; values above
// MaxRenderThreads are capped.
int settleThreadCount(int requested);

class RenderWorkers {
  public:
    // Starts `count` - 1 threads; the thread that calls run() is worker 0. A thread that cannot be started
    // leaves the pool smaller, with a warning.
    explicit RenderWorkers(int count);
    ~RenderWorkers();
    RenderWorkers(const RenderWorkers&) = delete;
    RenderWorkers& operator=(const RenderWorkers&) = delete;

    int count() const { return static_cast<int>(threads_.size()) + 1; }
    // The context of worker 1 .. count() - 1 (worker 0 renders with the caller's own context).
    RenderContext& context(int worker) { return *contexts_[static_cast<std::size_t>(worker - 1)]; }

    // Runs body(worker) on every worker at once, the calling thread as worker 0, and returns when all
    // have returned. The first exception thrown by a worker is thrown again here.
    void run(const std::function<void(int)>& body);

  private:
    void loop(int worker);

    std::vector<std::thread> threads_;
    std::vector<std::unique_ptr<RenderContext>> contexts_;
    std::mutex lock_;
    std::condition_variable wake_, done_;
    const std::function<void(int)>* body_ = nullptr;
    unsigned long generation_ = 0;
    int running_ = 0;
    bool quit_ = false;
    std::exception_ptr failure_;
};

}  // namespace quorva
