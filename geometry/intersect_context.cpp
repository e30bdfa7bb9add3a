// The per-shape hit-distance table of the intersection context, and the statistics sum.
#include "geometry/intersect_context.h"

#include <algorithm>
#include <cstdint>

namespace quorva {
namespace {
std::size_t slotOf(const void* p) {
    auto v = reinterpret_cast<std::uintptr_t>(p);
    return static_cast<std::size_t>((v >> 4) ^ (v >> 10)) & 63;
}
}  // namespace

void addPhotonStatistics(RenderStatistics& into, const RenderStatistics& from) {
    into.photonRays += from.photonRays;
    into.photonRefracted += from.photonRefracted;
    into.photonDispersion += from.photonDispersion;
    into.photonReflected += from.photonReflected;
    into.photonInternalReflected += from.photonInternalReflected;
    into.surfacePhotonsGathered += from.surfacePhotonsGathered;
    into.mediaPhotonsGathered += from.mediaPhotonsGathered;
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
    addPhotonStatistics(into, from);
    into.shadowChecks += from.shadowChecks;
    into.shadowCacheHits += from.shadowCacheHits;
    into.boundsChecked += from.boundsChecked;
    into.objectsChecked += from.objectsChecked;
    into.queuePushes += from.queuePushes;
    into.traversals += from.traversals;
    into.queuePeak = std::max(into.queuePeak, from.queuePeak);
}

void IntersectContext::storeHitDistance(const Shape* shape, double distance) {
    hitSlots_[slotOf(shape)] = {shape, distance};
}

double IntersectContext::hitDistance(const Shape* shape) const {
    const HitSlot& s = hitSlots_[slotOf(shape)];
    return s.shape == shape ? s.distance : 0.0;
}

}  // namespace quorva
