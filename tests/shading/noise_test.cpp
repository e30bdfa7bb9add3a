// The noise generators and the noise built-ins: ranges, periods, octave sums, continuity across
// lattice corners, cell constancy and the inputs that must neither crash nor hang.
#include "shading/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "eval/value.h"
#include "scene/builtins.h"
#include "trace/quasi_random.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

Value call(const char* name, std::vector<RequestPtr> args) {
    return evaluate(EvalContext{}, buildCall(name, args, nullptr));
}
RequestPtr vec(double x, double y, double z) {
    return makeVectorRequest({x, y, z});
}
RequestPtr num(double x) {
    return makeFloatRequest(x);
}
double noiseNode(const Vec3& p, RequestPtr octaves = nullptr) {
    const Value v =
        evaluate(EvalContext{}, makeOperatorRequest(RequestKind::Noise, makeVectorRequest(p), octaves));
    EXPECT_TRUE(v.isNumber());
    return v.number;
}

const Vec3 Points[] = {{0.3, 1.7, -2.2}, {-13.41, 7.5, 0.01}, {123.4, -56.7, 89.01}, {-0.5, -0.25, -3.75}};

TEST(Noise, TurbulenceAndItsOctaveArguments) {
    for (const Vec3& p : Points) {
        EXPECT_GE(call("fnoise", {vec(p.x, p.y, p.z)}).number, 0);
        EXPECT_NEAR(fnoise(p, 1), 2 * std::fabs(gradientNoise(p) - 0.5), 1e-12);
        // A vector octave argument (octaves, lacunarity, gain) is the explicit weighted sum.
        const Vec3 q = p * 3.0;
        const double explicitSum =
            (std::fabs(gradientNoise(p) - 0.5) + 0.25 * std::fabs(gradientNoise(q) - 0.5)) / (0.5 * 1.25);
        EXPECT_NEAR(call("fnoise", {vec(p.x, p.y, p.z), vec(2, 3, 0.25)}).number, explicitSum, 1e-12);
    }
    // Octave counts are clamped to 1..64: 0 and a huge count neither divide by zero nor hang.
    const Vec3& p = Points[0];
    EXPECT_EQ(call("fnoise", {vec(p.x, p.y, p.z), num(0)}).number, fnoise(p, 1));
    EXPECT_EQ(call("fnoise", {vec(p.x, p.y, p.z), num(1e9)}).number, fnoise(p, 64));
    EXPECT_TRUE(call("fnoise", {vec(p.x, p.y, p.z), makeStringRequest("x")}).isNone());
}

TEST(Noise, HashedValueNoiseRangePeriodAndOctaves) {
    for (const Vec3& p : Points) {
        const double n = noiseNode(p);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 1);
        EXPECT_NEAR(noiseNode(p + Vec3{1024, -2048, 1024}), n, 1e-9);
        EXPECT_NEAR(noiseNode(p, num(2)), (n + 0.5 * noiseNode(p * 2.0)) / 1.5, 1e-12);
    }
    EXPECT_NE(noiseNode({0.5, 0.5, 0.5}), noiseNode({1.5, 0.5, 0.5}));
}

TEST(Noise, LatticeNoisesRepeatEvery256Cells) {
    for (const Vec3& p : Points) {
        EXPECT_NEAR(vnoise(p + Vec3{256, 0, -512}), vnoise(p), 1e-9);
        EXPECT_NEAR(vcnoise(p + Vec3{0, 256, 256}), vcnoise(p), 1e-9);
    }
}

TEST(Noise, ContinuousAcrossLatticeCorners) {
    const double e = 1e-9;
    auto check = [&](const char* name, auto f, double tolerance) {
        for (const Vec3& c : {Vec3{3, -2, 5}, Vec3{-7, -1, -4}, Vec3{0, 0, 0}}) {
            EXPECT_NEAR(f(c - Vec3{e, e, e}), f(c + Vec3{e, e, e}), tolerance) << name << " at " << c;
            EXPECT_NEAR(f(c - Vec3{e, -e, e}), f(c + Vec3{e, -e, e}), tolerance) << name << " at " << c;
        }
    };
    check("gradientNoise", gradientNoise, 1e-6);
    check(
        "fnoise", [](const Vec3& p) { return fnoise(p, 4); }, 1e-5);
    check("noise", valueNoise, 1e-6);
    check("vnoise", vnoise, 1e-6);
    check("vcnoise", vcnoise, 1e-6);
    check(
        "scnoise", [](const Vec3& p) { return scnoise(p, 4); }, 1e-6);
    check(
        "voronoi", [](const Vec3& p) { return voronoi(p, 1); }, 1e-6);
    check(
        "dnoise", [](const Vec3& p) { return dnoise(p, Octaves{}).x; }, 1e-5);
}

TEST(Noise, DnoiseIsAUnitVector) {
    for (const Vec3& p : Points) {
        const Value v = call("dnoise", {vec(p.x, p.y, p.z), num(3)});
        ASSERT_TRUE(v.isVector());
        EXPECT_NEAR(length(v.vector), 1, 1e-12);
    }
}

TEST(Noise, CellNoisesAndVoronoi) {
    const Vec3 a{2.1, -3.9, 7.05}, b{2.95, -3.02, 7.99};  // the same unit cell
    EXPECT_EQ(fcellnoise(a), fcellnoise(b));
    EXPECT_EQ(vcellnoise(a), vcellnoise(b));
    EXPECT_NE(fcellnoise(a), fcellnoise(a + Vec3{1, 0, 0}));
    EXPECT_NE(fcellnoise(a, 0.5, true), fcellnoise(a, 1.5, true));
    const Vec3 v = vcellnoise(a);
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(v[i], 0);
        EXPECT_LT(v[i], 1);
    }
    EXPECT_NE(v.x, v.y);
    // Jitter 0: the distance to the nearest cell centre.
    EXPECT_NEAR(voronoi({0.5, 0.5, 0.5}, 0), 0, 1e-12);
    EXPECT_NEAR(voronoi({1.0, 0.5, 0.5}, 0), 0.5, 1e-12);
    EXPECT_NEAR(call("voronoi", {vec(-1.2, 0.5, 0.5), num(-3)}).number, 0.3, 1e-12);  // clamped to 0
    EXPECT_LE(voronoi({4.2, 1.1, -8.3}, 1), std::sqrt(3.0));
}

TEST(Noise, RadialAndCircularProfilesOnTheAxes) {
    EXPECT_NEAR(call("radial1", {vec(1, 5, 0)}).number, 0, 1e-12);
    EXPECT_NEAR(call("radial1", {vec(0, 5, 1)}).number, 0.25, 1e-12);
    EXPECT_NEAR(call("radial1", {vec(0, 5, -1)}).number, 0.75, 1e-12);
    EXPECT_NEAR(call("radial2", {vec(0, 1, 9)}).number, 0.25, 1e-12);
    EXPECT_NEAR(call("radial2", {vec(-1, 0, 9)}).number, 0.5, 1e-12);
    EXPECT_EQ(call("radial1", {vec(0, 3, 0)}).number, 0);  // on the axis
    EXPECT_NEAR(call("circular1", {vec(3, 7, 4)}).number, 5, 1e-12);
    EXPECT_NEAR(call("circular2", {vec(3, 4, 7)}).number, 5, 1e-12);
}

TEST(Noise, HostilePointsAndCounts) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A coordinate that is not finite counts as 0.
    EXPECT_EQ(gradientNoise({nan, 0.5, inf}), gradientNoise({0, 0.5, 0}));
    EXPECT_EQ(valueNoise({-inf, 0.5, 0.25}), valueNoise({0, 0.5, 0.25}));
    for (const Vec3& p : {Vec3{1e300, -1e300, 3e18}, Vec3{nan, inf, -inf}, Vec3{-2.5e9, 4.1e9, 1e15}}) {
        EXPECT_TRUE(std::isfinite(gradientNoise(p)));
        EXPECT_TRUE(std::isfinite(fnoise(p, 64)));
        EXPECT_TRUE(std::isfinite(valueNoise(p)));
        EXPECT_TRUE(std::isfinite(vnoise(p)));
        EXPECT_TRUE(std::isfinite(vcnoise(p)));
        EXPECT_TRUE(std::isfinite(voronoi(p, 1)));
        EXPECT_TRUE(std::isfinite(fcellnoise(p, inf, true)));
        EXPECT_TRUE(std::isfinite(gradientNoise1(p.x)));
        EXPECT_TRUE(std::isfinite(call("scnoise", {vec(p.x, p.y, p.z), num(0)}).number));
    }
    EXPECT_TRUE(std::isfinite(call("scnoise", {vec(1.5, 2.5, 3.5), num(1e12)}).number));
    EXPECT_TRUE(call("scnoise", {num(1), num(4)}).isNone());
}

TEST(Noise, FbmDrawsFromTheQuasiRandomSequence) {
    QuasiRandom a(3), b(3);
    EvalContext ctx;
    ctx.quasi = &a;
    const RequestPtr fbm = buildCall("fBm", {vec(1, 2, 3), num(0.5)}, nullptr);
    const Value first = evaluate(ctx, fbm);
    double u, v, w;
    b.nextTriple(u, v, w);
    EXPECT_NEAR(first.vector.x, 1 + 0.5 * (2 * u - 1), 1e-12);
    EXPECT_NEAR(first.vector.z, 3 + 0.5 * (2 * w - 1), 1e-12);
    EXPECT_NE(evaluate(ctx, fbm).vector, first.vector);  // successive calls differ
    EXPECT_TRUE(call("fBm", {vec(1, 2, 3)}).isNone());   // no sequence at hand

    // While rendering, the sequence restarts with every camera sample: the same sample draws the same
    // offsets, another pixel others.
    auto firstDraw = [&](RenderContext& rc, double x, double y) {
        rc.beginSample(x, y);
        ShadingContext sc;
        sc.render = &rc;
        EvalContext shading;
        shading.shading = &sc;
        return evaluate(shading, fbm).vector;
    };
    RenderContext one, two;
    EXPECT_EQ(firstDraw(one, 3.5, 7.25), firstDraw(two, 3.5, 7.25));
    EXPECT_NE(firstDraw(one, 3.5, 7.25), firstDraw(two, 4.5, 7.25));
}

}  // namespace
}  // namespace quorva
