// Parser: the surface items and the attribute slots they fill, the items each surface kind accepts,
// and the shader and spectrum forms.
#include <gtest/gtest.h>

#include "eval/spectrum.h"
#include "eval/value.h"
#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

std::shared_ptr<const SurfaceDescription> declaredSurface(const SceneState& scene, const char* name) {
    const SymbolEntry* e = scene.symbols->lookup(name);
    if (!e) return nullptr;
    auto* s = std::get_if<std::shared_ptr<const SurfaceDescription>>(&e->value);
    return s ? *s : nullptr;
}

// The slot's expression evaluated without a shading context (-999 when empty or not a number).
double slotNumber(const SurfaceDescription& s, int slot) {
    const RequestPtr& r = s.slots[slot];
    if (!r) return -999;
    Value v = evaluate(EvalContext{}, r.get());
    return v.isNumber() ? v.number : -999;
}

TEST(ParserShaders, SurfaceItemsFillTheirSlots) {
    SceneState scene;
    parseOk(scene,
            "Declare p = PlainSurface [ Color '1, 0, 0' AmbientColor '0.1, 0.1, 0.1' Ka 0.2 Kb 1.5 Kd 0.7\n"
            "  MetalAttribute 0.3 Ks (0.4, '1, 1, 1') Kr (0.6, 0.05) ReflectionColor '0, 0, 1'\n"
            "  Kt (0.8, 1.5, '0.9, 0.9, 0.9', 0.02) Absorption 0.25 BlinnSpecularBRDF 12\n"
            "  Dispersion (0.1, 6) Iridescence (1, 2, 3) Caustics (0.5, InternalCaustics) IrradianceSamples "
            "40 ]");
    auto s = declaredSurface(scene, "p");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->kind, SurfaceKind::Plain);
    EXPECT_EQ(s->slots[9]->vector, Vec3(1, 0, 0));
    EXPECT_EQ(s->slots[12]->vector, Vec3(0.1, 0.1, 0.1));
    EXPECT_EQ(slotNumber(*s, 13), 0.2);
    EXPECT_EQ(slotNumber(*s, 14), 1.5);
    EXPECT_EQ(slotNumber(*s, 15), 0.3);
    EXPECT_FALSE(s->slots[16]);  // the Kd colour follows the base colour
    EXPECT_EQ(slotNumber(*s, 17), 0.7);
    EXPECT_EQ(s->slots[18]->vector, Vec3(1, 1, 1));
    EXPECT_EQ(slotNumber(*s, 19), 0.4);
    EXPECT_EQ(s->slots[20]->vector, Vec3(0, 0, 1));
    EXPECT_EQ(slotNumber(*s, 21), 0.6);
    EXPECT_EQ(slotNumber(*s, 22), 0.05);
    EXPECT_EQ(s->slots[23]->vector, Vec3(0.9, 0.9, 0.9));
    EXPECT_EQ(slotNumber(*s, 24), 0.8);
    EXPECT_EQ(slotNumber(*s, 25), 0.02);
    EXPECT_EQ(slotNumber(*s, 26), 0.25);
    EXPECT_EQ(s->brdf, SpecularBrdf::Blinn);
    EXPECT_EQ(slotNumber(*s, 28), 12);
    EXPECT_EQ(slotNumber(*s, 29), 1.5);
    EXPECT_EQ(slotNumber(*s, 30), 0.1);
    EXPECT_EQ(slotNumber(*s, 31), 6);
    EXPECT_EQ(slotNumber(*s, 34), 3);
    EXPECT_FALSE(s->slots[35]);
    EXPECT_EQ(slotNumber(*s, 36), 0.5);
    EXPECT_TRUE(s->internalCaustics);
    EXPECT_EQ(slotNumber(*s, 38), 40);
}

TEST(ParserShaders, SingleValueAndPairFormsOfKrAndKs) {
    SceneState scene;
    parseOk(scene,
            "Declare a = PlainSurface [ Kr 0.5 Ks (0.25) * 2 Kr (0.5 + 0.25) ]\n"
            "Declare b = a [ Ks (1, (1, 0, 0)) ]");
    auto a = declaredSurface(scene, "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(slotNumber(*a, 21), 0.75);  // the later Kr wins
    EXPECT_FALSE(a->slots[22]);
    EXPECT_EQ(slotNumber(*a, 19), 0.5);
    auto b = declaredSurface(scene, "b");
    ASSERT_TRUE(b);
    EXPECT_EQ(slotNumber(*b, 19), 1);
    EXPECT_EQ(b->slots[18]->vector, Vec3(1, 0, 0));
    EXPECT_EQ(slotNumber(*b, 21), 0.75);  // inherited from a
    EXPECT_FALSE(a->slots[18]);           // a itself is unchanged
    EXPECT_EQ(parseFailure("Declare c = PlainSurface [ Kr (1, 2) * 2 ]"), "parse error");
    EXPECT_EQ(parseFailure("Declare c = PlainSurface [ Kt 0.5 ]"), "parse error");
}

TEST(ParserShaders, ItemsBelongToTheirSurfaceKinds) {
    EXPECT_EQ(parseFailure("Declare p = PlainSurface [ NormalModifier N ]"), "parse error");
    EXPECT_EQ(parseFailure("Declare p = FunctionalSurface [ Octaves 3 ]"), "parse error");
    EXPECT_EQ(parseFailure("Declare p = PlainSurface [ SpectrumOfColors ([0, '1,0,0', 1, '0,0,1'], u) ]"),
              "parse error");
    SceneState scene;
    parseOk(
        scene,
        "Declare f = FunctionalSurface [ NormalModifier N IntersectionPointModifier P\n"
        "  SpectrumOfColors ([0, '1,0,0', 1, '0,0,1'] [1, '0,0,1', 0.5, 2, '0,1,0', 1], u) ]\n"
        "Declare g = PatternSurface [ Bumpiness (1, 2) PatternModifiers (1, 2, 3) Octaves 4 Turbulence 0.5\n"
        "  SpectrumOfColors ([0, '1,0,0', 1, '0,0,1']) ]");
    auto f = declaredSurface(scene, "f");
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->slots[10] && f->slots[11]);
    ASSERT_TRUE(f->colorSpectrum && f->colorSpectrum->spectrum);
    const ColorSpectrum& spectrum = *f->colorSpectrum->spectrum;
    ASSERT_EQ(spectrum.entries.size(), 2u);
    EXPECT_EQ(spectrum.entries[1].extra[0], 0.5);
    EXPECT_EQ(spectrum.entries[1].position[1], 2);
    EXPECT_EQ(spectrum.entries[1].extra[1], 1);
    EXPECT_TRUE(f->spectrumIndex);
    auto g = declaredSurface(scene, "g");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->kind, SurfaceKind::Pattern);
    EXPECT_TRUE(g->octaves && g->turbulence && g->patternModifiers[2]);
    EXPECT_TRUE(g->colorSpectrum && !g->spectrumIndex);  // read at the pattern value
}

TEST(ParserShaders, ShaderForms) {
    const std::string surfaces =
        "Declare red = PlainSurface [ Color '1, 0, 0' ]\n"
        "Declare s = Shader [ red [ Kd 0.5 ] Rotate (0, 90, 0) ]\n"
        "Declare t = s [ Translate (1, 0, 0) ]\n";
    SceneState scene;
    parseOk(scene, surfaces +
                       "Declare m = Shader [ MultiLayer [ s, t, Shader [ PlainSurface [ ] ] ] ]\n"
                       "Declare c = Shader [ Composite [ (s, 0.5), (t, u) ] ]\n"
                       "Declare band = SpectrumOfShaders ([0, s, 0.5, t] [0.5, t, 1, s])\n"
                       "Declare i = Shader [ Indexed [ u, band [1, s, 2, m] ] ]\n"
                       "Shape [ Sphere((0, 0, 0), 1) m Scale (2, 2, 2) ]");
    EXPECT_EQ(scene.symbols->lookup("m")->kind, SymbolKind::Shader);
    EXPECT_EQ(scene.symbols->lookup("c")->kind, SymbolKind::Shader);
    EXPECT_EQ(scene.symbols->lookup("i")->kind, SymbolKind::Shader);
    // A spectrum name followed by entries is a new spectrum; the declared one keeps its two bands.
    auto* band = std::get_if<std::shared_ptr<const ShaderSpectrum>>(&scene.symbols->lookup("band")->value);
    ASSERT_TRUE(band && *band);
    EXPECT_EQ((*band)->size(), 2u);
    EXPECT_EQ(scene.frame.world.mainList.size(), 1u);
    EXPECT_EQ(parseFailure(surfaces + "Declare x = Shader [ MultiLayer [ ] ]"), "parse error");
    EXPECT_EQ(parseFailure(surfaces + "Declare x = SpectrumOfShaders ( )"), "parse error");
    EXPECT_EQ(parseFailure(surfaces + "Declare x = Shader [ Composite [ (s) ] ]"), "parse error");
    EXPECT_EQ(parseFailure(surfaces + "Declare x = Shader [ s ]"), "parse error");
}

}  // namespace
}  // namespace quorva
