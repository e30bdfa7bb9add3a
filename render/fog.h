// Fog and ground fog: how the colour seen along a ray segment fades towards the fog colour.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

struct FogSettings;

// Fades `colour` along a segment of `length` units of `ray` (unit direction). `missed` marks the
// infinite segment of a ray that hit nothing; otherwise `hitY` is the height of the hit point.
//
// Uniform fog (density f strictly between 0 and 1) keeps (1 - f)^(length - start) of the colour once the
// segment is longer than its start distance, and ground fog is then skipped. Ground fog thins out
// exponentially with height (height scale) and thickens with distance (distance scale); it lies only
// above the ground plane y = 0, so rays starting below it are left alone and rays going down stop at it.
void applyFog(const FogSettings& fog, const Ray& ray, double length, bool missed, double hitY,
              double shadowBias, Color& colour);

}  // namespace quorva
