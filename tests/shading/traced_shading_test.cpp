// Shading through traced rays in small scenes: Lambert radiance, shadows and their cache, soft-shadow
// sampling, coloured shadows through stacked panes, transmission over distance and dispersion.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/shapes.h"
#include "shading/light_visibility.h"
#include "shading/optics.h"
#include "shading_test_support.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

using testing::num;
using testing::vec;

struct TracedScene : ::testing::Test {
    SceneState scene;
    RenderContext ctx{&scene.frame};

    TracedScene() {
        ctx.settings.featureMask = 127;
        scene.frame.camera.location = {0, 0, -10};
    }

    Shape& add(std::unique_ptr<Shape> shape, const SurfaceDescription& d) {
        shape->shader = makeSurfaceShader(d);
        return *scene.frame.world.push(std::move(shape));
    }
    Light& light(const Vec3& position) {
        LightItems items;
        addLight(scene.frame, makePointLight(position, items));
        return *scene.frame.lights.back();
    }
    Color trace(const Vec3& from, const Vec3& to) {
        Color c;
        double alpha = 0;
        traceRay(ctx, 0, Ray{from, normalized(to - from)}, c, alpha, &ctx.stats.primaryRays);
        return c;
    }
};

SurfaceDescription matte(double ka, double kd) {
    SurfaceDescription d;
    d.slots[13] = num(ka);
    d.slots[17] = num(kd);
    return d;
}

SurfaceDescription glass(double kt, const Color& colour, double ior = 1) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    d.slots[17] = num(0);
    d.slots[24] = num(kt);
    d.slots[23] = vec(colour.r, colour.g, colour.b);
    d.slots[29] = num(ior);
    return d;
}

TEST_F(TracedScene, LambertSphereUnderADistantLight) {
    add(makeSphere({0, 0, 0}, 1), matte(0.1, 0.7));
    light({0, 1000000, 0});
    // Points on the sphere seen from the camera side at several angles from the light.
    for (double theta : {0.1, 0.5, 0.9, 1.3}) {
        const Vec3 P{0, std::cos(theta), -std::sin(theta)};
        const Color c = trace(P * 3, P);
        EXPECT_NEAR(c.r, 0.1 + 0.7 * std::cos(theta), 1.0 / 255) << theta;
    }
}

TEST_F(TracedScene, SphereShadowsThePlaneBelowIt) {
    add(makeSphere({0, 2, 0}, 1), matte(0.1, 0.7));
    add(makeBox({-10, -1, -10}, {10, 0, 10}), matte(0.1, 0.7));
    light({0, 10, 0});
    const Vec3 eye{0, 5, -8};
    EXPECT_NEAR(trace(eye, {0, 0, 0}).r, 0.1, 1e-9);      // straight below the sphere
    EXPECT_NEAR(trace(eye, {0.5, 0, 0.5}).r, 0.1, 1e-9);  // still inside the shadow
    EXPECT_GT(trace(eye, {4, 0, 0}).r, 0.1 + 0.7 * 0.9);  // lit, at cos 10/sqrt(116)
    EXPECT_GT(ctx.stats.shadowRays, 0u);
}

TEST_F(TracedScene, ShadowCacheRemembersTheOccluderPerLevel) {
    Shape& ball = add(makeSphere({0, 2, 0}, 1), matte(0.1, 0.7));
    Light& l = light({0, 10, 0});
    Color filter;
    EXPECT_FALSE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 0, 0, filter));
    EXPECT_EQ(ctx.shadowCache[l.index][0], &ball);
    EXPECT_EQ(ctx.stats.shadowCacheHits, 0u);
    EXPECT_FALSE(
        shadowTest(ctx, l, Ray{{0.1, 0, 0}, normalized(Vec3{-0.1, 10, 0})}, 0.001, 10, 0, 0, filter));
    EXPECT_EQ(ctx.stats.shadowCacheHits, 1u);
    EXPECT_EQ(ctx.stats.shadowChecks, 2u);
    // Another level has its own slot; a clear ray empties the slot it used.
    EXPECT_EQ(ctx.shadowCache[l.index][1], nullptr);
    EXPECT_TRUE(shadowTest(ctx, l, Ray{{5, 0, 0}, normalized(Vec3{-5, 10, 0})}, 0.001, 11.2, 0, 0, filter));
    EXPECT_EQ(ctx.shadowCache[l.index][0], nullptr);
}

TEST_F(TracedScene, SoftShadowSamplingStopsEarly) {
    Light& l = light({0, 10, 0});
    scene.frame.options.softShadowSamples = 16;
    Color filter;
    // Nothing in the way: after sample 16 / 3 = 5 every sample agreed, so six were taken.
    EXPECT_TRUE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 1, 0, filter));
    EXPECT_EQ(ctx.stats.shadowChecks, 6u);
    EXPECT_EQ(filter, Color(1, 1, 1));
    // Fully blocked: sampling stops once half of the samples (8) are shadowed.
    add(makeSphere({0, 5, 0}, 3), matte(0.1, 0.7));
    ctx.stats = {};
    EXPECT_FALSE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 1, 0, filter));
    EXPECT_EQ(ctx.stats.shadowChecks, 8u);
    // Values below 4 are raised to 4.
    scene.frame.options.softShadowSamples = 1;
    ctx.stats = {};
    shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 1, 0, filter);
    EXPECT_EQ(ctx.stats.shadowChecks, 2u);  // four samples, agreeing after the second (4 / 3 = 1)
}

TEST_F(TracedScene, ColouredShadowThroughTenSurfacesAtMost) {
    // Five thin panes (ten surfaces) above the point, then an opaque ball: the ball is never reached.
    for (int i = 0; i < 5; ++i) add(makeBox({-2, 1.0 + i, -2}, {2, 1.1 + i, 2}), glass(0.9, {1, 0.5, 1}));
    add(makeSphere({0, 8, 0}, 0.5), matte(0.1, 0.7));
    Light& l = light({0, 10, 0});
    Color filter;
    EXPECT_TRUE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 0, 0, filter));
    EXPECT_NEAR(filter.r, std::pow(0.9, 10), 1e-12);
    EXPECT_NEAR(filter.g, std::pow(0.45, 10), 1e-12);
    // With one pane fewer the ball is reached and blocks the light.
    scene.frame.world.clear();
    for (int i = 0; i < 4; ++i) add(makeBox({-2, 1.0 + i, -2}, {2, 1.1 + i, 2}), glass(0.9, {1, 1, 1}));
    add(makeSphere({0, 8, 0}, 0.5), matte(0.1, 0.7));
    EXPECT_FALSE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 0, 0, filter));
}

TEST_F(TracedScene, AbsorptionInAShadowActsAlongThePathInside) {
    SurfaceDescription d = glass(1, {1, 1, 1});
    d.slots[26] = num(0.5);
    add(makeBox({-2, 2, -2}, {2, 4, 2}), d);  // 2 thick
    Light& l = light({0, 10, 0});
    Color filter;
    EXPECT_TRUE(shadowTest(ctx, l, Ray{{0, 0, 0}, {0, 1, 0}}, 0.001, 10, 0, 0, filter));
    EXPECT_NEAR(filter.g, 1 / (0.5 * 2 + 1), 1e-9);
}

TEST_F(TracedScene, TransmissionColourActsPerUnitOfDistance) {
    SurfaceDescription wall;
    wall.slots[13] = num(1);
    wall.slots[17] = num(0);
    add(makeBox({-10, -10, 5}, {10, 10, 6}), wall);
    Shape& pane = add(makeBox({-2, -2, 0}, {2, 2, 1}), glass(1, {0.5, 0.5, 0.5}));
    const Vec3 eye = scene.frame.camera.location;
    // Entry surface (level 0 floor 0.003), then the exit surface (level 1 floor 0.006) over the wall.
    EXPECT_NEAR(trace(eye, {0, 0, 0}).r, 0.003 + 0.5 * (0.006 + 1), 1e-9);
    EXPECT_EQ(ctx.stats.refractedRays, 2u);   // index 1: straight through both surfaces
    pane.applyTransform(makeScale(1, 1, 2));  // twice as thick
    EXPECT_NEAR(trace(eye, {0, 0, 0}).r, 0.003 + 0.25 * (0.006 + 1), 1e-9);
    // A white transmission colour never darkens.
    pane.shader = makeSurfaceShader(glass(1, {1, 1, 1}));
    EXPECT_NEAR(trace(eye, {0, 0, 0}).r, 0.003 + 0.006 + 1, 1e-9);
}

TEST_F(TracedScene, DispersionWithTwoSamplesUsesTheExtremeRatios) {
    SurfaceDescription d = glass(1, {1, 1, 1}, 1.5);
    d.slots[30] = num(1.2);
    d.slots[31] = num(2);
    add(makeBox({-5, -5, 0}, {5, 5, 1}), d);
    const Vec3 eye{0, 0, -10};
    const Vec3 D = normalized(Vec3{0.3, 0, 1});
    trace(eye, eye + D);
    EXPECT_EQ(ctx.stats.dispersionRays, 2u);
    // The last wavelength traced bends with eta0 * sqrt(rho), eta0 = 1/n and rho = 1/amount.
    Vec3 expected;
    ASSERT_TRUE(refractDirection(D, {0, 0, -1}, (1 / 1.5) * std::sqrt(1 / 1.2), expected));
    ASSERT_TRUE(ctx.levels[1].valid);
    EXPECT_NEAR(length(ctx.levels[1].ray.direction - expected), 0, 1e-12);
}

}  // namespace
}  // namespace quorva
