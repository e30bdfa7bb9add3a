// Surfaces of revolution and extruded surfaces: their construction, the hits of every profile type
// against a brute-force walk along the ray, and the statements' messages.
#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <cmath>
#include <random>

#include "geometry/profile_shapes.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::fatalText;

Intersection trace(const Shape& s, const Vec3& origin, const Vec3& dir, double tmin = 1e-9,
                   double tmax = 1e6) {
    RenderContext ctx;
    Intersection hit;
    intersectShape(ctx, {origin, normalized(dir)}, tmin, tmax, hit, s);
    return hit;
}

TEST(SurfaceOfRevolution, ConstructionAndMessages) {
    EXPECT_EQ(fatalText([] {
                  makeSurfaceOfRevolution(1, {0, 1, 0}, {{1, 0, 0}});
              }),
              "At least two points must be in SurfaceOfRevolution");
    EXPECT_EQ(fatalText([] {
                  makeSurfaceOfRevolution(4, {0, 1, 0}, {{1, 0, 0}, {1, 1, 0}, {0, 2, 0}});
              }),
              "Only linear and quadratic sweeps allowed");
    EXPECT_EQ(fatalText([] {
                  makeSurfaceOfRevolution(1, {0, 1e-9, 0}, {{1, 0, 0}, {1, 1, 0}, {0, 2, 0}});
              }),
              "Degenerate SurfaceOfRevolution axis");
    // Two points: a Cone along y whatever the axis.
    auto cone = makeSurfaceOfRevolution(1, {1, 0, 0}, {{1, 0, 0}, {2, 3, 0}});
    EXPECT_EQ(cone->kind, ShapeKind::Cone);
    EXPECT_NEAR(trace(*cone, {0, 1.5, -10}, {0, 0, 1}).distance, 8.5, 1e-9);
    auto quadratic = makeSurfaceOfRevolution(2, {0, 0, 1}, {{1, 0, 0}, {2, 1, 0}, {1, 2, 0}});
    EXPECT_EQ(quadratic->kind, ShapeKind::SurfaceOfRevolution);
    EXPECT_EQ(quadratic->subdivisions[0], 8);
    EXPECT_EQ(quadratic->subdivisions[1], 8);
    EXPECT_NEAR(quadratic->boundsMin.x, -2, 1e-12);
    EXPECT_NEAR(quadratic->boundsSize.z, 2, 1e-12);
}

TEST(SurfaceOfRevolution, StraightProfiles) {
    // A constant radius about y is a cylinder, closed on the axis at the top; the repeated point is a
    // degenerate piece that is skipped.
    auto s = makeSurfaceOfRevolution(1, {0, 1, 0}, {{1, 0, 0}, {1, 2, 0}, {1, 2, 0}, {0, 2, 0}});
    Intersection side = trace(*s, {-5, 1, 0.5}, {1, 0, 0});
    ASSERT_TRUE(side.hit);
    EXPECT_NEAR(side.distance, 5 - std::sqrt(0.75), 1e-9);
    EXPECT_NEAR(normalized(side.normal).x, -std::sqrt(0.75), 1e-9);
    // A ray perpendicular to the axis meets the piece twice.
    Intersection far = trace(*s, {-5, 1, 0.5}, {1, 0, 0}, side.distance + 1e-6);
    EXPECT_NEAR(far.distance, 5 + std::sqrt(0.75), 1e-9);
    Intersection top = trace(*s, {0.3, 5, 0}, {0, -1, 0});
    EXPECT_NEAR(top.distance, 3, 1e-9);
    EXPECT_TRUE(s->inside({0.5, 1, 0}));
    EXPECT_FALSE(s->inside({1.5, 1, 0}));
    EXPECT_FALSE(s->inside({0, 2.5, 0}));
    EXPECT_FALSE(trace(*s, {0, 5, 3}, {0, -1, 0}).hit);
}

TEST(SurfaceOfRevolution, MixedCornerIsSharp) {
    // (2, 1) is a corner: the normals just below and above it differ; the quadratic piece after it
    // starts there.
    auto s = makeSurfaceOfRevolution(3, {0, 1, 0}, {{0, 0, 0}, {2, 1, 1}, {2, 2, 0}, {1, 3, 0}, {0, 3, 0}});
    const Vec3 below = normalized(trace(*s, {-5, 0.99, 0}, {1, 0, 0}).normal);
    const Vec3 above = normalized(trace(*s, {-5, 1.01, 0}, {1, 0, 0}).normal);
    EXPECT_GT(std::fabs(below.y - above.y), 0.3);
    EXPECT_NEAR(trace(*s, {-5, 1, 0}, {1, 0, 0}).distance, 3, 1e-6);
}

// The first change of `inside` along the ray, found by small steps: the first hit must agree with it.
double firstCrossing(const Shape& s, const Vec3& o, const Vec3& d, double step, double limit) {
    const bool start = s.inside(o);
    for (double t = step; t < limit; t += step)
        if (s.inside(o + d * t) != start) return t;
    return -1;
}

TEST(SurfaceOfRevolution, HitsAgreeWithBruteForceForEveryType) {
    // Profiles from the axis back to the axis, so that the closed profile is the surface.
    const std::vector<Vec3> points{{0, -1, 0},  {1.5, -1, 1}, {2, 0, 0},
                                   {0.8, 1, 0}, {1.6, 2, 1},  {0, 2.5, 0}};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int type = 1; type <= 3; ++type) {
        auto s = makeSurfaceOfRevolution(type, {0, 1, 0}, points);
        s->setSolver(SolverCode::Sturm);
        int agreed = 0, rays = 0;
        for (int i = 0; i < 60; ++i) {
            const Vec3 o{4 * u(random), 0.75 + 2 * u(random), -6};
            const Vec3 d = normalized(Vec3{0.3 * u(random), 0.3 * u(random), 1});
            const double expected = firstCrossing(*s, o, d, 1e-3, 12);
            const Intersection hit = trace(*s, o, d);
            ++rays;
            if (expected < 0) {
                if (!hit.hit) ++agreed;
            } else if (hit.hit && std::fabs(hit.distance - expected) < 2e-3) {
                ++agreed;
            }
        }
        // Grazing rays may differ by one step; nearly all must agree.
        EXPECT_GE(agreed, rays - 1) << "type " << type;
    }
}

TEST(Sweep, SquareAndOpenEnds) {
    EXPECT_EQ(fatalText([] {
                  makeSweep(0, {0, 0, 1}, {{0, 0, 0}, {1, 0, 0}});
              }),
              "Only linear and quadratic sweeps allowed");
    EXPECT_EQ(fatalText([] { makeSweep(1, {0, 0, 1e-9}, {{0, 0, 0}, {1, 0, 0}}); }), "Degenerate sweep");
    const std::vector<Vec3> square{{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    auto s = makeSweep(1, {0, 0, 2}, square);
    EXPECT_EQ(s->kind, ShapeKind::Sweep);
    // Through the side x = -1 at half height.
    Intersection hit = trace(*s, {-4, 0.2, 1}, {1, 0, 0});
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 3, 1e-9);
    EXPECT_NEAR(normalized(hit.normal).x, -1, 1e-9);
    EXPECT_FALSE(trace(*s, {-4, 0.2, 2.5}, {1, 0, 0}).hit);
    // Along the sweep: the ends are open.
    EXPECT_FALSE(trace(*s, {0, 0, -5}, {0, 0, 1}).hit);
    EXPECT_TRUE(s->inside({0.5, 0.5, 1}));
    EXPECT_FALSE(s->inside({0.5, 0.5, 2.5}));
    EXPECT_FALSE(s->inside({1.5, 0.5, 1}));
}

TEST(Sweep, QuadraticAndMixedProfilesAgreeWithInside) {
    const std::vector<Vec3> profile{{2, 0, 1}, {1, 2, 0}, {-1, 1.5, 0}, {-2, -1, 1}, {0.5, -2, 0}};
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int type = 2; type <= 3; ++type) {
        auto s = makeSweep(type, {0, 0, 1}, profile);
        int agreed = 0;
        for (int i = 0; i < 60; ++i) {
            const Vec3 o{-6, 2 * u(random), 0.5 + 0.3 * u(random)};
            const Vec3 d = normalized(Vec3{1, 0.4 * u(random), 0.05 * u(random)});
            const double expected = firstCrossing(*s, o, d, 1e-3, 12);
            const Intersection hit = trace(*s, o, d);
            if (expected < 0 ? !hit.hit : hit.hit && std::fabs(hit.distance - expected) < 2e-3) ++agreed;
        }
        EXPECT_GE(agreed, 59) << "type " << type;
    }
}

}  // namespace
}  // namespace quorva
