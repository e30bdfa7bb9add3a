// Reflection and refraction of ShadeSurface: Fresnel weighting, metal tint, mirror and blurred rays,
// refraction with total internal reflection, chromatic dispersion, absorption and the transmission
// colour over distance. Every secondary ray goes through traceRay one level deeper.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "shading/optics.h"
#include "shading/shade_point.h"
#include "trace/frame.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

// Saves the dispersion and blur state of the path around a recursive trace.
class PathStateGuard {
  public:
    explicit PathStateGuard(RenderContext& ctx)
        : ctx_(ctx),
          dispersing_(ctx.dispersing),
          index_(ctx.dispersionIndex),
          count_(ctx.dispersionCount),
          blurDepth_(ctx.blurDepth) {}
    ~PathStateGuard() {
        ctx_.dispersing = dispersing_;
        ctx_.dispersionIndex = index_;
        ctx_.dispersionCount = count_;
        ctx_.blurDepth = blurDepth_;
    }

  private:
    RenderContext& ctx_;
    bool dispersing_;
    int index_, count_, blurDepth_;
};

struct Traced {
    Color colour;
    double distance = NoHitDistance;
    bool mirrored = false;  // a single transmitted ray that was reflected internally instead
};

// One secondary ray at level + 1.
Traced traceSecondary(RenderContext& ctx, const ShadePoint& at, const Vec3& direction, std::uint32_t* counter,
                      double weight, double medium) {
    const int next = at.level + 1;
    if (next < static_cast<int>(ctx.levels.size())) ctx.levels[next].valid = false;
    Traced t;
    double alpha = 0;
    PathStateGuard guard(ctx);
    t.distance = traceRay(ctx, next, Ray{at.point, direction}, t.colour, alpha, counter, weight, medium);
    return t;
}

// The medium change of a ray crossing the surface: leaving an object (the ray travels in a medium
// other than air) goes back to air with ratio n; entering from air goes into the object's index n.
struct Crossing {
    double eta = 1;
    double medium = 1;
    bool bends = true;
};

Crossing crossingFor(double mediumIndex, double n) {
    if (mediumIndex != 1) return {n, 1, true};
    if (n != 1) return {1 / n, n, true};
    return {1, 1, false};
}

// Refracts (or, past the critical angle, mirrors) D at N with ratio eta, picking the counter to match.
Vec3 transmittedDirection(RenderContext& ctx, const Vec3& D, const Vec3& N, double eta,
                          std::uint32_t*& counter, double& medium, double currentMedium) {
    Vec3 T;
    if (refractDirection(D, N, eta, T)) return T;
    counter = &ctx.stats.internalReflectionRays;
    medium = currentMedium;
    return normalized(mirrorDirection(D, N));
}

// The normal perturbed for one blurred sample; (1, 0, 0) when the perturbation cancels it.
Vec3 blurredNormal(RenderContext& ctx, const Vec3& N, double blur) {
    double u, v;
    ctx.blurPairs.nextPair(u, v);
    const double z = 2 * u - 1;
    const double r = std::sqrt(std::max(0.0, 1 - z * z));
    const double phi = 2 * std::numbers::pi * v;
    Vec3 n = N + blur * Vec3{r * std::cos(phi), r * std::sin(phi), z};
    normalize(n);
    return n;
}

// Samples of a blurred ray at the current blur depth (one past MaxBlurLevel).
int blurSampleCount(const RenderContext& ctx) {
    const Options& o = ctx.frame->options;
    return ctx.blurDepth > o.maxBlurLevel ? 1 : o.maxBlurSamples;
}

Traced reflect(RenderContext& ctx, const ShadePoint& at, const Vec3& N, const SurfaceSample& s,
               double weight) {
    const Vec3 D = at.ray.direction;
    const Vec3 V = -D;
    const Options& o = ctx.frame->options;
    if (s.krBlur > 0 && o.maxBlurSamples > 1) {
        ++ctx.blurDepth;
        const int samples = blurSampleCount(ctx);
        Traced sum;
        sum.distance = 0;
        for (int i = 0; i < samples; ++i) {
            const Vec3 Np = blurredNormal(ctx, N, s.krBlur);
            const Vec3 R = normalized(2 * dot(Np, V) * Np - V);
            const Traced t = traceSecondary(ctx, at, R, &ctx.stats.reflectedRays, weight, at.mediumIndex);
            sum.colour += t.colour;
            sum.distance += t.distance;
        }
        --ctx.blurDepth;
        sum.colour *= 1.0 / samples;
        sum.distance /= samples;
        return sum;
    }
    const Vec3 R = normalized(2 * dot(N, V) * N - V);
    return traceSecondary(ctx, at, R, &ctx.stats.reflectedRays, weight, at.mediumIndex);
}

Traced refractBlurred(RenderContext& ctx, const ShadePoint& at, const Vec3& N, const SurfaceSample& s,
                      double weight) {
    const Vec3 D = at.ray.direction;
    const Crossing x = crossingFor(at.mediumIndex, s.ior);
    ++ctx.blurDepth;
    const int samples = blurSampleCount(ctx);
    Traced sum;
    sum.distance = 0;
    for (int i = 0; i < samples; ++i) {
        Vec3 Np = blurredNormal(ctx, N, s.ktBlur);
        if (dot(Np, D) > 0) Np = -Np;
        std::uint32_t* counter = &ctx.stats.refractedRays;
        double medium = x.medium;
        const Vec3 T = x.bends ? transmittedDirection(ctx, D, Np, x.eta, counter, medium, at.mediumIndex) : D;
        const Traced t = traceSecondary(ctx, at, T, counter, weight, medium);
        sum.colour += t.colour;
        sum.distance += t.distance;
    }
    --ctx.blurDepth;
    sum.colour *= 1.0 / samples;
    sum.distance /= samples;
    return sum;
}

// One refracted ray with ratio eta into `medium`.
Traced refractOnce(RenderContext& ctx, const ShadePoint& at, const Vec3& N, double eta, double medium,
                   double weight) {
    std::uint32_t* counter = &ctx.stats.refractedRays;
    const Vec3 T = transmittedDirection(ctx, at.ray.direction, N, eta, counter, medium, at.mediumIndex);
    Traced t = traceSecondary(ctx, at, T, counter, weight, medium);
    t.mirrored = counter == &ctx.stats.internalReflectionRays;
    return t;
}

Traced refractDispersed(RenderContext& ctx, const ShadePoint& at, const Vec3& N, const SurfaceSample& s,
                        double weight) {
    const double n = s.ior, delta = s.dispersion;
    const bool entering = at.mediumIndex == 1;
    const double eta0 = entering ? 1 / n : n;
    const double rho = entering ? 1 / delta : delta;
    // The ray goes into the object when it enters, back to air when it leaves.
    const double medium = entering ? n : 1;
    if (std::fabs(eta0 - 1) < 1e-8 && std::fabs(rho - 1) < 1e-8)
        return traceSecondary(ctx, at, at.ray.direction, &ctx.stats.refractedRays, weight, at.mediumIndex);

    const int S = s.dispersionSamples;
    if (!ctx.dispersing && S >= 2 && std::fabs(rho - 1) >= 1e-8 && !ctx.primaryGrid) {
        // Split the ray into S wavelengths spread between eta0 / sqrt(rho) and eta0 * sqrt(rho).
        Traced sum;
        sum.distance = 0;
        const double first = eta0 / std::sqrt(rho);
        for (int k = 0; k < S; ++k) {
            const double eta = first * std::pow(rho, static_cast<double>(k) / (S - 1));
            std::uint32_t* counter = &ctx.stats.dispersionRays;
            double rayMedium = medium;
            const Vec3 T =
                transmittedDirection(ctx, at.ray.direction, N, eta, counter, rayMedium, at.mediumIndex);
            PathStateGuard guard(ctx);
            ctx.dispersing = true;
            ctx.dispersionIndex = k + 1;
            ctx.dispersionCount = S;
            const int next = at.level + 1;
            if (next < static_cast<int>(ctx.levels.size())) ctx.levels[next].valid = false;
            Color c;
            double alpha = 0;
            const double d = traceRay(ctx, next, Ray{at.point, T}, c, alpha, counter, weight, rayMedium);
            sum.colour += c * spectralWeights(k + 1, S);
            sum.distance += d;
        }
        sum.colour *= 3.0 / S;
        sum.distance /= S;
        return sum;
    }
    if (ctx.dispersing && ctx.dispersionCount >= 2) {
        // Already one wavelength of a split path: bend it by that wavelength's ratio.
        const double j = ctx.dispersionIndex, count = ctx.dispersionCount;
        return refractOnce(ctx, at, N, eta0 * std::pow(rho, (j - 1) / (count - 1) - 0.5), medium, weight);
    }
    return refractOnce(ctx, at, N, eta0, medium, weight);
}

}  // namespace

void addReflectionAndRefraction(RenderContext& ctx, const ShadePoint& at, const SurfaceSample& s,
                                Color& colour) {
    if (s.krScale <= 0 && s.ktScale <= 0) return;
    const Vec3 D = at.ray.direction;
    Vec3 N = at.normal;
    if (dot(N, D) > 0) N = -N;

    Color krColour = s.krColor;
    if (s.metal > 0) {
        const double c = dot(N, D);
        const double f = std::fabs(std::acos(std::max(-1.0, c))) * 0.6366197723675814 - 1.12;
        const double M = std::clamp(0.014567225 / (f * f) - 0.011612903, 0.0, 1.0);
        for (int i = 0; i < 3; ++i) krColour[i] = ((1 - M) * (s.kaColor[i] - 1) * s.metal + 1) * krColour[i];
    }

    if (shapeFlag(ctx, at, ShapeAttr::Reflects)) {
        double wr = at.weight * s.krScale;
        if (wr > 0.01) {
            if (s.ior > 1) {
                // q against the surface's own normal: negative when the ray meets its back.
                const double F = fresnelReflectance(s.ior, -dot(at.normal, D));
                wr *= F;
                for (int i = 0; i < 3; ++i) krColour[i] = (1 - F) * (1 - krColour[i]) + F * krColour[i];
            }
            const Traced t = reflect(ctx, at, N, s, wr);
            colour += t.colour * krColour * s.krScale;
        }
    }

    if (shapeFlag(ctx, at, ShapeAttr::Refracts)) {
        const double wt = at.weight * s.ktScale;
        if (wt > 0.01) {
            Traced t;
            if (s.ktBlur > 0 && ctx.frame->options.maxBlurSamples > 1) {
                t = refractBlurred(ctx, at, N, s, wt);
            } else if (s.dispersion > 0) {
                t = refractDispersed(ctx, at, N, s, wt);
            } else {
                const Crossing x = crossingFor(at.mediumIndex, s.ior);
                t = x.bends ? refractOnce(ctx, at, N, x.eta, x.medium, wt)
                            : traceSecondary(ctx, at, D, &ctx.stats.refractedRays, wt, at.mediumIndex);
            }
            // Absorption and the transmission colour act along the path inside the material: from this
            // hit to the next when the light went in through the surface's front (or stayed inside by
            // internal reflection), measured like the distances TraceRay reports. A ray that leaves
            // the material travels in air, whatever lies beyond.
            const bool intoMaterial = (dot(at.normal, D) < 0) != t.mirrored;
            const double path = intoMaterial ? std::fabs(t.distance - at.storedDistance) : 0;
            const double a = s.ktAbsorption;
            const double absorbed = a == 0 ? 1 : 1 / (a * path + 1);
            colour += transmissionOverDistance(s.ktColor, path) * t.colour * (absorbed * s.ktScale);
        }
    }
}

}  // namespace quorva
