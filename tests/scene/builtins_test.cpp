// Built-in calls: name and argument checks with their messages, special forms, function values.
#include "scene/builtins.h"

#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "geometry/quadrics.h"
#include "image/texture_image.h"
#include "scene/scene_state.h"
#include "scene/search_path.h"
#include "scene/symbol_table.h"
#include "trace/random.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

RequestPtr num(double x) {
    return makeFloatRequest(x);
}
RequestPtr vec(double x, double y, double z) {
    return makeVectorRequest({x, y, z});
}
RequestPtr str(const char* s) {
    return makeStringRequest(s);
}

Value call(const std::string& name, std::vector<RequestPtr> args, const EvalContext& ctx = EvalContext{}) {
    return evaluate(ctx, buildCall(name, args));
}
double callNumber(const std::string& name, std::vector<RequestPtr> args) {
    Value v = call(name, std::move(args));
    EXPECT_TRUE(v.isNumber()) << name;
    return v.number;
}

using testing::fatalText;

TEST(Builtins, TableHoldsTheNamesSorted) {
    EXPECT_EQ(BuiltinCount, 98);
    for (int i = 0; i < BuiltinCount; ++i) {
        auto id = static_cast<BuiltinId>(i);
        EXPECT_EQ(findBuiltin(builtinName(id)), id) << builtinName(id);
        if (i > 0) {
            EXPECT_LT(std::string(builtinName(static_cast<BuiltinId>(i - 1))), std::string(builtinName(id)));
        }
    }
    EXPECT_FALSE(findBuiltin("noise"));  // a keyword, not a built-in name
    EXPECT_FALSE(findBuiltin("Sin"));
}

TEST(Builtins, CallChecksAndMessages) {
    auto one = std::vector<RequestPtr>{num(1)};
    EXPECT_EQ(fatalText([] { buildCall("sin", {}); }), "Arguments missing for \"sin\"");
    EXPECT_EQ(fatalText([] { buildCall("sin", {num(1), num(2)}); }), "Wrong number of arguments for \"sin\"");
    EXPECT_EQ(fatalText([] { buildCall("frobnicate", {num(1)}); }), "Token undefined: \"frobnicate\"");
    EXPECT_EQ(fatalText([] { buildCall("frobnicate", {}); }), "Token \"frobnicate\" undefined");
    EXPECT_EQ(fatalText([] {
                  buildCall("sin", {num(1), num(1), num(1), num(1), num(1)});
              }),
              "Too many arguments for \"sin\"");
    EXPECT_EQ(fatalText([] {
                  buildCall("Maps", {str("a"), str("b"), str("c"), str("d"), str("e")});
              }),
              "Too many arguments for \"Maps\"");
    EXPECT_EQ(fatalText([] { buildCall("Maps", {str("a")}); }), "Wrong number of arguments for \"Maps\"");
    EXPECT_EQ(fatalText([] {
                  buildCall("Maps", {str("a"), str("b"), num(1), str("d"), str("e"), str("f")});
              }),
              "Environment mapping needs string arguments only");
    EXPECT_EQ(fatalText([] { buildCall("SpectrumOfColors", {num(1)}); }),
              "Wrong number of arguments for \"SpectrumOfColors\"");
    EXPECT_EQ(fatalText([] { buildCall("ImageFile", {num(1), num(0)}); }), "String required for ImageFile");
    // Several counts for one name; mapping calls are accepted with two or three arguments.
    EXPECT_NO_THROW(buildCall("random", {}));
    EXPECT_NO_THROW(buildCall("random", {num(2)}));
    EXPECT_NO_THROW(buildCall("wave", {vec(0, 0, 0), vec(0, 0, 0), num(1), num(0)}));
    EXPECT_NO_THROW(buildCall("PlanarImageMapping", {vec(0, 0, 0), num(1), num(0)}));
    EXPECT_EQ(fatalText([] { buildCall("PlanarImageMapping", {num(1)}); }),
              "Wrong number of arguments for \"PlanarImageMapping\"");
}

TEST(Builtins, DegreesAndRadiansAreProducts) {
    RequestPtr d = buildCall("degrees", {num(3.141592653589793)});
    EXPECT_EQ(d->kind, RequestKind::Multiply);
    EXPECT_NEAR(evaluate(EvalContext{}, d).number, 180, 1e-9);
    EXPECT_NEAR(callNumber("radians", {num(180)}), 3.141592653589793, 1e-12);
}

TEST(Builtins, BoundsOfADeclaredSolid) {
    SymbolTable symbols;
    EvalContext ctx;
    auto sphere = std::make_shared<Sphere>(Vec3{1, 2, 3}, 1.0);
    symbols.declare("ball", SymbolKind::Solid, std::shared_ptr<const Shape>(sphere), false, false, ctx);
    symbols.declare("e", SymbolKind::Expression, num(1), false, false, ctx);
    RequestPtr lo = buildCall("min", {str("ball")}, &symbols);
    RequestPtr hi = buildCall("max", {str("ball")}, &symbols);
    EXPECT_EQ(lo->kind, RequestKind::Vector);
    EXPECT_EQ(lo->vector, sphere->boundsMin);
    EXPECT_EQ(hi->vector, sphere->boundsMin + sphere->boundsSize);
    EXPECT_EQ(fatalText([&] { buildCall("max", {str("e")}, &symbols); }),
              "Can't find Shape \"e\" in symbol table");
    EXPECT_EQ(fatalText([&] { buildCall("max", {str("none")}, &symbols); }),
              "Can't find Shape \"none\" in symbol table");
    EXPECT_EQ(fatalText([&] { buildCall("min", {num(1)}, &symbols); }),
              "Predefined Shape required to compute Bounds");
    // Two arguments: the ordinary minimum and maximum, component-wise for vectors.
    EXPECT_EQ(callNumber("min", {num(3), num(-1)}), -1);
    EXPECT_EQ(call("max", {vec(1, 5, 0), vec(2, 0, 0)}).vector, Vec3(2, 5, 0));
}

TEST(Builtins, ElementaryFunctions) {
    EXPECT_NEAR(callNumber("log", {num(std::exp(2.0))}), 2, 1e-12);
    EXPECT_NEAR(callNumber("log10", {num(1000)}), 3, 1e-12);
    EXPECT_EQ(callNumber("int", {num(-2.7)}), -2);
    EXPECT_EQ(callNumber("round", {num(2.5)}), 3);
    EXPECT_EQ(callNumber("sign", {num(-0.1)}), -1);
    EXPECT_EQ(callNumber("sign", {num(0)}), 0);
    EXPECT_EQ(callNumber("inversesqrt", {num(4)}), 0.5);
    EXPECT_EQ(callNumber("fmod", {num(7), num(4)}), 3);
    EXPECT_EQ(callNumber("fmod", {num(5e-9), num(4)}), 0);
    EXPECT_EQ(callNumber("pow", {num(-3), num(2)}), 9);
    EXPECT_NEAR(callNumber("atan2", {num(1), num(1)}), 0.7853981633974483, 1e-15);
    EXPECT_TRUE(call("sin", {vec(1, 1, 1)}).isNone());
}

TEST(Builtins, VectorFunctions) {
    EXPECT_EQ(callNumber("length", {vec(3, 4, 12)}), 13);
    EXPECT_EQ(call("normalize", {vec(0, 0, 5)}).vector, Vec3(0, 0, 1));
    EXPECT_EQ(callNumber("distance", {vec(1, 1, 1), vec(1, 4, 5)}), 5);
    EXPECT_EQ(call("reflect", {vec(1, -1, 0), vec(0, 1, 0)}).vector, Vec3(1, 1, 0));
    // Straight through at equal indices; total internal reflection gives the zero vector.
    EXPECT_EQ(call("refract", {vec(0, -1, 0), vec(0, 1, 0), num(1)}).vector, Vec3(0, -1, 0));
    Vec3 grazing = normalized({1, -0.1, 0});
    EXPECT_EQ(call("refract", {vec(grazing.x, grazing.y, 0), vec(0, 1, 0), num(1.5)}).vector, Vec3(0, 0, 0));
    EXPECT_TRUE(call("length", {num(2)}).isNone());
}

TEST(Builtins, PatternShaping) {
    EXPECT_EQ(callNumber("sawtooth", {num(0.25)}), 0.5);
    EXPECT_EQ(callNumber("sawtooth", {num(0.75)}), 0.5);
    EXPECT_EQ(callNumber("sawtooth", {num(-0.25)}), 0.5);
    EXPECT_EQ(callNumber("ramp", {num(1e-9)}), 0);
    EXPECT_DOUBLE_EQ(callNumber("ramp", {num(-0.25)}), 0.75);
    EXPECT_EQ(callNumber("clamp", {num(5), num(0), num(1)}), 1);
    EXPECT_EQ(callNumber("mix", {num(2), num(4), num(0.25)}), 2.5);
    EXPECT_EQ(callNumber("step", {num(0.5), num(0.4)}), 0);
    EXPECT_EQ(callNumber("smoothstep", {num(0), num(1), num(0.5)}), 0.5);
    EXPECT_EQ(callNumber("pulse", {num(1), num(2), num(1.5)}), 1);
    EXPECT_EQ(callNumber("pulse", {num(1), num(2), num(2)}), 0);
    EXPECT_NEAR(callNumber("bias", {num(0.25), num(0.5)}), 0.25, 1e-12);
    EXPECT_NEAR(callNumber("gain", {num(0.5), num(0.3)}), 0.3, 1e-12);
    EXPECT_NEAR(callNumber("legendre", {num(0.5), num(2), num(0)}), -0.125, 1e-12);
    EXPECT_NEAR(callNumber("legendre", {num(0.6), num(1), num(1)}), -0.8, 1e-12);
    EXPECT_EQ(callNumber("legendre", {num(0.6), num(1), num(2)}), 0);
    EXPECT_EQ(callNumber("legendre", {num(1.5), num(2), num(0)}), 0);
    EXPECT_NEAR(callNumber("greyscale", {vec(1, 1, 1)}), 1, 1e-12);
    EXPECT_EQ(call("HSVColorWheel", {num(1.0 / 3), num(1)}).vector, Vec3(0, 1, 0));
    Value w = call("wave", {vec(2, 0, 0)});
    EXPECT_NEAR(w.vector.x, std::cos(2.0), 1e-12);
    EXPECT_EQ(fatalText([] {
                  call("wave", {vec(1, 0, 0), num(1), num(1), num(0)});
              }),
              "Wave center must be vector");
    EXPECT_EQ(fatalText([] {
                  call("wave", {vec(1, 0, 0), vec(0, 0, 0), vec(1, 1, 1), num(0)});
              }),
              "Wavelength must be a float");
}

TEST(Builtins, WrongKindsAndMissingContextsYieldNone) {
    EXPECT_TRUE(call("fnoise", {num(1)}).isNone());
    EXPECT_TRUE(call("circular1", {num(0.5)}).isNone());
    EXPECT_TRUE(call("trace", {vec(0, 0, 1)}).isNone());  // no shading context
    EXPECT_TRUE(call("visibility", {vec(0, 0, 0), vec(0, 0, 1)}).isNone());
}

TEST(Builtins, RandomDrawsFromTheContextGenerator) {
    EXPECT_TRUE(call("random", {}).isNone());  // no generator at hand
    RandomGenerator a(7), b(7);
    EvalContext ctx;
    ctx.random = &a;
    RequestPtr r = buildCall("random", {});
    double first = evaluate(ctx, r).number;
    EXPECT_EQ(first, b.nextUnit());
    EXPECT_NE(evaluate(ctx, r).number, first);
    Value scaled = evaluate(ctx, buildCall("random", {num(10)}));
    EXPECT_GE(scaled.number, 0);
    EXPECT_LE(scaled.number, 10);
}

TEST(Builtins, RandomGeneratorSpansItsRange) {
    RandomGenerator g(665);
    std::uint32_t lo = RandomGenerator::Max, hi = 0;
    double sum = 0;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        std::uint32_t r = g.next();
        ASSERT_LE(r, RandomGenerator::Max);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
        sum += r;
    }
    EXPECT_LT(lo, RandomGenerator::Max / 1000);
    EXPECT_GT(hi, RandomGenerator::Max - RandomGenerator::Max / 1000);
    EXPECT_NEAR(sum / n / RandomGenerator::Max, 0.5, 0.01);
    RandomGenerator h(665);
    EXPECT_EQ(RandomGenerator(665).next(), h.next());  // reproducible from the seed
}

TEST(Builtins, TraceAndVisibilityCastRaysFromTheShadingContext) {
    SceneState scene;
    scene.frame.background.colour = {0.25, 0.5, 0.75};
    scene.frame.world.push(std::make_unique<Sphere>(Vec3{0, 0, 0}, 1.0));
    RenderContext render(&scene.frame);
    ShadingContext sc;
    sc.P = {0, 0, -5};
    sc.render = &render;
    EvalContext ctx;
    ctx.shading = &sc;
    EXPECT_EQ(evaluate(ctx, buildCall("visibility", {vec(0, 0, -5), vec(0, 0, 5)})).number, 0);
    EXPECT_EQ(evaluate(ctx, buildCall("visibility", {vec(3, 0, -5), vec(3, 0, 5)})).number, 1);
    // Away from the sphere the ray sees the background.
    Value miss = evaluate(ctx, buildCall("trace", {vec(0, 0, -1)}));
    ASSERT_TRUE(miss.isVector());
    EXPECT_EQ(miss.vector, Vec3(0.25, 0.5, 0.75));
    Value fromOrigin = evaluate(ctx, buildCall("trace", {vec(5, 0, 0), vec(1, 0, 0)}));
    EXPECT_EQ(fromOrigin.vector, Vec3(0.25, 0.5, 0.75));
}

// A 1 x 1 true-colour Targa file.
void writeTarga(const std::filesystem::path& path) {
    unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0x20};
    unsigned char pixel[3] = {10, 20, 30};
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    f.write(reinterpret_cast<const char*>(pixel), sizeof pixel);
}

TEST(Builtins, ImagesAreLoadedWhenTheCallIsBuilt) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("quorva_maps_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    searchPath().reset();
    std::vector<RequestPtr> names;
    for (int k = 1; k <= 6; ++k) {
        fs::path p = dir / ("face" + std::to_string(k) + ".tga");
        writeTarga(p);
        names.push_back(str(p.c_str()));
    }
    RequestPtr maps = buildCall("Maps", names);
    ASSERT_EQ(maps->kind, RequestKind::Environment);
    // Argument 1 lands on face 3, then faces 1, 5, 0, 2 and 4.
    const int expectedArgument[6] = {4, 2, 5, 1, 6, 3};
    for (int face = 0; face < 6; ++face) {
        const RequestPtr& node = maps->environment->faces[face];
        ASSERT_TRUE(node && node->image);
        EXPECT_EQ(node->image->name, names[expectedArgument[face] - 1]->text) << face;
    }
    RequestPtr image = buildCall("ImageFile", {names[0], num(1)});
    ASSERT_EQ(image->kind, RequestKind::Image);
    EXPECT_EQ(image->mappingMode, 1);
    EXPECT_EQ(image->image->interpolation, 1);
    EXPECT_EQ(evaluate(EvalContext{}, image).other, image.get());
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace quorva
