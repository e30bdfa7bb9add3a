// RenderRows and the plain pixel loop: set-up, pixel stores, depth of field sample counts, keys and
// progress, exposure and gamma.
#include "render/render_rows.h"

#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "render/render_job.h"
#include "render_fixture.h"
#include "support/progress_text.h"
#include "shading/light.h"

namespace quorva {
namespace {

using testing::RenderFixture;
using testing::ScriptedKeys;

TEST(RenderRows, PlainLoopStoresBackgroundWithZeroAlphaAndFarDepth) {
    RenderFixture f(4, 3);
    f.scene.frame.background.colour = {0.2, 0.4, 0.6};
    f.allocateBuffers(0, 3);
    ConsoleCapture console;
    renderRows(f.job, 0, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t* p = f.pixel(x, y);
            EXPECT_EQ(p[0], 51);
            EXPECT_EQ(p[1], 102);
            EXPECT_EQ(p[2], 153);
            EXPECT_EQ(p[3], 0);
            EXPECT_EQ(f.depth(x, y), 1000000.0);
        }
    }
    EXPECT_EQ(f.ctx.stats.primaryRays, 12u);
    EXPECT_EQ(testing::withoutTimes(console.text()),
              "Rendering: 33% (antialiasing disabled)\nRendering: 66% (antialiasing disabled)\n"
              "Rendering: 100% (antialiasing disabled)\n");
    EXPECT_FALSE(f.job.stopRequested);
}

TEST(RenderRows, OnlyTheColumnRangeAndTheGivenRowsAreRendered) {
    RenderFixture f(6, 4);
    f.scene.frame.background.colour = {1, 1, 1};
    f.job.columnStart = 2;
    f.job.columnEnd = 4;
    ConsoleCapture console;
    renderRows(f.job, 1, 3);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            bool inside = y >= 1 && y < 3 && x >= 2 && x < 4;
            EXPECT_EQ(f.pixel(x, y)[0], inside ? 255 : 0) << x << "," << y;
        }
    }
    // Progress counts towards the band's end row.
    EXPECT_NE(console.text().find("Rendering: 66% (antialiasing disabled)"), std::string::npos);
    EXPECT_NE(console.text().find("Rendering: 100% (antialiasing disabled)"), std::string::npos);
}

TEST(RenderRows, SetsUpTheCameraContextAndAntialiasingOncePerBand) {
    RenderFixture f(4, 2);
    f.scene.frame.camera.up = {0, 2, 1};
    f.scene.frame.camera.location = {0, 0, -5};
    f.scene.frame.options.featureMask = 0x8000;
    f.scene.frame.options.shadowBias = 0.01;
    f.scene.frame.options.maxRayLevel = 3;
    f.scene.frame.lights.push_back(nullptr);
    f.scene.frame.lights.push_back(nullptr);
    f.ctx.shadowCache.assign(1, {});
    f.ctx.shadowCache[0][4] = reinterpret_cast<const Shape*>(&f);
    f.scene.frame.options.antialiasing = 13;
    f.scene.frame.options.adaptiveDepth = 4;
    ConsoleCapture console;
    renderRows(f.job, 0, 0);
    EXPECT_EQ(f.scene.frame.camera.up, (Vec3{0, 1, 0}));
    EXPECT_EQ(f.scene.frame.camera.focalDistance, 5);
    EXPECT_EQ(f.job.view.viewDir, (Vec3{0, 0, 1}));
    EXPECT_EQ(f.ctx.settings.featureMask, 127);
    EXPECT_EQ(f.ctx.settings.shadowBias, 0.01);
    EXPECT_EQ(f.ctx.settings.maxRayLevel, 3);
    EXPECT_EQ(f.ctx.eye, (Vec3{0, 0, -5}));
    EXPECT_TRUE(f.ctx.hasEye);
    ASSERT_EQ(f.ctx.shadowCache.size(), 2u);
    EXPECT_EQ(f.ctx.shadowCache[0][4], nullptr);
    // Super-adaptive keeps the grid; plain adaptive halves it. Settling does not compound over bands.
    EXPECT_TRUE(f.job.superAdaptive);
    EXPECT_EQ(f.job.level, 3);
    EXPECT_EQ(f.job.gridSize, 4);
    f.scene.frame.options.antialiasing = 10;
    f.scene.frame.options.adaptiveDepth = 12;
    renderRows(f.job, 0, 0);
    renderRows(f.job, 0, 0);
    EXPECT_FALSE(f.job.superAdaptive);
    EXPECT_EQ(f.job.level, 10);
    EXPECT_EQ(f.job.gridSize, 6);
    f.scene.frame.lights.clear();

    // Outline modes enable fewer features when none were chosen.
    f.scene.frame.options.renderMode = 3;
    prepareRenderContext(f.ctx, f.scene.frame);
    EXPECT_EQ(f.ctx.settings.featureMask, 96);
}

TEST(RenderRows, DepthOfFieldAveragesSRaysInThePlainLoopAndSPlusOneInCameraSamples) {
    RenderFixture f(3, 2);
    f.scene.frame.camera.aperture = 0.1;
    f.scene.frame.options.depthOfFieldSamples = 1;
    ConsoleCapture console;
    renderRows(f.job, 0, 2);
    EXPECT_EQ(f.ctx.stats.primaryRays, 6u);

    f.ctx.stats = {};
    f.scene.frame.options.depthOfFieldSamples = 3;
    renderRows(f.job, 0, 2);
    EXPECT_EQ(f.ctx.stats.primaryRays, 18u);

    f.ctx.stats = {};
    f.scene.frame.options.depthOfFieldSamples = 1;
    Color c;
    double alpha = 0;
    cameraSample(f.job, f.ctx, c, alpha, 1.5, 0.5, nullptr, nullptr);
    EXPECT_EQ(f.ctx.stats.primaryRays, 2u);
}

TEST(RenderRows, CameraSampleClampsAndRecordsTheFirstDepthOnce) {
    RenderFixture f(3, 2);
    f.scene.frame.background.colour = {2, -1, 0.5};
    prepareRenderContext(f.ctx, f.scene.frame);
    Color c;
    double alpha = -1;
    bool record = true;
    double first = 0;
    EXPECT_EQ(cameraSample(f.job, f.ctx, c, alpha, 0.5, 0.5, &record, &first), 1000000.0);
    EXPECT_EQ(c, (Color{1, 0, 0.5}));
    EXPECT_EQ(alpha, 0);
    EXPECT_FALSE(record);
    EXPECT_EQ(first, 1000000.0);
    first = 7;
    cameraSample(f.job, f.ctx, c, alpha, 1.5, 0.5, &record, &first);
    EXPECT_EQ(first, 7);
    EXPECT_EQ(f.ctx.stats.primaryRays, 2u);
}

TEST(RenderRows, AnyKeyEndsTheLoopAfterTheRowAndEscapeStops) {
    {
        RenderFixture f(2, 4);
        f.scene.frame.background.colour = {1, 1, 1};
        ScriptedKeys keys;
        keys.pressAfter(1, 'q');  // found after the second row
        ConsoleCapture console;
        renderRows(f.job, 0, 4);
        EXPECT_EQ(f.pixel(0, 1)[0], 255);
        EXPECT_EQ(f.pixel(0, 2)[0], 0);
        EXPECT_TRUE(f.job.keyPressed);
        EXPECT_FALSE(f.job.stopRequested);
        EXPECT_EQ(testing::withoutTimes(console.text()), "Rendering: 25% (antialiasing disabled)\n");
    }
    {
        RenderFixture f(2, 4);
        ScriptedKeys keys;
        keys.pressAfter(0, 27);
        ConsoleCapture console;
        renderRows(f.job, 0, 4);
        EXPECT_TRUE(f.job.stopRequested);
        EXPECT_EQ(console.text(), "\n\nStopped at row 0 !");
        // A stopped render stays stopped: later bands render nothing and repeat the message.
        console.clear();
        f.scene.frame.background.colour = {1, 1, 1};
        renderRows(f.job, 2, 4);
        EXPECT_EQ(f.pixel(0, 3)[0], 0);
        EXPECT_EQ(console.text(), "\n\nStopped at row 0 !");
    }
}

TEST(RenderRows, ExposureThenGamma) {
    Camera camera;
    Options options;
    Color c{0.5, 2, -0.5};
    applyExposure(camera, options, c);
    EXPECT_EQ(c, (Color{0.5, 2, -0.5}));

    camera.exposureScale = 2;
    camera.exposureExponent = 2;
    options.gammaOn = true;
    options.gammaFactor = 0.5;
    applyExposure(camera, options, c);
    EXPECT_NEAR(c.r, std::pow(1.0, 0.25), 1e-12);
    EXPECT_NEAR(c.g, std::pow(4.0, 0.25), 1e-12);
    // Negative channels have no real power; they stay negative and store as 0.
    EXPECT_LT(c.b, 0);
    EXPECT_FALSE(std::isnan(c.b));

    // Exposure needs both values.
    camera.exposureExponent = 0;
    options.gammaOn = false;
    c = {0.25, 0.25, 0.25};
    applyExposure(camera, options, c);
    EXPECT_EQ(c, (Color{0.25, 0.25, 0.25}));
}

TEST(RenderRows, FinishPixelKeepsTheNearerDepthAndDrawsTheColour) {
    struct Display final : FramebufferDisplay {
        int calls = 0;
        Color last;
        void drawPixel(int, int, const Color& colour) override {
            ++calls;
            last = colour;
        }
    } display;
    RenderFixture f(3, 2);
    f.job.display = &display;
    finishPixel(f.job, 1, 1, {0.5, 1, 0}, 1, 4.0);
    finishPixel(f.job, 1, 1, {0.5, 1, 0}, 1, 9.0);
    EXPECT_EQ(f.depth(1, 1), 4.0);
    EXPECT_EQ(f.pixel(1, 1)[0], 127);
    EXPECT_EQ(f.pixel(1, 1)[3], 255);
    EXPECT_EQ(display.calls, 2);
    EXPECT_EQ(display.last, (Color{0.5, 1, 0}));
}

}  // namespace
}  // namespace quorva
