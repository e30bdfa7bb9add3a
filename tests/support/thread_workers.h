// Workers for the builds that share their work: `count` threads, the caller's among them.
#pragma once

#include <functional>
#include <thread>
#include <vector>

#include "geometry/hierarchy.h"

namespace quorva::testing {

inline HierarchyWorkers threadWorkers(int count) {
    HierarchyWorkers workers;
    workers.count = count;
    workers.run = [count](const std::function<void(int)>& body) {
        std::vector<std::thread> others;
        for (int w = 1; w < count; ++w) others.emplace_back(body, w);
        body(0);
        for (std::thread& t : others) t.join();
    };
    return workers;
}

}  // namespace quorva::testing
