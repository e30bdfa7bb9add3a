// Parser: light statements, the items each light accepts, and BlackHole.
#include <gtest/gtest.h>

#include "parser_fixture.h"
#include "shading/light.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

TEST(ParserLights, RangeAndDecayExcludeEachOtherInTheOrderWritten) {
    SceneState scene;
    parseOk(scene,
            "PointLight [ (0, 5, 0) Range 10 Decay 2 ]\n"
            "PointLight [ (0, 5, 0) Decay LINEAR Range -4 ]\n"
            "SpotLight [ (0, 5, 0), (0, 0, 0), 20, 30, 1 Decay QUADRATIC LightingAttributes SPECULAR ]");
    ASSERT_EQ(scene.frame.lights.size(), 3u);
    EXPECT_EQ(scene.frame.lights[0]->decayType, 2);
    EXPECT_EQ(scene.frame.lights[0]->decayDistance, 0);
    EXPECT_EQ(scene.frame.lights[1]->decayType, 0);
    EXPECT_EQ(scene.frame.lights[1]->decayDistance, -4);
    EXPECT_EQ(scene.frame.lights[2]->decayType, 2);
    EXPECT_EQ(scene.frame.lights[2]->attributes, 2);
    EXPECT_EQ(scene.frame.lights[2]->kind, LightKind::Spot);
}

TEST(ParserLights, EachLightAcceptsItsOwnItems) {
    EXPECT_EQ(parseFailure("SpotLight [ (0,5,0), (0,0,0), 20, 30, 1 Glow 2 ]"), "parse error");
    EXPECT_EQ(parseFailure("PointLight [ (0,5,0) Bulb 2 ]"), "parse error");
    EXPECT_EQ(parseFailure("DirectionalLight [ (0,-1,0) Range 3 ]"), "parse error");
    EXPECT_EQ(parseFailure("DirectionalLight [ (0,-1,0) MediaInteraction ]"), "parse error");
    EXPECT_EQ(parseFailure("PointLight [ (0,5,0) Translate (1,0,0) ]"), "parse error");
    EXPECT_EQ(parseFailure("AreaLight [ Plane (1) ]"), "parse error");
    EXPECT_EQ(parseFailure("AreaLight [ Translate (0,4,0) lamp ]"),
              "Can't find Transformation \"lamp\" in symbol table");
    EXPECT_EQ(parseFailure("PointLight [ (0,5,0) Decay 5 ]"), "Bad light Decay type");
    SceneState scene;
    parseOk(scene,
            "AreaLight [ Intensity '1, 1, 1' Plane (2, 3) Rotate (90, 0, 0) Translate (0, 4, 0) Glow 1 ]\n"
            "DirectionalLight [ (0, -1, 0) Intensity '0.5, 0.5, 0.5' LightingAttributes 1 ]\n"
            "if (1 > 2) { PointLight [ (0, 5, 0) ] }");
    ASSERT_EQ(scene.frame.lights.size(), 2u);
    EXPECT_EQ(scene.frame.lights[0]->kind, LightKind::Area);
    EXPECT_EQ(scene.frame.lights[1]->attributes, 1);
}

TEST(ParserLights, BlackHole) {
    SceneState scene;
    parseOk(scene, "BlackHole ((0, 1, 0), 2)\nBlackHole ((0, 1, 0), 2, '0.5, 0.5, 0.5')");
    ASSERT_EQ(scene.frame.lights.size(), 2u);
    EXPECT_EQ(scene.frame.lights[0]->decayType, 4);
    EXPECT_EQ(parseFailure("BlackHole ((0, 1, 0), 0)"), "BlackHole density must be greater than 0");
    EXPECT_EQ(parseFailure("BlackHole ((0, 1, 0))"), "parse error");
}

}  // namespace
}  // namespace quorva
