// ShadeSurface up to the direct light: ambient, opacity, irradiance, every light with its shadow test,
// diffuse and specular terms, metal tint, iridescence, and caustics. The TraceRay entry is here too.
#include <cmath>

#include "eval/value.h"
#include "shading/brdf.h"
#include "shading/light.h"
#include "shading/light_visibility.h"
#include "shading/noise.h"
#include "shading/shade.h"
#include "shading/shade_point.h"
#include "trace/frame.h"
#include "trace/global_illumination.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// h^Kb keeping the sign of h: a light with a negative intensity factor (a positive Range) stays a
// darkening light whatever the exponent.
double signedPower(double h, double kb) {
    return h < 0 ? -std::pow(-h, kb) : std::pow(h, kb);
}

// Tint of a metal's highlight at the angle whose cosine is cosTheta: towards the ambient colour,
// strongest at grazing angles.
Color metalTint(const SurfaceSample& s, double cosTheta) {
    const double f = std::fabs(std::acos(cosTheta > 1 ? 1 : cosTheta)) * 0.6366197723675814 - 1.12;
    const double m = 0.014567225 / (f * f) - 0.011612903;
    Color t;
    for (int c = 0; c < 3; ++c) t[c] = (1 - m) * ((s.kaColor[c] - 1) * s.metal) + 1;
    return t;
}

void addIridescence(const SurfaceSample& s, const Vec3& P, double cosTheta, Color& colour) {
    const double a1 = s.iridescence[0], a2 = s.iridescence[1], a3 = s.iridescence[2];
    double thickness = a2;
    if (a3 > 0) thickness = a2 * a3 * fnoise(P, 5, 2.0, 0.5);
    const double x = 4 * 3.141592653589793 * thickness * cosTheta;
    for (int c = 0; c < 3; ++c) {
        const double wavelength = s.iridescenceColor[c];
        // A zero wavelength has no interference pattern; the channel keeps the mean of the fringe.
        const double fringe = wavelength != 0 ? std::cos(x / wavelength) : 0;
        colour[c] += a1 * a1 * cosTheta * (1 - 0.5 * fringe);
    }
}

void addDirectLight(RenderContext& ctx, const ShadePoint& at, const SurfaceSample& s, const Color* lightTable,
                    Color& colour) {
    const Frame& scene = *ctx.frame;
    const Vec3& P = at.point;
    const Vec3& N = at.normal;
    const Vec3 V = -at.ray.direction;
    const bool viewFromFront = dot(V, N) >= 0;
    const bool twoSided = shapeFlag(ctx, at, ShapeAttr::Shading20);
    const bool lightFromBehind = shapeFlag(ctx, at, ShapeAttr::LightFromBehind);
    const bool receivesShadows = shapeFlag(ctx, at, ShapeAttr::Shading2);
    const bool irradianceOn = scene.options.irradiance.enabled;
    const double bias = ctx.settings.renderMode == 2 ? 0.1 : ctx.settings.shadowBias;

    for (auto it = scene.lights.rbegin(); it != scene.lights.rend(); ++it) {
        const Light& light = **it;
        LightSample ls;
        light.lightAt(ctx, P, ls);
        const LightDirection ld = lightDirection(light, ls, P, ctx.settings.shadowBias);
        const Vec3& L = ld.L;
        const double distance = ld.distance;
        const double K = ld.K;
        if (std::fabs(K) < 1e-8) continue;

        Vec3 Nl = N;
        double cosTheta = dot(L, N);
        if (cosTheta <= 0) {
            if (!twoSided) continue;  // the light is behind the surface: nothing of it arrives
            Nl = -N;
            cosTheta = -cosTheta;
        }
        if (!viewFromFront && !lightFromBehind) continue;

        bool lit = true;
        Color filter{1, 1, 1};
        if (!lightTable && receivesShadows && light.castsShadows())
            lit = shadowTest(ctx, light, Ray{P, L}, bias, distance, ls.radius, at.level, filter);
        const Color arriving = lightTable ? lightTable[light.index] : ls.colour * filter;
        const double sign = light.subtracts() ? -1 : 1;

        if (lit) {
            if (s.kdScale != 0) {
                const double h = s.kdScale * K * cosTheta;
                const double R = s.kb != 1 ? signedPower(h, s.kb) : h;
                colour += arriving * s.kdColor * (sign * R);
            }
            if (s.ksScale != 0 && light.givesSpecular() && ctx.irradianceDepth <= 1) {
                const double R = brdfValue(s.brdf, Nl, L, V, s.brdfParameter) * K * s.ksScale;
                const Color tint = s.metal > 0 ? metalTint(s, cosTheta) : s.ksColor;
                colour += arriving * tint * (sign * R);
            }
        } else if (irradianceOn) {
            // A shadowed light still lifts the shadow a little when indirect light is computed: its
            // colour over the ambient colour, in proportion to the ambient scale.
            colour += ls.colour * s.kaColor * (sign * s.kaScale * K);
        }
        if (s.iridescence[0] > 0) addIridescence(s, P, cosTheta, colour);
    }
}

}  // namespace

bool shapeFlag(const RenderContext& ctx, const ShadePoint& at, std::uint16_t bit) {
    const std::uint16_t attributes = at.shape ? at.shape->attributes : ShapeAttr::Default;
    return (attributes & bit) && (ctx.settings.featureMask & bit);
}

void shadeSurface(RenderContext& ctx, const ShadePoint& at, const SurfaceSample& s, const Color* lightTable,
                  Color& colour) {
    // Ambient, never quite black: a floor that rises with the ray level.
    colour = s.kaColor * s.kaScale;
    if (colour.r < 0.003 && colour.g < 0.003 && colour.b < 0.003) {
        const double floor = 0.003 * (at.level + 1);
        colour = {floor, floor, floor};
    }
    const double transmitted = std::fmin(1.0, std::fabs(s.ktScale * s.kaColor.maxChannel()));
    const double opacity = 1 - transmitted;
    if (!ctx.frame) return;
    prepareShadingState(ctx);
    const Options& options = ctx.frame->options;
    GlobalIllumination* gi = ctx.globalIllumination;

    // Indirect light. A sample that asks for no irradiance samples gets none.
    if (options.irradiance.enabled && ctx.irradianceDepth <= options.irradiance.bounceLevel &&
        s.irradianceSamples != 0) {
        const Color& ka = s.kaColor;
        const double F = opacity * s.kdScale * (0.297 * ka.r + 0.589 * ka.g + 0.114 * ka.b);
        Color E{1, 1, 1};
        if (F > 0.009) {
            Vec3 N = at.normal;
            if (dot(N, at.ray.direction) > 0) N = -N;
            E = gi ? gi->irradiance(ctx, at.point, N, s.irradianceSamples, at.level, F * at.weight) : Color{};
        }
        colour += E * s.kaColor * (opacity * s.kdScale);
    }

    if (!ctx.skyLightMode) {
        if (s.kdScale != 0 || s.ksScale != 0) addDirectLight(ctx, at, s, lightTable, colour);
        if (gi && gi->hasPhotonMaps() && ctx.irradianceDepth <= 1) {
            Vec3 N = at.normal;
            colour += gi->caustics(ctx, at, N, opacity, s);
        }
    }

    addReflectionAndRefraction(ctx, at, s, colour);
}

void shadeHit(RenderContext& ctx, int level, const Ray& ray, const Intersection& hit, double weight,
              double mediumIndex, Color& colour) {
    ShadePoint at;
    ShadingContext sc;
    beginShadePoint(ctx, ray, hit, level, weight, mediumIndex, at, sc);
    SurfaceSample sample;
    if (const Shader* shader = shaderForHit(hit))
        evaluateShaderAt(ctx, *shader, at, sc, sample);
    else
        sample = defaultSurfaceSample();
    Color shaded;
    shadeSurface(ctx, at, sample, nullptr, shaded);
    colour += shaded;
}

}  // namespace quorva
