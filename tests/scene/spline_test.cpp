// Splines (construction checks and the interpolation of each type) and colour spectra.
#include "scene/spline.h"

#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <functional>

#include "diagnostics/diagnostics.h"
#include "eval/spectrum.h"
#include "eval/value.h"
#include "scene/builtins.h"

namespace quorva {
namespace {

RequestPtr num(double x) {
    return makeFloatRequest(x);
}
RequestPtr vec(double x, double y, double z) {
    return makeVectorRequest({x, y, z});
}
RequestPtr points(std::vector<Vec3> ps) {
    std::vector<RequestPtr> e;
    for (const Vec3& p : ps) e.push_back(makeVectorRequest(p));
    return makeArrayRequest(std::move(e));
}
RequestPtr numbers(std::vector<double> xs) {
    std::vector<RequestPtr> e;
    for (double x : xs) e.push_back(num(x));
    return makeArrayRequest(std::move(e));
}

using testing::fatalText;

void expectNear(const Vec3& a, const Vec3& b) {
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
    EXPECT_NEAR(a.z, b.z, 1e-9);
}

TEST(Spline, ConstructionChecks) {
    auto pts = points({{0, 0, 0}, {1, 0, 0}});
    EXPECT_EQ(fatalText([&] { buildSpline(num(0).get(), pts.get(), nullptr); }),
              "Invalid spline type specified");
    EXPECT_EQ(fatalText([&] { buildSpline(num(6).get(), pts.get(), nullptr); }),
              "Invalid spline type specified");
    EXPECT_EQ(fatalText([&] { buildSpline(vec(1, 1, 1).get(), pts.get(), nullptr); }),
              "Invalid spline type specified");
    EXPECT_EQ(fatalText([&] { buildSpline(num(1).get(), vec(1, 1, 1).get(), nullptr); }),
              "Spline must have an array of control points");
    EXPECT_EQ(fatalText([&] {
                  buildSpline(num(1).get(), numbers({1, 2}).get(), nullptr);
              }),
              "Control points in spline have to be vectors");
    EXPECT_EQ(fatalText([&] {
                  buildSpline(num(5).get(), points({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}).get(), nullptr);
              }),
              "Type 5 splines must have at least two derivatives and two control points");
    EXPECT_EQ(fatalText([&] { buildSpline(num(1).get(), pts.get(), num(1).get()); }),
              "Spline parameters have to be an array");
    EXPECT_EQ(fatalText([&] {
                  buildSpline(num(1).get(), pts.get(), numbers({0, 1, 2}).get());
              }),
              "Spline must have same number of parameters as control points");
    EXPECT_EQ(fatalText([&] {
                  buildSpline(num(1).get(), pts.get(), makeArrayRequest({num(0), vec(1, 1, 1)}).get());
              }),
              "Spline parameters 1 must be a float");
    EXPECT_EQ(fatalText([&] {
                  buildSpline(num(1).get(), pts.get(), numbers({1, 0}).get());
              }),
              "Failed to interpolate spline");
    // A missing type is type 1.
    EXPECT_EQ(buildSpline(nullptr, pts.get(), nullptr)->type, 1);
}

TEST(Spline, LinearUsesChordLengths) {
    auto s = buildSpline(num(1).get(), points({{0, 0, 0}, {1, 0, 0}, {1, 3, 0}}).get(), nullptr);
    EXPECT_EQ(s->length, 4);
    expectNear(evaluateSpline(*s, 0), {0, 0, 0});
    expectNear(evaluateSpline(*s, 0.25), {1, 0, 0});
    expectNear(evaluateSpline(*s, 0.5), {1, 1, 0});
    expectNear(evaluateSpline(*s, 1), {1, 3, 0});
    expectNear(evaluateSpline(*s, -1), {0, 0, 0});  // open curves hold their ends
    expectNear(evaluateSpline(*s, 7), {1, 3, 0});
    // Coincident points count a span of 1.
    auto d = buildSpline(num(1).get(), points({{0, 0, 0}, {0, 0, 0}}).get(), nullptr);
    EXPECT_EQ(d->length, 1);
}

TEST(Spline, ClosedLinearWrapsAround) {
    auto s = buildSpline(num(2).get(), points({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}).get(), nullptr);
    EXPECT_EQ(s->length, 4);  // the closing side counts
    expectNear(evaluateSpline(*s, 0.875), {0, 0.5, 0});
    expectNear(evaluateSpline(*s, 1.125), {0.5, 0, 0});
    expectNear(evaluateSpline(*s, -0.125), {0, 0.5, 0});
}

TEST(Spline, CubicTypesPassThroughTheirPoints) {
    auto pts = points({{0, 0, 0}, {1, 2, 0}, {3, 3, 0}, {4, 0, 0}});
    for (int type : {3, 4}) {
        auto s = buildSpline(num(type).get(), pts.get(), numbers({0, 1, 2, 3}).get());
        expectNear(evaluateSpline(*s, 1), {1, 2, 0});
        expectNear(evaluateSpline(*s, 2), {3, 3, 0});
    }
    // Collinear evenly spaced points give a straight, evenly parametrised curve.
    auto line =
        buildSpline(num(3).get(), points({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}).get(), nullptr);
    expectNear(evaluateSpline(*line, 0.5), {1.5, 0, 0});
    // Type 5: the end derivatives shape the ends.
    auto h = buildSpline(num(5).get(), points({{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}).get(),
                         numbers({0, 1}).get());
    expectNear(evaluateSpline(*h, 0), {0, 0, 0});
    expectNear(evaluateSpline(*h, 1), {1, 0, 0});
    // Hermite with tangents (0, 1, 0) at both ends: the midpoint lies at x 0.5, y (1 - 1) / 8 = 0.
    expectNear(evaluateSpline(*h, 0.5), {0.5, 0, 0});
    EXPECT_GT(evaluateSpline(*h, 0.25).y, 0);
}

TEST(Spline, CallBuildsTheRecordAndEvaluatesTheParameter) {
    RequestPtr s = buildCall("spline", {num(1), num(0.5), points({{0, 0, 0}, {2, 0, 0}})});
    EXPECT_EQ(s->kind, RequestKind::SplineValue);
    EXPECT_EQ(evaluate(EvalContext{}, s).vector, Vec3(1, 0, 0));
    EXPECT_FALSE(isConstantRequest(*buildCall("spline", {num(1), buildCall("u", {}), points({{0, 0, 0}})})));
}

TEST(Spectrum, BandsInterpolateAndFallBack) {
    ColorSpectrum spectrum;
    ColorSpectrumEntry band;
    band.position[0] = 0;
    band.position[1] = 1;
    band.colour[0] = {1, 0, 0};
    band.colour[1] = {0, 0, 1};
    band.extra[1] = 2;
    spectrum.entries.push_back(band);
    spectrum.defaultColour = {0.5, 0.5, 0.5};
    Color c;
    double extra = -1;
    ASSERT_TRUE(evaluateSpectrum(spectrum, 0.25, c, extra));
    EXPECT_EQ(c, Color(0.75, 0, 0.25));
    EXPECT_EQ(extra, 0.5);
    evaluateSpectrum(spectrum, 1, c, extra);
    EXPECT_EQ(c, Color(0, 0, 1));
    EXPECT_FALSE(evaluateSpectrum(spectrum, 2, c, extra));
    EXPECT_EQ(c, Color(0.5, 0.5, 0.5));

    // As an expression with an index it yields the colour, with the extra value as fourth.
    spectrum.index = makeFloatRequest(0.5);
    Value v = evaluate(EvalContext{}, makeSpectrumRequest(std::make_shared<ColorSpectrum>(spectrum)));
    EXPECT_EQ(v.vector, Vec3(0.5, 0, 0.5));
    EXPECT_EQ(v.fourth, 1);
}

}  // namespace
}  // namespace quorva
