// Light kinds: LightAt, decay, the light statements' checks, the sun light and the glow.
#include "shading/light.h"

#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "scene/parser.h"
#include "shading/light_kinds.h"
#include "shading/light_visibility.h"
#include "shading_test_support.h"

namespace quorva {
namespace {

using testing::ShadingScene;

LightSample at(const Light& light, const Vec3& P) {
    RenderContext ctx;
    LightSample s;
    light.lightAt(ctx, P, s);
    return s;
}

TEST(Light, PointAndDirectionalPositions) {
    LightItems items;
    auto point = makePointLight({1, 2, 3}, items);
    EXPECT_EQ(point->attributes, 3);
    EXPECT_EQ(at(*point, {0, 0, 0}).position, Vec3(1, 2, 3));
    EXPECT_EQ(at(*point, {0, 0, 0}).colour, Color(1, 1, 1));
    auto sun = makeDirectionalLight({0, 2, 0}, items);
    const LightSample s = at(*sun, {5, 0, 0});
    EXPECT_EQ(s.position, Vec3(5, 1000000, 0));
    EXPECT_EQ(s.K, 1);
}

TEST(Light, SpotFalloff) {
    LightItems items;
    // Aimed straight down from (0, 10, 0); hotspot 20, falloff 40 degrees, exponent 1.
    auto spot = makeSpotLight({0, 10, 0}, {0, 0, 0}, 20, 40, 1, items);
    EXPECT_NEAR(at(*spot, {0, 0, 0}).K, 1, 1e-12);
    const Vec3 inFalloff{10 * std::tan(30 * M_PI / 180), 0, 0};
    const double a = std::cos(30 * M_PI / 180), e0 = std::cos(40 * M_PI / 180),
                 e1 = std::cos(20 * M_PI / 180);
    const double t = (a - e0) / (e1 - e0);
    EXPECT_NEAR(at(*spot, inFalloff).K, a * t * t * (3 - 2 * t), 1e-12);
    EXPECT_EQ(at(*spot, {100, 0, 0}).K, 0);  // outside the falloff cone
    EXPECT_EQ(at(*spot, {0, 20, 0}).K, 0);   // behind the light
    EXPECT_EQ(at(*spot, {0, 10, 0}).K, 1);   // at the light itself
}

TEST(Light, SpotWithEqualAnglesHasAHardEdgeAndNothingOnIt) {
    LightItems items;
    auto spot = makeSpotLight({0, 10, 0}, {0, 0, 0}, 30, 30, 0, items);
    EXPECT_EQ(spotSmoothstep(0.5, 0.5, 0.5), 0);
    EXPECT_EQ(at(*spot, {10 * std::tan(40 * M_PI / 180), 0, 0}).K, 0);
    EXPECT_EQ(at(*spot, {0, 0, 0}).K, 1);
    // A hotspot of 90 degrees or more uses the exponent alone.
    auto wide = makeSpotLight({0, 10, 0}, {0, 0, 0}, 95, 100, 2, items);
    const Vec3 P{10, 0, 0};
    EXPECT_NEAR(at(*wide, P).K, 0.5, 1e-12);  // cos 45 squared
}

TEST(Light, DecayLaws) {
    LightItems items;
    auto light = makePointLight({0, 0, 0}, items);
    const double bias = 0.001;
    EXPECT_EQ(applyDecay(*light, 2, 4, bias), 2);
    light->decayType = 1;
    EXPECT_EQ(applyDecay(*light, 2, 4, bias), 0.5);
    light->decayType = 2;
    EXPECT_EQ(applyDecay(*light, 2, 4, bias), 0.125);
    light->decayType = 3;
    EXPECT_EQ(applyDecay(*light, 2, 4, bias), 2.0 / 64);
    light->decayType = 0;
    light->decayDistance = -2;  // full strength at distance 2, inverse square
    EXPECT_EQ(applyDecay(*light, 1, 2, bias), 1);
    EXPECT_EQ(applyDecay(*light, 1, 0, bias), 4 / (bias * bias));
    light->decayDistance = 3;  // a positive range darkens
    EXPECT_EQ(applyDecay(*light, 1, 6, bias), -0.5);
}

TEST(Light, StatementItems) {
    LightItems items;
    items.hasAttributes = true;
    items.lightingAttributes = 16;
    EXPECT_EQ(makePointLight({}, items)->attributes, 15);
    items.lightingAttributes = -1;
    EXPECT_EQ(makePointLight({}, items)->attributes, 15);
    items.lightingAttributes = 1;
    EXPECT_EQ(makePointLight({}, items)->attributes, 1);

    LightItems range;
    range.hasRange = true;
    range.range = 5;
    auto ranged = makePointLight({}, range);
    EXPECT_EQ(ranged->decayDistance, 5);
    EXPECT_EQ(ranged->decayType, 0);

    LightItems decay;
    decay.hasDecay = true;
    decay.decay = 4;
    EXPECT_THROW(
        {
            try {
                makePointLight({}, decay);
            } catch (const FatalError& e) {
                EXPECT_STREQ(e.what(), "Bad light Decay type");
                throw;
            }
        },
        FatalError);

    LightItems flat;
    flat.hasPlane = true;
    flat.planeCount = 2;
    flat.mediaInteraction = true;
    try {
        makeAreaLight(flat);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Flat (plane) area light cannot interact with participating media");
    }
}

TEST(Light, BlackHole) {
    auto hole = makeBlackHole({1, 0, 0}, 2, nullptr);
    EXPECT_EQ(hole->colour, Color(2, 2, 2));
    EXPECT_EQ(hole->decayType, 4);
    EXPECT_EQ(hole->attributes, 0);
    EXPECT_TRUE(hole->subtracts());
    const Vec3 c{0.5, 1, 0};
    EXPECT_EQ(makeBlackHole({}, 2, &c)->colour, Color(1, 0, 2));
    try {
        makeBlackHole({}, 0, nullptr);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "BlackHole density must be greater than 0");
    }
}

TEST(Light, AreaLightGeometry) {
    LightItems items;
    items.hasPlane = true;
    items.planeCount = 3;
    items.plane[0] = 5;
    items.plane[1] = 2;
    items.plane[2] = 0.5;
    items.transform = std::make_unique<Transform>(makeScale(2, 1, 2));
    compose(*items.transform, makeTranslate({0, 4, 0}));
    auto light = makeAreaLight(items);
    EXPECT_EQ(light->attributes, 7);
    const FlatAreaGeometry* g = light->flatGeometry();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->nx, 2);  // the smaller count comes first
    EXPECT_EQ(g->ny, 5);
    EXPECT_EQ(g->maxDepth, 0);
    EXPECT_EQ(g->centre(), Vec3(0, 4, 0));
    EXPECT_NEAR(length(g->normal() - Vec3{0, -1, 0}), 0, 1e-12);  // faces down by default
    EXPECT_EQ(at(*light, {3, 0, 0}).position, Vec3(0, 4, 0));

    LightItems bulb;
    bulb.hasBulb = true;
    bulb.bulbCentre = {1, 0, 0};
    bulb.bulbRadius = 0.5;
    bulb.transform = std::make_unique<Transform>(makeTranslate({0, 2, 0}));
    auto sphere = makeAreaLight(bulb);
    EXPECT_EQ(at(*sphere, {}).position, Vec3(1, 2, 0));
    EXPECT_EQ(at(*sphere, {}).radius, 0.5);
}

TEST(Light, AreaLightingFunctionOverTheLightsDirections) {
    SceneState scene;
    parseText(scene, "AreaLight [ Intensity (v > 0.5 ? '1, 0, 0' : 0.25) Translate (0, 2, 0) ]", "t.qsb");
    ASSERT_EQ(scene.frame.lights.size(), 1u);
    RenderContext ctx{&scene.frame};
    LightSample s;
    scene.frame.lights[0]->lightAt(ctx, {0, 5, 0}, s);  // straight above the light: v = 1
    EXPECT_EQ(s.colour, Color(1, 0, 0));
    scene.frame.lights[0]->lightAt(ctx, {0, 0, 0}, s);  // below: v = 0, a number is grey
    EXPECT_EQ(s.colour, Color(0.25, 0.25, 0.25));

    SceneState bad;
    parseText(bad, "AreaLight [ Intensity (v > 0.5 ? \"a\" : \"b\") ]", "t.qsb");
    try {
        bad.frame.lights[0]->lightAt(ctx, {0, 5, 0}, s);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x1f) Invalid lighting function");
    }
}

TEST(Light, FlatAreaLightOnlyLightsItsFront) {
    ShadingScene s;
    LightItems items;
    items.hasPlane = true;
    items.planeCount = 2;
    items.plane[0] = items.plane[1] = 3;
    items.hasAttributes = true;
    items.lightingAttributes = 9;  // casts shadows, front side only
    items.transform = std::make_unique<Transform>(makeTranslate({0, 5, 0}));
    addLight(s.scene.frame, makeAreaLight(items));
    const Light& light = *s.scene.frame.lights.back();
    Color filter;
    EXPECT_TRUE(shadowTest(s.ctx, light, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 5, 0, 0, filter));
    EXPECT_EQ(filter, Color(1, 1, 1));
    EXPECT_GE(s.ctx.stats.shadowChecks, 16u);  // a 3 x 3 grid has 16 vertices
    EXPECT_FALSE(shadowTest(s.ctx, light, Ray{{0, 10, 0}, {0, -1, 0}}, 0.001, 5, 0, 0, filter));
    EXPECT_EQ(filter, Color(0, 0, 0));
}

TEST(Light, ShadowsGloballyOffLeaveEveryLightVisible) {
    ShadingScene s;
    s.ctx.settings.featureMask = 127 & ~ShapeAttr::Shading2;
    Light& light = s.addPointLight({0, 5, 0});
    Color filter{0, 0, 0};
    EXPECT_TRUE(shadowTest(s.ctx, light, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 5, 0, 0, filter));
    EXPECT_EQ(filter, Color(1, 1, 1));
    EXPECT_EQ(s.ctx.stats.shadowChecks, 0u);
}

TEST(Light, SunLightVariants) {
    SceneState scene;
    scene.frame.sun.given = true;
    scene.frame.sun.values[0] = 0;   // azimuth
    scene.frame.sun.values[1] = 90;  // straight overhead
    scene.frame.sun.count = 2;
    buildSunLight(scene.frame);
    ASSERT_EQ(scene.frame.lights.size(), 1u);
    const Light& point = *scene.frame.lights[0];
    EXPECT_EQ(point.kind, LightKind::PointSun);
    EXPECT_NEAR(length(at(point, {}).position - Vec3{0, 1000, 0}), 0, 1e-9);
    EXPECT_NEAR(length(Vec3{point.colour.r, point.colour.g, point.colour.b} - Vec3{0.7, 0.686, 0.665}), 0,
                1e-12);
    EXPECT_EQ(point.glow, 250);

    scene.frame.lights.clear();
    scene.frame.sun.values[2] = 2;   // intensity
    scene.frame.sun.values[3] = 16;  // soft-shadow samples
    scene.frame.sun.count = 4;
    scene.frame.options.sunGlow = 3;
    buildSunLight(scene.frame);
    const Light& area = *scene.frame.lights[0];
    EXPECT_EQ(area.kind, LightKind::AreaSun);
    EXPECT_EQ(area.attributes, 7);
    EXPECT_NEAR(area.radius, 16 * 0.03225806451612903 * 1000 * 0.1, 1e-12);
    EXPECT_EQ(area.softShadowSamples, 16);
    EXPECT_EQ(area.glow, 3);
    EXPECT_NEAR(area.colour.g, 0.98 * 2, 1e-12);
    scene.frame.lights.clear();
    scene.frame.sun.values[3] = 40;
    buildSunLight(scene.frame);
    EXPECT_EQ(scene.frame.lights[0]->radius, 250);

    scene.frame.lights.clear();
    scene.frame.options.parallelSunRays = true;
    scene.frame.options.sunLightRotation = {0, 0, 90};  // overhead turns to -x
    buildSunLight(scene.frame);
    EXPECT_EQ(scene.frame.lights[0]->kind, LightKind::DirectionalSun);
    EXPECT_EQ(scene.frame.lights[0]->photonFlags, 0);
    scene.frame.options.photons.requested = true;  // a Photons statement marks every light, the sun included
    buildSunLight(scene.frame);
    EXPECT_EQ(scene.frame.lights[0]->photonFlags, 1);
    EXPECT_EQ(scene.frame.lights[1]->photonShare, 0.5);
    scene.frame.lights.pop_back();
    EXPECT_NEAR(length(at(*scene.frame.lights[0], {}).position - Vec3{-1000000, 0, 0}), 0, 1e-3);
}

TEST(Light, GlowAlongARay) {
    ShadingScene s;
    Light& light = s.addPointLight({0, 1, 0}, {1, 1, 1});
    light.glow = 2;
    // A ray passing at distance 1 below the light: d^2 = 1, k = 1 / (sqrt 2 + 1); h = -5 at the origin.
    const Ray ray{{-5, 0, 0}, {1, 0, 0}};
    const double k = 1 / (std::sqrt(2.0) + 1), a0 = std::atan(-5 * k);
    Color missed;
    applyLightGlow(s.ctx, ray, 0, true, missed);
    EXPECT_NEAR(missed.r, 2 * k * (M_PI / 2 - a0), 1e-12);
    Color segment;
    applyLightGlow(s.ctx, ray, 10, false, segment);
    EXPECT_NEAR(segment.g, k * (std::atan(k * 5) - a0) * 2, 1e-12);
    EXPECT_LT(segment.g, missed.g);
}

}  // namespace
}  // namespace quorva
