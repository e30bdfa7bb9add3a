// The per-shape hit-distance table of the render context.
#include "render/render_context.h"

#include <algorithm>
#include <cstdint>

namespace quorva {
namespace {
std::size_t slotOf(const void* p) {
    auto v = reinterpret_cast<std::uintptr_t>(p);
    return static_cast<std::size_t>((v >> 4) ^ (v >> 10)) & 63;
}
}  // namespace

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
    hitSlots_.fill({});
}

void addStatistics(RenderStatistics& into, const RenderStatistics& from) {
    into.primaryRays += from.primaryRays;
    into.shadowRays += from.shadowRays;
    into.reflectedRays += from.reflectedRays;
    into.refractedRays += from.refractedRays;
    into.dispersionRays += from.dispersionRays;
    into.internalReflectionRays += from.internalReflectionRays;
    into.jitteredRays += from.jitteredRays;
    into.irradianceRays += from.irradianceRays;
    into.photonRays += from.photonRays;
    into.photonRefracted += from.photonRefracted;
    into.photonDispersion += from.photonDispersion;
    into.photonReflected += from.photonReflected;
    into.photonInternalReflected += from.photonInternalReflected;
    into.surfacePhotonsGathered += from.surfacePhotonsGathered;
    into.mediaPhotonsGathered += from.mediaPhotonsGathered;
    into.shadowChecks += from.shadowChecks;
    into.shadowCacheHits += from.shadowCacheHits;
    into.boundsChecked += from.boundsChecked;
    into.objectsChecked += from.objectsChecked;
    into.queuePushes += from.queuePushes;
    into.traversals += from.traversals;
    into.queuePeak = std::max(into.queuePeak, from.queuePeak);
}

void RenderContext::storeHitDistance(const Shape* shape, double distance) {
    hitSlots_[slotOf(shape)] = {shape, distance};
}

double RenderContext::hitDistance(const Shape* shape) const {
    const HitSlot& s = hitSlots_[slotOf(shape)];
    return s.shape == shape ? s.distance : 0.0;
}

}  // namespace quorva
