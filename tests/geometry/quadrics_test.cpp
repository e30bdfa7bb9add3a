// The quadric kinds: constructors and their messages, roots, normals, surface coordinates, inside
// tests and parametric forms.
#include "geometry/quadrics.h"

#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <cmath>
#include <random>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

void expectNear(const Vec3& a, const Vec3& b, double tol = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tol) << a << " vs " << b;
    EXPECT_NEAR(a.y, b.y, tol) << a << " vs " << b;
    EXPECT_NEAR(a.z, b.z, tol) << a << " vs " << b;
}

using testing::fatalText;

// Traces a world ray through one shape with the uv window off unless asked.
struct Tracer {
    RenderContext ctx;
    explicit Tracer(bool uv = false) {
        if (!uv) ctx.settings.featureMask &= ~ShapeAttr::UvWindow;
    }
    Intersection trace(const Shape& s, const Vec3& origin, const Vec3& dir, double tmin = 0,
                       double tmax = 1e6) {
        Intersection hit;
        intersectShape(ctx, {origin, normalized(dir)}, tmin, tmax, hit, s);
        return hit;
    }
};

TEST(Sphere, BoundsRootsAndInsideStart) {
    auto s = makeSphere({1, 2, 3}, 2);
    EXPECT_EQ(s->kind, ShapeKind::Sphere);
    EXPECT_EQ(s->boundsMin, Vec3(-1, 0, 1));
    EXPECT_EQ(s->boundsSize, Vec3(4, 4, 4));
    EXPECT_EQ(s->subdivisions[0], 32);
    EXPECT_EQ(s->subdivisions[1], 16);
    Tracer tr;
    Intersection h = tr.trace(*s, {1, 2, -10}, {0, 0, 1});
    ASSERT_EQ(h.hit, 1);
    EXPECT_EQ(h.distance, 11.0);
    EXPECT_EQ(h.normal, Vec3(0, 0, -2));  // point - centre, not normalised
    EXPECT_EQ(h.local, Vec3(1, 2, 1));    // the object-space point
    // From inside only the far root is in front.
    Intersection in = tr.trace(*s, {1, 2, 3}, {0, 0, 1});
    EXPECT_EQ(in.distance, 2.0);
    // Roots exactly at the interval's ends do not count.
    EXPECT_EQ(tr.trace(*s, {1, 2, -10}, {0, 0, 1}, 0, 11).hit, 0);
    EXPECT_EQ(tr.trace(*s, {1, 2, -10}, {0, 0, 1}, 11, 20).distance, 15.0);
    // Zero and negative radii are accepted as given.
    EXPECT_EQ(tr.trace(*makeSphere({0, 0, 0}, 0), {0, 0.1, -1}, {0, 0, 1}).hit, 0);
    EXPECT_NO_THROW(makeSphere({0, 0, 0}, -1));
}

TEST(Sphere, SurfaceCoordinatesAndEvaluateAgreeOnThePoint) {
    auto s = makeSphere({0, 0, 0}, 1);
    const auto& sphere = static_cast<const Sphere&>(*s);
    expectNear(sphere.surfaceCoordinates({0, 1, 0}), {0.5, 1, 0});
    expectNear(sphere.surfaceCoordinates({0, -1, 0}), {0.5, 0, 0});
    expectNear(sphere.surfaceCoordinates({-1, 0, 0}), {0, 0.5, 0});
    EXPECT_EQ(sphere.surfaceCoordinates({1e-9, 0, 0}), Vec3(0, 0, 0));
    Tracer uv(true);
    Intersection h = uv.trace(*s, {0, 0, -5}, {0, 0, 1});
    expectNear(h.local, {0.75, 0.5, 0});

    s->applyTransform(makeTranslate({0, 0, 5}));
    SurfacePoint p;
    sphere.evaluate(0.25, 0.5, p);  // longitude 3 pi / 2 on the equator
    expectNear(p.objectPoint, {0, 0, -1});
    expectNear(p.worldPoint, {0, 0, 4});
    expectNear(p.normal, {0, 0, -1});
    EXPECT_TRUE(sphere.hasEvaluate());
}

TEST(Box, CornersInAnyOrderAndDegenerateCorners) {
    auto a = makeBox({1, 5, -1}, {-1, 2, 3});
    auto b = makeBox({-1, 2, -1}, {1, 5, 3});
    const auto& box = static_cast<const BoxShape&>(*a);
    EXPECT_EQ(box.minimum, static_cast<const BoxShape&>(*b).minimum);
    EXPECT_EQ(box.maximum, static_cast<const BoxShape&>(*b).maximum);
    EXPECT_EQ(a->boundsMin, Vec3(-1, 2, -1));
    EXPECT_EQ(a->boundsSize, Vec3(2, 3, 4));
    EXPECT_EQ(fatalText([] { makeBox({0, 0, 0}, {1, 0, 1}); }), "Degenerate Box");
    EXPECT_EQ(fatalText([] { makeBox({0, 0, 2}, {1, 1, 2}); }), "Degenerate Box");
}

TEST(Box, EntryExitAndInsideStart) {
    auto b = makeBox({-1, -1, -1}, {1, 1, 1});
    Tracer tr;
    Intersection h = tr.trace(*b, {0, 0, -5}, {0, 0, 1});
    EXPECT_EQ(h.distance, 4.0);
    EXPECT_EQ(h.normal, Vec3(0, 0, -1));
    EXPECT_EQ(h.local, Vec3(0, 0, -1));
    // From inside only the exit is recorded.
    Intersection in = tr.trace(*b, {0, 0, 0.5}, {0, 0, -1});
    EXPECT_EQ(in.distance, 1.5);
    EXPECT_EQ(in.normal, Vec3(0, 0, -1));
    // A ray parallel to a slab outside it misses; inside it, it may hit.
    EXPECT_EQ(tr.trace(*b, {0, 2, -5}, {0, 0, 1}).hit, 0);
    EXPECT_EQ(tr.trace(*b, {0, 1, -5}, {0, 0, 1}).hit, 1);
    // An interval that ends inside the box records the entry only; one that starts inside, the exit.
    EXPECT_EQ(tr.trace(*b, {0, 0, -5}, {0, 0, 1}, 0, 5).distance, 4.0);
    EXPECT_EQ(tr.trace(*b, {0, 0, -5}, {0, 0, 1}, 4.5, 10).distance, 6.0);
    EXPECT_EQ(tr.trace(*b, {0, 0, -5}, {0, 0, 1}, 4.5, 5.5).hit, 0);
}

TEST(Box, EdgeAndCornerNormalsFollowTheFaceOrder) {
    auto b = makeBox({-1, -1, -1}, {1, 1, 1});
    const auto& box = static_cast<const BoxShape&>(*b);
    EXPECT_EQ(box.faceNormal({1, 1, 1}), Vec3(1, 0, 0));
    EXPECT_EQ(box.faceNormal({-1, 1, 1}), Vec3(-1, 0, 0));
    EXPECT_EQ(box.faceNormal({0, -1, 1}), Vec3(0, -1, 0));
    EXPECT_EQ(box.faceNormal({0, 0.5, 1}), Vec3(0, 0, 1));
    EXPECT_EQ(box.faceNormal({0.5, 0.5, -1 + 5e-9}), Vec3(0, 0, -1));
    EXPECT_EQ(box.faceNormal({0, 0, 0}), Vec3(0, 1, 0));
    // A ray through an edge gets the first face of the order.
    Tracer tr;
    Intersection h = tr.trace(*b, {-3, -3, 0}, {1, 1, 0});
    EXPECT_EQ(h.normal, Vec3(-1, 0, 0));
}

TEST(InsideTests, SphereSurfaceIsOutsideBoxFaceIsInside) {
    auto s = makeSphere({0, 0, 0}, 1);
    auto b = makeBox({-1, -1, -1}, {1, 1, 1});
    EXPECT_FALSE(s->inside({1, 0, 0}));
    EXPECT_TRUE(s->inside({0.999, 0, 0}));
    EXPECT_TRUE(b->inside({1, 0, 0}));
    EXPECT_TRUE(b->inside({1, 1, 1}));
    EXPECT_FALSE(b->inside({1.0000001, 0, 0}));
    // Both take the world point into object space.
    s->applyTransform(makeTranslate({10, 0, 0}));
    b->applyTransform(makeScale(2, 2, 2));
    EXPECT_TRUE(s->inside({10.5, 0, 0}));
    EXPECT_TRUE(b->inside({1.9, 0, 0}));
}

TEST(Cone, NearlyEqualRadiiMakeACylinder) {
    auto c = makeCone({1, 0, 0}, 1, {1, 0, 4}, 1.000000001);
    ASSERT_EQ(c->kind, ShapeKind::Cylinder);
    const auto& cyl = static_cast<const Cylinder&>(*c);
    EXPECT_EQ(cyl.radius, 1.000000001);
    EXPECT_EQ(cyl.base, Vec3(1, 0, 0));
    EXPECT_EQ(cyl.top, Vec3(1, 0, 4));
    EXPECT_EQ(c->subdivisions[0], 16);
    EXPECT_EQ(c->subdivisions[1], 2);
    EXPECT_EQ(makeCone({0, 0, 0}, 1, {0, 0, 1}, 1.1)->kind, ShapeKind::Cone);
}

TEST(Cone, RadiiInEitherOrderGiveTheSameSurface) {
    auto a = makeCone({0, 0, 0}, 2, {0, 1, 3}, 1);
    auto b = makeCone({0, 1, 3}, 1, {0, 0, 0}, 2);
    const auto& ca = static_cast<const Cone&>(*a);
    const auto& cb = static_cast<const Cone&>(*b);
    EXPECT_EQ(ca.smallEnd, Vec3(0, 1, 3));
    EXPECT_EQ(ca.largeEnd, Vec3(0, 0, 0));
    EXPECT_EQ(ca.smallRadius, 1.0);
    EXPECT_EQ(ca.largeRadius, 2.0);
    EXPECT_EQ(cb.smallEnd, ca.smallEnd);
    EXPECT_EQ(cb.largeEnd, ca.largeEnd);
    EXPECT_EQ(cb.ratio, ca.ratio);
    EXPECT_EQ(a->boundsMin, b->boundsMin);
    Tracer tr;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-3, 3);
    int hits = 0;
    for (int i = 0; i < 500; ++i) {
        Vec3 o{u(rng), u(rng) - 5, u(rng)}, target{u(rng) * 0.5, 0.5, 1.5 + u(rng) * 0.5};
        Intersection ha = tr.trace(*a, o, target - o), hb = tr.trace(*b, o, target - o);
        ASSERT_EQ(ha.hit, hb.hit);
        if (!ha.hit) continue;
        ++hits;
        EXPECT_NEAR(ha.distance, hb.distance, 1e-12);
    }
    EXPECT_GT(hits, 100);
}

TEST(Cone, PointedConeHasItsApexAtTheZeroRadiusEnd) {
    auto c = makeCone({0, 0, 2}, 0, {0, 0, 0}, 1);
    const auto& cone = static_cast<const Cone&>(*c);
    EXPECT_EQ(cone.ratio, 0.0);
    expectNear(transformPoint(cone.frame.forward, {0, 0, 2}), {0, 0, 0});
    expectNear(c->boundsMin, {-1, -1, 0});
    expectNear(c->boundsSize, {2, 2, 2});
    // The side at half height has radius 0.5; its outward normal leans towards the apex.
    Tracer tr;
    Intersection h = tr.trace(*c, {-5, 0, 1}, {1, 0, 0});
    ASSERT_EQ(h.hit, 1);
    EXPECT_NEAR(h.distance, 4.5, 1e-12);
    Vec3 n = normalized(h.normal);
    EXPECT_NEAR(n.x, -std::sqrt(0.8), 1e-12);
    EXPECT_NEAR(n.z, std::sqrt(0.2), 1e-12);
    EXPECT_TRUE(c->inside({0, 0, 1}));
    EXPECT_FALSE(c->inside({0.5, 0, 1}));  // on the surface
    EXPECT_FALSE(c->inside({0, 0, 0}));    // on the large cap: the open ends are not inside either
}

TEST(Quadrics, DegenerateArgumentsStopTheRun) {
    EXPECT_EQ(fatalText([] { makeCone({1, 1, 1}, 1, {1, 1, 1}, 2); }), "Degenerate Cone");
    EXPECT_EQ(fatalText([] { makeCone({0, 0, 0}, 1, {0, 0, 5e-9}, 2); }), "Degenerate Cone");
    EXPECT_EQ(fatalText([] { makeCylinder({0, 0, 0}, {0, 0, 1}, 0); }), "Degenerate Cylinder");
    EXPECT_EQ(fatalText([] { makeCylinder({0, 0, 0}, {0, 0, 1}, -1); }), "Degenerate Cylinder");
    // Coincident ends must not pass for a unit axis.
    EXPECT_EQ(fatalText([] { makeCylinder({2, 2, 2}, {2, 2, 2}, 1); }), "Degenerate Cylinder");
    EXPECT_EQ(fatalText([] { makeCone({0, 0, 0}, 1, {0, 0, 0}, 1); }), "Degenerate Cylinder");
    EXPECT_EQ(fatalText([] { makeParaboloid({0, 0, 0}, {0, 0, 1}, 5e-9); }), "Degenerate Paraboloid");
    EXPECT_EQ(fatalText([] { makeParaboloid({0, 0, 1}, {0, 0, 1}, 1); }), "Degenerate Paraboloid");
    EXPECT_EQ(fatalText([] { makeRing({0, 0, 0}, {0, 0, 1}, -1, 2); }), "Degenerate Ring");
    EXPECT_EQ(fatalText([] { makeRing({0, 0, 0}, {0, 0, 1}, 0.5, 0); }), "Degenerate Ring");
    EXPECT_EQ(fatalText([] { makeRing({0, 0, 0}, {0, 0, 0}, 0.5, 1); }), "Degenerate Ring");
    EXPECT_EQ(fatalText([] { makeDisk({0, 0, 0}, {0, 0, 1}, 0); }), "Degenerate Disk");
    EXPECT_EQ(fatalText([] { makeDisk({0, 0, 0}, {0, 1e-9, 0}, 1); }), "Degenerate Disk");
    EXPECT_EQ(fatalText([] { makeRing({0, 0, 0}, {0, 0, 1}, 0, 0); }), "Degenerate Disk");
}

TEST(Cylinder, OpenTubeRootsAndParallelRays) {
    auto c = makeCylinder({0, 0, 0}, {0, 0, 2}, 1);
    expectNear(c->boundsMin, {-1, -1, 0});
    expectNear(c->boundsSize, {2, 2, 2});
    Tracer tr;
    Intersection h = tr.trace(*c, {-5, 0, 1}, {1, 0, 0});
    EXPECT_NEAR(h.distance, 4.0, 1e-12);
    expectNear(normalized(h.normal), {-1, 0, 0});
    // From inside, the far wall; through the open end, the wall from the inside.
    EXPECT_NEAR(tr.trace(*c, {0, 0, 1}, {1, 0, 0}).distance, 1.0, 1e-12);
    EXPECT_NEAR(tr.trace(*c, {0, 0, 2.5}, {1, 0, -1}).distance, std::sqrt(2.0), 1e-12);
    // Along the axis, or past the ends, nothing.
    EXPECT_EQ(tr.trace(*c, {0.5, 0, -5}, {0, 0, 1}).hit, 0);
    EXPECT_EQ(tr.trace(*c, {-5, 0, 2.5}, {1, 0, 0}).hit, 0);
    EXPECT_EQ(tr.trace(*c, {0, 0, 3}, {0.1, 0, 1}).hit, 0);
    // The rims belong to the surface.
    EXPECT_EQ(tr.trace(*c, {-5, 0, 2}, {1, 0, 0}).hit, 1);
    EXPECT_TRUE(c->inside({0, 0.5, 1}));
    EXPECT_FALSE(c->inside({0, 1, 1}));
    EXPECT_FALSE(c->inside({0, 0, 2}));
}

TEST(Paraboloid, RootsNormalsAndInside) {
    auto p = makeParaboloid({0, 0, 0}, {0, 2, 0}, 2);  // y = x^2 + z^2 over 2 units
    Tracer tr;
    // Straight down the axis it meets the vertex only (the top is open).
    Intersection down = tr.trace(*p, {0, 5, 0}, {0, -1, 0});
    EXPECT_NEAR(down.distance, 5.0, 1e-12);
    expectNear(normalized(down.normal), {0, -1, 0});
    // Sideways at height 0.5 the wall is at x = 1: canonical z 0.25, radius 0.5.
    Intersection side = tr.trace(*p, {-5, 0.5, 0}, {1, 0, 0});
    EXPECT_NEAR(side.distance, 4.0, 1e-12);
    EXPECT_NEAR(surfaceCoordinates(side).y, 0.5, 1e-12);  // v = 1 - sqrt(z), always (u, v, 0) when read
    EXPECT_TRUE(p->inside({0, 1, 0}));
    EXPECT_FALSE(p->inside({0, 2.5, 0}));
    EXPECT_FALSE(p->inside({1.5, 1, 0}));
}

TEST(Disk, RimAndInnerEdgeCountAndParallelRaysMiss) {
    auto r = makeRing({0, 0, 0}, {0, 0, 3}, 1, 2);
    const auto& ring = static_cast<const Disk&>(*r);
    EXPECT_EQ(ring.normal, Vec3(0, 0, 1));
    EXPECT_EQ(r->boundsMin, Vec3(-2, -2, -2));
    Tracer tr;
    EXPECT_EQ(tr.trace(*r, {2, 0, 1}, {0, 0, -1}).hit, 1);
    EXPECT_EQ(tr.trace(*r, {0, -1, 1}, {0, 0, -1}).hit, 1);
    EXPECT_EQ(tr.trace(*r, {2.000001, 0, 1}, {0, 0, -1}).hit, 0);
    EXPECT_EQ(tr.trace(*r, {0.999999, 0, 1}, {0, 0, -1}).hit, 0);
    Intersection h = tr.trace(*r, {1.5, 0, 1}, {0, 0, -1});
    EXPECT_EQ(h.normal, Vec3(0, 0, 1));
    EXPECT_NEAR(surfaceCoordinates(h).y, 0.5, 1e-12);
    EXPECT_EQ(tr.trace(*r, {1.5, 0, 1e-9}, {1, 0, 1e-9}).hit, 0);
    // A plane hit exactly at the interval's end counts.
    EXPECT_EQ(tr.trace(*r, {1.5, 0, 1}, {0, 0, -1}, 0, 1).hit, 1);
    EXPECT_TRUE(r->inside({5, 5, -0.1}));
    EXPECT_FALSE(r->inside({0, 0, 0}));
    // A disk's centre has surface angle 0.
    auto d = makeDisk({1, 1, 1}, {1, 0, 0}, 1);
    EXPECT_EQ(static_cast<const Disk&>(*d).surfaceCoordinates({1, 1, 1}), Vec3(0, 0, 0));
}

// For every parametric kind, the (u, v) a hit carries, fed back to evaluate(), gives the hit point
// and a normal pointing the same way.
TEST(Quadrics, HitCoordinatesRoundTripThroughEvaluate) {
    std::vector<std::unique_ptr<Shape>> shapes;
    shapes.push_back(makeCone({0.2, 0.1, 0}, 0.5, {0.4, 0.3, 2}, 1.5));
    shapes.push_back(makeCylinder({0, -1, 0}, {0.5, 1, 0.2}, 1.2));
    shapes.push_back(makeParaboloid({0, -1, 0.3}, {0.2, 1, 0}, 1.5));
    shapes.push_back(makeRing({0.1, 0.2, 0.3}, {0, 0.3, 1}, 0.4, 1.6));
    shapes.push_back(makeDisk({0.1, 0.2, 0.3}, {0, 1, 0}, 1.6));
    Tracer tr(true);
    std::mt19937 rng(5);
    std::normal_distribution<double> g;
    for (auto& s : shapes) {
        s->applyTransform(makeRotate(0.3, 0.5, 0.1));
        s->applyTransform(makeTranslate({1, 2, 3}));
        ASSERT_TRUE(s->hasEvaluate());
        int hits = 0;
        for (int i = 0; i < 300; ++i) {
            Vec3 d = normalized({g(rng), g(rng), g(rng)});
            Vec3 target = Vec3{1, 2, 3} + Vec3{g(rng), g(rng), g(rng)} * 0.5;
            Intersection h = tr.trace(*s, target - d * 10, d);
            if (!h.hit) continue;
            ++hits;
            SurfacePoint sp;
            s->evaluate(h.local.x, h.local.y, sp);
            expectNear(sp.worldPoint, h.point, 1e-9);
            EXPECT_NEAR(dot(sp.normal, normalized(h.normal)), 1.0, 1e-9) << static_cast<int>(s->kind);
        }
        EXPECT_GT(hits, 50) << static_cast<int>(s->kind);
    }
}

// Rays leaving a hit point on a transformed surface, with the usual small tmin, do not meet that
// surface again at the same place.
TEST(Quadrics, ReintersectionFromHitPoints) {
    std::vector<std::unique_ptr<Shape>> shapes;
    shapes.push_back(makeCone({0, 0, 0}, 0.5, {0, 0, 2}, 1.5));
    shapes.push_back(makeCylinder({0, 0, 0}, {0, 0, 2}, 1.2));
    shapes.push_back(makeParaboloid({0, 0, 0}, {0, 0, 2}, 1.5));
    shapes.push_back(makeBox({-1, -1, 0}, {1, 1, 2}));
    shapes.push_back(makeDisk({0, 0, 1}, {0, 0, 1}, 2));
    Tracer tr;
    std::mt19937 rng(9);
    std::normal_distribution<double> g;
    for (auto& s : shapes) {
        s->applyTransform(makeScale(3, 1, 0.5));
        s->applyTransform(makeTranslate({500, -200, 70}));
        int hits = 0;
        for (int i = 0; i < 500; ++i) {
            Vec3 d = normalized({g(rng), g(rng), g(rng)});
            Vec3 target = Vec3{500, -200, 70.5} + Vec3{g(rng), g(rng), g(rng)} * 0.3;
            Intersection h = tr.trace(*s, target - d * 20, d, 0.001);
            if (!h.hit) continue;
            ++hits;
            for (int k = 0; k < 4; ++k) {
                Vec3 next = normalized({g(rng), g(rng), g(rng)});
                Intersection again = tr.trace(*s, h.point, next, 0.001);
                if (again.hit) {
                    EXPECT_GT(length(again.point - h.point), 1e-4) << static_cast<int>(s->kind);
                }
            }
        }
        EXPECT_GT(hits, 100) << static_cast<int>(s->kind);
    }
}

}  // namespace
}  // namespace quorva
