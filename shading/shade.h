// The shading entry TraceRay calls for every hit.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;
struct Intersection;

// Evaluates the hit shape's shader into a SurfaceSample and shades it (ambient, lights and shadows,
// reflection and refraction by recursive traceRay); adds the result to `colour`.
void shadeHit(RenderContext& ctx, int level, const Ray& ray, const Intersection& hit, double weight,
              double mediumIndex, Color& colour);

}  // namespace quorva
