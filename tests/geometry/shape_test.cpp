// The one-shape intersection step, hit recording and shape copies.
#include "geometry/shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "diagnostics/diagnostics.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// A flat test shape with two roots at fixed object distances along the ray; it remembers the ray and
// interval it was asked about.
class TwoRoots final : public Shape {
  public:
    TwoRoots(double near, double far) : Shape(ShapeKind::Sphere), near(near), far(far) {}
    double near, far;
    mutable Ray seenRay;
    mutable double seenMin = 0, seenMax = 0;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new TwoRoots(*this)); }
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override {
        seenRay = ray;
        seenMin = tmin;
        seenMax = tmax;
        bool any = false;
        for (double t : {near, far}) {
            if (t < tmin || t > tmax) continue;
            Vec3 p = ray.at(t);
            any = recordHit(ctx, *this, {0, 0, -1}, t, p, hit, {t, t, 0}) || any;
        }
        return any;
    }
};

// Accepts only points beyond a z plane.
class BeyondZ final : public SolidMembership {
  public:
    explicit BeyondZ(double z) : z(z) {}
    double z;
    bool accepts(const Vec3& p) const override { return p.z > z; }
};

const Ray AlongZ{{0, 0, -5}, {0, 0, 1}};

TEST(IntersectShape, TransformedShapeReportsWorldDistance) {
    // A unit sphere scaled by 2: the world ray meets it 3 units away, which is 1.5 object units along
    // the renormalised object-space direction.
    auto sphere = makeSphere({0, 0, 0}, 1);
    sphere->applyTransform(makeScale(2, 2, 2));
    RenderContext ctx;
    Intersection hit;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 1000000, hit, *sphere));
    EXPECT_NEAR(hit.distance, 3.0, 1e-12);
    EXPECT_NEAR(hit.point.z, -2.0, 1e-12);
    EXPECT_NEAR(hit.local.x, 0.75, 1e-12);  // (u, v, 0) while the uv window is enabled
    EXPECT_NEAR(hit.local.y, 0.5, 1e-12);
    EXPECT_LT(hit.normal.z, 0);
    EXPECT_EQ(hit.shape, sphere.get());

    // The same with a rotation and translation in the way.
    auto moved = makeSphere({0, 0, 0}, 1);
    moved->applyTransform(makeScale(1, 3, 0.5));
    moved->applyTransform(makeRotate(0.3, 0.2, 1.0));
    moved->applyTransform(makeTranslate({0.1, 0.2, 4}));
    Intersection h2;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 1000000, h2, *moved));
    EXPECT_NEAR(length(h2.point - AlongZ.origin), h2.distance, 1e-12);
    EXPECT_NEAR(h2.point.x, 0, 1e-12);
    EXPECT_NEAR(h2.point.y, 0, 1e-12);
}

TEST(IntersectShape, LargeTminAdvancesTheOriginButCountsFromTheRayOrigin) {
    TwoRoots probe(1.0, 4.0);
    RenderContext ctx;
    Intersection hit;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 2.0, 10.0, hit, probe));
    EXPECT_EQ(probe.seenMin, 0.0);
    EXPECT_EQ(probe.seenMax, 8.0);
    EXPECT_EQ(probe.seenRay.origin, Vec3(0, 0, -3));
    // The probe's root at 1 lies 3 from the real origin.
    EXPECT_EQ(hit.distance, 3.0);

    // Up to the minimum ray distance (strictly above it advances) the ray is passed as it is.
    TwoRoots small(1.0, 4.0);
    Intersection h2;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0.001, 10.0, h2, small));
    EXPECT_EQ(small.seenMin, 0.001);
    EXPECT_EQ(small.seenRay.origin, AlongZ.origin);
    EXPECT_EQ(h2.distance, 1.0);

    ctx.settings.minRayDistance = 5.0;
    TwoRoots raised(1.0, 4.0);
    Intersection h3;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 2.0, 10.0, h3, raised));
    EXPECT_EQ(raised.seenMin, 2.0);
    EXPECT_EQ(h3.distance, 4.0);
}

TEST(IntersectShape, KeepsTheCallersNearerHit) {
    auto sphere = makeSphere({0, 0, 0}, 1);
    RenderContext ctx;
    Intersection hit;
    hit.hit = 1;
    hit.distance = 4.0;
    EXPECT_FALSE(intersectShape(ctx, AlongZ, 0, 100, hit, *sphere));  // equal distance: the old hit stays
    hit.distance = 3.0;
    EXPECT_FALSE(intersectShape(ctx, AlongZ, 0, 100, hit, *sphere));
    EXPECT_EQ(hit.distance, 3.0);
    hit.distance = 4.5;
    EXPECT_TRUE(intersectShape(ctx, AlongZ, 0, 100, hit, *sphere));
    EXPECT_EQ(hit.distance, 4.0);
}

TEST(IntersectShape, SearchModesSkipShapes) {
    auto sphere = makeSphere({0, 0, 0}, 1);
    RenderContext ctx;
    Intersection hit;
    ctx.anyHit = true;
    sphere->attributes &= ~ShapeAttr::CastsShadows;
    EXPECT_FALSE(intersectShape(ctx, AlongZ, 0, 100, hit, *sphere));
    sphere->attributes |= ShapeAttr::CastsShadows;
    EXPECT_TRUE(intersectShape(ctx, AlongZ, 0, 100, hit, *sphere));

    ctx.anyHit = false;
    ctx.particleCollision = true;
    sphere->attributes |= ShapeAttr::Particle;
    Intersection h2;
    EXPECT_FALSE(intersectShape(ctx, AlongZ, 0, 100, h2, *sphere));
    ctx.particleCollision = false;
    EXPECT_TRUE(intersectShape(ctx, AlongZ, 0, 100, h2, *sphere));
}

TEST(RecordHit, NearerRootThatPassesTheSolidAndUvTestsWins) {
    RenderContext ctx;
    // Roots at world z = -4 and -1: a membership test that wants z > -2 keeps only the far one.
    TwoRoots probe(1.0, 4.0);
    BeyondZ beyond(-2);
    TwoRoots parent(0, 0);
    parent.kind = ShapeKind::Solid;
    probe.parent = &parent;
    probe.solidTest = &beyond;
    Intersection hit;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 10, hit, probe));
    EXPECT_EQ(hit.distance, 4.0);
    // Without a parent the membership test is not consulted.
    probe.parent = nullptr;
    Intersection h2;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 10, h2, probe));
    EXPECT_EQ(h2.distance, 1.0);

    // The uv window rejects u = 1 only when both the feature mask and the attributes enable it.
    probe.uvWindow[0] = 2;
    probe.uvWindow[1] = 5;
    Intersection h3;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 10, h3, probe));
    EXPECT_EQ(h3.distance, 4.0);
    ctx.settings.featureMask &= ~ShapeAttr::UvWindow;
    Intersection h4;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 10, h4, probe));
    EXPECT_EQ(h4.distance, 1.0);
    ctx.settings.featureMask |= ShapeAttr::UvWindow;
    probe.attributes &= ~ShapeAttr::UvWindow;
    Intersection h5;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 10, h5, probe));
    EXPECT_EQ(h5.distance, 1.0);
    EXPECT_EQ(h5.auxiliary, -1.0);
    EXPECT_EQ(h5.shaderOverride, nullptr);
    EXPECT_EQ(h5.local, Vec3(1, 1, 0));
}

TEST(RecordHit, NormalsGoThroughTheInverseTranspose) {
    // An ellipsoid x^2/4 + y^2 + z^2 = 1: its normal is parallel to (x/4, y, z), not to the
    // forward-transformed sphere normal.
    auto sphere = makeSphere({0, 0, 0}, 1);
    sphere->applyTransform(makeScale(2, 1, 1));
    RenderContext ctx;
    Ray ray{{1, 0.3, -5}, normalized({0.1, 0.05, 1})};
    Intersection hit;
    ASSERT_TRUE(intersectShape(ctx, ray, 0, 100, hit, *sphere));
    Vec3 p = hit.point;
    EXPECT_NEAR(p.x * p.x / 4 + p.y * p.y + p.z * p.z, 1.0, 1e-12);
    Vec3 gradient = normalized({p.x / 4, p.y, p.z});
    Vec3 n = normalized(hit.normal);
    EXPECT_NEAR(dot(n, gradient), 1.0, 1e-12);
}

TEST(IntersectShape, ReintersectionFromAHitPointFindsOnlyTheOtherSide) {
    // Rays leaving a hit point with the usual small tmin must not meet the surface they start on;
    // rays going back in must meet the far side.
    auto sphere = makeSphere({0.5, -0.2, 0.1}, 1.3);
    sphere->applyTransform(makeScale(1, 2, 0.7));
    sphere->applyTransform(makeTranslate({100, 50, -30}));
    RenderContext ctx;
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss;
    int inward = 0;
    for (int i = 0; i < 2000; ++i) {
        Vec3 d = normalized({gauss(rng), gauss(rng), gauss(rng)});
        Vec3 target = Vec3{100.5, 49.6, -29.93} + Vec3{gauss(rng), gauss(rng), gauss(rng)} * 0.2;
        Ray primary{target - d * 20, d};
        Intersection first;
        ASSERT_TRUE(intersectShape(ctx, primary, 0.001, 1000000, first, *sphere));
        Vec3 n = normalized(first.normal);
        Vec3 out = normalized({gauss(rng), gauss(rng), gauss(rng)});
        if (dot(out, n) < 0) out = -out;
        Intersection again;
        EXPECT_FALSE(intersectShape(ctx, {first.point, out}, 0.001, 1000000, again, *sphere)) << first.point;
        Intersection through;
        if (intersectShape(ctx, {first.point, -out}, 0.001, 1000000, through, *sphere)) {
            ++inward;
            EXPECT_GT(through.distance, 0.001);
        }
    }
    EXPECT_GT(inward, 1900);  // only grazing directions may slip past the far side
}

// A shape that searches another shape from inside its own intersect() (object space = world here).
class Wrapper final : public Shape {
  public:
    explicit Wrapper(const Shape& inner) : Shape(ShapeKind::Sphere), inner(inner) {}
    const Shape& inner;
    bool fail = false;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Wrapper(*this)); }
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override {
        if (fail) fatal("inner search failed");
        Intersection innerHit;
        if (!intersectShape(ctx, ray, tmin, tmax, innerHit, inner)) return false;
        return recordHit(ctx, *this, innerHit.normal, innerHit.distance + 1, innerHit.point, hit,
                         innerHit.local);
    }
};

TEST(IntersectShape, NestedSearchesKeepTheirRecordsApart) {
    auto sphere = makeSphere({0, 0, 0}, 1);
    Wrapper outer(*sphere);
    RenderContext ctx;
    Intersection hit;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 100, hit, outer));
    EXPECT_EQ(hit.distance, 5.0);
    EXPECT_EQ(hit.shape, &outer);
    EXPECT_EQ(hit.point, Vec3(0, 0, -1));
    // A fatal error inside a kind leaves the step usable for the next search.
    outer.fail = true;
    EXPECT_THROW(intersectShape(ctx, AlongZ, 0, 100, hit, outer), FatalError);
    Intersection again;
    ASSERT_TRUE(intersectShape(ctx, AlongZ, 0, 100, again, *sphere));
    EXPECT_EQ(again.distance, 4.0);
    EXPECT_FALSE(ctx.scratchHitBusy);
}

TEST(CopyShape, SharesDataOwnsTransformAndRejectsBadKinds) {
    auto definition = makeSphere({1, 2, 3}, 4);
    definition->applyTransform(makeTranslate({1, 0, 0}));
    definition->mesh = std::make_shared<SubdivisionMesh>();
    definition->mesh->vertices = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    auto copy = copyShape(*definition);
    EXPECT_EQ(copy->kind, ShapeKind::Sphere);
    EXPECT_EQ(copy->mesh, definition->mesh);
    ASSERT_NE(copy->transform, nullptr);
    EXPECT_NE(copy->transform.get(), definition->transform.get());
    copy->applyTransform(makeScale(2, 2, 2));
    EXPECT_EQ(definition->transform->forward(0, 0), 1.0);
    // Releasing the copy frees nothing the definition still uses.
    copy.reset();
    ASSERT_EQ(definition->mesh->vertices.size(), 3u);
    EXPECT_EQ(static_cast<const Sphere&>(*definition).radius, 4.0);

    TwoRoots bad(1, 2);
    bad.kind = static_cast<ShapeKind>(0);
    try {
        copyShape(bad);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x2c) Bad shape type (0)");
    }
    bad.kind = static_cast<ShapeKind>(25);
    EXPECT_THROW(copyShape(bad), FatalError);
    bad.kind = ShapeKind::MeshTriangle;
    EXPECT_NO_THROW(copyShape(bad));
}

}  // namespace
}  // namespace quorva
