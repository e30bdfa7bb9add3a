// Shooting the irradiance photons: every light that takes part in photon maps emits its share of the
// requested count over its whole emission. They are the indirect light the irradiance cache gathers,
// so a photon is stored only after one diffuse bounce (gi/photon_trace.cpp).
#include <algorithm>
#include <cmath>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid.h"
#include "geometry/world.h"
#include "gi/photon_maps.h"
#include "render/render_progress.h"
#include "shading/light.h"
#include "shading/light_kinds.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

constexpr double GoldenAngle = 2.399963229728653;  // pi (3 - sqrt 5)
// A light shoots its photons in batches; a key press is looked for between them.
constexpr int KeyCheckInterval = 1024;
constexpr int MaxLightPhotons = 16 * 1024 * 1024;

struct SceneSphere {
    Vec3 centre;
    double radius = 0;
    bool bounded = false;    // at least one shape has finite bounds
    bool unbounded = false;  // some shape reaches out of any finite sphere (a plane)
};

SceneSphere sceneSphere(const World& world) {
    SceneSphere s;
    Box all{};
    auto add = [&](const Box& b) {
        if (!(0.5 * length(b.size) <= 1e5)) {
            s.unbounded = true;
            return;
        }
        all = s.bounded ? unionBoxes(all, b) : b;
        s.bounded = true;
    };
    for (const Shape* shape : world.mainList) {
        // A placed mesh counts as its triangles, in their order.
        if (shape->kind == ShapeKind::PlacedMesh) {
            const auto& mesh = static_cast<const PlacedMesh&>(*shape);
            for (std::size_t i = 0; i < mesh.parts->size(); ++i) add(mesh.partBox(i));
            continue;
        }
        add(shape->bounds());
    }
    if (s.bounded) {
        s.centre = all.min + all.size * 0.5;
        s.radius = 0.5 * length(all.size);
    }
    return s;
}

void frameAbout(const Vec3& w, Vec3& u, Vec3& v) {
    const Vec3 a = std::fabs(w.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    u = normalized(cross(a, w));
    v = cross(w, u);
}

bool isSun(const Light& light) {
    return light.kind == LightKind::PointSun || light.kind == LightKind::AreaSun ||
           light.kind == LightKind::DirectionalSun;
}

}  // namespace

void PhotonMaps::shootIrradiance(RenderContext& ctx) {
    const int requested = scene_.options.irradiance.photons[0];
    if (requested <= 0) return;
    int lights = 0;
    for (const auto& light : scene_.lights) lights += light->photonFlags && !light->subtracts();
    if (lights == 0) return;
    // The requested count is shared evenly; each photon carries its light's emission over its share.
    // A light shoots at most MaxLightPhotons of them, whatever the request.
    const int share = std::clamp(requested / lights, 1, MaxLightPhotons);
    bounceState_ = 0x1bad5eed;
    ctx.photonPass = true;
    const bool hadEye = ctx.hasEye;
    ctx.hasEye = false;
    int number = 0, shooting = 0;
    ProgressCounter counter;
    for (const auto& light : scene_.lights) {
        ++number;
        if (!light->photonFlags || light->subtracts()) continue;
        const int percent = shooting++ * 100 / lights;
        if (isSun(*light))
            counter.show(percent, "Sunlight : evaluating irradiance photons...    ");
        else
            counter.show(percent, "Light %d : evaluating irradiance photons...    ", number);
        if (!shootIrradianceFrom(ctx, *light, share)) break;
    }
    ctx.photonPass = false;
    ctx.hasEye = hadEye;
}

// False when Escape stopped the render.
bool PhotonMaps::shootIrradianceFrom(RenderContext& ctx, const Light& light, int photons) {
    const SceneSphere scene = sceneSphere(scene_.world);
    Path path;
    path.light = &light;
    path.irradiance = true;
    int shot = 0;
    auto keyPressed = [&]() {
        if (++shot % KeyCheckInterval != 0 || !keys().keyWaiting()) return false;
        if (keys().readKey() != EscapeKey) return false;
        escaped_ = true;
        return true;
    };

    if (light.kind == LightKind::Directional || light.kind == LightKind::DirectionalSun) {
        // A parallel light covers the disc of the scene's bounded shapes with a jittered grid. Its
        // jitter and the photons' bounces draw from one stream in turn, so it shoots on this thread.
        beginPhotonLight(ctx, false);
        if (!scene.bounded || !(scene.radius > 0)) return true;
        LightSample ls;
        light.lightAt(ctx, scene.centre, ls);
        const Vec3 w = normalized(scene.centre - ls.position);
        Vec3 u, v;
        frameAbout(w, u, v);
        const double r = scene.radius;
        const double step = r * std::sqrt(M_PI / photons);
        const Color power = ls.colour * (ls.K * step * step);
        const Vec3 origin = scene.centre - w * (2 * r + 1);
        const int n = static_cast<int>(std::ceil(r / step));
        for (int i = -n; i <= n; ++i)
            for (int j = -n; j <= n; ++j) {
                const double a = (i + drawBounce() - 0.5) * step;
                const double b = (j + drawBounce() - 0.5) * step;
                if (a * a + b * b > r * r) continue;
                if (keyPressed()) return false;
                ++ctx.stats.photonRays;
                followPhoton(ctx, {origin + u * a + v * b, w}, power, 0, 1, -1, path);
            }
        return true;
    }

    // A light at a point emits in every direction; when nothing unbounded is in the scene and the light
    // stands outside the bounded shapes' sphere, only the cone towards that sphere can reach anything. A
    // spot's cone is its whole emission.
    const Vec3 origin = light.glowPosition();
    Vec3 w{0, 0, 1}, u{1, 0, 0}, v{0, 1, 0};
    double cosHalf = -1;
    const Vec3 toCentre = scene.centre - origin;
    const double d = length(toCentre);
    if (scene.bounded && !scene.unbounded && d > scene.radius) {
        if (!(scene.radius > 0)) return true;
        w = toCentre / d;
        frameAbout(w, u, v);
        cosHalf = std::cos(std::asin(scene.radius / d));
    }
    if (light.kind == LightKind::Spot) {
        // A spot emits only inside its falloff cone.
        const auto& spot = static_cast<const SpotLight&>(light);
        if (spot.cosFalloff > cosHalf) {
            w = normalized(spot.direction);
            frameAbout(w, u, v);
            cosHalf = std::max(-1.0, spot.cosFalloff);
        }
    }
    const double solidAngle = 2 * M_PI * (1 - cosHalf);
    const double reach = d + scene.radius + 1;
    const double turn = 2 * M_PI * drawBounce();
    beginPhotonLight(ctx, true);
    for (int i = 0; i < photons; ++i) {
        // A spiral of equal solid angles over the cap, turned by a drawn angle.
        const double z = 1 - (1 - cosHalf) * (i + 0.5) / photons;
        const double s = std::sqrt(std::max(0.0, 1 - z * z));
        const double phi = turn + i * GoldenAngle;
        const Vec3 dir = normalized(w * z + u * (s * std::cos(phi)) + v * (s * std::sin(phi)));
        if (keyPressed()) {
            flushPhotons(ctx);
            return false;
        }
        // The light's colour and falloff (a spot's cone) in this direction.
        LightSample along;
        lightAtInOrder(ctx, light, origin + dir * reach, along);
        if (!(along.K > 0)) continue;
        ++ctx.stats.photonRays;
        emitPhoton(ctx, {origin, dir}, along.colour * (along.K * solidAngle / photons), 0, path);
    }
    flushPhotons(ctx);
    return true;
}

}  // namespace quorva
