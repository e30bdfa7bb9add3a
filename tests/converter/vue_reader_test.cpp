// VUE frames: directives, their errors, and how a frame moves, morphs and relights the model.
#include <gtest/gtest.h>

#include "converter/vue_reader.h"
#include "support/fatal_text.h"

namespace quorva::converter {
namespace {

using quorva::testing::fatalText;

const std::string Identity = " 1 0 0 0 1 0 0 0 1 0 0 0";

std::string frameError(const std::string& directive) {
    return fatalText([&] { parseVueFrame("VERSION 201\nframe 0\n" + directive + "\n", 0); });
}

TEST(VueReader, DirectivesOfTheRequestedFrame) {
    std::string text =
        "VERSION 201\nframe 0\ntransform \"Box\"" + Identity + "\nframe 1\ntransform \"Box 1\"" + Identity +
        "\nmorph \"Box\" 2 \"A\" 0.5 \"B\" 0.25" + Identity +
        "\nlight \"Omni\" 1 2 3 0.5 0.5 0.5\nspotlight Spot 0 0 5 0 0 0 1 1 1 20 40 0 1\n"
        "camera 0 -10 0 0 0 0 0 35\n; anything else is ignored\nframe 2\ncamera 1 1 1 0 0 0 0 35\n";
    VueFrame f = parseVueFrame(text, 1);
    ASSERT_EQ(f.transforms.size(), 1u);
    EXPECT_EQ(f.transforms[0].name, "Box 1");
    ASSERT_EQ(f.morphs.size(), 1u);
    EXPECT_EQ(f.morphs[0].targets[1].first, "B");
    EXPECT_DOUBLE_EQ(f.morphs[0].targets[1].second, 0.25);
    EXPECT_EQ(f.spots.at(0).name, "Spot");
    EXPECT_DOUBLE_EQ(f.spots[0].falloff, 40);
    EXPECT_TRUE(f.hasCamera);
    EXPECT_DOUBLE_EQ(f.camera.position.y, -10);
    EXPECT_EQ(lastVueFrame(text), 2);
    // A line longer than 255 characters is cut, never overrun.
    EXPECT_NO_THROW(parseVueFrame("frame 0\n" + std::string(5000, 'x') + "\n", 0));
}

TEST(VueReader, Errors) {
    EXPECT_EQ(fatalText([] { parseVueFrame("VERSION 201\nframe 0\n", 4); }),
              "\nFrame 4 is missing in VUE file\n");
    EXPECT_EQ(frameError("transform Box 1 0 0"), "Error parsing transform directive in VUE file");
    EXPECT_EQ(frameError("transform Box" + Identity + " 9"), "Error parsing transform directive in VUE file");
    EXPECT_EQ(frameError("transform Box" + Identity.substr(0, 20) + " x 0 0"),
              "Error parsing transform directive in VUE file");
    EXPECT_EQ(frameError("morph Box 5 A 1 B 1 C 1 D 1 E 1" + Identity),
              "Error parsing morph directive in VUE file");
    EXPECT_EQ(frameError("light Omni 1 2 3"), "Error parsing omnilight directive in VUE file");
    EXPECT_EQ(frameError("spotlight Spot 0 0 5 0 0 0 1 1 1 20 40 0 1.5"),
              "Error parsing spotlight directive in VUE file");
    EXPECT_EQ(frameError("camera 0 0 0"), "Error parsing camera directive in VUE file");
    EXPECT_EQ(frameError("camera 0 0 0 0 0 0 0 35\ncamera 0 0 0 0 0 0 0 35"),
              "Multiple cameras found in VUE file");
    EXPECT_EQ(frameError("top"), "Only camera viewports are supported");
    EXPECT_EQ(fatalText([] { readVueFrame("/nonexistent/anim", 0); }),
              "\nVUE file \"/nonexistent/anim.vue\" not found!\n");
}

TEST(VueReader, FrameAppliesToTheModel) {
    Model model;
    Mesh base;
    base.name = "Base";
    base.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    base.faces = {{{0, 1, 2}, 0}};
    base.frame(3, 0) = 5;  // local frame moved by 5 in x: the frame matrix undoes it first
    Mesh target = base;
    target.name = "Target";
    target.positions[0] = {0, 0, 2};
    model.meshes = {base, target};
    model.pointLights.push_back({"Omni", {0, 0, 0}, {1, 1, 1}, false, 1});
    model.cameras.push_back({"Cam", {0, 0, 0}, {0, 0, 1}, 0, 50});
    std::string text = "frame 0\nmorph Base 2 Target 0.5 Missing 1" + Identity + "\ntransform Ghost" +
                       Identity + "\nlight Omni 1 2 3 0.5 0.5 0.5\ncamera 0 -10 0 0 0 0 0 35\n";
    std::string console;
    Console c{[&](const std::string& s) { console += s; }};
    applyVueFrame(parseVueFrame(text, 0), model, c);
    EXPECT_EQ(console,
              "\nMesh object \"Ghost\" not found for transformation!\n"
              "\nMesh object \"Missing\" not found for morphing!\n");
    EXPECT_DOUBLE_EQ(model.meshes[0].positions[0].z, 1);  // base + 0.5 (target - base)
    EXPECT_TRUE(model.meshes[0].animated);
    EXPECT_DOUBLE_EQ(model.meshes[0].transform(3, 0), -5);
    EXPECT_DOUBLE_EQ(model.pointLights[0].position.z, 3);
    EXPECT_DOUBLE_EQ(model.cameras[0].lens, 35);

    model.meshes[1].positions.pop_back();
    EXPECT_EQ(fatalText([&] {
                  applyVueFrame(parseVueFrame("frame 0\nmorph Base 1 Target 1" + Identity, 0), model, c);
              }),
              "To complete a morphing, objects must have the same number of vertices");
}

}  // namespace
}  // namespace quorva::converter
