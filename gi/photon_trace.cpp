// Following one photon through the scene: mirrors and glass pass it on (glass may split it into the
// wavelengths of dispersion and absorbs along the path inside), diffuse surfaces store it - a caustic
// photon after a specular bounce, an irradiance photon after its one diffuse bounce.
#include <cmath>

#include "eval/value.h"
#include "geometry/world.h"
#include "gi/media.h"
#include "gi/photon_batch.h"
#include "gi/photon_maps.h"
#include "shading/light.h"
#include "shading/optics.h"
#include "shading/shade_point.h"
#include "shading/shader.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// The light's distance law over a path of length d, scaled by d^2 so that photons (whose power is a
// solid angle's share) give the irradiance the direct light gives.
double distanceLaw(const Light& light, double d, double shadowBias) {
    return d * d * applyDecay(light, 1, d, shadowBias);
}

// Whether `shape` is `target` or lies inside it: a component of a target solid, a triangle cut from a
// target shape.
bool partOf(const Shape* shape, const Shape* target) {
    for (; shape; shape = shape->parent)
        if (shape == target) return true;
    return false;
}

void storeOrRecord(PhotonRecord* record, PhotonMap& map, const Color& power, const Vec3& position,
                   const Vec3& previous) {
    if (!record) {
        map.store(power, position, previous);
        return;
    }
    PhotonEvent e;
    e.kind = PhotonEvent::Kind::Store;
    e.map = &map;
    e.power = power;
    e.position = position;
    e.previous = previous;
    record->events.push_back(e);
}

}  // namespace

void PhotonMaps::storeMediaPhoton(const Light& light, const Color& power, const Ray& ray, double limit,
                                  double pathLength) {
    const double t = -scene_.media.density * std::log(1 - mediaDraw(mediaState_));
    if (t < limit) {
        const double law =
            pathLength >= 0 ? distanceLaw(light, pathLength + t, scene_.options.shadowBias) : 1;
        media.store(power * (law * scene_.media.intensity), ray.at(t), ray.origin);
    }
}

double PhotonMaps::drawBounce() {
    bounceState_ = bounceState_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(bounceState_ >> 11) * (1.0 / 9007199254740992.0);
}

Vec3 PhotonMaps::bounceDirection(const Vec3& N, const Vec3& g) {
    Vec3 u, v;
    const Vec3 a = std::fabs(N.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    u = normalized(cross(a, N));
    v = cross(N, u);
    const double xi = drawBounce(), phi = 2 * M_PI * drawBounce();
    const double r = std::sqrt(1 - xi);
    Vec3 d = normalized(u * (r * std::cos(phi)) + v * (r * std::sin(phi)) + N * std::sqrt(xi));
    if (dot(d, g) <= 0) d = normalized(d - 2 * dot(d, g) * g);
    return d;
}

// `pathLength` < 0 marks a parallel light (no distance law).
void PhotonMaps::followPhoton(RenderContext& ctx, const Ray& ray, Color power, int level, double mediumIndex,
                              double pathLength, const Path& path, PhotonRecord* record) {
    if (level >= ctx.settings.maxRayLevel || power.maxChannel() < 1e-12) return;
    const Light& light = *path.light;
    Intersection hit;
    const bool found = intersectWorld(hit, ray, scene_.world, ctx, ctx.settings.shadowBias, NoHitDistance);
    if (!path.irradiance && mediaPhotons_ && light.mediaInteraction) {
        // A free path through the medium: a media photon where it ends inside this segment; the photon
        // itself goes on unchanged. The free path draws from the frame's one stream: a recorded path
        // leaves the draw to the commit.
        if (record) {
            PhotonEvent e;
            e.kind = PhotonEvent::Kind::Media;
            e.power = power;
            e.position = ray.origin;
            e.previous = ray.direction;
            e.limit = found ? hit.distance : NoHitDistance;
            e.pathLength = pathLength;
            record->events.push_back(e);
        } else {
            storeMediaPhoton(light, power, ray, found ? hit.distance : NoHitDistance, pathLength);
        }
    }
    if (!found) return;
    if (path.inside) {
        // Inside a transmitting material the photon fades with the distance crossed, as refracted light
        // does in shading.
        const double a = path.absorption;
        power *=
            transmissionOverDistance(path.ktColour, hit.distance) * (a == 0 ? 1 : 1 / (a * hit.distance + 1));
        if (power.maxChannel() < 1e-12) return;
    }
    ShadePoint at;
    ShadingContext sc;
    beginShadePoint(ctx, ray, hit, level, 1, mediumIndex, at, sc);
    SurfaceSample s;
    if (const Shader* shader = shaderForHit(hit))
        evaluateShaderAt(ctx, *shader, at, sc, s);
    else
        s = defaultSurfaceSample();
    const double travelled = pathLength < 0 ? -1 : pathLength + hit.distance;
    const bool takesPart = (at.shape->attributes & ShapeAttr::Default80) != 0;
    const bool diffuse = takesPart && s.kdScale > 0;

    Vec3 N = at.normal;
    if (dot(N, ray.direction) > 0) N = -N;
    Vec3 g = normalized(hit.normal);
    if (dot(g, ray.direction) > 0) g = -g;

    if (path.irradiance) {
        if (diffuse && path.bounced) {
            storeOrRecord(record, irradianceMap, power, at.point, ray.origin);
            return;
        }
        if (diffuse) {
            // The one diffuse bounce: a cosine-distributed direction above the surface, carrying the
            // light the surface receives times its diffuse colour.
            const double law = travelled >= 0 ? distanceLaw(light, travelled, ctx.settings.shadowBias) : 1;
            const Color carried = power * s.kdColor * (s.kdScale * law);
            Path next = path;
            next.bounced = true;
            next.specular = false;
            next.inside = false;
            if (record && record->deferBounces) {
                // The direction is drawn when the record is committed; the branch is traced after.
                DeferredBounce& b = record->newBounce();
                b.point = at.point;
                b.N = N;
                b.g = g;
                b.carried = carried;
                b.level = level + 1;
                b.mediumIndex = mediumIndex;
                b.path = next;
                PhotonEvent e;
                e.kind = PhotonEvent::Kind::Bounce;
                e.bounce = record->bounceCount - 1;
                record->events.push_back(e);
            } else {
                const Vec3 d = bounceDirection(N, g);
                ++ctx.stats.photonReflected;
                followPhoton(ctx, {at.point, d}, carried, level + 1, mediumIndex, -1, next, record);
            }
        }
    } else if (path.specular && takesPart && s.kdScale > 0 &&
               (!partOf(at.shape, path.target) || path.target->internalCaustics)) {
        // A caustic photon stores at a diffuse surface reached through a mirror or glass (a direct hit
        // would only repeat the direct light).
        const double law = travelled >= 0 ? distanceLaw(light, travelled, ctx.settings.shadowBias) : 1;
        storeOrRecord(record, caustic, power * law, at.point, ray.origin);
    }

    Path next = path;
    next.specular = true;
    next.inside = false;
    auto reflect = [&](const Color& carried, const Path& along) {
        Vec3 R = mirrorDirection(ray.direction, N);
        if (dot(R, g) < 0) R = R - 2 * dot(R, g) * g;
        ++ctx.stats.photonReflected;
        followPhoton(ctx, {at.point, normalized(R)}, carried, level + 1, mediumIndex, travelled, along,
                     record);
    };
    if (s.krScale > 0 && s.krColor.maxChannel() > 0) reflect(power * s.krColor * s.krScale, next);
    if (!(s.ktScale > 0 && s.ktColor.maxChannel() > 0)) return;

    // Transmission: the photon goes into the material through the surface's front; the path inside is
    // absorbed as it goes.
    const Color carried = power * s.ktScale;
    const bool front = dot(at.normal, ray.direction) < 0;
    next.ktColour = s.ktColor;
    next.absorption = s.ktAbsorption;
    const bool entering = mediumIndex == 1;
    const double n = s.ior;
    const double eta0 = entering ? 1 / n : n;
    const double medium = entering ? n : 1;
    auto refract = [&](double eta, const Color& photon, Path along, std::uint32_t& counter) {
        Vec3 T;
        if (refractDirection(ray.direction, N, eta, T)) {
            ++counter;
            along.inside = front;
            followPhoton(ctx, {at.point, normalized(T)}, photon, level + 1, medium, travelled, along, record);
        } else {
            ++ctx.stats.photonInternalReflected;
            along.inside = !front;  // reflected back into the material it was in
            reflect(photon, along);
        }
    };
    const double rho = s.dispersion > 0 ? (entering ? 1 / s.dispersion : s.dispersion) : 1;
    const int S = s.dispersionSamples;
    if (path.dispersionCount == 0 && S >= 2 && std::fabs(rho - 1) >= 1e-8) {
        // A dispersive surface splits the photon into S wavelengths spread between eta0 / sqrt(rho) and
        // eta0 * sqrt(rho), each carrying its spectral share.
        const double first = eta0 / std::sqrt(rho);
        for (int k = 0; k < S; ++k) {
            Path wave = next;
            wave.dispersionIndex = k + 1;
            wave.dispersionCount = S;
            refract(first * std::pow(rho, static_cast<double>(k) / (S - 1)),
                    carried * spectralWeights(k + 1, S) * (3.0 / S), wave, ctx.stats.photonDispersion);
        }
        return;
    }
    double eta = eta0;
    if (path.dispersionCount >= 2 && std::fabs(rho - 1) >= 1e-8) {
        // Already one wavelength of a split photon: bent by that wavelength's ratio.
        const double j = path.dispersionIndex, count = path.dispersionCount;
        eta = eta0 * std::pow(rho, (j - 1) / (count - 1) - 0.5);
    }
    refract(eta, carried, next, ctx.stats.photonRefracted);
}

}  // namespace quorva
