// Building the photon maps of a frame: shooting caustic photons from every light at every target,
// following them through mirrors and glass, storing them at diffuse hits; and the caustic radiance
// shading asks for.
#include "gi/photon_maps.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "geometry/world.h"
#include "gi/media.h"
#include "gi/photon_batch.h"
#include "gi/photon_file.h"
#include "gi/photon_targets.h"
#include "render/render_progress.h"
#include "shading/light.h"
#include "shading/optics.h"
#include "shading/shade_point.h"
#include "shading/shader.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

void frameAbout(const Vec3& w, Vec3& u, Vec3& v) {
    const Vec3 a = std::fabs(w.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    u = normalized(cross(a, w));
    v = cross(w, u);
}

bool parallelLight(const Light& light) {
    return light.kind == LightKind::Directional || light.kind == LightKind::DirectionalSun;
}

}  // namespace

PhotonMaps::PhotonMaps(const Frame& scene) : scene_(scene) {
    const PhotonSettings& s = scene.options.photons;
    // The statements bound these counts; a binary scene's records are bounded here as well.
    const int k = boundedCount(s.parameters[0], 1, MaxPhotonGatherCount);
    auto gatherCount = [k](int range) { return range >= 1 ? std::min(range, MaxPhotonGatherCount) : k; };
    caustic.gatherCount = gatherCount(s.gatherRange[0]);
    media.gatherCount = gatherCount(s.gatherRange[1]);
    irradianceMap.gatherCount = std::clamp(scene.options.irradiance.photons[1], k, MaxPhotonGatherCount);
    PhotonMap* maps[3] = {&caustic, &media, &irradianceMap};
    for (int i = 0; i < 3; ++i)
        if (s.accelerator[i] > 0) maps[i]->rangeFactor = s.accelerator[i];
    jitter_ = std::clamp(s.parameters[2], 0.0, 100.0) / 100;
}

PhotonMaps::~PhotonMaps() = default;

double PhotonMaps::drawJitter() {
    // A fixed-seed generator per build: the same scene shoots the same photons every run.
    jitterState_ = jitterState_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(jitterState_ >> 11) * (1.0 / 9007199254740992.0);
}

bool PhotonMaps::build(RenderContext& ctx, const PhotonFileRequest& files) {
    escaped_ = false;
    if (files.load && !files.loadPath.empty()) {
        message("\nLoading Photon maps...");
        // A file asked for that cannot be used stops the run: rendering without its photons would give
        // another image under the same name.
        const char* failure = nullptr;
        if (!loadPhotonFile(files.loadPath, caustic, media, irradianceMap, &failure))
            fatal("Could not load photon maps file \"%s\": the file %s", files.loadPath.c_str(), failure);
        message("\nPhoton maps rebuilt successfully.\n");
        estimateRadii(ctx);
        return true;
    }
    message("Building Photon maps...\n");
    shootCaustics(ctx);
    if (!escaped_) shootIrradiance(ctx);
    if (escaped_) return false;
    if (irradianceMap.count() > 0) message("\n%d irradiance photons gathered", irradianceMap.count());
    if (media.count() > 0) message("\n%d media photons gathered", media.count());
    message("\nSorting photons... ");
    // The spinner only turns on a terminal: a log would get a character and a backspace per step.
    const bool spinner = consoleProgressStyle() == ProgressStyle::Terminal;
    caustic.balance(spinner, workers);
    media.balance(spinner, workers);
    irradianceMap.balance(spinner, workers);
    estimateRadii(ctx);
    const bool any = caustic.count() + media.count() + irradianceMap.count() > 0;
    if (files.save && !files.savePath.empty()) {
        if (!any) {
            warning("Photon maps contains no photon. So, nothing to save");
        } else if (std::FILE* existing = std::fopen(files.savePath.c_str(), "rb")) {
            std::fclose(existing);  // an existing file is kept, silently
        } else {
            message("\nSaving Photon maps...");
            if (!savePhotonFile(files.savePath, caustic, media, irradianceMap))
                warning("Could not save photon maps");
        }
    }
    message("   \nPhoton maps completed.\n\n");
    return true;
}

void PhotonMaps::estimateRadii(RenderContext& ctx) {
    caustic.estimateRadius(ctx.photonHeap, false);
    media.estimateRadius(ctx.photonHeap, true);
    irradianceMap.estimateRadius(ctx.photonHeap, false);
}

void PhotonMaps::shootCaustics(RenderContext& ctx) {
    jitterState_ = 0x5eed;
    mediaState_ = 1;
    mediaPhotons_ = mediaOn(scene_);
    const PhotonSettings& s = scene_.options.photons;
    const bool fixedSpacing = s.parameterCount >= 4 && s.parameters[3] > 0;
    if (!fixedSpacing && !(s.parameters[1] > 0)) return;
    ctx.photonPass = true;
    const bool hadEye = ctx.hasEye;
    ctx.hasEye = false;  // photon rays never start at the camera frontier
    const std::vector<CausticTarget> targets = findCausticTargets(ctx, scene_.world);
    int lights = 0;
    for (const auto& light : scene_.lights) lights += light->photonFlags && !light->subtracts();
    const long total = static_cast<long>(lights) * static_cast<long>(targets.size());
    long done = 0;
    ProgressCounter counter;
    for (const auto& light : scene_.lights) {
        if (escaped_) break;
        if (!light->photonFlags || light->subtracts()) continue;
        beginPhotonLight(ctx, true);
        for (const CausticTarget& target : targets) {
            if (!shootAt(ctx, *light, target)) break;
            ++done;
            counter.show(static_cast<int>(done * 100 / total), "%d photons gathered                         ",
                         caustic.count());
        }
    }
    ctx.photonPass = false;
    ctx.hasEye = hadEye;
    ctx.stats.surfacePhotonsGathered = static_cast<std::uint32_t>(caustic.count());
}

bool PhotonMaps::shootAt(RenderContext& ctx, const Light& light, const CausticTarget& target) {
    const PhotonSettings& s = scene_.options.photons;
    const Box box = target.shape->bounds();
    const Vec3 centre = box.min + box.size * 0.5;
    const double r = 0.5 * length(box.size);
    if (!(r > 0) || r > 1e5) return true;  // unbounded shapes are no targets
    double spacing = (s.parameterCount >= 4 && s.parameters[3] > 0) ? s.parameters[3]
                                                                    : r * std::sqrt(M_PI / s.parameters[1]);
    spacing *= target.spacingFactor;
    if (!(spacing > 0)) return true;  // a spacing factor of 0 or below (or NaN) shoots nothing
    // Photons that may also land on the target itself follow paths that exclude no shape.
    const Shape& excluded = target.internal ? shapeNeverHit() : *target.shape;
    LightSample ls;
    light.lightAt(ctx, centre, ls);
    if (parallelLight(light)) {
        const Vec3 w = normalized(centre - ls.position);
        Vec3 u, v;
        frameAbout(w, u, v);
        double step = spacing;
        if (M_PI * (r / step) * (r / step) > gridPhotonLimit) step = r * std::sqrt(M_PI / gridPhotonLimit);
        const Color power = ls.colour * (ls.K * step * step * target.powerFactor);
        const Vec3 origin = centre - w * (2 * r + 1);
        const int n = static_cast<int>(std::ceil(r / step));
        Path path;
        path.light = &light;
        path.target = &excluded;
        for (int i = -n; i <= n; ++i)
            for (int j = -n; j <= n; ++j) {
                const double a = (i + (drawJitter() - 0.5) * jitter_) * step;
                const double b = (j + (drawJitter() - 0.5) * jitter_) * step;
                if (a * a + b * b > r * r) continue;
                ++ctx.stats.photonRays;
                emitPhoton(ctx, {origin + u * a + v * b, w}, power, -1, path);
            }
        flushPhotons(ctx);
        return true;
    }
    // An area light shoots from each of its sample positions, sharing its colour among them: the
    // spacing widens by the square root of their number, so each photon keeps a point light's power.
    const std::vector<Vec3> origins = emittingPositions(ctx, light, centre);
    const double share = origins.empty() ? 0 : 1.0 / origins.size();
    bool shot = true;
    for (const Vec3& origin : origins)
        if (!shootCone(ctx, light, origin, centre, r,
                       spacing * std::sqrt(static_cast<double>(origins.size())), share, target.powerFactor,
                       excluded)) {
            shot = false;
            break;
        }
    flushPhotons(ctx);
    return shot;
}

bool PhotonMaps::shootCone(RenderContext& ctx, const Light& light, const Vec3& origin, const Vec3& centre,
                           double r, double spacing, double share, double powerFactor,
                           const Shape& excluded) {
    const Vec3 toCentre = centre - origin;
    const double d = length(toCentre);
    if (!(d > 0)) return true;
    const Vec3 w = toCentre / d;
    Vec3 u, v;
    frameAbout(w, u, v);
    const double half = d > r ? std::atan(r / d) : M_PI;
    double step = std::atan(spacing / d);
    const double solid = 2 * M_PI * (1 - std::cos(half));
    // One light-target pair stays within the cap whatever the number of positions sharing it.
    const double cap = gridPhotonLimit * share;
    if (solid / (step * step) > cap) step = std::sqrt(solid / cap);
    const double weight = step * step * share * powerFactor;
    Path path;
    path.light = &light;
    path.target = &excluded;
    for (double polar = 0; polar < half; polar += step) {
        // A key between rings ends this light's photons; Escape also stops the render.
        if (keys().keyWaiting()) {
            if (keys().readKey() == EscapeKey) escaped_ = true;
            return false;
        }
        const double azimuthStep = polar == 0 ? 2 * M_PI : step / std::sin(polar);
        for (double azimuth = 0; azimuth < 2 * M_PI; azimuth += azimuthStep) {
            const double p = polar + (drawJitter() - 0.5) * step * jitter_;
            const double a = azimuth + (drawJitter() - 0.5) * step * jitter_;
            const Vec3 dir = normalized(w * std::cos(p) + (u * std::cos(a) + v * std::sin(a)) * std::sin(p));
            // The light's colour and spot factor in this direction.
            LightSample along;
            lightAtInOrder(ctx, light, origin + dir * d, along);
            ++ctx.stats.photonRays;
            emitPhoton(ctx, {origin, dir}, along.colour * (along.K * weight), 0, path);
        }
    }
    return true;
}

Color PhotonMaps::causticIrradiance(RenderContext& ctx, const Vec3& P, const Vec3& N) const {
    if (caustic.count() == 0) return {};
    double r = 0;
    const int n = caustic.gather(ctx.photonHeap, P, caustic.gatherRadius, &N, r);
    if (n == 0 || !(r > 0)) return {};
    Color sum;
    for (int i = 0; i < n; ++i) {
        const Photon& p = caustic[ctx.photonHeap[i].index];
        if (dot(directions_.direction(p), N) > 0) sum += photonPower(p, caustic.scale());
    }
    return sum * (1 / (M_PI * r * r));
}

Color PhotonMaps::caustics(RenderContext& ctx, const ShadePoint& at, const Vec3& N, double opacity,
                           const SurfaceSample& sample) {
    if (!(at.shape->attributes & ShapeAttr::Default80) || sample.kdScale == 0) return {};
    Vec3 n = N;
    if (dot(n, at.ray.direction) > 0) n = -n;
    return causticIrradiance(ctx, at.point, n) * sample.kdColor * (sample.kdScale * opacity);
}

Color PhotonMaps::mediaPhotons(RenderContext& ctx, const Vec3& point, const Vec3& direction) {
    return mediaPhotonEstimate(ctx, media, directions_, point, direction);
}

Color PhotonMaps::irradiance(RenderContext& ctx, const Vec3& P, const Vec3& N, int samples, int level,
                             double weight) {
    return irradianceSource ? irradianceSource->irradiance(ctx, P, N, samples, level, weight) : Color{};
}

}  // namespace quorva
