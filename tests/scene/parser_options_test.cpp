// Parser: the Options and Camera items with their clamps and messages, and the scene-wide settings
// (Background, Fog, GroundFog, SunLight).
#include <gtest/gtest.h>

#include <cmath>

#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

Options optionsOf(const std::string& items) {
    SceneState scene;
    parseOk(scene, "Options [ " + items + " ]");
    return scene.frame.options;
}

Camera cameraOf(SceneState& scene, const std::string& items) {
    parseOk(scene, "Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) " + items + " ]");
    return std::move(scene.frame.camera);
}

TEST(ParserOptions, RangeChecksAreFatalWithTheirMessages) {
    EXPECT_EQ(parseFailure("Options [ MaxRayLevel 0 ]"), "MaxRayLevel must be between 1 and 16");
    EXPECT_EQ(parseFailure("Options [ MaxRayLevel 17 ]"), "MaxRayLevel must be between 1 and 16");
    EXPECT_EQ(optionsOf("MaxRayLevel 16").maxRayLevel, 16);
    // MaxBlurLevel is checked against the MaxRayLevel set so far.
    EXPECT_EQ(parseFailure("Options [ MaxRayLevel 3 MaxBlurLevel 4 ]"),
              "MaxBlurLevel must be between 1 and MaxRayLevel");
    EXPECT_EQ(optionsOf("MaxRayLevel 8 MaxBlurLevel 8").maxBlurLevel, 8);
    EXPECT_EQ(parseFailure("Options [ BitsPerPixel 16 ]"), "BitsPerPixel should be 24 or 32, not 16");
    EXPECT_EQ(optionsOf("BitsPerPixel 32").bitsPerPixel, 32);
    EXPECT_EQ(parseFailure("Options [ GammaCorrection (0, 2.2) ]"),
              "GammaCorrection value must be greater than 0");
    EXPECT_EQ(parseFailure("Options [ OutputTo \"out.tga\" ]"), "No file extension with 'OutputTo'");
    EXPECT_EQ(parseFailure("Options [ SavePhotonMap \"a.b\" ]"), "No file extension with SavePhotonMap");
    EXPECT_EQ(parseFailure("Options [ SaveIrradianceCache \"a.b\" ]"),
              "No file extension with SaveIrradianceCache");
    EXPECT_EQ(parseFailure("Options [ MaxRayLevel (1, 2, 3) ]"), "Bad float expression");
}

TEST(ParserOptions, ClampedValues) {
    EXPECT_EQ(optionsOf("AdaptiveDepth 3").adaptiveDepth, 12);
    EXPECT_EQ(optionsOf("AdaptiveDepth 5").adaptiveDepth, 4);  // 20 is outside 4..16
    EXPECT_EQ(optionsOf("AdaptiveDepth 1").adaptiveDepth, 4);
    EXPECT_EQ(optionsOf("AdaptiveDepth 1e12").adaptiveDepth, 4);
    EXPECT_EQ(optionsOf("IrradianceBlendingArea 0.05").irradiance.blendingArea, 1);
    EXPECT_EQ(optionsOf("IrradianceBlendingArea 5").irradiance.blendingArea, 19);
    EXPECT_EQ(optionsOf("IrradianceBlendingArea 0.87").irradiance.blendingArea, 8);
    EXPECT_EQ(optionsOf("IrradianceSamples 2").irradiance.samples, 5);
    EXPECT_EQ(optionsOf("IrradianceDistribution 0").irradiance.distribution, 6);
    EXPECT_EQ(optionsOf("IrradianceDistribution 3").irradiance.distribution, 3);
    EXPECT_EQ(optionsOf("IrradianceBounceLevel 8").irradiance.bounceLevel, 1);
    EXPECT_EQ(optionsOf("IrradianceMaxDistance -3").irradiance.maxDistance, 0);
    Options photons = optionsOf("IrradiancePhotons (10, 5)");
    EXPECT_EQ(photons.irradiance.photons[0], 1000);
    EXPECT_EQ(photons.irradiance.photons[1], 5);
}

TEST(ParserOptions, IrradiancePhotonsGatherAtLeastThePhotonsCount) {
    SceneState scene;
    parseOk(scene, "Photons (50, 2, 3)\nOptions [ IrradiancePhotons (5000, 20) ]");
    EXPECT_EQ(scene.frame.options.irradiance.photons[0], 5000);
    EXPECT_EQ(scene.frame.options.irradiance.photons[1], 50);
}

TEST(ParserOptions, ZChannelDepthWarnsAndResets) {
    ConsoleCapture console;
    EXPECT_EQ(optionsOf("ZChannelDepth 12").zChannelDepth, 0);
    EXPECT_NE(console.text().find("Bad value specified with ZChannelDepth. Must be 8, 16, 24, 32 or 64"),
              std::string::npos);
    EXPECT_EQ(optionsOf("ZChannelDepth 64").zChannelDepth, 64);
}

TEST(ParserOptions, GammaCorrection) {
    Options near = optionsOf("GammaCorrection (2.25, 0)");
    EXPECT_FALSE(near.gammaOn);
    EXPECT_EQ(near.gammaFactor, 1.0);
    Options on = optionsOf("GammaCorrection (1.1, 0)");
    EXPECT_TRUE(on.gammaOn);
    EXPECT_DOUBLE_EQ(on.gammaFactor, 0.5);
    // A positive second value replaces the display gamma first.
    Options display = optionsOf("GammaCorrection (1.8, 1.8)");
    EXPECT_EQ(display.displayGamma, 1.8);
    EXPECT_FALSE(display.gammaOn);
}

TEST(ParserOptions, CacheFileNames) {
    SceneState scene;
    scene.output.photonMapFile = "scene.qpm";
    scene.output.irradianceCacheFile = "scene.qic";
    parseOk(scene, "Options [ SavePhotonMap SaveIrradianceCache \"cache\" LoadIrradianceCache \"old\" ]");
    EXPECT_TRUE(scene.frame.options.photons.saveRequested);
    EXPECT_EQ(scene.frame.options.photons.savePath, "scene.qpm");
    EXPECT_EQ(scene.frame.options.irradiance.savePath, "cache.qic");
    EXPECT_EQ(scene.frame.options.irradiance.loadPath, "old.qic");
    // A photon map is only loaded when its file exists.
    parseOk(scene, "Options [ LoadPhotonMap \"surely_missing_file\" ]");
    EXPECT_FALSE(scene.frame.options.photons.loadRequested);
}

TEST(ParserOptions, EnableAllLightsIrradianceOnlyWarns) {
    ConsoleCapture console;
    optionsOf("EnableAllLightsIrradiance");
    EXPECT_NE(console.text().find("Directive EnableAllLightsIrradiance useless since version 1.0.3"),
              std::string::npos);
}

TEST(ParserCamera, AntialiasingAndUndersampling) {
    SceneState scene;
    cameraOf(scene, "Antialiasing 0");
    EXPECT_EQ(scene.frame.options.antialiasing, 0);
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) Antialiasing -1 ]"),
              "Antialiasing value must be greater than zero");
    cameraOf(scene, "Undersampling 4");
    EXPECT_TRUE(scene.frame.options.undersampling);
    EXPECT_EQ(scene.frame.options.antialiasing, 4);
    cameraOf(scene, "Antialiasing 3");  // switches undersampling off again
    EXPECT_FALSE(scene.frame.options.undersampling);
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) Undersampling 11 ]"),
              "Incorrect undersampling quality level");
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) Undersampling 0 ]"),
              "Incorrect undersampling quality level");
}

TEST(ParserCamera, ItemsAndChecks) {
    SceneState scene;
    Camera c = cameraOf(scene,
                        "FieldOfView 60 LensModel 3 Format (640, 480) Clipping (0.5, 100) "
                        "DepthOfField (0.2, 8, 12) PixelFilter (9, 0.5, 2) Exposure (1.5, 2)");
    EXPECT_EQ(c.location, Vec3(0, 0, -5));
    EXPECT_EQ(c.fieldOfView, 60);
    EXPECT_DOUBLE_EQ(c.halfAngle, 30 * 0.017453292519943295);
    EXPECT_EQ(c.lensModel, 242);
    EXPECT_EQ(c.width, 640);
    EXPECT_EQ(c.height, 480);
    EXPECT_EQ(c.nearClip, 0.5);
    EXPECT_EQ(c.farClip, 100);
    EXPECT_EQ(c.aperture, 0.2);
    EXPECT_EQ(c.focalDistance, 8);
    EXPECT_EQ(c.depthOfFieldSamples, 12);
    EXPECT_EQ(c.pixelFilterType, -1);
    EXPECT_EQ(c.pixelFilterWidthX, 3);
    EXPECT_EQ(c.pixelFilterWidthY, 2);
    EXPECT_EQ(c.exposureScale, 1.5);
    // A focal distance that is not positive keeps the default.
    SceneState fresh;
    EXPECT_EQ(cameraOf(fresh, "DepthOfField (0.2, 0, 4)").focalDistance, -1);
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) LensModel 7 ]"),
              "Incorrect camera lens model");
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) DepthOfField (1, 1, 0) ]"),
              "DepthOfField samples must be greater than 1");
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) Format (0, 240) ]"),
              "Image format must be at least 1 x 1 pixels, not 0 x 240");
    EXPECT_EQ(parseFailure("Camera [ 1, (0,0,0), (0,1,0) FieldOfView 40 ]"),
              "Bad point/vector/color expression");
}

TEST(ParserCamera, TransformationItemsComposeInOrder) {
    SceneState scene;
    Camera c = cameraOf(scene, "Translate (1, 0, 0) Rotate (0, 0, 90)");
    ASSERT_TRUE(c.cameraTransform);
    // (0,0,0) -> (1,0,0) -> rotated about z by 90 degrees -> (0,1,0).
    Vec3 p = transformPoint(c.cameraTransform->forward, {0, 0, 0});
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    // Shear is not a camera item.
    EXPECT_EQ(parseFailure("Camera [ (0,0,-5), (0,0,0), (0,1,0) Shear (0,0,0,0,0,0) ]"), "parse error");
}

TEST(ParserSettings, QuotedColourAndParenthesisedVectorAreTheSame) {
    SceneState a, b;
    parseOk(a, "Background '0.25, 0.5, 1'");
    parseOk(b, "Background (0.25, 0.5, 1)");
    EXPECT_EQ(a.frame.background.colour, Color(0.25, 0.5, 1));
    EXPECT_EQ(b.frame.background.colour, a.frame.background.colour);
    EXPECT_FALSE(a.frame.background.expression);
    // A background that varies is kept as its expression.
    SceneState c;
    parseOk(c, "Background (u, v, 0)");
    EXPECT_TRUE(c.frame.background.expression);
}

TEST(ParserSettings, LiteralVectorsReadTheSameInEveryPosition) {
    // A group of literal numbers is kept without a node until an operator or a declaration needs one.
    for (const char* form : {"(0.25, 0.5, 1)", "((0.25, 0.5, 1))", "(0.5, 1, 2) / 2", "-(-0.25, -0.5, -1)",
                             "(0.25, 0.5, 1, 9)", "'0.25, 0.5, 1'", "(0.25, 0.5, 1) + (0, 0, 0)",
                             "(0, 0, 0) + ((0.25, 0.5, 1))", "((0.5, 1, 2) / 2)"}) {
        SceneState scene;
        parseOk(scene, std::string("Declare d = ") + form + " Background d Background " + form);
        EXPECT_EQ(scene.frame.background.colour, Color(0.25, 0.5, 1)) << form;
    }
    EXPECT_EQ(parseFailure("Fog ((1, 2, 3), 0.5, '1, 1, 1')"), "Bad float expression");
}

TEST(ParserSettings, FogChecks) {
    SceneState scene;
    parseOk(scene, "Fog (10, 0.05, '1, 1, 1')");
    EXPECT_EQ(scene.frame.fog.start, 10);
    EXPECT_EQ(scene.frame.fog.density, 0.05);
    EXPECT_EQ(parseFailure("Fog (10, 1.5, '1, 1, 1')"), "Bad Fog value");
    EXPECT_EQ(parseFailure("GroundFog (0, 1, '1, 1, 1')"), "Bad GroundFog value");
    EXPECT_EQ(parseFailure("GroundFog (1, -1, '1, 1, 1')"), "Bad GroundFog value");
    parseOk(scene, "GroundFog (2, 3, '0.5, 0.5, 0.5')");
    EXPECT_EQ(scene.frame.fog.heightScale, 2);
    EXPECT_EQ(scene.frame.fog.distanceScale, 3);
}

TEST(ParserSettings, SunLightKeepsItsValues) {
    SceneState scene;
    parseOk(scene, "SunLight (45 : 30, 2, 16, '1, 0.9, 0.8')");
    EXPECT_TRUE(scene.frame.sun.given);
    EXPECT_EQ(scene.frame.sun.count, 4);
    EXPECT_EQ(scene.frame.sun.values[1], 30);
    EXPECT_TRUE(scene.frame.sun.hasVector);
    EXPECT_EQ(parseFailure("SunLight (45, 30)"), "parse error");
}

}  // namespace
}  // namespace quorva
