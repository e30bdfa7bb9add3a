// Uniform fog and ground fog against the optical depth of their density along the ray.
#include "render/fog.h"

#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene_state.h"

namespace quorva {
namespace {

// Transmission through ground fog of density exp(-y/hs)/ds above y = 0, by numerical integration.
double groundTransmission(const FogSettings& fog, const Ray& ray, double length) {
    const int steps = 200000;
    double depth = 0;
    const double h = length / steps;
    for (int i = 0; i < steps; ++i) {
        double y = ray.origin.y + (i + 0.5) * h * ray.direction.y;
        if (y >= 0) depth += std::exp(-y / fog.heightScale) / fog.distanceScale * h;
    }
    return std::exp(-depth);
}

TEST(Fog, UniformFogFadesWithDistanceBeyondItsStart) {
    FogSettings fog;
    fog.density = 0.5;
    fog.start = 1;
    fog.colour = {0.2, 0.4, 0.6};
    fog.heightScale = 1;  // ground fog is skipped when uniform fog applies
    fog.distanceScale = 1;
    const Ray ray{{0, 1, 0}, {0, 0, 1}};

    Color c{1, 1, 1};
    applyFog(fog, ray, 3, false, 1, 0.001, c);  // k = 0.5^2
    EXPECT_NEAR(c.r, 0.25 + 0.75 * 0.2, 1e-12);
    EXPECT_NEAR(c.b, 0.25 + 0.75 * 0.6, 1e-12);

    // A missed ray sees the fog colour itself.
    c = {1, 1, 1};
    applyFog(fog, ray, 1000000, true, 0, 0.001, c);
    EXPECT_NEAR(c.g, 0.4, 1e-12);

    // Density 1 or 0 is not uniform fog; only ground fog remains.
    fog.density = 1;
    c = {1, 1, 1};
    applyFog(fog, ray, 3, false, 1, 0.001, c);
    double m = std::exp(-std::exp(-1.0) * 3);
    EXPECT_NEAR(c.r, m * (1 - 0.2) + 0.2, 1e-12);
}

TEST(Fog, SegmentShorterThanTheStartFallsBackToGroundFog) {
    FogSettings fog;
    fog.density = 0.5;
    fog.start = 10;
    Color c{1, 1, 1};
    applyFog(fog, Ray{{0, 0, 0}, {0, 0, 1}}, 3, false, 0, 0.001, c);
    EXPECT_EQ(c, (Color{1, 1, 1}));
}

TEST(Fog, GroundFogMatchesItsOpticalDepth) {
    FogSettings fog;
    fog.heightScale = 2;
    fog.distanceScale = 5;
    fog.colour = {1, 1, 1};
    struct Case {
        Ray ray;
        double length;
        bool missed;
        double hitY;
        double integrateOver;
    };
    const double s = std::sqrt(0.5);
    const Case cases[] = {
        {{{0, 1, 0}, {0, 0, 1}}, 4, false, 1, 4},               // level: constant density
        {{{0, 0.5, 0}, {0, s, s}}, 6, false, 0.5 + 6 * s, 6},   // climbing
        {{{0, 3, 0}, {0, -s, s}}, 2, false, 3 - 2 * s, 2},      // descending, ending above the ground
        {{{0, 3, 0}, {0, -s, s}}, 1000000, true, 0, 3 / s},     // descending miss: stops at y = 0
        {{{0, 3, 0}, {0, -s, s}}, 9, false, 3 - 9 * s, 3 / s},  // hit below the ground: stops at y = 0
    };
    for (const Case& k : cases) {
        Color c{0, 0, 0};
        applyFog(fog, k.ray, k.length, k.missed, k.hitY, 0.001, c);
        double expected = 1 - groundTransmission(fog, k.ray, k.integrateOver);
        EXPECT_NEAR(c.r, expected, 1e-6) << toString(k.ray) << " length " << k.length;
    }
}

TEST(Fog, GroundFogLeavesRaysFromBelowTheGroundAlone) {
    FogSettings fog;
    fog.heightScale = 2;
    fog.distanceScale = 5;
    Color c{1, 1, 1};
    applyFog(fog, Ray{{0, -0.01, 0}, {0, 1, 0}}, 10, false, 9.99, 0.001, c);
    EXPECT_EQ(c, (Color{1, 1, 1}));
}

}  // namespace
}  // namespace quorva
