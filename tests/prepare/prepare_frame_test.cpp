// Frame preparation: which passes a frame gets for its render mode, what the pixel loops are handed,
// and the order of its messages around the caller's image.
#include "prepare/prepare_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/diagnostics.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "trace/frame.h"

namespace quorva {
namespace {

const std::string Room =
    "Version : 1.3\n"
    "Camera [ (0, 1.5, -5), (0, 1, 0), (0, 1, 0) Format (16, 12) ]\n"
    "Options [ IrradianceSamples 8 ]\n"
    "ComputeIrradiance 4\n"
    "Declare white = Shader [ PlainSurface [ Color '0.85, 0.85, 0.85' Kd 0.8 ] ]\n"
    "Shape [ Box ((-3, -0.1, -3), (3, 0, 3)) white ]\n"
    "Shape [ Sphere ((0.5, 0.7, 0.5), 0.7) white ]\n";

TEST(PrepareFrame, RayTracedFrameGetsHierarchyAndASeededCacheAfterTheImageIsOpened) {
    SceneState scene;
    ASSERT_EQ(parseText(scene, Room + "PointLight [ (1.5, 3, -2) ]\n", "room.qsb"), 0);
    ConsoleCapture console;
    std::string beforeImage;
    FrameSetup setup;
    setup.linearCopy = true;  // asked for, but there is no image to copy
    setup.openImage = [&]() -> TargaOutput* {
        beforeImage = console.text();
        return nullptr;
    };
    PreparedFrame prepared = prepareFrame(scene.frame, setup);

    EXPECT_TRUE(prepared.raytracing);
    EXPECT_FALSE(prepared.stopped);
    EXPECT_NE(scene.frame.world.root, nullptr);
    ASSERT_NE(prepared.cache, nullptr);
    EXPECT_EQ(prepared.photonMaps, nullptr);
    EXPECT_GT(prepared.cache->recordCount(), 0u);  // the primary grid ran
    EXPECT_EQ(prepared.context.globalIllumination, prepared.cache.get());
    EXPECT_FALSE(prepared.context.skyLightMode);
    EXPECT_TRUE(prepared.buffers.color.hasRow(0));
    EXPECT_TRUE(prepared.buffers.color.hasRow(11));
    EXPECT_TRUE(prepared.buffers.linear.empty());

    EXPECT_EQ(beforeImage, "");
    const std::string& text = console.text();
    const auto building = text.find("\nBuilding hierarchical bounding volumes... Done.");
    const auto sorting = text.find("\nSorting object hierarchy... Done.");
    const std::string last = "\nInitializing rendering pipeline... Done.\n\n";
    const auto pipeline = text.find(last);
    ASSERT_NE(building, std::string::npos);
    ASSERT_NE(sorting, std::string::npos);
    ASSERT_NE(pipeline, std::string::npos);
    EXPECT_LT(building, sorting);
    EXPECT_LT(sorting, pipeline);
    EXPECT_EQ(pipeline + last.size(), text.size());
}

TEST(PrepareFrame, HiddenLinePreviewBuildsNeitherHierarchyNorCacheAndWarnsBeforeTheImage) {
    SceneState scene;
    ASSERT_EQ(parseText(scene, Room, "room.qsb"), 0);
    scene.frame.options.renderMode = 3;
    ConsoleCapture console;
    std::string beforeImage;
    FrameSetup setup;
    setup.openImage = [&]() -> TargaOutput* {
        beforeImage = console.text();
        return nullptr;
    };
    PreparedFrame prepared = prepareFrame(scene.frame, setup);

    EXPECT_FALSE(prepared.raytracing);
    EXPECT_EQ(scene.frame.world.root, nullptr);
    EXPECT_EQ(prepared.cache, nullptr);
    EXPECT_EQ(prepared.context.globalIllumination, nullptr);
    EXPECT_NE(beforeImage.find("No light source in this scene"), std::string::npos);
    EXPECT_EQ(console.text().find("Building"), std::string::npos);
    EXPECT_TRUE(prepared.buffers.color.hasRow(11));
}

}  // namespace
}  // namespace quorva
