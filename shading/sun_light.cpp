// The sun light, built from the SunLight statement once the scene is parsed.
#include <cmath>

#include "trace/frame.h"
#include "shading/light.h"
#include "shading/light_kinds.h"

namespace quorva {
namespace {
constexpr double DegreesToRadians = 0.017453292519943295;
// The sun stands this far from the origin: far enough that scenes of ordinary size see nearly parallel
// rays, near enough for soft shadows and glow to scale with it.
constexpr double SunDistance = 1000;

void markForPhotons(Light& light) {
    light.photonFlags = 1;
    light.photonShare = 0.5;
}
}  // namespace

void buildSunLight(Frame& scene) {
    // Every light shoots photons, half of them each kind, once the scene has asked for photons
    // (which it may do after its lights), or for irradiance photons alone.
    const bool photons = scene.options.photons.requested || scene.options.irradiance.photons[0] > 0;
    if (photons)
        for (auto& light : scene.lights) markForPhotons(*light);
    const SunLightSettings& sun = scene.sun;
    if (!sun.given) return;
    const double azimuth = sun.count > 0 ? sun.values[0] * DegreesToRadians : 0;
    const double elevation = sun.count > 1 ? sun.values[1] * DegreesToRadians : 0;
    const double distance = SunDistance;
    const double intensity = sun.count > 2 ? sun.values[2] : 0;
    const int n = sun.count > 3 ? static_cast<int>(sun.values[3]) : sun.softShadowSamples;

    Vec3 position{distance * std::cos(elevation) * std::sin(azimuth), distance * std::sin(elevation),
                  distance * std::cos(elevation) * std::cos(azimuth)};
    const Vec3& r = scene.options.sunLightRotation;
    if (r.x != 0 || r.y != 0 || r.z != 0) {
        const Transform rotation =
            makeRotate(r.x * DegreesToRadians, r.y * DegreesToRadians, r.z * DegreesToRadians);
        position = transformPoint(rotation.forward, position);
    }
    const Color base = sun.hasVector ? Color(sun.vector) : scene.background.skyColour;
    const Color colour = base * (intensity > 0 ? intensity : 0.7);
    const double glow = scene.options.sunGlow != 0 ? scene.options.sunGlow : distance * 0.25;

    std::unique_ptr<Light> light;
    if (scene.options.parallelSunRays) {
        auto d = std::make_unique<DirectionalLight>(LightKind::DirectionalSun);
        d->direction = normalized(position);
        light = std::move(d);
    } else if (n > 0) {
        auto a = std::make_unique<AreaLight>(LightKind::AreaSun);
        a->attributes = 7;
        a->bulbCentre = position;
        a->radius = n >= 32 ? distance * 0.25 : std::fabs(n * 0.03225806451612903 * distance * 0.1);
        a->softShadowSamples = n;
        a->glow = glow;
        light = std::move(a);
    } else {
        auto p = std::make_unique<PointLight>(LightKind::PointSun);
        p->position = position;
        p->glow = glow;
        light = std::move(p);
    }
    light->colour = colour;
    if (photons) markForPhotons(*light);
    addLight(scene, std::move(light));
}

}  // namespace quorva
