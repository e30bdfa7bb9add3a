// The shadow test: cached occluders, coloured shadows through transparent surfaces, soft-shadow sampling.
#include "shading/light_visibility.h"

#include <cmath>

#include "eval/value.h"
#include "geometry/world.h"
#include "gi/media.h"
#include "shading/light.h"
#include "shading/shade_point.h"
#include "trace/frame.h"
#include "trace/global_illumination.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// Restores the search and shadow-test modes of the context on every exit.
class ShadowModeGuard {
  public:
    explicit ShadowModeGuard(RenderContext& ctx)
        : ctx_(ctx), anyHit_(ctx.anyHit), shadowTest_(ctx.shadowTest) {
        ctx.shadowTest = true;
    }
    ~ShadowModeGuard() {
        ctx_.anyHit = anyHit_;
        ctx_.shadowTest = shadowTest_;
    }

  private:
    RenderContext& ctx_;
    bool anyHit_, shadowTest_;
};

// Whether the light an occluder lets through reaches what lies behind it as caustic photons: the frame
// has a caustic map, the light shoots photons, and the occluder is a caustics target (its shader's
// Caustics value, or the modifier on it or on a solid or group it belongs to). A shadow ray passing it
// would count that light a second time.
bool carriedByPhotons(const RenderContext& ctx, const Light& light, const Shape& shape,
                      const SurfaceSample& sample) {
    if (!light.photonFlags || light.subtracts()) return false;
    if (!ctx.globalIllumination || !ctx.globalIllumination->hasPhotonMaps()) return false;
    if (!(shape.attributes & ShapeAttr::Default80)) return false;
    if (sample.caustics > 0) return true;
    for (const Shape* s = &shape; s; s = s->parent)
        if (s->caustics > 0 && (s->attributes & ShapeAttr::Default80)) return true;
    return false;
}

// What an occluder lets through at a shadow-ray hit: false for an opaque one, else its sample.
bool occluderTransmits(RenderContext& ctx, const Light& light, const Intersection& hit, const Ray& ray,
                       int level, SurfaceSample& sample) {
    const Shape* shape = hit.shape;
    if (!shape) return false;
    if (!(ctx.settings.featureMask & ShapeAttr::Refracts) || !(shape->attributes & ShapeAttr::Refracts))
        return false;
    const Shader* shader = shaderForHit(hit);
    if (!shader) return false;
    // The shader is evaluated as for shading (combination shaders see the shadow-test flag and report
    // their combined transmission); searches inside it must not inherit any-hit mode.
    const bool anyHit = ctx.anyHit;
    ctx.anyHit = false;
    ShadePoint at;
    ShadingContext sc;
    beginShadePoint(ctx, ray, hit, level, 1.0, 1.0, at, sc);
    evaluateShaderAt(ctx, *shader, at, sc, sample);
    ctx.anyHit = anyHit;
    if (carriedByPhotons(ctx, light, *shape, sample)) return false;
    return sample.ktScale != 0 && !sample.ktColor.isBlack();
}

// The cache slot of a light at a level, or null (levels 10 and above have none).
const Shape** cacheSlot(RenderContext& ctx, const Light& light, int level) {
    if (level < 0 || level >= 10) return nullptr;
    if (light.index < 0 || static_cast<std::size_t>(light.index) >= ctx.shadowCache.size()) return nullptr;
    return &ctx.shadowCache[light.index][level];
}

// Shapes a cached re-test can stand for: a subdivided shape is hit through its triangles, which the
// cache cannot name.
bool cacheable(const Intersection& hit) {
    return hit.shape && !hit.shaderOverride && !hit.shape->mesh;
}

}  // namespace

Color traceShadowRay(RenderContext& ctx, const Light& light, Ray ray, double tmin, double distance, int level,
                     bool absorb) {
    ShadowModeGuard guard(ctx);
    Color filter{1, 1, 1};
    double remaining = distance;
    const Shape** slot = cacheSlot(ctx, light, level);
    const World* world = ctx.frame ? &ctx.frame->world : nullptr;
    SurfaceSample sample;
    for (int step = 0, crossed = 0; remaining > 0.001 && crossed < MaxShadowCrossings; ++step) {
        if (step == 0) {
            ++ctx.stats.shadowChecks;
            if (slot && *slot) {
                Intersection cached;
                ctx.anyHit = true;
                if (intersectShape(ctx, ray, tmin, remaining, cached, **slot) && cached.hit &&
                    !occluderTransmits(ctx, light, cached, ray, level, sample)) {
                    ++ctx.stats.shadowCacheHits;
                    return {0, 0, 0};
                }
            }
        }
        if (!world) break;
        Intersection hit;
        ctx.anyHit = true;
        ++ctx.stats.shadowRays;
        if (!intersectWorld(hit, ray, *world, ctx, tmin, remaining)) {
            if (step == 0 && slot) *slot = nullptr;
            break;
        }
        if (!occluderTransmits(ctx, light, hit, ray, level, sample)) {
            if (step == 0 && slot) *slot = cacheable(hit) ? hit.shape : nullptr;
            return {0, 0, 0};
        }
        // Absorption acts along the path inside the occluder: the step that ends where the ray leaves
        // through a back face (from where it entered, or from its start inside).
        double v = 1;
        if (absorb && sample.ktAbsorption != 0 && dot(hit.normal, ray.direction) > 0)
            v = 1 / (sample.ktAbsorption * hit.distance + 1);
        filter *= sample.ktColor * (sample.ktScale * v);
        if (lengthSquared(Vec3{filter.r, filter.g, filter.b}) < 0.001) return {0, 0, 0};
        ray.origin = hit.point;
        remaining -= hit.distance;
        ++crossed;
    }
    return filter;
}

bool shadowTest(RenderContext& ctx, const Light& light, const Ray& ray, double tmin, double distance,
                double radius, int level, Color& filter) {
    filter = {1, 1, 1};
    if (!(ctx.settings.featureMask & ShapeAttr::Shading2)) return true;
    prepareShadingState(ctx);

    if (const FlatAreaGeometry* flat = light.flatGeometry()) {
        filter = sampleFlatAreaLight(ctx, light, *flat, ray.origin, tmin, level);
        mediaAlongRay(ctx, ray, distance, filter, true, level);
        return !filter.isBlack();
    }

    int g = 1;
    if (radius > 0) {
        if (light.softShadowSamples > 0)
            g = light.softShadowSamples;
        else {
            g = ctx.frame ? ctx.frame->options.softShadowSamples : 16;
            if (g < 4) g = 4;
        }
    }
    Color sum{0, 0, 0};
    int taken = 0, partlyShadowed = 0;
    for (int k = 0; k < g; ++k) {
        Ray sampleRay = ray;
        if (g >= 2) {
            double qx, qy, qz;
            ctx.shadowTriples.nextTriple(qx, qy, qz);
            const Vec3 j = normalized(Vec3{0.5 - qx, 0.5 - qy, 0.5 - qz});
            sampleRay.direction = normalized(ray.direction + (radius / distance) * j);
        }
        const Color f = traceShadowRay(ctx, light, sampleRay, tmin, distance, level, true);
        sum += f;
        ++taken;
        if (f.r < 1 || f.g < 1 || f.b < 1) ++partlyShadowed;
        // Once a third of the samples agree that nothing, or enough, is in the way, stop early.
        if (k >= g / 3 && (g - partlyShadowed == g || g - partlyShadowed == g / 2)) break;
    }
    filter = taken == 1 ? sum : sum / taken;
    // A participating medium dims the light over its whole distance, whatever the light's kind.
    mediaAlongRay(ctx, ray, distance, filter, true, level);
    return !filter.isBlack();
}

}  // namespace quorva
