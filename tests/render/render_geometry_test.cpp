// Rendering tiny scenes: silhouettes and depths against the analytic projection, clipping per ray level,
// and what traceRay records for the shaders. Alpha and depth only; colours belong to the shading tests.
#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "render/render_rows.h"
#include "render_fixture.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

using testing::RenderFixture;

// Distance along a unit ray to the nearer intersection with a sphere, or -1.
double sphereHit(const Ray& ray, const Vec3& centre, double radius) {
    Vec3 oc = ray.origin - centre;
    double b = dot(oc, ray.direction);
    double disc = b * b - (dot(oc, oc) - radius * radius);
    if (disc < 0) return -1;
    double t = -b - std::sqrt(disc);
    return t > 0 ? t : -1;
}

// A 40 x 30 pinhole camera at (0, 0, -5) looking at the origin with tan(half angle) = 0.25.
RenderFixture& setUpPinhole(RenderFixture& f) {
    f.scene.frame.camera.location = {0, 0, -5};
    f.scene.frame.camera.halfAngle = std::atan(0.25);
    f.scene.frame.camera.frameAspectRatio = 4.0 / 3.0;
    return f;
}

TEST(RenderGeometry, SphereSilhouetteAndDepthFollowThePerspectiveProjection) {
    RenderFixture f(40, 30);
    setUpPinhole(f);
    const Vec3 centre{0.3, -0.2, 0};
    const double radius = 0.8;
    f.scene.frame.world.push(makeSphere(centre, radius));
    ConsoleCapture console;
    renderRows(f.job, 0, 30);

    int inside = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            // The pinhole model on its own: the image plane one unit ahead spans
            // [-tanHalf * aspect, tanHalf * aspect] x [-tanHalf, tanHalf], row 0 at the top.
            double u = 2.0 * x / 40 - 1, v = 2.0 * y / 30 - 1;
            Ray ray{{0, 0, -5}, normalized({u * 0.25 * 4 / 3, -v * 0.25, 1})};
            Vec3 oc = ray.origin - centre;
            double b = dot(oc, ray.direction);
            double miss = (dot(oc, oc) - b * b) - radius * radius;  // squared distance margin
            if (std::fabs(miss) < 1e-6) continue;                   // grazing: either answer is right
            bool hit = miss < 0;
            inside += hit;
            EXPECT_EQ(f.pixel(x, y)[3], hit ? 255 : 0) << "pixel " << x << "," << y;
            if (hit) {
                EXPECT_NEAR(f.depth(x, y), sphereHit(ray, centre, radius), 1e-7) << x << "," << y;
            } else {
                EXPECT_EQ(f.depth(x, y), 1000000.0);
            }
        }
    }
    EXPECT_GT(inside, 100);
}

TEST(RenderGeometry, DepthIsMeasuredFromTheCameraLocationNotTheRayOrigin) {
    // Orthographic rays start beside the camera; their depth still counts from the camera location.
    RenderFixture f(20, 10);
    f.scene.frame.camera.location = {0, 0, -1};
    f.scene.frame.camera.lensModel = LensOrthographic;
    f.scene.frame.camera.fieldOfView = 2;
    f.scene.frame.camera.frameAspectRatio = 2;
    f.scene.frame.world.push(makeBox({-10, -10, 2}, {10, 10, 3}));
    ConsoleCapture console;
    renderRows(f.job, 0, 10);
    for (int y = 0; y < 10; y += 3) {
        for (int x = 0; x < 20; x += 3) {
            double u = 2.0 * x / 20 - 1, v = 2.0 * y / 10 - 1;
            Vec3 hitPoint{u * 2, -v * 1, 2};
            EXPECT_NEAR(f.depth(x, y), length(hitPoint - Vec3{0, 0, -1}), 1e-9) << x << "," << y;
            EXPECT_EQ(f.pixel(x, y)[3], 255);
        }
    }
}

TEST(RenderGeometry, DepthOfFieldBlursEdgesOutOfFocus) {
    RenderFixture f(40, 30);
    setUpPinhole(f);
    f.scene.frame.world.push(makeSphere({0, 0, 0}, 1));
    f.scene.frame.camera.aperture = 0.3;
    f.scene.frame.camera.focalDistance = 2;  // well in front of the sphere
    f.scene.frame.options.depthOfFieldSamples = 16;
    ConsoleCapture console;
    renderRows(f.job, 0, 30);
    EXPECT_EQ(f.pixel(20, 15)[3], 255);
    EXPECT_EQ(f.pixel(0, 0)[3], 0);
    // The silhouette crosses row 15 near column 20 + 20 * (1 / sqrt(24)) / (0.25 * 4 / 3).
    int partial = 0;
    for (int x = 20; x < 40; ++x) partial += f.pixel(x, 15)[3] > 0 && f.pixel(x, 15)[3] < 255;
    EXPECT_GE(partial, 2);
}

TEST(RenderGeometry, ClippingAppliesToPrimaryRaysOnly) {
    RenderFixture f;
    setUpPinhole(f);
    f.scene.frame.world.push(makeSphere({0, 0, 0}, 1));
    prepareRenderContext(f.ctx, f.scene.frame);
    const Ray ray{{0, 0, -5}, {0, 0, 1}};
    Color c;
    double alpha = 0;

    f.scene.frame.camera.nearClip = 4.5;  // the front at 4 is clipped, the back at 6 is seen
    EXPECT_NEAR(traceRay(f.ctx, 0, ray, c, alpha, nullptr), 6, 1e-9);
    EXPECT_EQ(alpha, 1);
    // Other levels search from ShadowBias to 1000000.
    EXPECT_NEAR(traceRay(f.ctx, 1, ray, c, alpha, nullptr), 4, 1e-9);

    f.scene.frame.camera.nearClip = 0.001;
    f.scene.frame.camera.farClip = 3.5;
    EXPECT_EQ(traceRay(f.ctx, 0, ray, c, alpha, nullptr), 1000000.0);
    EXPECT_EQ(alpha, 0);
    EXPECT_NEAR(traceRay(f.ctx, 1, ray, c, alpha, nullptr), 4, 1e-9);

    // A ray starting on a surface does not see it again within ShadowBias.
    f.ctx.settings.shadowBias = 0.01;
    EXPECT_NEAR(traceRay(f.ctx, 1, Ray{{0, 0, -1.005}, {0, 0, 1}}, c, alpha, nullptr), 6, 1e-9);
}

TEST(RenderGeometry, MaxRayLevelTurnsDeeperRaysIntoBackground) {
    RenderFixture f;
    f.scene.frame.camera.location = {0, 0, -5};
    f.scene.frame.world.push(makeSphere({0, 0, 0}, 1));
    f.scene.frame.background.colour = {0.1, 0.2, 0.3};
    f.scene.frame.options.maxRayLevel = 1;
    prepareRenderContext(f.ctx, f.scene.frame);
    const Ray ray{{0, 0, -5}, {0, 0, 1}};
    Color c;
    double alpha = 0;
    std::uint32_t counter = 0;
    EXPECT_NEAR(traceRay(f.ctx, 0, ray, c, alpha, &counter), 4, 1e-9);
    EXPECT_EQ(counter, 1u);
    EXPECT_EQ(traceRay(f.ctx, 1, ray, c, alpha, &counter), 1000000.0);
    EXPECT_EQ(c, (Color{0.1, 0.2, 0.3}));
    EXPECT_EQ(alpha, 1);
    EXPECT_EQ(counter, 1u);
}

TEST(RenderGeometry, HitsRecordTheLevelRayAndTheEyeDistanceForTheShaders) {
    RenderFixture f;
    f.scene.frame.camera.location = {0, 0, -5};
    f.scene.frame.world.push(makeSphere({0, 0, 0}, 1));
    const Shape* sphere = f.scene.frame.world.mainList.back();
    prepareRenderContext(f.ctx, f.scene.frame);
    // A second-level ray from beside the camera: 2 units to the sphere, 4 from the eye.
    const Ray ray{{0, 0, -3}, {0, 0, 1}};
    Color c;
    double alpha = 0;
    EXPECT_NEAR(traceRay(f.ctx, 1, ray, c, alpha, nullptr), 4, 1e-9);
    EXPECT_TRUE(f.ctx.levels[1].valid);
    EXPECT_EQ(f.ctx.levels[1].ray.origin, ray.origin);
    EXPECT_FALSE(f.ctx.levels[0].valid);
    EXPECT_NEAR(f.ctx.hitDistance(sphere), 4, 1e-9);

    // Fog covers the segment the ray crossed (2 units), not the distance from the eye.
    const Color clear = c;
    f.scene.frame.fog.density = 0.5;
    f.scene.frame.fog.colour = {0, 0, 0};
    traceRay(f.ctx, 1, ray, c, alpha, nullptr);
    EXPECT_NEAR(c.r, 0.25 * clear.r, 1e-9);
    EXPECT_NEAR(c.b, 0.25 * clear.b, 1e-9);
}

}  // namespace
}  // namespace quorva
