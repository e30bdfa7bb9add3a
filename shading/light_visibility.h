// Visibility of a light from a point: the shadow test with its per-level occluder cache, coloured
// shadows through transparent surfaces, and soft shadows from lights with a radius or a flat area.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;
class Light;
struct FlatAreaGeometry;

// Most transparent surfaces one shadow ray crosses; what lies behind the last one is not tested.
constexpr int MaxShadowCrossings = 10;

// ShadowTest for the ray from `ray.origin` along the unit direction `ray.direction` to the light
// `distance` away, searched from `tmin`, at ray `level`. Returns false when no light arrives; `filter`
// receives the colour the light is filtered by (the mean over the soft-shadow samples).
bool shadowTest(RenderContext& ctx, const Light& light, const Ray& ray, double tmin, double distance,
                double radius, int level, Color& filter);

// One shadow ray: the filter of everything transparent it crosses over `distance` (black when
// something opaque blocks it, or the filter fades out). `absorb` applies the occluders' absorption.
Color traceShadowRay(RenderContext& ctx, const Light& light, Ray ray, double tmin, double distance, int level,
                     bool absorb);

// The visible fraction (as a filter) of a flat area light seen from P.
Color sampleFlatAreaLight(RenderContext& ctx, const Light& light, const FlatAreaGeometry& geometry,
                          const Vec3& P, double tmin, int level);

}  // namespace quorva
