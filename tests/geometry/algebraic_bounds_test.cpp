// The early-out tests of the algebraic shapes (the proven box of a polynomial surface, the sphere and
// slab of a torus) never lose a root: random rays against an unbounded solve of the same polynomial.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/polynomial_bounds.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using Terms = std::vector<PolynomialTerm>;

// The closed surfaces of the algebraic benchmark scene: a sextic heart, a quartic torus-like shape, a
// tangle cube and a tilted ellipsoid.
const Terms Heart = {{1, 6, 0, 0},     {6.75, 4, 2, 0},  {3, 4, 0, 2},         {15.1875, 2, 4, 0},
                     {13.5, 2, 2, 2},  {3, 2, 0, 4},     {11.390625, 0, 6, 0}, {15.1875, 0, 4, 2},
                     {6.75, 0, 2, 4},  {1, 0, 0, 6},     {-1, 2, 0, 3},        {-0.1125, 0, 2, 3},
                     {-3, 4, 0, 0},    {-13.5, 2, 2, 0}, {-6, 2, 0, 2},        {-15.1875, 0, 4, 0},
                     {-13.5, 0, 2, 2}, {-3, 0, 0, 4},    {3, 2, 0, 0},         {6.75, 0, 2, 0},
                     {3, 0, 0, 2},     {-1, 0, 0, 0}};
const Terms Ring = {{1, 4, 0, 0}, {2, 2, 2, 0},     {2, 2, 0, 2},    {1, 0, 4, 0},     {2, 0, 2, 2},
                    {1, 0, 0, 4}, {-2.18, 2, 0, 0}, {1.82, 0, 2, 0}, {-2.18, 0, 0, 2}, {0.8281, 0, 0, 0}};
const Terms Tangle = {{1, 4, 0, 0},  {1, 0, 4, 0},  {1, 0, 0, 4},   {-5, 2, 0, 0},
                      {-5, 0, 2, 0}, {-5, 0, 0, 2}, {11.8, 0, 0, 0}};
const Terms Ellipsoid = {{1, 2, 0, 0}, {1, 1, 1, 0}, {2, 0, 2, 0}, {1, 0, 1, 1}, {3, 0, 0, 2}, {-1, 0, 0, 0}};

int orderOf(const Terms& terms) {
    int n = 0;
    for (const PolynomialTerm& t : terms) n = std::max(n, t.i + t.j + t.k);
    return n;
}

// The terms in the PolynomialSurface layout (x^n first, the constant last).
std::vector<double> layout(const Terms& terms) {
    const int n = orderOf(terms);
    std::vector<double> c((n + 1) * (n + 2) * (n + 3) / 6, 0.0);
    for (const PolynomialTerm& t : terms)
        c[binomial(n - t.i + 2, 3) + binomial(n - t.i - t.j + 1, 2) + (n - t.i - t.j - t.k)] += t.coefficient;
    return c;
}

// The nearest root in (0, 1e6) of the polynomial along the ray, expanded term by term here and solved
// without any bounding; -1 when there is none.
double unboundedNearest(const Terms& terms, const Vec3& o, const Vec3& d) {
    const int n = orderOf(terms);
    std::vector<double> ascending(n + 1, 0.0);
    for (const PolynomialTerm& t : terms) {
        std::vector<double> p{t.coefficient};
        auto times = [&](double a, double b, int count) {
            for (int c = 0; c < count; ++c) {
                p.push_back(0);
                for (size_t m = p.size() - 1; m > 0; --m) p[m] = a * p[m] + b * p[m - 1];
                p[0] *= a;
            }
        };
        times(o.x, d.x, t.i);
        times(o.y, d.y, t.j);
        times(o.z, d.z, t.k);
        for (size_t m = 0; m < p.size(); ++m) ascending[m] += p[m];
    }
    std::vector<double> descending(ascending.rbegin(), ascending.rend());
    double roots[MaxSturmOrder];
    const int count = solveSturm(descending.data(), n, 1e-6, 1e6, roots);
    double nearest = -1;
    for (int i = 0; i < count; ++i)
        if (nearest < 0 || roots[i] < nearest) nearest = roots[i];
    return nearest;
}

TEST(ZeroSetBox, ClosedSurfacesGetTightBoxesOpenOnesNone) {
    const ZeroSetBox sphere =
        boundZeroSet(layout({{1, 2, 0, 0}, {1, 0, 2, 0}, {1, 0, 0, 2}, {-4, 0, 0, 0}}).data(), 2);
    ASSERT_TRUE(sphere.bounded);
    ASSERT_FALSE(sphere.empty);
    for (int a = 0; a < 3; ++a) {
        EXPECT_LE(sphere.min[a], -2);
        EXPECT_GT(sphere.min[a], -2.05);
        EXPECT_GE(sphere.max[a], 2);
        EXPECT_LT(sphere.max[a], 2.05);
    }
    for (const Terms* closed : {&Heart, &Ring, &Tangle, &Ellipsoid}) {
        const ZeroSetBox box = boundZeroSet(layout(*closed).data(), orderOf(*closed));
        EXPECT_TRUE(box.bounded && !box.empty);
        EXPECT_LT(box.max.x - box.min.x, 6);
    }
    // No real zero at all.
    const ZeroSetBox none =
        boundZeroSet(layout({{1, 2, 0, 0}, {1, 0, 2, 0}, {1, 0, 0, 2}, {1, 0, 0, 0}}).data(), 2);
    EXPECT_TRUE(none.bounded && none.empty);
    // Open surfaces: a cylinder (top part vanishes along z), a hyperboloid, an odd order, a plane.
    const Terms open[] = {{{1, 2, 0, 0}, {1, 0, 2, 0}, {-1, 0, 0, 0}},
                          {{1, 2, 0, 0}, {1, 0, 2, 0}, {-1, 0, 0, 2}, {-1, 0, 0, 0}},
                          {{1, 3, 0, 0}, {1, 0, 2, 0}, {1, 0, 0, 2}, {-1, 0, 0, 0}},
                          {{1, 1, 0, 0}, {-1, 0, 0, 0}}};
    for (const Terms& terms : open) EXPECT_FALSE(boundZeroSet(layout(terms).data(), orderOf(terms)).bounded);
}

TEST(ZeroSetBox, BoundedSurfacesFindTheRootsOfAnUnboundedSolve) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> pick(-1, 1);
    RenderContext ctx;
    for (const Terms* terms : {&Heart, &Ring, &Tangle, &Ellipsoid}) {
        auto shape = makePolynomialSurface(*terms);
        int hits = 0;
        for (int r = 0; r < 400; ++r) {
            const Vec3 origin{6 * pick(rng), 6 * pick(rng), 6 * pick(rng)};
            const Vec3 target{2 * pick(rng), 2 * pick(rng), 2 * pick(rng)};
            const Vec3 dir = normalized(target - origin);
            Intersection hit;
            intersectShape(ctx, {origin, dir}, 1e-6, 1e6, hit, *shape);
            const double expected = unboundedNearest(*terms, origin, dir);
            ASSERT_EQ(hit.hit != 0, expected > 0) << "ray " << r << " expected " << expected;
            if (expected < 0) continue;
            ++hits;
            // The two expansions round differently, and regula falsi stops on a small residual.
            EXPECT_NEAR(hit.distance, expected, 2e-5);
        }
        EXPECT_GT(hits, 40);
    }
}

TEST(Torus, SphereAndSlabTestKeepEveryRootOfTheQuartic) {
    // A canonical torus (centre at the origin, axis z): object space is its own frame, so the quartic
    // can be written down here and solved on the whole ray.
    const double major = 1.3, minor = 0.4;
    const double big = major * major, small = minor * minor;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> pick(-1, 1);
    RenderContext ctx;
    for (int code : {SolverCode::Vieta, SolverCode::Sturm}) {
        auto torus = makeTorus({0, 0, 0}, {0, 0, 1}, major, minor);
        torus->setSolver(code);
        int hits = 0, misses = 0;
        for (int r = 0; r < 600; ++r) {
            const Vec3 o{5 * pick(rng), 5 * pick(rng), 5 * pick(rng)};
            const Vec3 target{2.2 * pick(rng), 2.2 * pick(rng), 0.8 * pick(rng)};
            const Vec3 d = normalized(target - o);
            const double od = dot(o, d), k = dot(o, o) - (big + small);
            const double c[5] = {1.0, 4 * od, 4 * (big * d.z * d.z + od * od) + 2 * k,
                                 8 * big * o.z * d.z + 4 * od * k, k * k - 4 * big * (small - o.z * o.z)};
            double roots[4];
            const int count = solveQuartic(code, c, 1e-6, 1e6, roots);
            double nearest = -1;
            for (int i = 0; i < count; ++i)
                if (nearest < 0 || roots[i] < nearest) nearest = roots[i];
            Intersection hit;
            intersectShape(ctx, {o, d}, 1e-6, 1e6, hit, *torus);
            ASSERT_EQ(hit.hit != 0, nearest > 0) << "ray " << r;
            if (nearest < 0) {
                ++misses;
                continue;
            }
            ++hits;
            EXPECT_NEAR(hit.distance, nearest, 1e-9);
        }
        EXPECT_GT(hits, 100);
        EXPECT_GT(misses, 100);
    }
}

}  // namespace
}  // namespace quorva
