// Parser: operator precedence, declarations, if/else and static declarations across the frames of an
// animation, Sequence and OutputTo.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/shape.h"
#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::declaredNumber;
using testing::parseFailure;
using testing::parseOk;

double valueOf(const std::string& expression) {
    SceneState scene;
    parseOk(scene, "Declare a = " + expression);
    return declaredNumber(scene, "a");
}

TEST(ParserExpressions, Precedence) {
    EXPECT_EQ(valueOf("1 + 2 * 3 ^ 2"), 19);
    EXPECT_EQ(valueOf("10 - 4 - 3"), 3);   // left-associative
    EXPECT_EQ(valueOf("2 ^ 3 ^ 2"), 512);  // ^ is right-associative
    EXPECT_EQ(valueOf("-2 ^ 2"), 4);       // prefix minus binds tighter than ^
    EXPECT_EQ(valueOf("7 % 4 * 2"), 6);
    EXPECT_EQ(valueOf("1 + 2 < 4 && 3 > 2 || 0"), 1);
    EXPECT_EQ(valueOf("0 < 1 == 1"), 1);
    EXPECT_EQ(valueOf("(1, 2, 3) . (1, 1, 1) * 2"), 12);
    EXPECT_EQ(valueOf("(4, 5, 6)[1]"), 5);
    EXPECT_EQ(valueOf("[7, 8, 9][2] - 1"), 8);
    EXPECT_EQ(valueOf("(1 > 2 ? 10 : 20)"), 20);
    EXPECT_EQ(valueOf("|(3, 4, 0)|"), 5);
    EXPECT_EQ(valueOf("!0 + !3"), 1);
    EXPECT_EQ(valueOf("max(2, 5) - degrees(0)"), 5);
    EXPECT_EQ(parseFailure("Declare a = (1, 2)"), "parse error");
    EXPECT_EQ(parseFailure("Declare a = 1 != 2"), "parse error");
}

TEST(ParserExpressions, VectorForms) {
    SceneState scene;
    parseOk(scene, "Declare q = '0.1 + 0.1, 2 * 2, 3'\nDeclare p = (0.2, 4, 3)\nDeclare w = {2 : 1, 3}");
    auto vectorOf = [&](const char* name) {
        auto* r = std::get_if<RequestPtr>(&scene.symbols->lookup(name)->value);
        EXPECT_TRUE(r && *r && (*r)->kind == RequestKind::Vector);
        return (r && *r) ? (*r)->vector : Vec3();
    };
    EXPECT_EQ(vectorOf("q"), vectorOf("p"));
    EXPECT_EQ(vectorOf("w"), Vec3(2, 1, 3));
}

TEST(ParserDeclarations, DeclareEvaluatesAndNewKeepsTheTree) {
    SceneState scene;
    parseOk(scene, "Declare a = 2 * 3\nnew b = 2 * CurrentFrame\nlet c = a + 1");
    EXPECT_EQ(declaredNumber(scene, "a"), 6);
    EXPECT_EQ(declaredNumber(scene, "c"), 7);
    EXPECT_TRUE(std::isnan(declaredNumber(scene, "b")));  // still a tree
    scene.frame.frames.currentFrame = 4;
    parseOk(scene, "Declare d = b");
    EXPECT_EQ(declaredNumber(scene, "d"), 8);
}

TEST(ParserDeclarations, NamesUsedTwicePerLineCannotExplode) {
    // Each line doubles the size of the tree the name stands for; evaluating the last would take
    // 2^40 steps.
    std::string text = "Declare a0 = x\n";
    for (int i = 1; i <= 40; ++i)
        text += "Declare a" + std::to_string(i) + " = a" + std::to_string(i - 1) + " + a" +
                std::to_string(i - 1) + "\n";
    EXPECT_EQ(parseFailure(text), "Expression of \"a19\" too large (more than 1000000 nodes)");
    // Sharing as such is fine.
    EXPECT_EQ(parseFailure("Declare a = x\nDeclare b = a + a\nDeclare c = b * b + b"), "");
}

// Runs `text` for frames 0..last the way the frame loop does.
template <typename Check>
void runFrames(SceneState& scene, const std::string& text, int last, Check check) {
    scene.resetScene();
    for (int frame = 0; frame <= last; ++frame) {
        scene.resetFrame();
        parseOk(scene, text);
        check(frame);
        scene.symbols->keepStaticEntries();
        scene.frame.frames.firstFrameStarted = true;
        ++scene.frame.frames.currentFrame;
    }
}

TEST(ParserConditions, ExactlyOneBranchTakesEffectInEveryFrame) {
    SceneState scene;
    const std::string text =
        "if (CurrentFrame < 3) { Declare early = 1 Background '1, 0, 0' }\n"
        "else { Declare late = 1 Background '0, 1, 0' }";
    runFrames(scene, text, 5, [&](int frame) {
        bool early = frame < 3;
        EXPECT_EQ(scene.frame.background.colour, early ? Color(1, 0, 0) : Color(0, 1, 0)) << frame;
        EXPECT_EQ(scene.symbols->lookup("early") != nullptr, early) << frame;
        EXPECT_EQ(scene.symbols->lookup("late") != nullptr, !early) << frame;
    });
}

TEST(ParserConditions, NestedConditionsInBranchesNotTaken) {
    SceneState scene;
    parseOk(scene,
            "if (1 > 2) { if (1 < 2) { Declare a = 1 } else { Declare b = 1 } }\n"
            "else { if (1 > 2) { Declare c = 1 } else { Declare d = 1 } }");
    EXPECT_FALSE(scene.symbols->lookup("a"));
    EXPECT_FALSE(scene.symbols->lookup("b"));
    EXPECT_FALSE(scene.symbols->lookup("c"));
    EXPECT_TRUE(scene.symbols->lookup("d"));
    // A branch not taken evaluates nothing, so errors of evaluation do not arise there.
    EXPECT_EQ(parseFailure("if (1 > 2) { Declare e = [1, 2][5] Options [ MaxRayLevel 40 ] } Version: 1"), "");
}

TEST(ParserDeclarations, StaticIsMadeInTheFirstFrameAndKept) {
    SceneState scene;
    const std::string text =
        "static s = Solid [ Sphere((0, 0, 0), 1 + CurrentFrame) ]\n"
        "static k = 10 + CurrentFrame\n"
        "Declare seen = k\n"
        "Declare plain = CurrentFrame";
    runFrames(scene, text, 2, [&](int frame) {
        const SymbolEntry* s = scene.symbols->lookup("s");
        ASSERT_TRUE(s);
        auto* shape = std::get_if<std::shared_ptr<const Shape>>(&s->value);
        ASSERT_TRUE(shape && *shape);
        EXPECT_EQ((*shape)->boundsSize.x, 2) << frame;  // the first frame's sphere, radius 1
        EXPECT_EQ(scene.symbols->count("s"), 1u);
        // The static value is kept as written and evaluated where it is used.
        EXPECT_EQ(declaredNumber(scene, "seen"), 10 + frame);
        EXPECT_EQ(scene.symbols->count("plain"), 1u);
    });
}

TEST(ParserSequence, FrameRangeItems) {
    SceneState scene;
    parseOk(scene, "Sequence [ AnimationLength 10 FirstFrame 2 ]");
    EXPECT_EQ(scene.frame.frames.lastFrame, 9);
    EXPECT_EQ(scene.frame.frames.firstFrame, 2);
    EXPECT_EQ(scene.frame.frames.currentFrame, 2);
    // LastFrame already set: AnimationLength leaves it alone.
    parseOk(scene, "Sequence [ AnimationLength 20 ]");
    EXPECT_EQ(scene.frame.frames.lastFrame, 9);
    EXPECT_EQ(scene.frame.frames.animationLength, 20);
    // Once the frames have started, FirstFrame no longer moves the current frame.
    scene.frame.frames.firstFrameStarted = true;
    scene.frame.frames.currentFrame = 5;
    parseOk(scene, "Sequence [ FirstFrame 1 LastFrame 7 ]");
    EXPECT_EQ(scene.frame.frames.currentFrame, 5);
    EXPECT_EQ(scene.frame.frames.firstFrame, 1);
    EXPECT_EQ(scene.frame.frames.lastFrame, 7);
}

TEST(ParserSequence, OutputToActsOnlyBeforeTheFirstFrame) {
    SceneState scene;
    scene.output.imageFile = "scene.tga";
    scene.output.outputBase = "scene";
    const std::string text = "Options [ OutputTo (CurrentFrame < 1 ? \"first\" : \"second\") ]";
    EXPECT_EQ(parseFailure(text), "parse error");  // a string is written as it is, not computed
    runFrames(scene, "Options [ OutputTo \"movie\" ]", 0, [](int) {});
    EXPECT_EQ(scene.output.imageFile, "movie.tga");
    EXPECT_EQ(scene.output.outputBase, "movie");
    parseOk(scene, "Options [ OutputTo \"later\" ]");  // second frame
    EXPECT_EQ(scene.output.outputBase, "movie");
}

}  // namespace
}  // namespace quorva
