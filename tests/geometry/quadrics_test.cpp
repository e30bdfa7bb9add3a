// The quadric kinds: constructors and their messages, roots, normals, surface coordinates, inside
// tests and parametric forms.
#include "geometry/quadrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "render/render_context.h"

namespace quorva {
namespace {

void expectNear(const Vec3& a, const Vec3& b, double tol = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tol) << a << " vs " << b;
    EXPECT_NEAR(a.y, b.y, tol) << a << " vs " << b;
    EXPECT_NEAR(a.z, b.z, tol) << a << " vs " << b;
}

std::string fatalText(const std::function<void()>& f) {
    try {
        f();
    } catch (const FatalError& e) {
        return e.what();
    }
    return "(no error)";
}

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

}  // namespace
}  // namespace quorva
