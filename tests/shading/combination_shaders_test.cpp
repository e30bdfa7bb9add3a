// Multilayer, indexed and composite shaders: mixing shaded members, the per-point light table, and the
// combined transmission they report to shadow tests.
#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"
#include "shading/shade_point.h"
#include "shading_test_support.h"

namespace quorva {
namespace {

using testing::num;
using testing::ShadingScene;
using testing::vec;

std::shared_ptr<const Shader> matte(double r, double g, double b, double kt = 0) {
    SurfaceDescription d;
    d.slots[9] = vec(r, g, b);
    d.slots[13] = num(0);
    d.slots[24] = num(kt);
    return makeSurfaceShader(d);
}

struct CombinationFixture : ::testing::Test {
    ShadingScene s;
    CombinationFixture() { s.addPointLight({0, 10, 0}); }
    Color shadeTop() { return s.shadeAt({0, 0, 0}, {0, 1, 0}, {0, -1, 0}); }
    Color shadeWith(std::shared_ptr<const Shader> shader) {
        s.shape.shader = std::move(shader);
        return shadeTop();
    }
    // The sample a shader gives while a shadow test runs.
    SurfaceSample duringShadowTest(const Shader& shader) {
        Intersection hit;
        hit.hit = 1;
        hit.point = {0, 0, 0};
        hit.normal = {0, 1, 0};
        hit.shape = &s.shape;
        ShadePoint at;
        ShadingContext sc;
        beginShadePoint(s.ctx, Ray{{0, 1, 0}, {0, -1, 0}}, hit, 0, 1, 1, at, sc);
        s.ctx.shadowTest = true;
        SurfaceSample out;
        evaluateShaderAt(s.ctx, shader, at, sc, out);
        s.ctx.shadowTest = false;
        return out;
    }
};

TEST_F(CombinationFixture, CompositeAddsWeightedMembers) {
    const Color red = shadeWith(matte(1, 0, 0)), blue = shadeWith(matte(0, 0, 1));
    auto composite =
        makeCompositeShader({{matte(1, 0, 0), num(0.25)}, {matte(0, 0, 1), num(0.5)}, {nullptr, num(0)}});
    const Color mixed = shadeWith(composite);
    const Color expected = red * 0.25 + blue * 0.5;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(mixed[i], expected[i], 1e-12) << i;
    EXPECT_EQ(s.ctx.lightTableTop, 0u);  // the light table is released again

    const SurfaceSample shadow = duringShadowTest(
        *makeCompositeShader({{matte(1, 1, 1, 0.5), num(0.5)}, {matte(1, 0, 0, 1), num(-1)}}));
    EXPECT_EQ(shadow.ktScale, 0.25);  // only members with a positive weight count
    EXPECT_EQ(shadow.ktColor, Color(0.5, 0.5, 0.5));

    auto bad = makeCompositeShader({{matte(1, 0, 0), vec(1, 1, 1)}});
    try {
        shadeWith(bad);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Bad composite shader modifier");
    }
}

TEST_F(CombinationFixture, IndexedMixesTheTwoEndsOfABand) {
    const Color red = shadeWith(matte(1, 0, 0)), green = shadeWith(matte(0, 1, 0));
    auto spectrum = std::make_shared<ShaderSpectrum>();
    spectrum->push_back({0, 1, matte(1, 0, 0), matte(0, 1, 0)});
    auto at = [&](double x) { return shadeWith(makeIndexedShader(num(x), spectrum)); };
    EXPECT_EQ(at(0), red);
    EXPECT_EQ(at(1), green);
    const Color quarter = at(0.25), expected = red * 0.75 + green * 0.25;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(quarter[i], expected[i], 1e-12);
    EXPECT_NEAR(at(2).r, 0.003, 1e-12);  // outside every band: the default sample

    auto glass = std::make_shared<ShaderSpectrum>();
    glass->push_back({0, 1, matte(1, 1, 1, 0), matte(1, 1, 1, 1)});
    EXPECT_NEAR(duringShadowTest(*makeIndexedShader(num(0.5), glass)).ktScale, 0.5, 1e-12);

    try {
        shadeWith(makeIndexedShader(vec(0, 0, 0), spectrum));
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Bad indexed shader modifier");
    }
}

TEST_F(CombinationFixture, MultiLayerShowsEachLayerThroughTheOnesAbove) {
    const Color red = shadeWith(matte(1, 0, 0)), blue = shadeWith(matte(0, 0, 1));
    auto layers = makeMultiLayerShader({matte(1, 0, 0, 0.75), matte(0, 0, 1)});
    const Color c = shadeWith(layers);
    const Color expected = red * 0.25 + blue * 0.75;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(c[i], expected[i], 1e-12) << i;
    EXPECT_EQ(s.ctx.stats.refractedRays, 0u);  // the top layer's transmission is taken out

    const SurfaceSample shadow =
        duringShadowTest(*makeMultiLayerShader({matte(1, 0, 0, 0.5), matte(0, 1, 0, 0.5)}));
    EXPECT_EQ(shadow.ktScale, 0.25);
    EXPECT_EQ(shadow.ktColor, Color(0, 1, 0));
}

TEST_F(CombinationFixture, LightTableHoldsEachLightsColour) {
    s.addPointLight({0, 5, 0}, {0.5, 0.25, 1});
    s.scene.frame.lights.back()->attributes = 2;  // casts no shadow
    Intersection hit;
    hit.point = {0, 0, 0};
    hit.normal = {0, 1, 0};
    hit.shape = &s.shape;
    ShadePoint at;
    ShadingContext sc;
    beginShadePoint(s.ctx, Ray{{0, 1, 0}, {0, -1, 0}}, hit, 0, 1, 1, at, sc);
    const Color* table = buildLightTable(s.ctx, at);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0], Color(1, 1, 1));
    EXPECT_EQ(table[1], Color(0.5, 0.25, 1));
    EXPECT_EQ(s.ctx.lightTableTop, 2u);
    releaseLightTable(s.ctx, table);
    EXPECT_EQ(s.ctx.lightTableTop, 0u);
}

}  // namespace
}  // namespace quorva
