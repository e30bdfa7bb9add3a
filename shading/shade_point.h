// The record of one hit while it is shaded, and the shading steps the shader kinds and the light code
// share: shader evaluation at the hit, ShadeSurface, the per-point light table.
#pragma once

#include "geometry/shape.h"
#include "geometry/vec3.h"
#include "shading/shader.h"

namespace quorva {

class RenderContext;
struct ShadingContext;
class Light;

struct ShadePoint {
    static constexpr int MaxFrames = 8;

    const Intersection* hit = nullptr;
    const Shape* shape = nullptr;  // the shape whose attributes and transform apply
    Ray ray;                       // the ray that found the hit
    int level = 0;
    double weight = 1;          // contribution of this ray to the pixel
    double mediumIndex = 1;     // refraction index of the medium the ray travels in
    Vec3 point;                 // world space
    Vec3 normal;                // world space, unit; a NormalModifier replaces it
    double storedDistance = 0;  // the hit distance TraceRay stored for the shape, read before recursing

    // Transforms from world space into the frame the current shader sees: the shape's, then each
    // shader's (combination members add theirs). Null entries are identities.
    const Transform* frames[MaxFrames] = {};
    int frameCount = 0;
};

// Prepares the hit record and the shading context of a hit: world point and unit normal, the shape's
// frame, and the shading variables (P, N in object space, I, V, E, surface coordinates).
void beginShadePoint(RenderContext& ctx, const Ray& ray, const Intersection& hit, int level, double weight,
                     double mediumIndex, ShadePoint& at, ShadingContext& sc);

// Evaluates `shader` at the hit: takes P and N through its inverse transform, runs the kind's
// evaluation, and brings a replaced normal back to world space into `at.normal`. `sc` is left in the
// shader's frame.
void evaluateShaderAt(RenderContext& ctx, const Shader& shader, ShadePoint& at, ShadingContext& sc,
                      SurfaceSample& sample);

// The shader that applies to a hit: a mesh triangle's own, else the shape's or its nearest parent's.
const Shader* shaderForHit(const Intersection& hit);

// Shades `sample` at the hit into `colour` (which it overwrites). `lightTable`, when given, holds one
// colour per light (index order) with the shadows already applied.
void shadeSurface(RenderContext& ctx, const ShadePoint& at, const SurfaceSample& sample,
                  const Color* lightTable, Color& colour);

// Steps of ShadeSurface after the direct light: mirror or blurred reflection and refraction with
// Fresnel weighting, dispersion and absorption, each by a recursive trace. Adds to `colour`.
void addReflectionAndRefraction(RenderContext& ctx, const ShadePoint& at, const SurfaceSample& sample,
                                Color& colour);

// The shading flags of the hit shape that are switched on for this render (attribute bit and the same
// FeatureMask bit).
bool shapeFlag(const RenderContext& ctx, const ShadePoint& at, std::uint16_t bit);

// One colour per light for the point (shadows tested once for every member of a combination shader).
// Returns null when the context has no room left for another table; release with releaseLightTable.
const Color* buildLightTable(RenderContext& ctx, const ShadePoint& at);
void releaseLightTable(RenderContext& ctx, const Color* table);

// Sizes the per-light state of the render context (shadow caches, light-table room) for its scene.
// Cheap when already sized; shading calls it before it touches that state.
void prepareShadingState(RenderContext& ctx);

}  // namespace quorva
