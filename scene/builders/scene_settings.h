// The scene-wide settings, built from values both front ends have already read: Background, Fog,
// GroundFog and SunLight from the scene language and from the binary scene's general and sky-dome
// records.
#pragma once

#include "eval/request.h"
#include "geometry/vec3.h"

namespace quorva {

struct SceneState;

// A background or sky as evaluated: a constant colour, or (when `expression` is set) the expression
// shading evaluates per ray.
struct BackgroundValue {
    Color colour{0, 0, 0};
    RequestPtr expression;
};

void buildBackground(SceneState& scene, BackgroundValue value);

// Fog ( start , density , colour ): the density is a fraction in 0..1.
void buildFog(SceneState& scene, double start, double density, const Color& colour);
// GroundFog ( height scale , distance scale , colour ): both scales positive.
void buildGroundFog(SceneState& scene, double heightScale, double distanceScale, const Color& colour);

// SunLight ( azimuth : elevation [, f [, f [, v ]]] ): `count` (2..4) values, `vector` when given.
void buildSunLightSettings(SceneState& scene, const double* values, int count, const Vec3* vector);

}  // namespace quorva
