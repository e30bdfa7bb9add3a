// Lights: the Light record and its kinds, the light statements' builders, and the glow of lights seen
// along rays.
#pragma once

#include <cstdint>
#include <memory>

#include "geometry/transform.h"
#include "geometry/vec3.h"
#include "scene/request.h"

namespace quorva {

struct SceneState;
class RenderContext;

enum class LightKind : int {
    Point = 150,
    Spot = 151,
    Area = 152,
    Directional = 153,
    PointSun = 154,
    AreaSun = 155,
    DirectionalSun = 156,
};

class Light {
public:
    explicit Light(LightKind kind) : kind(kind) {}
    virtual ~Light();
    LightKind kind;
    std::uint8_t attributes = 3;  // 1 casts shadows, 2 specular, 4 area faces the point, 8 front only
    double decayDistance = 0;     // Range
    int decayType = 0;            // 0 none, 1 linear, 2 quadratic, 3 cubic, 4 BlackHole
    int mediaInteraction = 0;
    std::uint8_t photonFlags = 0;
    double photonShare = 0;
    int index = 0;  // position in the scene's light list; indexes the render context's shadow caches
};

// The items of a light statement, applied in the order written (Range clears the decay type, Decay
// clears the range).
struct LightItems {
    bool mediaInteraction = false;
    bool hasIntensity = false;
    RequestPtr intensity;  // a colour, or an AreaLight lighting function
    bool hasRange = false;
    double range = 0;
    bool hasDecay = false;
    int decay = 0;
    bool hasGlow = false;
    double glow = 0;
    bool hasBulb = false;
    double bulb = 0;        // SpotLight Bulb f
    Vec3 bulbCentre;        // AreaLight Bulb ( v , f )
    double bulbRadius = 0;
    bool hasPlane = false;
    double plane[4] = {0, 0, 0, 0};  // AreaLight Plane ( f , f [, f [, f ]] )
    int planeCount = 0;
    bool hasAttributes = false;
    double lightingAttributes = 0;
    std::unique_ptr<Transform> transform;  // AreaLight transformation items (and instanced lights)
};

std::unique_ptr<Light> makePointLight(const Vec3& position, const LightItems& items);
std::unique_ptr<Light> makeSpotLight(const Vec3& position, const Vec3& target, double hotspot, double falloff,
                                     double exponent, const LightItems& items);
std::unique_ptr<Light> makeDirectionalLight(const Vec3& direction, const LightItems& items);
std::unique_ptr<Light> makeAreaLight(const LightItems& items);
// BlackHole ( centre , density [, colour ] ).
std::unique_ptr<Light> makeBlackHole(const Vec3& centre, double density, const Vec3* colour);

// Appends a light to the scene's list with its shadow cache cleared.
void addLight(SceneState& scene, std::unique_ptr<Light> light);
// Builds the sun light from scene.sun after the parse (no-op when no SunLight was given).
void buildSunLight(SceneState& scene);

// Adds the glow of every glowing light along a ray segment of `length` (missed: the infinite segment).
void applyLightGlow(const RenderContext& ctx, const Ray& ray, double length, bool missed, Color& colour);

}  // namespace quorva
