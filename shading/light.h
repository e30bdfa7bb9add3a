// Lights: the Light record and its kinds, the light statements' builders, and the glow of lights seen
// along rays.
#pragma once

#include <cstdint>
#include <memory>

#include "eval/request.h"
#include "geometry/transform.h"
#include "geometry/vec3.h"

namespace quorva {

struct Frame;
class RenderContext;
struct FlatAreaGeometry;

// What LightAt gives for a point: intensity factor, effective position, colour there and radius.
struct LightSample {
    double K = 1;
    Vec3 position;
    Color colour{1, 1, 1};
    double radius = 0;  // 0 for point-like lights
};

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
    std::uint64_t serial =
        0;  // unique per light added to a scene; tells a render context its caches are stale

    Color colour{1, 1, 1};
    double radius = 0;          // soft-shadow radius (spherical bulb); 0 for point-like lights
    double glow = 0;            // glow intensity seen along rays (point and area kinds)
    int softShadowSamples = 0;  // the light's own soft-shadow sample count (sun light); 0 = the global one

    bool castsShadows() const { return attributes & 1; }
    bool givesSpecular() const { return attributes & 2; }
    bool subtracts() const { return decayType == 4; }

    // LightAt: the intensity factor K (spot falloff included, decay not), the effective position, the
    // colour at P and the radius.
    virtual void lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const;
    // Where the glow of a glowing light is centred.
    virtual Vec3 glowPosition() const { return {}; }
    // The rectangle of a flat area light; null for every other light.
    virtual const FlatAreaGeometry* flatGeometry() const { return nullptr; }
    // A deep copy (instancing a declared light) and the transformation of an instance.
    virtual std::unique_ptr<Light> clone() const;
    virtual void applyTransform(const Transform& t);
};

// Intensity factor after the decay by distance d to the light (shadowBias bounds d from below for the
// Range laws).
double applyDecay(const Light& light, double K, double d, double shadowBias);

// Unit direction and distance from P to the light's effective position ((1, 0, 0) and 1 when the two
// are closer than 1e-10), and the light's intensity there after decay.
struct LightDirection {
    Vec3 L;
    double distance = 1;
    double K = 0;
};
LightDirection lightDirection(const Light& light, const LightSample& ls, const Vec3& P, double shadowBias);

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
    double bulb = 0;  // SpotLight Bulb f
    Vec3 bulbCentre;  // AreaLight Bulb ( v , f )
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
void addLight(Frame& scene, std::unique_ptr<Light> light);
// Builds the sun light from scene.sun after the parse (no-op when no SunLight was given), and marks
// every light for photons when the scene asked for them.
// SunLight ( azimuth : elevation [, intensity [, soft-shadow samples [, colour ]]] ): the sun stands 1000
// units from the origin, `elevation` degrees above the horizon (the xz plane) and `azimuth` degrees
// around the y axis from +z towards +x; SunLightRotation then turns it about the origin. The colour
// defaults to the sky colour. With soft-shadow samples (> 0) the sun is an area light of their count.
void buildSunLight(Frame& scene);

// Adds the glow of every glowing light along a ray segment of `length` (missed: the infinite segment).
void applyLightGlow(const RenderContext& ctx, const Ray& ray, double length, bool missed, Color& colour);

}  // namespace quorva
