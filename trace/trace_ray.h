// TraceRay: the central ray-trace routine every part uses to follow a ray.
#pragma once

#include <cstdint>

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;

// Colour and alpha of the nearest hit along `ray` (or of the background), at recursion `level`.
// Increments *counter (the caller chooses the category) unless level >= MaxRayLevel. Returns the
// distance from the camera location to the hit, 1000000 on a miss. `weight` is the ray's contribution
// to the pixel and `mediumIndex` the refraction index of the medium the ray travels in (1 = air).
double traceRay(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha,
                std::uint32_t* counter, double weight = 1.0, double mediumIndex = 1.0);

}  // namespace quorva
