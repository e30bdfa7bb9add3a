// The light statements' builders and the scene's light list.
#include <atomic>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "eval/value.h"
#include "shading/light.h"
#include "shading/light_kinds.h"
#include "trace/frame.h"

namespace quorva {

namespace {
// The largest grid side and subdivision depth of a flat area light: beyond them the sample table and
// the recursion would outgrow any machine.
constexpr int MaxFlatGridCount = 1024;
constexpr int MaxFlatGridDepth = 30;

constexpr double DegreesToRadians = 0.017453292519943295;

// A constant Intensity: a colour, or a number standing for grey. Anything else keeps the default.
bool constantColour(const RequestPtr& request, Color& out) {
    if (!request) return false;
    Value v = evaluate(EvalContext{}, request.get());
    if (v.isVector()) {
        out = Color(v.vector);
        return true;
    }
    if (v.isNumber()) {
        out = {v.number, v.number, v.number};
        return true;
    }
    return false;
}

// Items every light statement may carry.
void applyCommonItems(Light& light, const LightItems& items) {
    if (items.mediaInteraction) light.mediaInteraction = 1;
    if (items.hasRange) {
        light.decayDistance = items.range;
        light.decayType = 0;
    }
    if (items.hasDecay) {
        if (items.decay < 1 || items.decay > 3) fatal("Bad light Decay type");
        light.decayType = items.decay;
        light.decayDistance = 0;
    }
    if (items.hasAttributes) {
        double n = std::trunc(items.lightingAttributes);
        light.attributes = (n < 0 || n > 15) ? 15 : static_cast<std::uint8_t>(n);
    }
    if (items.hasGlow) light.glow = items.glow;
}

}  // namespace

Light::~Light() = default;

void Light::lightAt(RenderContext&, const Vec3&, LightSample&) const {
    internalFailure(InternalFailure::BadLightType2, "Bad light type (%d)", static_cast<int>(kind));
}

std::unique_ptr<Light> Light::clone() const {
    return std::make_unique<Light>(*this);
}

void Light::applyTransform(const Transform&) {}

std::unique_ptr<Light> makePointLight(const Vec3& position, const LightItems& items) {
    auto light = std::make_unique<PointLight>();
    light->position = position;
    constantColour(items.intensity, light->colour);
    applyCommonItems(*light, items);
    return light;
}

std::unique_ptr<Light> makeSpotLight(const Vec3& position, const Vec3& target, double hotspot, double falloff,
                                     double exponent, const LightItems& items) {
    auto light = std::make_unique<SpotLight>();
    light->position = position;
    light->direction = normalized(target - position);
    light->exponent = exponent;
    light->cosHotspot = std::cos(hotspot * DegreesToRadians);
    light->cosFalloff = std::cos(falloff * DegreesToRadians);
    constantColour(items.intensity, light->colour);
    applyCommonItems(*light, items);
    if (items.hasBulb) light->radius = items.bulb;
    return light;
}

std::unique_ptr<Light> makeDirectionalLight(const Vec3& direction, const LightItems& items) {
    auto light = std::make_unique<DirectionalLight>();
    light->direction = normalized(direction);
    constantColour(items.intensity, light->colour);
    applyCommonItems(*light, items);
    return light;
}

std::unique_ptr<Light> makeAreaLight(const LightItems& items) {
    if (items.hasPlane && items.mediaInteraction)
        fatal("Flat (plane) area light cannot interact with participating media");
    auto light = std::make_unique<AreaLight>();
    if (items.hasIntensity && items.intensity) {
        if (isConstantRequest(*items.intensity))
            constantColour(items.intensity, light->colour);
        else
            light->lightingFunction = items.intensity;
    }
    applyCommonItems(*light, items);
    if (items.hasBulb) {
        light->bulbCentre = items.bulbCentre;
        light->radius = items.bulbRadius;
    }
    if (items.transform) light->transform = std::make_unique<Transform>(*items.transform);
    if (items.hasPlane) {
        auto flat = std::make_unique<FlatAreaGeometry>();
        const int count = items.planeCount;
        // Grid counts and depth are truncated; values no grid could use (NaN, or beyond what fits a
        // sample table) are held to the largest useful one instead of overflowing the conversion.
        const auto truncated = [](double v, int limit) {
            if (!(v >= 1)) return 0;
            return v >= limit ? limit : static_cast<int>(v);
        };
        int nx = count > 0 ? truncated(items.plane[0], MaxFlatGridCount) : 1;
        int ny = count > 1 ? truncated(items.plane[1], MaxFlatGridCount) : 1;
        if (nx < 1) nx = 1;
        if (ny < 1) ny = 1;
        if (nx > ny) std::swap(nx, ny);
        flat->nx = nx;
        flat->ny = ny;
        flat->maxDepth = count > 2 ? truncated(items.plane[2], MaxFlatGridDepth) : 0;
        flat->jitter = count > 3 && items.plane[3] != 0;
        flat->setCorners(light->transform.get());
        light->flat = std::move(flat);
    }
    return light;
}

std::unique_ptr<Light> makeBlackHole(const Vec3& centre, double density, const Vec3* colour) {
    if (!(density > 0)) fatal("BlackHole density must be greater than 0");
    auto light = std::make_unique<PointLight>();
    light->position = centre;
    // Without a colour the hole takes away white light: c = (0, 0, 0), so every channel loses `density`.
    const Vec3 c = colour ? *colour : Vec3{0, 0, 0};
    light->colour = {density * (1 - c.x), density * (1 - c.y), density * (1 - c.z)};
    light->decayType = 4;
    light->attributes = 0;
    return light;
}

void addLight(Frame& scene, std::unique_ptr<Light> light) {
    static std::atomic<std::uint64_t> nextSerial{1};
    if (!light) return;
    light->index = static_cast<int>(scene.lights.size());
    light->serial = nextSerial++;
    scene.lights.push_back(std::move(light));
}

}  // namespace quorva
