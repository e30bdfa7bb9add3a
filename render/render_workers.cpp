// The render thread pool: workers sleep between runs and wake together for each one.
#include "render/render_workers.h"

#include <system_error>

#include "diagnostics/diagnostics.h"
#include "trace/render_context.h"

namespace quorva {

int settleThreadCount(int requested) {
    if (requested <= 0) {
        const unsigned hardware = std::thread::hardware_concurrency();
        requested = hardware == 0 ? 1 : static_cast<int>(hardware);
    }
    return requested > MaxRenderThreads ? MaxRenderThreads : requested;
}

RenderWorkers::RenderWorkers(int count) {
    for (int worker = 1; worker < count; ++worker) {
        try {
            contexts_.push_back(std::make_unique<RenderContext>());
            threads_.emplace_back([this, worker] { loop(worker); });
        } catch (const std::exception&) {
            // No thread (or no memory for its context): render with the workers already running.
            if (contexts_.size() > threads_.size()) contexts_.pop_back();
            warning("Only %d of %d rendering threads could be started", worker, count);
            break;
        }
    }
}

RenderWorkers::~RenderWorkers() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void RenderWorkers::loop(int worker) {
    unsigned long seen = 0;
    for (;;) {
        const std::function<void(int)>* body;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return quit_ || generation_ != seen; });
            if (quit_) return;
            seen = generation_;
            body = body_;
        }
        std::exception_ptr failure;
        try {
            (*body)(worker);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> hold(lock_);
        if (failure && !failure_) failure_ = failure;
        if (--running_ == 0) done_.notify_all();
    }
}

void RenderWorkers::run(const std::function<void(int)>& body) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        body_ = &body;
        failure_ = nullptr;
        running_ = static_cast<int>(threads_.size());
        ++generation_;
    }
    wake_.notify_all();
    std::exception_ptr failure;
    try {
        body(0);
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return running_ == 0; });
    if (!failure) failure = failure_;
    failure_ = nullptr;
    body_ = nullptr;
    hold.unlock();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace quorva
