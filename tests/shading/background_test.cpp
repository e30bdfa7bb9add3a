// The background of missed rays: colour, expression, sky tint, intensity and alpha.
#include "shading/background.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diagnostics/diagnostics.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_job.h"
#include "scene/builtins.h"
#include "scene/scene_state.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

struct BackgroundFixture {
    SceneState scene;
    RenderContext ctx{&scene.frame};
    Ray ray{{0, 0, 0}, {0, 0, 1}};
};

TEST(Background, ConstantColourWithSkyTintAndIntensity) {
    BackgroundFixture f;
    f.scene.frame.background.colour = {0.5, 0.25, 1};
    f.scene.frame.background.intensity = 2;
    Color c;
    double alpha = -1;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{1, 0.5, 2}));
    EXPECT_EQ(alpha, 0);
    backgroundColour(f.ctx, 3, f.ray, c, alpha);
    EXPECT_EQ(alpha, 1);

    // The tint needs both the sky light and its switch.
    f.scene.frame.background.skyTint = true;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{1, 0.5, 2}));
    f.scene.frame.background.skyLightOn = true;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_NEAR(c.r, 1.0, 1e-12);
    EXPECT_NEAR(c.g, 0.5 * 0.98, 1e-12);
    EXPECT_NEAR(c.b, 2 * 0.95, 1e-12);
}

TEST(Background, ExpressionMustGiveAColour) {
    BackgroundFixture f;
    f.scene.frame.background.expression = makeVectorRequest({0.1, 0.2, 0.3});
    f.scene.frame.background.intensity = 0.5;
    Color c;
    double alpha = 0;
    backgroundColour(f.ctx, 1, f.ray, c, alpha);
    EXPECT_NEAR(c.g, 0.1, 1e-12);

    f.scene.frame.background.expression = makeFloatRequest(0.5);
    try {
        backgroundColour(f.ctx, 0, f.ray, c, alpha);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve background expression");
    }
    f.scene.frame.background.skyLightOn = true;
    try {
        backgroundColour(f.ctx, 0, f.ray, c, alpha);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve skylight expression");
    }
}

TEST(Background, ExpressionSeesThePixelAsSurfaceCoordinates) {
    BackgroundFixture f;
    f.scene.frame.camera.width = 4;
    f.scene.frame.camera.height = 3;
    f.scene.frame.background.expression = makeVectorExpression(
        makeCallRequest(static_cast<int>(BuiltinId::U), {}),
        makeCallRequest(static_cast<int>(BuiltinId::VCoordinate), {}), makeFloatRequest(0.5));
    Color c;
    double alpha = 0;
    // Top-left pixel: u = 0, v = (height - 1) / height.
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{0, 2.0 / 3, 0.5}));
    // Samples on the right and bottom edges of the last pixel stay inside: u < 1, v >= 0.
    f.ctx.currentColumn = 4;
    f.ctx.currentRow = 3;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{0.75, 0, 0.5}));
    f.ctx.currentColumn = 3;
    f.ctx.currentRow = 1;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{0.75, 1.0 / 3, 0.5}));
}

TEST(Background, PreviewRowsReachTheSpareColumnAndClampBrightSkies) {
    SceneState scene;
    SBuffer buffer;
    buffer.width = 4;
    buffer.height = 3;
    buffer.rows.assign(4, std::vector<std::uint8_t>(5 * 4, 77));
    // (u, 2 v, 0.5) with intensity 2: the red channel is 2 u, the green 4 v (clamped), blue 1.
    scene.frame.background.expression = makeVectorExpression(
        makeCallRequest(static_cast<int>(BuiltinId::U), {}),
        makeOperatorRequest(RequestKind::Multiply, makeFloatRequest(2),
                            makeCallRequest(static_cast<int>(BuiltinId::VCoordinate), {})),
        makeFloatRequest(0.5));
    scene.frame.background.intensity = 2;
    fillBackgroundRow(scene.frame, false, 2, 4, 3, buffer);
    const std::uint8_t* last = buffer.row(2) + 4 * 4;  // u = 4 / 5, v = 1 / 3
    EXPECT_EQ(last[0], static_cast<int>(2 * 0.8 * 255 + 1e-9 > 255 ? 255 : 2 * 0.8 * 255));
    EXPECT_EQ(last[1], 255);  // 4/3 clamped, not wrapped in the byte
    EXPECT_EQ(last[2], 255);
    EXPECT_EQ(last[3], 0);
    EXPECT_EQ(buffer.row(2)[0], 0);  // u = 0

    fillBackgroundRow(scene.frame, true, 1, 4, 3, buffer);  // -h 1: black
    for (int i = 0; i < 20; ++i) EXPECT_EQ(buffer.row(1)[i], 0);

    // With the view, the expression sees each pixel's primary ray: the direction (as a colour) through
    // the top left corner points up and left, the one through the bottom right down and right.
    Camera& camera = scene.frame.camera;
    camera.width = 4;
    camera.height = 3;
    const ViewFrame view = prepareView(camera);
    scene.frame.background.intensity = 1;
    scene.frame.background.expression = makeCallRequest(static_cast<int>(BuiltinId::Incident), {});
    fillBackgroundRow(scene.frame, false, 0, 4, 3, buffer, &view);
    for (int i = 0; i < 5; ++i) {
        const Vec3 d = primaryRay(camera, view, i, 0, scene.frame.options.shadowBias).direction;
        EXPECT_EQ(buffer.row(0)[4 * i + 1], static_cast<int>(std::clamp(d.y, 0.0, 1.0) * 255)) << i;
        EXPECT_EQ(buffer.row(0)[4 * i + 2], static_cast<int>(std::clamp(d.z, 0.0, 1.0) * 255)) << i;
    }
    EXPECT_GT(buffer.row(0)[1], 0);  // looking up at the top row

    scene.frame.background.expression = makeFloatRequest(1);
    try {
        fillBackgroundRow(scene.frame, false, 0, 4, 3, buffer);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve Background expression");
    }
}

}  // namespace
}  // namespace quorva
