// Sampler restarts and the per-unit reset of the render context.
#include "trace/render_context.h"

#include <cstdint>

namespace quorva {

void RenderContext::beginSample(double x, double y) {
    // Positions are multiples of 1/N pixel (N <= 16): 64 steps per pixel identify them exactly.
    const auto ix = static_cast<std::uint32_t>(static_cast<std::int64_t>(x * 64.0));
    const auto iy = static_cast<std::uint32_t>(static_cast<std::int64_t>(y * 64.0));
    std::uint32_t key = ix * 0x8da6b343u ^ iy * 0xd8163841u;
    aperturePairs.restart(key);
    blurPairs.restart(key ^ 0x1b873593u);
    shadowTriples.restart(key ^ 0xcc9e2d51u);
    areaLightPairs.restart(key ^ 0xe6546b64u);
    fbmTriples.restart(key ^ 0x85ebca6bu);
    random.reseed(key ^ 0x5bd1e995u);
    mediaRandom = key ^ 0x27d4eb2fu;
}

void RenderContext::startWorkUnit() {
    for (auto& slots : shadowCache) slots.fill(nullptr);
    levels.fill({});
    clearHitDistances();
}

}  // namespace quorva
