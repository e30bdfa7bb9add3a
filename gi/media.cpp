// The participating medium: settings, phase models, light intervals along a ray, in-scattering and
// the march along camera and reflected rays.
#include "gi/media.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "gi/photon.h"
#include "gi/photon_map.h"
#include "shading/light.h"
#include "shading/light_kinds.h"
#include "shading/light_visibility.h"
#include "trace/frame.h"
#include "trace/global_illumination.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

constexpr double FarDistance = 1000000;
constexpr double SubdivideThreshold = 0.15;
constexpr double Jitter = 0.2;
constexpr double MinLightDistance = 0.001;
constexpr double MinWeight = 0.0001;
// Subdivision also stops at halves shorter than this share of the segment, or this many levels deep,
// so that any antialiasing depth stays bounded in time and stack.
constexpr double MinSplitShare = 1e-9;
constexpr int MaxSplitLevels = 24;

double channelDifference(const Color& a, const Color& b) {
    return std::fabs(a.r - b.r) + std::fabs(a.g - b.g) + std::fabs(a.b - b.b);
}

int truncated(double v) {
    if (!(v > -2e9)) return -2000000000;
    if (v > 2e9) return 2000000000;
    return static_cast<int>(v);
}

// What one light's march needs besides the ray.
struct March {
    RenderContext& ctx;
    const MediaSettings& media;
    const Light* light;  // null: the media photons
    const Ray& ray;
    int level;
    double minSplit;
};

Color sampleAt(const March& m, double t) {
    if (m.light) return mediaInScatter(m.ctx, *m.light, m.ray, t, m.level);
    return m.ctx.globalIllumination->mediaPhotons(m.ctx, m.ray.at(t), m.ray.direction);
}

// Refines two neighbouring samples (t1, L1), (t2, L2) with a jittered midpoint.
void subdivide(const March& m, double t1, Color& L1, double t2, Color& L2, int depth) {
    if (depth <= 0 || t2 - t1 < m.minSplit) return;
    double tm = (t1 + t2) * 0.5 + (mediaDraw(m.ctx.mediaRandom) - 0.5) * Jitter * 0.5 * (t2 - t1);
    Color Lm = sampleAt(m, tm);
    if (channelDifference(L1, Lm) >= SubdivideThreshold) {
        Color mid = Lm;
        subdivide(m, t1, L1, tm, mid, depth - 1);
    }
    if (channelDifference(L2, Lm) >= SubdivideThreshold) {
        Color mid = Lm;
        subdivide(m, tm, mid, t2, L2, depth - 1);
    }
    L1 = L1 * 0.75 + Lm * 0.25;
    L2 = L2 * 0.75 + Lm * 0.25;
}

// Adds the light one light scatters over [tIn, tOut) of a ray segment `length` long.
void marchInterval(const March& m, double tIn, double tOut, double length, Color& sum) {
    const double D = m.media.density;
    const double step = std::min(tOut - tIn, D) / m.media.samples;
    if (!(step > 0)) return;
    const int depth = std::min(m.media.depth, MaxSplitLevels);
    double tPrev = 0;
    Color LPrev;
    bool have = false;
    for (long k = 0;; ++k) {
        const double t = tIn + (k + 0.5) * step + (mediaDraw(m.ctx.mediaRandom) - 0.5) * Jitter * step;
        if (t >= length || t >= tOut) break;
        Color L = sampleAt(m, t);
        if (have) {
            if (depth > 0 && channelDifference(L, LPrev) >= SubdivideThreshold) {
                subdivide(m, tPrev, LPrev, t, L, depth);
                Color mean = (LPrev + L) * 0.5;
                LPrev = mean;
                L = mean;
            }
            const double w = std::exp(-tPrev / D) * step;
            if (w < MinWeight) break;
            sum += LPrev * w;
        }
        tPrev = t;
        LPrev = L;
        have = true;
    }
    if (have) sum += LPrev * (std::exp(-tPrev / D) * step);
}

}  // namespace

void mediaSetup(MediaSettings& media, double model, double samples, double density, double intensity,
                double mix, double depth, const Color& colour) {
    const int m = truncated(model);
    if (m < 1 || m > 4) fatal("Bad media scattering model. Must be contained between 1 and 4");
    const int s = truncated(samples);
    if (s < 1) fatal("Bad media samples value. Must be greater than 1");
    if (!(density >= 0)) fatal("Bad media density value. Must be greater than or equal to 0");
    const int d = truncated(depth);
    if (d < 0) fatal("Bad media antialiasing value. Must be positive or null");
    media.model = m;
    media.samples = s;
    media.density = std::isfinite(density) ? density : 0;
    media.intensity = intensity > 0 && std::isfinite(intensity) ? intensity : 0;
    media.mix = mix >= 0 && mix <= 1 ? mix : 0;
    media.depth = d;
    media.colour = colour;
}

void mediaSetEccentricity(MediaSettings& media, double g) {
    media.eccentricity = g >= -1 && g <= 1 ? g : 0;
}

bool mediaOn(const Frame& scene) {
    if (!(scene.media.density > 0)) return false;
    for (const auto& light : scene.lights)
        if (light->mediaInteraction) return true;
    return false;
}

double mediaPhase(int model, double g, double mu) {
    switch (model) {
        case 2:
            return 0.5 * (1 + mu * mu);
        case 3:
            return 0.1 * (1 + 0.03515625 * std::pow(1 + mu, 8));
        case 4: {
            const double denominator = 1 + g * g - 2 * g * mu;
            if (!(denominator > 0)) return 0;
            return (1 - g * g) / (denominator * std::sqrt(denominator));
        }
        default:
            return 1;
    }
}

double mediaDraw(std::uint32_t& state) {
    state = state * 0x6C078965u + 0x3039u;
    return static_cast<double>((state >> 16) & 0x7FFF) / 32767.0;
}

bool mediaLightInterval(const Light& light, const Ray& ray, double& tIn, double& tOut) {
    tIn = 0;
    tOut = FarDistance;
    if (!light.mediaInteraction) return false;
    if (light.kind != LightKind::Spot) return true;
    const auto& spot = static_cast<const SpotLight&>(light);
    // A cone of 90 degrees or more fills the half space or more: the whole ray.
    if (spot.cosFalloff <= 1e-12 || spot.cosHotspot <= 1e-12) return true;
    // Inside the front nappe: (A.x)^2 (1 + tan^2) >= |x|^2 and A.x >= 0, x measured from the apex.
    const Vec3& A = spot.direction;
    const Vec3 p = ray.origin - spot.position;
    const Vec3& v = ray.direction;
    const double c2 = spot.cosFalloff * spot.cosFalloff;
    const double ap = dot(A, p), av = dot(A, v);
    const double a2 = av * av - c2;
    const double a1 = 2 * (ap * av - c2 * dot(p, v));
    const double a0 = ap * ap - c2 * dot(p, p);
    const double scale = std::max(1.0, dot(p, p));
    // The half-line of the ray on the lit side of the apex.
    double lo = 0, hi = FarDistance;
    if (std::fabs(av) < 1e-12) {
        if (ap < -1e-9 * std::sqrt(scale)) return false;
    } else if (av > 0) {
        lo = std::max(lo, -ap / av);
    } else {
        hi = std::min(hi, -ap / av);
    }
    // Where the quadratic is not negative.
    double pieces[2][2];
    int count = 0;
    const double eps = 1e-12 * scale;
    if (std::fabs(a2) < 1e-12) {
        if (std::fabs(a1) < 1e-12) {
            if (a0 < -eps) return false;
            pieces[count][0] = -FarDistance, pieces[count][1] = 2 * FarDistance, ++count;
        } else if (a1 > 0) {
            pieces[count][0] = -a0 / a1, pieces[count][1] = 2 * FarDistance, ++count;
        } else {
            pieces[count][0] = -2 * FarDistance, pieces[count][1] = -a0 / a1, ++count;
        }
    } else {
        double disc = a1 * a1 - 4 * a2 * a0;
        if (disc < 0) {
            if (a2 < 0) return false;
            disc = 0;
        }
        const double s = std::sqrt(disc);
        double r1 = (-a1 - s) / (2 * a2), r2 = (-a1 + s) / (2 * a2);
        if (r1 > r2) std::swap(r1, r2);
        if (a2 < 0) {
            pieces[count][0] = r1, pieces[count][1] = r2, ++count;
        } else {
            pieces[count][0] = -2 * FarDistance, pieces[count][1] = r1, ++count;
            pieces[count][0] = r2, pieces[count][1] = 2 * FarDistance, ++count;
        }
    }
    // The front nappe is convex, so at most one piece survives the half-line.
    for (int i = 0; i < count; ++i) {
        const double a = std::max(lo, pieces[i][0]);
        const double b = std::min(hi, pieces[i][1]);
        if (a < b) {
            tIn = std::max(0.0, a);
            tOut = std::min(FarDistance, b);
            return tIn < tOut;
        }
    }
    return false;
}

Color mediaInScatter(RenderContext& ctx, const Light& light, const Ray& ray, double t, int level) {
    const Frame& scene = *ctx.frame;
    const MediaSettings& media = scene.media;
    const Vec3 x = ray.at(t);
    LightSample ls;
    light.lightAt(ctx, x, ls);
    if (!(ls.K > 0)) return {};  // also a light whose falloff is undefined (NaN)
    Vec3 toLight = ls.position - x;
    const double d = length(toLight);
    const Vec3 L = d > 1e-10 ? toLight / d : Vec3{1, 0, 0};
    Color filter{1, 1, 1};
    if (light.castsShadows()) {
        const Ray shadowRay{x, L};
        if (!shadowTest(ctx, light, shadowRay, ctx.settings.shadowBias, d, ls.radius, level, filter))
            return {};
    }
    const double dd = std::max(d, MinLightDistance);
    double attenuation = 1;
    if (light.decayDistance > 0) {
        attenuation = light.decayDistance * light.decayDistance / (dd * dd);
    } else if (light.decayDistance < 0) {
        attenuation = -light.decayDistance / dd;
    } else {
        switch (light.decayType) {
            case 1:
                attenuation = 1 / dd;
                break;
            case 2:
            case 4:
                attenuation = 1 / (dd * dd);
                break;
            case 3:
                attenuation = 1 / (dd * dd * dd);
                break;
            default:
                break;
        }
    }
    const double p = mediaPhase(media.model, media.eccentricity, dot(L, ray.direction));
    return ls.colour * filter * (ls.K * attenuation * p * media.intensity);
}

Color mediaPhotonEstimate(RenderContext& ctx, const PhotonMap& map, const PhotonDirections& directions,
                          const Vec3& point, const Vec3& direction) {
    constexpr int Rounds = 4;
    constexpr double Tolerance = 0.1;
    constexpr int MinimumCount = 8;
    const double r0 = map.gatherRadius;
    if (!(r0 > 0) || map.count() == 0) return {};
    const MediaSettings& media = ctx.frame->media;
    const double step = 0.5 * r0;
    Color kept;
    double keptRadius = 0, previous = -1;
    int keptCount = 0;
    double r = r0;
    for (int round = 0; round < Rounds; ++round, r += step) {
        double found = 0;
        const int n = map.gather(ctx.photonHeap, point, r, nullptr, found);
        Color sum;
        for (int i = 0; i < n; ++i) {
            const Photon& p = map[ctx.photonHeap[i].index];
            const double mu = dot(directions.direction(p), direction);
            sum += photonPower(p, map.scale()) * mediaPhase(media.model, media.eccentricity, mu);
        }
        // A full heap reaches only to its farthest photon.
        const double reach = found > 0 && found < r ? found : r;
        const double density = n / (4.0 / 3.0 * reach * reach * reach);
        const bool steady = previous > 0 && std::fabs(density - previous) / previous < Tolerance;
        if (round == 0 || steady || (n > 0 && n < MinimumCount)) {
            kept = sum;
            keptRadius = reach;
            keptCount = n;
        }
        previous = density;
        if (n >= map.gatherCount) break;
    }
    if (keptCount == 0) return {};
    ctx.stats.mediaPhotonsGathered += static_cast<std::uint32_t>(keptCount);
    return kept * (3 / (4 * M_PI * keptRadius * keptRadius * keptRadius));
}

void mediaAlongRay(RenderContext& ctx, const Ray& ray, double length, Color& colour, bool shadowRay,
                   int level) {
    if (!ctx.frame) return;
    const Frame& scene = *ctx.frame;
    const MediaSettings& media = scene.media;
    if (!mediaOn(scene)) return;
    if (shadowRay) {
        colour = colour * std::exp(-length / media.density);
        return;
    }
    // Each light is evaluated in its own interval only, so lights that share a stretch of the ray are
    // not counted once per interval.
    Color sum;
    for (const auto& light : scene.lights) {
        if (sum.r >= 1 && sum.g >= 1 && sum.b >= 1) break;
        double tIn, tOut;
        if (!mediaLightInterval(*light, ray, tIn, tOut)) continue;
        const March m{ctx, media, light.get(), ray, level, MinSplitShare * length};
        marchInterval(m, tIn, tOut, length, sum);
    }
    // The media photons, gathered once over an interval of their own.
    if (ctx.globalIllumination && ctx.globalIllumination->hasMediaPhotons() &&
        !(sum.r >= 1 && sum.g >= 1 && sum.b >= 1)) {
        const March m{ctx, media, nullptr, ray, level, MinSplitShare * length};
        marchInterval(m, 0, FarDistance, length, sum);
    }
    for (int i = 0; i < 3; ++i) {
        const double tint = media.mix * media.colour[i] + 1 - media.mix;
        colour[i] = tint * (colour[i] + sum[i]);
    }
}

}  // namespace quorva
