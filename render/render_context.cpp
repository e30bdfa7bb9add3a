// The per-shape hit-distance table of the render context.
#include "render/render_context.h"

#include <cstdint>

namespace quorva {
namespace {
std::size_t slotOf(const void* p) {
    auto v = reinterpret_cast<std::uintptr_t>(p);
    return static_cast<std::size_t>((v >> 4) ^ (v >> 10)) & 63;
}
}  // namespace

void RenderContext::storeHitDistance(const Shape* shape, double distance) {
    hitSlots_[slotOf(shape)] = {shape, distance};
}

double RenderContext::hitDistance(const Shape* shape) const {
    const HitSlot& s = hitSlots_[slotOf(shape)];
    return s.shape == shape ? s.distance : 0.0;
}

}  // namespace quorva
