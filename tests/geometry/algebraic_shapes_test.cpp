// The algebraic shapes: Torus, PolynomialSurface and Superquadric - constructors and their messages,
// roots under every solver, normals, surface coordinates, inside tests and parametric forms.
#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <cmath>
#include <functional>
#include <random>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::fatalText;

Vec3 unit(const Vec3& v) {
    return normalized(v);
}

void expectParallel(const Vec3& a, const Vec3& b, double tol = 1e-6) {
    const Vec3 ua = unit(a), ub = unit(b);
    EXPECT_NEAR(dot(ua, ub), 1.0, tol) << a << " vs " << b;
}

struct Tracer {
    RenderContext ctx;
    explicit Tracer(bool uv = false) {
        if (uv)
            ctx.settings.featureMask |= ShapeAttr::UvWindow;
        else
            ctx.settings.featureMask &= ~ShapeAttr::UvWindow;
    }
    Intersection trace(const Shape& s, const Vec3& origin, const Vec3& dir, double tmin = 0,
                       double tmax = 1e6) {
        Intersection hit;
        intersectShape(ctx, {origin, normalized(dir)}, tmin, tmax, hit, s);
        return hit;
    }
};

constexpr int AllSolvers[] = {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm};

// --- Torus ---

TEST(Torus, ConstructorChecksTheAxisAndSetsBounds) {
    EXPECT_EQ(fatalText([] { makeTorus({0, 0, 0}, {0, 0, 0}, 2, 0.5); }), "Degenerate Torus");
    EXPECT_EQ(fatalText([] { makeTorus({0, 0, 0}, {0, 1e-9, 0}, 2, 0.5); }), "Degenerate Torus");
    auto t = makeTorus({1, 2, 3}, {0, 0, 5}, 2, 0.5);
    EXPECT_EQ(t->kind, ShapeKind::Torus);
    EXPECT_EQ(t->subdivisions[0], 32);
    EXPECT_EQ(t->subdivisions[1], 16);
    EXPECT_NEAR(t->boundsMin.x, -1.5, 1e-12);
    EXPECT_NEAR(t->boundsMin.y, -0.5, 1e-12);
    EXPECT_NEAR(t->boundsMin.z, 2.5, 1e-12);
    EXPECT_NEAR(t->boundsSize.x, 5, 1e-12);
    EXPECT_NEAR(t->boundsSize.z, 1, 1e-12);
    // An axis along x swaps the thin extent onto x.
    auto side = makeTorus({0, 0, 0}, {1, 0, 0}, 2, 0.5);
    EXPECT_NEAR(side->boundsSize.x, 1, 1e-12);
    EXPECT_NEAR(side->boundsSize.y, 5, 1e-12);
    EXPECT_NEAR(side->boundsSize.z, 5, 1e-12);
}

TEST(Torus, RayAlongTheAxisPassesThroughTheHoleWithEverySolver) {
    for (int code : AllSolvers) {
        auto t = makeTorus({1, 2, 3}, {0, 0, 1}, 2, 0.5);
        t->setSolver(code);
        Tracer tr;
        EXPECT_EQ(tr.trace(*t, {1, 2, 20}, {0, 0, -1}).hit, 0) << "solver " << code;
        EXPECT_EQ(tr.trace(*t, {1.3, 2.2, -20}, {0, 0, 1}).hit, 0) << "solver " << code;
        // Through the tube instead.
        Intersection h = tr.trace(*t, {3, 2, 20}, {0, 0, -1});
        ASSERT_EQ(h.hit, 1) << "solver " << code;
        EXPECT_NEAR(h.distance, 16.5, 1e-7);
        expectParallel(h.normal, {0, 0, 1});
        // Across the ring through the centre: the outer wall first.
        h = tr.trace(*t, {-9, 2, 3}, {1, 0, 0});
        ASSERT_EQ(h.hit, 1);
        EXPECT_NEAR(h.distance, 7.5, 1e-7);
        expectParallel(h.normal, {-1, 0, 0});
        EXPECT_NEAR(h.point.x, -1.5, 1e-7);
    }
}

TEST(Torus, TiltedTorusAndSolversAgreeOnRandomRays) {
    auto ferrari = makeTorus({0.5, -1, 2}, {1, 1, 0.5}, 1.5, 0.4);
    auto vieta = ferrari->clone();
    auto sturm = ferrari->clone();
    ferrari->setSolver(SolverCode::Ferrari);
    sturm->setSolver(SolverCode::Sturm);
    const Vec3 axis = unit({1, 1, 0.5});
    const Vec3 centre{0.5, -1, 2};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pick(-1, 1);
    Tracer tr;
    int hits = 0;
    for (int i = 0; i < 300; ++i) {
        const Vec3 origin = centre + Vec3{pick(rng), pick(rng), pick(rng)} * 8;
        const Vec3 target = centre + Vec3{pick(rng), pick(rng), pick(rng)} * 2;
        const Vec3 dir = target - origin;
        const Intersection a = tr.trace(*ferrari, origin, dir);
        const Intersection b = tr.trace(*vieta, origin, dir);
        const Intersection c = tr.trace(*sturm, origin, dir);
        ASSERT_EQ(a.hit, c.hit) << "ray " << i;
        ASSERT_EQ(b.hit, c.hit) << "ray " << i;
        if (!c.hit) continue;
        ++hits;
        // Ferrari's method divides by the square root of a small discriminant on near-grazing rays and
        // loses digits there; the others agree closely.
        EXPECT_NEAR(a.distance, c.distance, 1e-4);
        EXPECT_NEAR(b.distance, c.distance, 1e-8);
        // The hit lies on the surface: distance from the core circle equals the minor radius.
        const Vec3 rel = c.point - centre;
        const double along = dot(rel, axis);
        const double radial = length(rel - axis * along);
        EXPECT_NEAR(std::hypot(radial - 1.5, along), 0.4, 1e-6);
        EXPECT_LT(dot(c.normal, dir), 0);  // facing the incoming ray
    }
    EXPECT_GT(hits, 50);
}

TEST(Torus, InsideIsTheSolidTube) {
    auto t = makeTorus({0, 0, 0}, {0, 0, 1}, 2, 0.5);
    EXPECT_TRUE(t->inside({2, 0, 0}));
    EXPECT_TRUE(t->inside({0, -2.3, 0.1}));
    EXPECT_FALSE(t->inside({0, 0, 0}));  // the hole
    EXPECT_FALSE(t->inside({2, 0, 0.6}));
    EXPECT_FALSE(t->inside({2.6, 0, 0}));
    t->applyTransform(makeTranslate({0, 0, 10}));
    EXPECT_TRUE(t->inside({2, 0, 10}));
    EXPECT_FALSE(t->inside({2, 0, 0}));
}

TEST(Torus, SurfaceCoordinatesMatchTheParametricForm) {
    auto t = makeTorus({0, 0, 0}, {0, 0, 1}, 2, 0.5);
    t->attributes |= ShapeAttr::UvWindow;
    Tracer tr(true);
    // Outer equator: u = 0, v = 0.5; top of the tube: v = 0.75.
    Intersection h = tr.trace(*t, {10, 0, 0}, {-1, 0, 0});
    ASSERT_EQ(h.hit, 1);
    EXPECT_NEAR(h.local.x, 0, 1e-9);
    EXPECT_NEAR(h.local.y, 0.5, 1e-9);
    h = tr.trace(*t, {2, 0, 10}, {0, 0, -1});
    ASSERT_EQ(h.hit, 1);
    EXPECT_NEAR(h.local.y, 0.75, 1e-9);
    // Without the uv window the object-space point is stored.
    Tracer plain;
    EXPECT_NEAR(plain.trace(*t, {2, 0, 10}, {0, 0, -1}).local.z, 0.5, 1e-9);

    ASSERT_TRUE(t->hasEvaluate());
    t->applyTransform(makeRotate(0.3, 0.2, 0.1));
    for (double u : {0.1, 0.4, 0.85})
        for (double v : {0.2, 0.6, 0.95}) {
            SurfacePoint sp;
            t->evaluate(u, v, sp);
            EXPECT_NEAR(length(sp.normal), 1, 1e-12);
            // A ray aimed back at the evaluated point along its normal finds it with the same (u, v).
            h = tr.trace(*t, sp.worldPoint + sp.normal * 0.2, -sp.normal);
            ASSERT_EQ(h.hit, 1);
            EXPECT_NEAR(h.distance, 0.2, 1e-7);
            EXPECT_NEAR(h.local.x, u, 1e-7);
            EXPECT_NEAR(h.local.y, v, 1e-7);
            expectParallel(h.normal, sp.normal);
        }
}

// --- PolynomialSurface ---

std::vector<PolynomialTerm> sphereTerms(double radius) {
    return {{1, 2, 0, 0}, {1, 0, 2, 0}, {1, 0, 0, 2}, {-radius * radius, 0, 0, 0}};
}

// (x^2 + y^2 + z^2 + R^2 - r^2)^2 - 4 R^2 (x^2 + y^2), a torus around z.
std::vector<PolynomialTerm> torusTerms(double major, double minor) {
    const double a = major * major - minor * minor, m = 4 * major * major;
    return {{1, 4, 0, 0}, {1, 0, 4, 0},         {1, 0, 0, 4},         {2, 2, 2, 0},     {2, 2, 0, 2},
            {2, 0, 2, 2}, {2 * a - m, 2, 0, 0}, {2 * a - m, 0, 2, 0}, {2 * a, 0, 0, 2}, {a * a, 0, 0, 0}};
}

TEST(PolynomialSurface, SphereIsHitAtTheRightDistanceWithTheGradientNormal) {
    for (int code : AllSolvers) {
        auto s = makePolynomialSurface(sphereTerms(2));
        s->setSolver(code);
        EXPECT_EQ(s->kind, ShapeKind::PolynomialSurface);
        EXPECT_EQ(s->boundsSize, Vec3(1000000, 1000000, 1000000));
        Tracer tr;
        Intersection h = tr.trace(*s, {0, 0, -10}, {0, 0, 1});
        ASSERT_EQ(h.hit, 1);
        EXPECT_NEAR(h.distance, 8, 1e-9);
        expectParallel(h.normal, {0, 0, -1}, 1e-12);
        h = tr.trace(*s, {1, 1, -10}, {0, 0, 1});
        ASSERT_EQ(h.hit, 1);
        EXPECT_NEAR(h.distance, 10 - std::sqrt(2.0), 1e-9);
        expectParallel(h.normal, h.point, 1e-12);
        EXPECT_EQ(tr.trace(*s, {0, 2.1, -10}, {0, 0, 1}).hit, 0);
        // From inside only the far wall.
        h = tr.trace(*s, {0, 0, 0}, {0, 1, 0});
        ASSERT_EQ(h.hit, 1);
        EXPECT_NEAR(h.distance, 2, 1e-9);
    }
}

TEST(PolynomialSurface, RepeatedTermsAccumulateAndInsideIsNegative) {
    // 2x^2 + 2y^2 + 2z^2 - 8, with x^2 given twice and the constant split.
    auto s = makePolynomialSurface(
        {{1, 2, 0, 0}, {1, 2, 0, 0}, {2, 0, 2, 0}, {2, 0, 0, 2}, {-5, 0, 0, 0}, {-3, 0, 0, 0}});
    Tracer tr;
    EXPECT_NEAR(tr.trace(*s, {-10, 0, 0}, {1, 0, 0}).distance, 8, 1e-9);
    EXPECT_TRUE(s->inside({1.9, 0, 0}));
    EXPECT_FALSE(s->inside({2.1, 0, 0}));
    s->applyTransform(makeScale(2, 2, 2));
    EXPECT_TRUE(s->inside({3.9, 0, 0}));
    EXPECT_NEAR(tr.trace(*s, {-10, 0, 0}, {1, 0, 0}).distance, 6, 1e-9);
}

TEST(PolynomialSurface, OrderLimits) {
    EXPECT_EQ(fatalText([] {
                  makePolynomialSurface({{1, 11, 11, 11}, {-1, 0, 0, 0}});
              }),
              "Maximum Polynomial order reached");
    EXPECT_EQ(fatalText([] { makePolynomialSurface({{1, 32, 0, 0}, {-1, 0, 0, 0}}); }), "(no error)");
    auto high = makePolynomialSurface({{1, 25, 0, 0}, {1, 0, 2, 0}, {-1, 0, 0, 0}});
    Tracer tr;
    EXPECT_EQ(fatalText([&] {
                  tr.trace(*high, {-5, 0.1, 0}, {1, 0, 0});
              }),
              "Polynomials of order 25 are unsupported. Max order is 20");
}

TEST(PolynomialSurface, QuarticTorusAgreesWithTheTorusShapeUnderEverySolver) {
    auto reference = makeTorus({0, 0, 0}, {0, 0, 1}, 2, 0.6);
    reference->setSolver(SolverCode::Sturm);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> pick(-1, 1);
    Tracer tr;
    for (int code : AllSolvers) {
        auto s = makePolynomialSurface(torusTerms(2, 0.6));
        s->setSolver(code);
        for (int i = 0; i < 100; ++i) {
            const Vec3 origin = Vec3{pick(rng), pick(rng), pick(rng)} * 8;
            const Vec3 dir = Vec3{pick(rng), pick(rng), pick(rng) * 0.3} * 3 - origin;
            const Intersection a = tr.trace(*reference, origin, dir);
            const Intersection b = tr.trace(*s, origin, dir);
            ASSERT_EQ(a.hit, b.hit) << "solver " << code << " ray " << i;
            if (!a.hit) continue;
            EXPECT_NEAR(a.distance, b.distance, 1e-6);
            expectParallel(a.normal, b.normal);
        }
    }
}

TEST(PolynomialSurface, SexticHitsLieOnTheSurface) {
    // x^6 + y^6 + z^6 = 1, a rounded cube, solved by Sturm sequences.
    auto s = makePolynomialSurface({{1, 6, 0, 0}, {1, 0, 6, 0}, {1, 0, 0, 6}, {-1, 0, 0, 0}});
    Tracer tr;
    EXPECT_NEAR(tr.trace(*s, {0, 0, 5}, {0, 0, -1}).distance, 4, 1e-9);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> pick(-1, 1);
    for (int i = 0; i < 100; ++i) {
        const Vec3 origin = unit({pick(rng), pick(rng), pick(rng)}) * 6;
        const Intersection h = tr.trace(*s, origin, Vec3{pick(rng), pick(rng), pick(rng)} * 0.5 - origin);
        ASSERT_EQ(h.hit, 1) << "ray " << i;
        const Vec3 p = h.point;
        EXPECT_NEAR(std::pow(p.x, 6) + std::pow(p.y, 6) + std::pow(p.z, 6), 1, 1e-8);
        expectParallel(h.normal, {std::pow(p.x, 5), std::pow(p.y, 5), std::pow(p.z, 5)});
    }
}

// --- Superquadric ---

double superquadricValue(const Vec3& p, double e1, double e2) {
    return std::pow(std::pow(std::fabs(p.x), 2 / e2) + std::pow(std::fabs(p.y), 2 / e2), e2 / e1) +
           std::pow(std::fabs(p.z), 2 / e1) - 1;
}

TEST(Superquadric, ConstructorClampsExponentsAndSetsBounds) {
    auto s = makeSuperquadric(0, -3);
    EXPECT_EQ(s->kind, ShapeKind::Superquadric);
    EXPECT_EQ(s->subdivisions[0], 64);
    EXPECT_EQ(s->subdivisions[1], 32);
    EXPECT_EQ(s->boundsMin, Vec3(-1.0001, -1.0001, -1.0001));
    EXPECT_EQ(s->boundsSize, Vec3(2.0002, 2.0002, 2.0002));
    // Exponents clamped to 1e-8 make the cube: faces at +-1, flat normals.
    Tracer tr;
    Intersection h = tr.trace(*s, {0.5, 0.3, -5}, {0, 0, 1});
    ASSERT_EQ(h.hit, 1);
    EXPECT_NEAR(h.distance, 4, 1e-6);
    expectParallel(h.normal, {0, 0, -1});
    h = tr.trace(*s, {5, 0.9, 0.95}, {-1, 0, 0});
    ASSERT_EQ(h.hit, 1);
    EXPECT_NEAR(h.distance, 4, 1e-6);
    expectParallel(h.normal, {1, 0, 0});
    EXPECT_TRUE(s->inside({0.99, -0.99, 0.99}));
    EXPECT_FALSE(s->inside({1.01, 0, 0}));
}

TEST(Superquadric, UnitExponentsGiveTheUnitSphere) {
    auto s = makeSuperquadric(1, 1);
    Tracer tr;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> pick(-1, 1);
    for (int i = 0; i < 200; ++i) {
        const Vec3 origin = unit({pick(rng), pick(rng), pick(rng)}) * 4;
        const Vec3 dir = unit(Vec3{pick(rng), pick(rng), pick(rng)} * 1.2 - origin);
        const double b = -dot(origin, dir), disc = b * b - dot(origin, origin) + 1;
        const Intersection h = tr.trace(*s, origin, dir);
        if (disc < 1e-6) {
            if (disc < -1e-6) {
                EXPECT_EQ(h.hit, 0) << "ray " << i;
            }
            continue;
        }
        ASSERT_EQ(h.hit, 1) << "ray " << i;
        EXPECT_NEAR(h.distance, b - std::sqrt(disc), 1e-8);
        expectParallel(h.normal, h.point, 1e-9);
    }
    // From the centre outwards: the exit at distance 1.
    EXPECT_NEAR(tr.trace(*s, {0, 0, 0}, {1, 2, 3}).distance, 1, 1e-9);
}

TEST(Superquadric, FirstCrossingIsFoundForSeveralExponentPairs) {
    const double pairs[][2] = {{0.3, 0.5}, {1, 0.2}, {0.6, 1.8}, {2.5, 3}, {3, 1}, {0.05, 2}};
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> pick(-1, 1);
    Tracer tr;
    for (const auto& e : pairs) {
        auto s = makeSuperquadric(e[0], e[1]);
        int hits = 0;
        for (int i = 0; i < 150; ++i) {
            const Vec3 origin = unit({pick(rng), pick(rng), pick(rng)}) * 5;
            const Vec3 dir = unit(Vec3{pick(rng), pick(rng), pick(rng)} * 0.9 - origin);
            const Intersection h = tr.trace(*s, origin, dir);
            if (!h.hit) continue;
            ++hits;
            EXPECT_NEAR(superquadricValue(h.point, e[0], e[1]), 0, 1e-6) << e[0] << ", " << e[1];
            // Nothing nearer: the function stays positive before the hit.
            for (int k = 1; k < 200; ++k)
                ASSERT_GT(superquadricValue(origin + dir * (h.distance * k / 200.0), e[0], e[1]), 0)
                    << e[0] << ", " << e[1] << " ray " << i;
            EXPECT_LT(dot(h.normal, dir), 0);
        }
        EXPECT_GT(hits, 30) << e[0] << ", " << e[1];
    }
}

TEST(Superquadric, ParametricFormLiesOnTheSurface) {
    auto s = makeSuperquadric(0.5, 1.5);
    ASSERT_TRUE(s->hasEvaluate());
    s->applyTransform(makeTranslate({1, 2, 3}));
    Tracer tr;
    for (double u : {0.05, 0.3, 0.7})
        for (double v : {0.2, 0.5, 0.8}) {
            SurfacePoint sp;
            s->evaluate(u, v, sp);
            EXPECT_NEAR(superquadricValue(sp.objectPoint, 0.5, 1.5), 0, 1e-9);
            EXPECT_NEAR(length(sp.worldPoint - sp.objectPoint - Vec3{1, 2, 3}), 0, 1e-12);
            const Intersection h = tr.trace(*s, sp.worldPoint + sp.normal * 0.1, -sp.normal);
            ASSERT_EQ(h.hit, 1);
            EXPECT_NEAR(h.distance, 0.1, 1e-6);
            expectParallel(h.normal, sp.normal);
        }
}

}  // namespace
}  // namespace quorva
