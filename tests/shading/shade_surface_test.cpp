// ShadeSurface on single hits: ambient floor, Lambert lighting, two-sided and back lighting, specular
// and metal, subtracting lights, and the reflection and refraction decisions with their counters.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/light_kinds.h"
#include "shading_test_support.h"

namespace quorva {
namespace {

using testing::num;
using testing::ShadingScene;
using testing::vec;

struct ShadeFixture : ::testing::Test {
    ShadingScene s;
    void use(const SurfaceDescription& d) { s.shape.shader = makeSurfaceShader(d); }
    // A hit at the origin of the plane y = 0 seen from straight above.
    Color shadeTop(int level = 0) { return s.shadeAt({0, 0, 0}, {0, 1, 0}, {0, -1, 0}, level); }
};

TEST_F(ShadeFixture, BlackSurfaceShowsTheAmbientFloor) {
    SurfaceDescription d;
    d.slots[9] = vec(0, 0, 0);
    use(d);
    EXPECT_EQ(shadeTop(0), Color(0.003, 0.003, 0.003));
    EXPECT_NEAR(shadeTop(2).g, 0.009, 1e-15);
    // One channel at or above the floor keeps the plain ambient.
    d.slots[9] = vec(0, 0, 1);
    d.slots[13] = num(0.01);
    use(d);
    EXPECT_EQ(shadeTop(), Color(0, 0, 0.01));
}

TEST_F(ShadeFixture, LambertUnderADistantPointLight) {
    SurfaceDescription d;
    d.slots[9] = vec(0.9, 0.5, 0.2);
    d.slots[13] = num(0.1);  // Ka scale
    d.slots[17] = num(0.7);  // Kd scale
    use(d);
    const Color light{1, 0.8, 0.6};
    const double theta = 0.6;
    s.addPointLight({1000 * std::sin(theta), 1000 * std::cos(theta), 0}, light);
    const Color c = shadeTop();
    for (int i = 0; i < 3; ++i) {
        const double base = Color(0.9, 0.5, 0.2)[i];
        EXPECT_NEAR(c[i], base * 0.1 + 0.7 * std::cos(theta) * light[i] * base, 1e-12) << i;
    }
}

TEST_F(ShadeFixture, KbShapesTheDiffuseTermAndDecayApplies) {
    SurfaceDescription d;
    d.slots[9] = vec(1, 1, 1);
    d.slots[14] = num(2);  // Kb
    d.slots[13] = num(0);
    use(d);
    Light& light = s.addPointLight({0, 2, 0});
    light.decayType = 1;  // 1/d
    const double h = 0.8 * 0.5;
    EXPECT_NEAR(shadeTop().r, 0.003 + h * h, 1e-12);  // ambient floor plus (Kd K cos)^Kb
}

TEST_F(ShadeFixture, LightAtTheShadedPointShinesAlongX) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    use(d);
    s.addPointLight({0, 0, 0});
    // L = (1, 0, 0) at distance 1: with a normal along x the light is full on.
    const Color c = s.shadeAt({0, 0, 0}, {1, 0, 0}, {-1, 0, 0});
    EXPECT_NEAR(c.r, 0.003 + 0.8, 1e-12);
    // ...and with a normal along y it grazes.
    EXPECT_NEAR(shadeTop().r, 0.003, 1e-12);
}

TEST_F(ShadeFixture, LightsBehindTheSurfaceOrTheViewer) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    use(d);
    s.addPointLight({0, -10, 0});  // below the plane, viewer above
    s.shape.attributes = ShapeAttr::Default & ~ShapeAttr::Shading20;
    EXPECT_NEAR(shadeTop().r, 0.003, 1e-12);
    s.shape.attributes = ShapeAttr::Default;  // two-sided: the normal turns to the light
    EXPECT_NEAR(shadeTop().r, 0.003 + 0.8, 1e-12);
    // Seen from below (against the normal) the light needs the from-behind flag.
    const Color below = s.shadeAt({0, 0, 0}, {0, 1, 0}, {0, 1, 0});
    EXPECT_NEAR(below.r, 0.003, 1e-12);
    s.shape.attributes = ShapeAttr::Default | ShapeAttr::LightFromBehind;
    EXPECT_NEAR(s.shadeAt({0, 0, 0}, {0, 1, 0}, {0, 1, 0}).r, 0.003 + 0.8, 1e-12);
}

TEST_F(ShadeFixture, SpecularHighlightAndMetalTint) {
    SurfaceDescription d;
    d.slots[9] = vec(0.5, 0.5, 0.5);
    d.slots[13] = num(0);
    d.slots[17] = num(0);
    d.slots[19] = num(1);  // Ks scale
    d.brdf = SpecularBrdf::Blinn;
    use(d);
    s.addPointLight({0, 1000, 0});
    // Light, view and normal aligned: the lobe peaks at 1, tinted by the Ks colour.
    EXPECT_NEAR(shadeTop().r, 0.003 + 0.5, 1e-9);
    d.slots[15] = num(1);  // metal: tint t = (1 - m)((Ka - 1) metal) + 1 at theta = 0
    use(d);
    const double f = -1.12, m = 0.014567225 / (f * f) - 0.011612903;
    EXPECT_NEAR(shadeTop().r, 0.003 + (1 - m) * (0.5 - 1) + 1, 1e-9);
    // A light that gives no specular light adds nothing.
    s.scene.frame.lights.back()->attributes = 1;
    EXPECT_NEAR(shadeTop().r, 0.003, 1e-12);
}

TEST_F(ShadeFixture, BlackHoleTakesLightAway) {
    SurfaceDescription d;
    d.slots[13] = num(0.5);
    use(d);
    s.addPointLight({0, 1, 0});
    addLight(s.scene.frame, makeBlackHole({0, 1, 0}, 0.25, nullptr));
    EXPECT_NEAR(shadeTop().r, 0.5 + 0.8 - 0.8 * 0.25, 1e-12);
}

TEST_F(ShadeFixture, IridescenceIsAddedPerLight) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    d.slots[16] = vec(0, 0, 0);  // a black diffuse term still runs the light loop
    d.slots[32] = num(0.5);
    d.slots[33] = num(0.1);
    use(d);
    s.addPointLight({0, 5, 0});
    const double x = 4 * M_PI * 0.1;
    EXPECT_NEAR(shadeTop().g, 0.003 + 0.25 * (1 - 0.5 * std::cos(x / 0.176471)), 1e-12);
}

struct RayCountFixture : ShadeFixture {
    RenderStatistics& stats = s.ctx.stats;
};

TEST_F(RayCountFixture, ReflectionNeedsEnoughWeight) {
    SurfaceDescription d;
    d.slots[21] = num(0.005);
    use(d);
    shadeTop();
    EXPECT_EQ(stats.reflectedRays, 0u);
    d.slots[21] = num(0.5);
    use(d);
    shadeTop();
    EXPECT_EQ(stats.reflectedRays, 1u);
    s.ctx.settings.featureMask &= ~ShapeAttr::Reflects;  // reflection switched off globally
    shadeTop();
    EXPECT_EQ(stats.reflectedRays, 1u);
}

TEST_F(RayCountFixture, BlurredReflectionTakesMaxBlurSamples) {
    SurfaceDescription d;
    d.slots[21] = num(1);
    d.slots[22] = num(0.2);
    use(d);
    s.scene.frame.options.maxBlurSamples = 5;
    shadeTop();
    EXPECT_EQ(stats.reflectedRays, 5u);
    EXPECT_EQ(s.ctx.blurDepth, 0);
    s.ctx.blurDepth = s.scene.frame.options.maxBlurLevel;  // deeper than MaxBlurLevel: one sample
    shadeTop();
    EXPECT_EQ(stats.reflectedRays, 6u);
}

TEST_F(RayCountFixture, IndexOneRefractsStraightThrough) {
    SurfaceDescription d;
    d.slots[24] = num(0.9);
    use(d);
    shadeTop();
    EXPECT_EQ(stats.refractedRays, 1u);
    EXPECT_EQ(stats.internalReflectionRays, 0u);
}

TEST_F(RayCountFixture, TotalInternalReflectionInsideGlass) {
    SurfaceDescription d;
    d.slots[24] = num(0.9);
    d.slots[29] = num(1.5);
    use(d);
    // Inside the glass (medium 1.5) meeting the surface at 60 degrees: beyond the critical angle.
    const Vec3 D = normalized(Vec3{std::tan(M_PI / 3), 1, 0});
    s.shadeAt({0, 0, 0}, {0, 1, 0}, D, 0, 1.5);
    EXPECT_EQ(stats.internalReflectionRays, 1u);
    EXPECT_EQ(stats.refractedRays, 0u);
    // Entering from air at the same angle refracts.
    s.shadeAt({0, 0, 0}, {0, 1, 0}, normalized(Vec3{std::tan(M_PI / 3), -1, 0}));
    EXPECT_EQ(stats.refractedRays, 1u);
}

TEST_F(RayCountFixture, DispersionSplitsOnceAlongAPath) {
    SurfaceDescription d;
    d.slots[24] = num(0.9);
    d.slots[29] = num(1.5);
    d.slots[30] = num(1.05);
    d.slots[31] = num(2);
    use(d);
    shadeTop();
    EXPECT_EQ(stats.dispersionRays, 2u);
    EXPECT_FALSE(s.ctx.dispersing);
    // A path that is already one wavelength of a split ray is bent once more, not split again.
    s.ctx.dispersing = true;
    s.ctx.dispersionIndex = 1;
    s.ctx.dispersionCount = 2;
    shadeTop();
    EXPECT_EQ(stats.dispersionRays, 2u);
    EXPECT_EQ(stats.refractedRays, 1u);
    EXPECT_EQ(s.ctx.dispersionIndex, 1);
}

TEST_F(RayCountFixture, NoShaderGivesTheDefaultSample) {
    s.addPointLight({0, 5, 0});
    EXPECT_NEAR(shadeTop().r, 0.003, 1e-12);  // black default colours
    EXPECT_EQ(stats.reflectedRays + stats.refractedRays, 0u);
}

}  // namespace
}  // namespace quorva
