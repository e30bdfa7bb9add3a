// The participating medium: a scene-wide scattering fog lit by the lights marked MediaInteraction.
// Rays gather the light the medium scatters towards them; light reaching a surface through the medium
// is dimmed by exp(-d/D).
#pragma once

#include <cstdint>

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;
class Light;
struct Frame;
class PhotonMap;
class PhotonDirections;

// The settings of the latest Media statement (a later one replaces them all).
struct MediaSettings {
    int model = 1;         // phase model 1..4
    int samples = 1;       // samples per light interval, >= 1
    double density = 0;    // D, the attenuation distance; 0 switches the medium off
    double intensity = 0;  // scattering intensity, >= 0
    double mix = 0;        // a: how much the medium colour tints the result, 0..1
    int depth = 0;         // antialiasing (subdivision) depth, >= 0
    Color colour{1, 1, 1};
    double eccentricity = 0;  // g of the Henyey-Greenstein model, -1..1
};

// Checks and stores the settings (fatal for a bad model, samples, D or depth; intensity and mix are
// clamped as documented in the README). Model, samples and depth are truncated toward zero.
void mediaSetup(MediaSettings& media, double model, double samples, double density, double intensity,
                double mix, double depth, const Color& colour);
// The Henyey-Greenstein eccentricity; outside [-1, 1] it becomes 0.
void mediaSetEccentricity(MediaSettings& media, double g);

// True when the medium takes part in this scene: D > 0 and at least one light has MediaInteraction.
bool mediaOn(const Frame& scene);

// Phase value for the cosine mu between the direction to the light and the ray direction.
double mediaPhase(int model, double g, double mu);

// The generator of the jitter: state = state * 0x6C078965 + 0x3039, draw in [0, 1].
double mediaDraw(std::uint32_t& state);

// The part [tIn, tOut) of the ray (t >= 0) a light reaches; false when it does not reach the ray.
// Spot lights reach the inside of their cone, other lights the whole ray [0, 1000000).
bool mediaLightInterval(const Light& light, const Ray& ray, double& tIn, double& tOut);

// Light scattered towards the ray origin at origin + t * direction by one light.
Color mediaInScatter(RenderContext& ctx, const Light& light, const Ray& ray, double t, int level);

// The light the media photons around `point` scatter along the unit `direction`: rounds that grow the
// gather radius from the map's own by half of it (at most 4) until the map's gather count is reached;
// a round's sum is kept on the first round, when its density n / ((4/3) r^3) changed less than 10 %
// from the previous round's, or when 0 < n < 8. Photons of kept sums count in mediaPhotonsGathered.
Color mediaPhotonEstimate(RenderContext& ctx, const PhotonMap& map, const PhotonDirections& directions,
                          const Vec3& point, const Vec3& direction);

// MediaAlongRay over the segment [0, length) of the ray: a shadow ray is dimmed by exp(-length/D);
// any other ray gains the in-scattered light and the medium colour's tint.
void mediaAlongRay(RenderContext& ctx, const Ray& ray, double length, Color& colour, bool shadowRay,
                   int level);

}  // namespace quorva
