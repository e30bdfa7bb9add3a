// The background of missed rays: colour, expression, sky tint, intensity and alpha.
#include "shading/background.h"

#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"
#include "render/render_context.h"
#include "scene/builtins.h"
#include "scene/scene_state.h"

namespace quorva {
namespace {

struct BackgroundFixture {
    SceneState scene;
    RenderContext ctx{&scene};
    Ray ray{{0, 0, 0}, {0, 0, 1}};
};

TEST(Background, ConstantColourWithSkyTintAndIntensity) {
    BackgroundFixture f;
    f.scene.background.colour = {0.5, 0.25, 1};
    f.scene.background.intensity = 2;
    Color c;
    double alpha = -1;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{1, 0.5, 2}));
    EXPECT_EQ(alpha, 0);
    backgroundColour(f.ctx, 3, f.ray, c, alpha);
    EXPECT_EQ(alpha, 1);

    // The tint needs both the sky light and its switch.
    f.scene.background.skyTint = true;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_EQ(c, (Color{1, 0.5, 2}));
    f.scene.background.skyLightOn = true;
    backgroundColour(f.ctx, 0, f.ray, c, alpha);
    EXPECT_NEAR(c.r, 1.0, 1e-12);
    EXPECT_NEAR(c.g, 0.5 * 0.98, 1e-12);
    EXPECT_NEAR(c.b, 2 * 0.95, 1e-12);
}

TEST(Background, ExpressionMustGiveAColour) {
    BackgroundFixture f;
    f.scene.background.expression = makeVectorRequest({0.1, 0.2, 0.3});
    f.scene.background.intensity = 0.5;
    Color c;
    double alpha = 0;
    backgroundColour(f.ctx, 1, f.ray, c, alpha);
    EXPECT_NEAR(c.g, 0.1, 1e-12);

    f.scene.background.expression = makeFloatRequest(0.5);
    try {
        backgroundColour(f.ctx, 0, f.ray, c, alpha);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve background expression");
    }
    f.scene.background.skyLightOn = true;
    try {
        backgroundColour(f.ctx, 0, f.ray, c, alpha);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve skylight expression");
    }
}

TEST(Background, ExpressionSeesThePixelAsSurfaceCoordinates) {
    BackgroundFixture f;
    f.scene.camera.width = 4;
    f.scene.camera.height = 3;
    f.scene.background.expression = makeVectorExpression(
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

}  // namespace
}  // namespace quorva
