// The per-point light table of the combination shaders and the per-light state of a render context.
#include <cmath>

#include "shading/light.h"
#include "shading/light_visibility.h"
#include "shading/shade_point.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {
// Light tables one context can hold at once: combination shaders nest, and each recursion level may
// hold one while its members trace further rays.
constexpr std::size_t TablesPerContext = 64;
}  // namespace

void prepareShadingState(RenderContext& ctx) {
    if (!ctx.frame) return;
    const auto& lights = ctx.frame->lights;
    const std::uint64_t newest = lights.empty() ? 0 : lights.back()->serial;
    if (ctx.shadowCache.size() == lights.size() && ctx.shadowCacheLights == newest) return;
    // A new set of lights (a new frame): every cache starts empty.
    ctx.shadowCache.assign(lights.size(), {});
    ctx.shadowCacheLights = newest;
    ctx.lightTables.assign(lights.size() * TablesPerContext, Color{});
    ctx.lightTableTop = 0;
}

const Color* buildLightTable(RenderContext& ctx, const ShadePoint& at) {
    prepareShadingState(ctx);
    if (!ctx.frame) return nullptr;
    const auto& lights = ctx.frame->lights;
    const std::size_t n = lights.size();
    if (n == 0 || ctx.lightTableTop + n > ctx.lightTables.size()) return nullptr;
    Color* table = ctx.lightTables.data() + ctx.lightTableTop;
    ctx.lightTableTop += n;

    const double bias = ctx.settings.renderMode == 2 ? 0.1 : ctx.settings.shadowBias;
    for (auto it = lights.rbegin(); it != lights.rend(); ++it) {
        const Light& light = **it;
        Color& entry = table[light.index];
        LightSample ls;
        light.lightAt(ctx, at.point, ls);
        if (!light.castsShadows()) {
            entry = ls.colour;
            continue;
        }
        const LightDirection ld = lightDirection(light, ls, at.point, ctx.settings.shadowBias);
        const Vec3& L = ld.L;
        const double distance = ld.distance;
        const double K = ld.K;
        if (std::fabs(K) < 1e-8) {
            entry = {0, 0, 0};
            continue;
        }
        Color filter;
        if (shadowTest(ctx, light, Ray{at.point, L}, bias, distance, ls.radius, at.level, filter))
            entry = ls.colour * filter;
        else
            entry = {0, 0, 0};
    }
    return table;
}

void releaseLightTable(RenderContext& ctx, const Color* table) {
    if (!table || !ctx.frame) return;
    ctx.lightTableTop = static_cast<std::size_t>(table - ctx.lightTables.data());
}

}  // namespace quorva
