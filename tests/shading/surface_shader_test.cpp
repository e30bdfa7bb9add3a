// The attribute table: defaults, checks and their messages, constant folding and attribute pruning.
#include "shading/surface_shader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "shading/brdf.h"
#include "shading_test_support.h"
#include "trace/options.h"

namespace quorva {
namespace {

using testing::num;
using testing::vec;

SurfaceSample constantSample(const SurfaceDescription& d) {
    auto shader = makeSurfaceShader(d);
    EXPECT_EQ(shader->kind, ShaderKind::Constant);
    ShadingContext sc;
    SurfaceSample s;
    shader->evaluate(sc, s);
    return s;
}

// The fatal message of a table, whether it is checked when the shader is built or at a hit.
std::string fatalOf(const SurfaceDescription& d) {
    try {
        auto shader = makeSurfaceShader(d);
        ShadingContext sc;
        SurfaceSample s;
        shader->evaluate(sc, s);
    } catch (const FatalError& e) {
        return e.what();
    }
    return "";
}

TEST(SurfaceShader, DefaultsFollowTheBaseColour) {
    SurfaceDescription d;
    d.slots[9] = vec(0.2, 0.4, 0.6, 0.25);
    const SurfaceSample s = constantSample(d);
    const Color base{0.2, 0.4, 0.6};
    EXPECT_EQ(s.kaColor, base);
    EXPECT_EQ(s.kdColor, base);
    EXPECT_EQ(s.ksColor, base);
    EXPECT_EQ(s.krColor, base);
    EXPECT_EQ(s.ktColor, base);
    EXPECT_EQ(s.kaScale, 0.001);
    EXPECT_EQ(s.kb, 1.0);
    EXPECT_EQ(s.kdScale, 0.8);
    EXPECT_EQ(s.ksScale, 0);
    EXPECT_EQ(s.ktScale, 0.25);  // the base colour's fourth value
    EXPECT_EQ(s.ior, 1.0);
    EXPECT_EQ(s.dispersionSamples, 8);
    EXPECT_EQ(s.iridescenceColor, Color(0.247059, 0.176471, 0.137255));
    EXPECT_EQ(s.irradianceSamples, -1);
    EXPECT_EQ(s.brdf, SpecularBrdf::None);
    // Without any colour everything is white and opaque.
    EXPECT_EQ(constantSample({}).kdColor, Color(1, 1, 1));
    EXPECT_EQ(constantSample({}).ktScale, 0);
}

TEST(SurfaceShader, StoredConversions) {
    SurfaceDescription d;
    d.slots[22] = num(1);              // Kr blur, stored over pi
    d.slots[25] = num(2);              // Kt blur, stored over 4
    d.slots[26] = num(3);              // absorption clamped to 1
    d.slots[31] = num(5.7);            // dispersion samples truncated
    d.slots[38] = num(12.9);           // irradiance samples truncated
    d.slots[24] = vec(0.1, 0.2, 0.3);  // a colour for the Kt scale is the Kt colour
    d.brdf = SpecularBrdf::Blinn;
    d.slots[28] = num(20);
    SurfaceSample s = constantSample(d);
    EXPECT_DOUBLE_EQ(s.krBlur, 0.3183098861837907);
    EXPECT_EQ(s.ktBlur, 0.5);
    EXPECT_EQ(s.ktAbsorption, 1);
    EXPECT_EQ(s.dispersionSamples, 5);
    EXPECT_EQ(s.irradianceSamples, 12);
    EXPECT_EQ(s.ktColor, Color(0.1, 0.2, 0.3));
    EXPECT_EQ(s.ktScale, 0);
    EXPECT_DOUBLE_EQ(s.brdfParameter, brdfParameter(SpecularBrdf::Blinn, 20 * 0.017453292519943295));
    d.slots[26] = num(-1);
    d.slots[31] = num(1);
    s = constantSample(d);
    EXPECT_EQ(s.ktAbsorption, 0);
    EXPECT_EQ(s.dispersionSamples, 2);
    // Counts past an int or NaN are bounded before they are converted; a negative one means the option.
    for (double huge : {1e300, double(NAN), -1e300}) {
        d.slots[31] = d.slots[38] = num(huge);
        s = constantSample(d);
        EXPECT_EQ(s.dispersionSamples, huge > 0 ? MaxDispersionSamples : 2);
        EXPECT_EQ(s.irradianceSamples, huge > 0 ? MaxIrradianceSamples : -1);
    }
}

TEST(SurfaceShader, EveryTypeCheckHasItsMessage) {
    const struct {
        int slot;
        bool wantsColour;
        const char* message;
    } checks[] = {
        {9, true, "Bad color specification"},
        {10, true, "Bad NormalModifier vector"},
        {11, true, "Bad IntersectionPointModifier point"},
        {12, true, "Bad Ka color"},
        {13, false, "Bad Ka scale"},
        {14, false, "Bad Kb value"},
        {15, false, "Bad Metal attribute value"},
        {16, true, "Bad Kd color"},
        {17, false, "Bad Kd scale"},
        {18, true, "Bad Ks color"},
        {19, false, "Bad Ks scale"},
        {20, true, "Bad Kr color"},
        {21, false, "Bad Kr scale"},
        {22, false, "Bad Kr blur coeff value"},
        {23, true, "Bad Kt color"},
        {25, false, "Bad Kt blur coeff value"},
        {26, false, "Bad Kt absorption value"},
        {28, false, "Bad specular BRDF angle"},
        {29, false, "Bad index of refraction"},
        {30, false, "Bad chromatic dispersion value"},
        {31, false, "Bad dispersion sample value"},
        {32, false, "Iridescence: bad argument 1"},
        {33, false, "Iridescence: bad argument 2"},
        {34, false, "Iridescence: bad argument 3"},
        {35, true, "Iridescence: bad argument 4"},
        {36, false, "Bad Caustics value in shader"},
        {38, false, "Bad IrradianceSamples value"},
    };
    for (const auto& c : checks) {
        SurfaceDescription d;
        d.slots[c.slot] = c.wantsColour ? num(1) : vec(1, 1, 1);
        if (c.slot == 10 || c.slot == 11) {
            // Modifiers make the shader per-hit; they are checked when a hit is evaluated.
            auto shader = makeSurfaceShader(d);
            EXPECT_EQ(shader->kind, ShaderKind::PerHit);
            ShadingContext sc;
            SurfaceSample s;
            try {
                shader->evaluate(sc, s);
                ADD_FAILURE() << c.message;
            } catch (const FatalError& e) {
                EXPECT_STREQ(e.what(), c.message);
            }
            continue;
        }
        EXPECT_EQ(fatalOf(d), c.message);
    }
    SurfaceDescription d;
    auto text = std::make_shared<Request>();
    text->kind = RequestKind::String;
    d.slots[24] = text;
    EXPECT_EQ(fatalOf(d), "Bad Kt scale");
}

TEST(SurfaceShader, OutOfRangeValuesAreResetWithAWarning) {
    const struct {
        int slot;
        double value;
        const char* warning;
    } resets[] = {
        {14, -1, "WARNING : Kb values less than 0 not allowed (reset to 1.0)!\n"},
        {15, -1, "WARNING : Metal attribute value less than 0 not allowed (reset to 0)!\n"},
        {30, -0.1, "WARNING : 'Dispersion' first value can't be < 0.0 (reset to 0)!\n"},
        {36, 1.5, "WARNING : 'Caustics' values can't be < 0.0 or > 1.0 (reset to 0)!\n"},
    };
    for (const auto& r : resets) {
        ConsoleCapture capture;
        SurfaceDescription d;
        d.slots[r.slot] = num(r.value);
        const SurfaceSample s = constantSample(d);
        EXPECT_EQ(capture.text(), r.warning);
        EXPECT_EQ(s.kb, 1.0);
        EXPECT_EQ(s.metal, 0);
        EXPECT_EQ(s.dispersion, 0);
        EXPECT_EQ(s.caustics, 0);
    }
}

TEST(SurfaceShader, PruningClearsTermsThatCannotContribute) {
    const std::uint16_t all = ShapeAttr::Reflects | ShapeAttr::Refracts | ShapeAttr::UvWindow;
    auto pruned = [&](const SurfaceDescription& d, bool uvDefault) {
        std::uint16_t a = all;
        makeSurfaceShader(d)->pruneAttributes(a, uvDefault);
        return a;
    };
    EXPECT_EQ(pruned({}, true), 0);  // no reflection, no transmission, default uv window
    EXPECT_EQ(pruned({}, false), ShapeAttr::UvWindow);

    SurfaceDescription glass;
    glass.slots[21] = num(0.5);
    glass.slots[24] = num(0.9);
    EXPECT_EQ(pruned(glass, true), ShapeAttr::Reflects | ShapeAttr::Refracts);
    glass.slots[23] = vec(0, 0, 0);  // black transmission colour
    EXPECT_EQ(pruned(glass, true), ShapeAttr::Reflects);

    // Per-hit: only what is known whatever the hit is pruned.
    SurfaceDescription perHit;
    perHit.slots[10] = vec(0, 1, 0);
    perHit.slots[21] = num(0.5);
    perHit.slots[9] = vec(1, 1, 1, 0.5);  // the base colour's fourth value is the transmission weight
    EXPECT_EQ(makeSurfaceShader(perHit)->kind, ShaderKind::PerHit);
    EXPECT_EQ(pruned(perHit, true), ShapeAttr::Reflects | ShapeAttr::Refracts);
    perHit.slots[20] = vec(0, 0, 0);
    EXPECT_EQ(pruned(perHit, false), ShapeAttr::Refracts | ShapeAttr::UvWindow);

    // A pattern surface may only lose its reflection.
    SurfaceDescription pattern;
    pattern.kind = SurfaceKind::Pattern;
    auto shader = makeSurfaceShader(pattern);
    EXPECT_EQ(shader->kind, ShaderKind::Pattern);
    std::uint16_t a = all;
    shader->pruneAttributes(a, true);
    EXPECT_EQ(a, ShapeAttr::Refracts | ShapeAttr::UvWindow);
}

TEST(SurfaceShader, PerHitModifiersAndCurrentColour) {
    SurfaceDescription d;
    d.slots[11] = vec(7, 8, 9);
    d.slots[10] = vec(0, 0, 2);
    d.slots[9] = vec(0.5, 0.5, 0.5, 0.3);
    auto shader = makeSurfaceShader(d);
    ShadingContext sc;
    SurfaceSample s;
    shader->evaluate(sc, s);
    EXPECT_EQ(sc.P, Vec3(7, 8, 9));
    EXPECT_EQ(sc.N, Vec3(0, 0, 1));
    EXPECT_TRUE(s.normalModified);
    EXPECT_EQ(sc.color, Color(0.5, 0.5, 0.5));
    EXPECT_EQ(sc.colorFourth, 0.3);
}

}  // namespace
}  // namespace quorva
