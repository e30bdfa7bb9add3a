// The participating medium: settings, phase models, spot intervals, the march along rays and the
// dimming of shadow rays.
#include "gi/media.h"

#include <gtest/gtest.h>

#include <cmath>

#include "gi/photon.h"
#include "gi/photon_map.h"
#include "scene/parser_fixture.h"
#include "shading/light.h"
#include "shading/light_visibility.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

// Lights that cast no shadows (LightingAttributes 2) and have no decay, so the march has a closed form.
double missBrightness(const std::string& text, double length = 1000000) {
    SceneState scene;
    parseOk(scene, text);
    RenderContext ctx{&scene.frame};
    ctx.beginSample(3.5, 7.25);
    Color c;
    mediaAlongRay(ctx, Ray{{0, 0, 0}, {0, 0, 1}}, length, c, false, 1);
    return c.r;
}

TEST(Media, StatementChecksAndClamps) {
    EXPECT_EQ(parseFailure("Media (5, 8, 10, 1, 0)"),
              "Bad media scattering model. Must be contained between 1 and 4");
    EXPECT_EQ(parseFailure("Media (0.9, 8, 10, 1, 0)"),
              "Bad media scattering model. Must be contained between 1 and 4");
    EXPECT_EQ(parseFailure("Media (1, 0.5, 10, 1, 0)"), "Bad media samples value. Must be greater than 1");
    EXPECT_EQ(parseFailure("Media (1, 8, -1, 1, 0)"),
              "Bad media density value. Must be greater than or equal to 0");
    EXPECT_EQ(parseFailure("Media (1, 8, 10, 1, 0, -1)"),
              "Bad media antialiasing value. Must be positive or null");
    EXPECT_EQ(parseFailure("if (1 > 2) { Media (9, 0, -1, 1, 0) }"), "");

    SceneState scene;
    parseOk(scene,
            "Media (1, 8, 10, 1, 0.5, 2, '1, 0, 0')\nMedia (4.7, 1, 3, -2, 1.5)\n"
            "Options [ HenyeyGreenstein 0.5 ]");
    EXPECT_EQ(scene.frame.media.model, 4);
    EXPECT_EQ(scene.frame.media.samples, 1);
    EXPECT_EQ(scene.frame.media.density, 3);
    EXPECT_EQ(scene.frame.media.intensity, 0);
    EXPECT_EQ(scene.frame.media.mix, 0);
    EXPECT_EQ(scene.frame.media.depth, 0);
    EXPECT_EQ(scene.frame.media.colour, Color(1, 1, 1));
    EXPECT_EQ(scene.frame.media.eccentricity, 0.5);
    parseOk(scene, "Options [ HenyeyGreenstein 1.5 ]");
    EXPECT_EQ(scene.frame.media.eccentricity, 0);
}

TEST(Media, PhaseModels) {
    EXPECT_EQ(mediaPhase(1, 0, 0.3), 1);
    EXPECT_DOUBLE_EQ(mediaPhase(2, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(mediaPhase(3, 0, -1), 0.1);
    for (double g : {-1.0, -0.7, 0.0, 0.3, 0.9, 1.0}) {
        double integral = 0;
        const int n = 200000;
        for (int i = 0; i < n; ++i) {
            const double p = mediaPhase(4, g, -1 + (i + 0.5) * 2.0 / n);
            ASSERT_FALSE(std::isnan(p));
            integral += p * 2.0 / n;
        }
        if (std::fabs(g) < 1)
            EXPECT_NEAR(integral, 2, 0.01) << g;
        else
            EXPECT_EQ(mediaPhase(4, g, g), 0);
    }
}

TEST(Media, GeneratorDrawsFromAKnownState) {
    std::uint32_t state = 1;
    // 1 * 0x6C078965 + 0x3039 = 0x6C07B99E: (0x6C07 & 0x7FFF) / 32767.
    EXPECT_DOUBLE_EQ(mediaDraw(state), 0x6C07 / 32767.0);
    EXPECT_EQ(state, 0x6C07B99Eu);
    const std::uint32_t next = 0x6C07B99Eu * 0x6C078965u + 0x3039u;
    EXPECT_DOUBLE_EQ(mediaDraw(state), ((next >> 16) & 0x7FFF) / 32767.0);
}

TEST(Media, SpotIntervals) {
    LightItems items;
    items.mediaInteraction = true;
    // Apex at the origin, axis +y, half angle 45 degrees.
    auto spot = makeSpotLight({0, 0, 0}, {0, 10, 0}, 30, 45, 1, items);
    double a, b;
    // Across the cone at height 2: inside for |x| <= 2.
    ASSERT_TRUE(mediaLightInterval(*spot, Ray{{-5, 2, 0}, {1, 0, 0}}, a, b));
    EXPECT_NEAR(a, 3, 1e-9);
    EXPECT_NEAR(b, 7, 1e-9);
    // Starting inside: from 0.
    ASSERT_TRUE(mediaLightInterval(*spot, Ray{{0, 2, 0}, {1, 0, 0}}, a, b));
    EXPECT_EQ(a, 0);
    EXPECT_NEAR(b, 2, 1e-9);
    // Outside and away.
    EXPECT_FALSE(mediaLightInterval(*spot, Ray{{5, 2, 0}, {1, 0, 0}}, a, b));
    // Through the apex from below: the back nappe is dropped, the front one is unbounded.
    ASSERT_TRUE(mediaLightInterval(*spot, Ray{{0, -3, 0}, {0, 1, 0}}, a, b));
    EXPECT_NEAR(a, 3, 1e-6);
    EXPECT_EQ(b, 1000000);
    // Behind the light, away from it: nothing.
    EXPECT_FALSE(mediaLightInterval(*spot, Ray{{0, -3, 0}, {0, -1, 0}}, a, b));
    // Along the cone's wall from the apex.
    const double s = std::sqrt(0.5);
    ASSERT_TRUE(mediaLightInterval(*spot, Ray{{0, 0, 0}, {s, s, 0}}, a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1000000);
    // A light without MediaInteraction has no interval.
    auto plain = makeSpotLight({0, 0, 0}, {0, 10, 0}, 30, 45, 1, LightItems{});
    EXPECT_FALSE(mediaLightInterval(*plain, Ray{{0, 2, 0}, {1, 0, 0}}, a, b));
}

constexpr const char* OneLight =
    "PointLight [ (0, 5, 0) Intensity '1, 1, 1' MediaInteraction LightingAttributes 2 ]\n";
constexpr const char* TwoHalfLights =
    "PointLight [ (0, 5, 0) Intensity '0.5, 0.5, 0.5' MediaInteraction LightingAttributes 2 ]\n"
    "PointLight [ (3, 5, 0) Intensity '0.5, 0.5, 0.5' MediaInteraction LightingAttributes 2 ]\n";

TEST(Media, MarchAddsTheScatteredLight) {
    // intensity * D over a miss, intensity * D * (1 - exp(-T/D)) before a wall T away.
    const std::string media = "Media (1, 8, 2, 0.4, 0)\n";
    EXPECT_NEAR(missBrightness(media + OneLight), 0.8, 0.008);
    EXPECT_NEAR(missBrightness(media + OneLight, 1.5), 0.8 * (1 - std::exp(-0.75)), 0.006);
    // Two half-intensity lights equal one full light.
    EXPECT_NEAR(missBrightness(media + TwoHalfLights), missBrightness(media + OneLight), 0.005);
    // D = 0, or no light with MediaInteraction, switches the medium off.
    EXPECT_EQ(missBrightness(std::string("Media (1, 8, 0, 0.4, 0)\n") + OneLight), 0);
    EXPECT_EQ(missBrightness(media + "PointLight [ (0, 5, 0) Intensity '1, 1, 1' ]"), 0);
}

TEST(Media, ColourMixTintsTheResult) {
    SceneState scene;
    parseOk(scene, std::string("Media (1, 8, 2, 0, 0, 0, '0.5, 0.25, 1')\n") + OneLight);
    RenderContext ctx{&scene.frame};
    Color c{0.5, 0.5, 0.5};
    mediaAlongRay(ctx, Ray{{0, 0, 0}, {0, 0, 1}}, 10, c, false, 1);
    EXPECT_EQ(c, Color(0.5, 0.5, 0.5));
    scene.frame.media.mix = 1;
    mediaAlongRay(ctx, Ray{{0, 0, 0}, {0, 0, 1}}, 10, c, false, 1);
    EXPECT_EQ(c, Color(0.25, 0.125, 0.5));
    // D = 0 switches it all off: colours and shadow filters pass through bit for bit.
    scene.frame.media.density = 0;
    c = {0.3, 0.7, 0.9};
    mediaAlongRay(ctx, Ray{{0, 0, 0}, {0, 0, 1}}, 10, c, false, 1);
    EXPECT_EQ(c, Color(0.3, 0.7, 0.9));
    mediaAlongRay(ctx, Ray{{0, 0, 0}, {0, 0, 1}}, 10, c, true, 1);
    EXPECT_EQ(c, Color(0.3, 0.7, 0.9));
}

TEST(Media, ShadowRayOfLengthDKeepsOneOverE) {
    SceneState scene;
    parseOk(scene, std::string("Media (1, 8, 4, 1, 0)\n") + OneLight);
    RenderContext ctx{&scene.frame};
    Color filter;
    EXPECT_TRUE(shadowTest(ctx, *scene.frame.lights[0], Ray{{0, 1, 0}, {0, 1, 0}}, 0.001, 4, 0, 0, filter));
    EXPECT_NEAR(filter.r, std::exp(-1.0), 1e-12);
    EXPECT_EQ(filter.r, filter.b);
}

TEST(Media, ThinBeamSampledCoarselyStillShows) {
    // A 2-degree spot crossing the ray 50 units away, one sample per interval: the interval is the
    // beam's own width, so the beam is sampled however narrow it is.
    const std::string text =
        "Media (1, 1, 100, 1, 0)\n"
        "SpotLight [ (0, 10, 50), (0, 0, 50), 1, 2, 0 Intensity '1, 1, 1' "
        "MediaInteraction LightingAttributes 2 ]\n";
    EXPECT_GT(missBrightness(text), 0.1);
}

TEST(Media, PhotonEstimateFollowsTheDensity) {
    SceneState scene;
    parseOk(scene, "Media (1, 8, 10, 1, 0)");
    RenderContext ctx{&scene.frame};
    // 20000 photons of power 0.001 spread evenly over a 2 x 2 x 2 cube: 2.5 per unit volume.
    PhotonMap map;
    std::uint32_t state = 7;
    for (int i = 0; i < 20000; ++i) {
        const Vec3 p{mediaDraw(state) * 2 - 1, mediaDraw(state) * 2 - 1, mediaDraw(state) * 2 - 1};
        map.store({0.001, 0.001, 0.001}, p, p + Vec3{0, 1, 0});
    }
    map.balance();
    map.gatherRadius = 0.2;
    map.gatherCount = 50;
    PhotonDirections directions;
    const Color c = mediaPhotonEstimate(ctx, map, directions, {0, 0, 0}, {0, 0, 1});
    EXPECT_NEAR(c.g, 2.5, 0.5);
    EXPECT_EQ(ctx.stats.mediaPhotonsGathered, 50u);
}

}  // namespace
}  // namespace quorva
