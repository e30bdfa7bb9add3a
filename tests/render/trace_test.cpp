// TraceRay: ray levels, counters, alpha of missed rays and what happens along the segment.
#include "trace/trace_ray.h"

#include <gtest/gtest.h>

#include "render_fixture.h"
#include "scene/scene_state.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::RenderFixture;

TEST(TraceRay, MissedRaysSeeTheBackgroundWithAlphaByLevel) {
    RenderFixture f;
    f.scene.frame.background.colour = {0.3, 0.6, 0.9};
    const Ray ray{{0, 0, -1}, {0, 0, 1}};
    Color c;
    double alpha = -1;
    std::uint32_t counter = 0;
    EXPECT_EQ(traceRay(f.ctx, 0, ray, c, alpha, &counter), 1000000.0);
    EXPECT_EQ(c, (Color{0.3, 0.6, 0.9}));
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(counter, 1u);
    EXPECT_EQ(traceRay(f.ctx, 2, ray, c, alpha, &counter), 1000000.0);
    EXPECT_EQ(alpha, 1);
    EXPECT_EQ(counter, 2u);
}

TEST(TraceRay, RaysAtTheMaximumLevelAreNotCountedAndSeeTheBackground) {
    RenderFixture f;
    f.ctx.settings.maxRayLevel = 1;
    f.scene.frame.background.colour = {0.5, 0.5, 0.5};
    Color c{9, 9, 9};
    double alpha = 0;
    std::uint32_t counter = 0;
    EXPECT_EQ(traceRay(f.ctx, 1, Ray{{0, 0, 0}, {1, 0, 0}}, c, alpha, &counter), 1000000.0);
    EXPECT_EQ(counter, 0u);
    EXPECT_EQ(c, (Color{0.5, 0.5, 0.5}));
    EXPECT_EQ(alpha, 1);
    // A null counter is allowed.
    traceRay(f.ctx, 0, Ray{{0, 0, 0}, {1, 0, 0}}, c, alpha, nullptr);
}

TEST(TraceRay, FogCoversTheInfiniteSegmentOfAMiss) {
    RenderFixture f;
    f.scene.frame.background.colour = {1, 1, 1};
    f.scene.frame.fog.density = 0.1;
    f.scene.frame.fog.colour = {0.25, 0.5, 0.75};
    Color c;
    double alpha = 0;
    traceRay(f.ctx, 0, Ray{{0, 0, 0}, {0, 0, 1}}, c, alpha, nullptr);
    EXPECT_NEAR(c.r, 0.25, 1e-12);
    EXPECT_NEAR(c.b, 0.75, 1e-12);
}

TEST(TraceRay, DeepIrradianceBouncesSeeACompressedBackgroundWithoutFog) {
    RenderFixture f;
    f.scene.frame.background.colour = {3, 8, 0};
    f.scene.frame.fog.density = 0.1;
    f.ctx.irradianceDepth = 2;
    Color c;
    double alpha = 0;
    traceRay(f.ctx, 1, Ray{{0, 0, 0}, {0, 0, 1}}, c, alpha, nullptr);
    EXPECT_NEAR(c.r, 1, 1e-12);  // (sqrt(3 + 1) - 1)^2
    EXPECT_NEAR(c.g, 4, 1e-12);
    EXPECT_NEAR(c.b, 0, 1e-12);
    // With the sky light the background is used as it is.
    f.scene.frame.background.skyLightOn = true;
    traceRay(f.ctx, 1, Ray{{0, 0, 0}, {0, 0, 1}}, c, alpha, nullptr);
    EXPECT_EQ(c, (Color{3, 8, 0}));
}

}  // namespace
}  // namespace quorva
