// TraceRay: nearest hit, shading or background, then what lies along the segment (glow, fog).
#include "trace/trace_ray.h"

#include <cmath>

#include "geometry/world.h"
#include "gi/media.h"
#include "render/fog.h"
#include "shading/background.h"
#include "shading/light.h"
#include "shading/shade.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// The medium, the glow of lights and fog over the segment the ray crossed (the infinite segment when it
// missed). The medium is marched from the ray's own origin.
void applyAlongSegment(RenderContext& ctx, int level, const Ray& ray, double length, bool missed, double hitY,
                       Color& colour) {
    mediaAlongRay(ctx, ray, length, colour, false, level);
    applyLightGlow(ctx, ray, length, missed, colour);
    applyFog(ctx.frame->fog, ray, length, missed, hitY, ctx.settings.shadowBias, colour);
}

}  // namespace

double traceRay(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha,
                std::uint32_t* counter, double weight, double mediumIndex) {
    const Frame& scene = *ctx.frame;
    colour = {0, 0, 0};

    Intersection hit;
    bool found = false;
    if (level < ctx.settings.maxRayLevel) {
        if (counter) ++*counter;
        double tmin = ctx.settings.shadowBias;
        double tmax = NoHitDistance;
        if (level == 0 && !ctx.photonPass) {
            tmin = scene.camera.nearClip;
            tmax = scene.camera.farClip;
        }
        found = intersectWorld(hit, ray, scene.world, ctx, tmin, tmax);
    }
    // Glow and fog are left out of photon paths and of irradiance bounces two or more deep, where they
    // would cost much and show little.
    const bool alongSegment = !ctx.photonPass && ctx.irradianceDepth < 2;

    if (found) {
        // Depth is measured from the eye, so that depth buffers and absorption agree for every level.
        const double distance = length(scene.camera.location - hit.point);
        if (level >= 0 && level < static_cast<int>(ctx.levels.size())) ctx.levels[level] = {ray, true};
        // Photon paths are followed by the photon pass itself; they are not shaded here.
        if (!ctx.photonPass) {
            ctx.storeHitDistance(hit.shape, distance);
            shadeHit(ctx, level, ray, hit, weight, mediumIndex, colour);
        }
        if (alongSegment) applyAlongSegment(ctx, level, ray, hit.distance, false, hit.point.y, colour);
        alpha = 1;
        ctx.lastTraceDistance = hit.distance;
        return distance;
    }

    backgroundColour(ctx, level, ray, colour, alpha);
    if (alongSegment) {
        applyAlongSegment(ctx, level, ray, NoHitDistance, true, 0, colour);
    } else if (ctx.irradianceDepth >= 2 && !scene.background.skyLightOn) {
        // Deep irradiance bounces see a compressed background, which keeps bright skies from dominating
        // the indirect light.
        for (int i = 0; i < 3; ++i) {
            double c = std::sqrt(colour[i] + 1) - 1;
            colour[i] = c * c;
        }
    }
    ctx.lastTraceDistance = NoHitDistance;
    return NoHitDistance;
}

}  // namespace quorva
