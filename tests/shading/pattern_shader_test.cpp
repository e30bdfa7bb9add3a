// The pattern shader: the checks of its items (with the position being parsed), the pattern value on a
// wall, turbulence, bumps and the spectrum colour.
#include "shading/pattern_shader.h"

#include <gtest/gtest.h>

#include "eval/value.h"
#include "scene/parser_fixture.h"
#include "shading/noise.h"

namespace quorva {
namespace {

using testing::parseError;

// The shader of a PatternSurface with `items`, built through the parser.
std::shared_ptr<const Shader> patternShader(const std::string& items) {
    SceneState scene;
    testing::parseOk(scene, "Declare s = Shader [ PatternSurface [ " + items + " ] ]\n");
    const SymbolEntry* e = scene.symbols->lookup("s");
    EXPECT_TRUE(e);
    if (!e) return nullptr;
    auto* shader = std::get_if<std::shared_ptr<const Shader>>(&e->value);
    return shader ? *shader : nullptr;
}

SurfaceSample sampleAt(const Shader& shader, const Vec3& p, const Vec3& n = {0, 0, -1}) {
    ShadingContext sc;
    sc.P = p;
    sc.N = n;
    SurfaceSample s;
    shader.evaluate(sc, s);
    return s;
}

TEST(PatternShader, EveryItemHasItsMessageAndPosition) {
    const struct {
        const char* items;
        const char* message;
    } cases[] = {
        {"Color 2", "Bad color specification"},
        {"PatternScale '1,1,1'", "Bad PatternScale value"},
        {"PatternModifiers (7, 0, 0)", "PatternModifiers: bad argument 1"},
        {"PatternModifiers (-1, 0, 0)", "PatternModifiers: bad argument 1"},
        {"PatternModifiers (0, 10, 0)", "PatternModifiers: bad argument 2"},
        {"PatternModifiers (0, 0, 4.9 + 0.2)", "PatternModifiers: bad argument 3"},
        {"Octaves 0.5", "Bad Octaves value"},
        {"Bumpiness ('1,1,1', 1)", "Bad Bumpiness value (argument 1)"},
        {"Bumpiness (1, 0)", "Bad Bumpiness value (argument 2)"},
        {"Phase \"a\"", "Bad Phase value"},
        {"Turbulence (1, 2, 3)", "Bad Turbulence value"},
    };
    for (const auto& c : cases) {
        const FatalError e =
            parseError("\nDeclare s = Shader [ PatternSurface [ " + std::string(c.items) + " ] ]");
        EXPECT_EQ(e.text(), c.message) << c.items;
        EXPECT_EQ(e.line(), 2) << c.items;
    }
    // Truncated before the check; a huge octave count is capped.
    auto s = patternShader("PatternModifiers (6.9, 9.5, 4.2) Octaves 1e12");
    ASSERT_TRUE(s);
    const auto& p = static_cast<const PatternShader&>(*s).parameters();
    EXPECT_EQ(p.waveForm, 6);
    EXPECT_EQ(p.input, 9);
    EXPECT_EQ(p.bump, 4);
    EXPECT_EQ(p.octaves, MaxOctaves);
}

TEST(PatternShader, InputXWithASpectrumIsALinearGreyOnAWall) {
    auto s = patternShader("PatternModifiers (0, 1, 0) SpectrumOfColors ([0, '0,0,0', 1, '1,1,1'])");
    ASSERT_TRUE(s);
    for (double x : {0.0, 0.25, 0.5, 0.9, 1.0}) {
        const SurfaceSample sample = sampleAt(*s, {x, 0.3, 2});
        EXPECT_NEAR(sample.kdColor.r, x, 1e-12);
        EXPECT_NEAR(sample.kaColor.b, x, 1e-12);
    }
    // Outside every interval the table's colours stay.
    EXPECT_EQ(sampleAt(*s, {1.5, 0, 0}).kdColor, (Color{1, 1, 1}));
}

TEST(PatternShader, OneOctaveTurbulenceIsFnoise) {
    PatternParameters p;
    p.turbulence = 1;
    p.scale = 3;
    ShadingContext sc;
    const Vec3 at{0.7, -1.3, 2.9};
    EXPECT_NEAR(patternValue(p, at, sc), fnoise(at * 3.0, 1), 1e-12);
    // Wave forms on an input of x.
    p.turbulence = 0;
    p.scale = 1;
    p.input = 1;
    p.waveForm = 1;
    EXPECT_NEAR(patternValue(p, {0.25, 0, 0}, sc), 1, 1e-12);
    p.waveForm = 5;
    EXPECT_NEAR(patternValue(p, {-0.25, 0, 0}, sc), 0.75, 1e-12);
    p.waveForm = 3;  // the kernel of |sin 2 pi f|: 1 where the sine vanishes, 0 at its extremes
    EXPECT_NEAR(patternValue(p, {0, 0, 0}, sc), 1, 1e-12);
    EXPECT_NEAR(patternValue(p, {-0.25, 0, 0}, sc), 0, 1e-12);
}

TEST(PatternShader, BumpsTiltTheNormalUnlessTheirAmplitudeIsZero) {
    const Vec3 n{0, 1, 0}, at{0.37, 1.21, -2.4};
    PatternParameters p;
    for (int kind = 1; kind <= 4; ++kind) {
        p.bump = kind;
        p.bumpAmplitude = 0;
        EXPECT_EQ(patternBump(p, at, n), n) << kind;
        p.bumpAmplitude = 0.5;
        const Vec3 b = patternBump(p, at, n);
        EXPECT_NEAR(length(b), 1, 1e-12) << kind;
        EXPECT_GT(length(b - n), 1e-6) << kind;
    }
    // The shader hands the bumped normal on as a normal modifier does.
    auto s = patternShader("PatternModifiers (0, 0, 3) Bumpiness (0.5, 2)");
    ASSERT_TRUE(s);
    ShadingContext sc;
    sc.P = at;
    sc.N = n;
    SurfaceSample sample;
    s->evaluate(sc, sample);
    EXPECT_TRUE(sample.normalModified);
    p.bump = 3;
    p.bumpFrequency = 2;
    EXPECT_EQ(sc.N, patternBump(p, at, n));
}

}  // namespace
}  // namespace quorva
