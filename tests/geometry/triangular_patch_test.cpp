// Triangular patches: corner data and defaults, the edge tolerances, the open distance range, the
// interpolated normal and coordinates, and triangles without area.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry/flat_shapes.h"
#include "geometry/shapes.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

PatchCorner corner(const Vec3& p, const Vec3& n = {0, 0, 1}) {
    PatchCorner c;
    c.point = p;
    c.normal = n;
    return c;
}

// The unit right triangle in z = 0 without texture coordinates.
std::unique_ptr<Shape> unitPatch() {
    return makeTriangularPatch(corner({0, 0, 0}), corner({1, 0, 0}), corner({0, 1, 0}));
}

// A ray straight down -z at (x, y) from z = 1.
bool hitsAt(const Shape& patch, double x, double y, Intersection* out = nullptr, double tmin = 0) {
    RenderContext ctx;
    Intersection hit;
    const bool found = patch.intersect(ctx, {{x, y, 1}, {0, 0, -1}}, tmin, 1000000, hit);
    if (out) *out = hit;
    return found;
}

TEST(TriangularPatch, CornersNormalsAndBounds) {
    auto shape = makeTriangularPatch(corner({0, 0, 0}, {0, 0, 3}), corner({2, 0, 0}, {0, 0, 0}),
                                     corner({0, 1, 1}, {1, 1, 0}));
    const auto& p = static_cast<const TriangularPatch&>(*shape);
    EXPECT_EQ(shape->kind, ShapeKind::TriangularPatch);
    EXPECT_EQ(p.data->normals[0], (Vec3{0, 0, 1}));
    EXPECT_EQ(p.data->normals[1], (Vec3{1, 0, 0}));  // a zero normal becomes (1, 0, 0)
    EXPECT_NEAR(p.data->normals[2].x, std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(shape->boundsMin.x, -2e-8, 1e-16);
    EXPECT_NEAR(shape->boundsSize.x, 2 + 4e-8, 1e-15);
    EXPECT_NEAR(shape->boundsSize.z, 1 + 4e-8, 1e-15);
    // The barycentric axes give the weights of P1 and P2.
    const Vec3 q = Vec3{0.5, 0.25, 0.25} - p.data->corners[0];  // 0.25 P1 + 0.25 P2 + 0.5 P0
    EXPECT_NEAR(dot(q, p.data->axis1), 0.25, 1e-15);
    EXPECT_NEAR(dot(q, p.data->axis2), 0.25, 1e-15);
}

TEST(TriangularPatch, MissingTextureCoordinatesDefaultPerCorner) {
    Intersection hit;
    auto patch = unitPatch();
    ASSERT_TRUE(hitsAt(*patch, 0, 0, &hit));
    EXPECT_EQ(hit.local, (Vec3{0, 0, 0}));
    ASSERT_TRUE(hitsAt(*patch, 1, 0, &hit));
    EXPECT_EQ(hit.local, (Vec3{1, 0, 0}));
    ASSERT_TRUE(hitsAt(*patch, 0, 1, &hit));
    EXPECT_EQ(hit.local, (Vec3{0, 1, 0}));

    // Given coordinates are interpolated; a corner with only u given keeps its default v.
    PatchCorner c0 = corner({0, 0, 0}), c1 = corner({1, 0, 0}), c2 = corner({0, 1, 0});
    c0.u = 0.5;
    c0.v = 0.5;
    c1.u = 0.9;
    auto given = makeTriangularPatch(c0, c1, c2);
    const auto& g = static_cast<const TriangularPatch&>(*given);
    EXPECT_EQ(g.data->texU[1], 0.9);
    EXPECT_EQ(g.data->texV[1], 0.0);
    ASSERT_TRUE(hitsAt(*given, 0.5, 0.25, &hit));  // weights 0.25, 0.5, 0.25
    EXPECT_NEAR(hit.local.x, 0.25 * 0.5 + 0.5 * 0.9 + 0.25 * 0, 1e-12);
    EXPECT_NEAR(hit.local.y, 0.25 * 0.5 + 0.5 * 0 + 0.25 * 1, 1e-12);
}

TEST(TriangularPatch, EdgesCountAndPointsJustOutsideDoNot) {
    auto patch = unitPatch();
    EXPECT_TRUE(hitsAt(*patch, 0, 0.5));    // r = 0
    EXPECT_TRUE(hitsAt(*patch, 0.5, 0));    // s = 0
    EXPECT_TRUE(hitsAt(*patch, 0.5, 0.5));  // r + s = 1
    EXPECT_FALSE(hitsAt(*patch, -2e-8, 0.5));
    EXPECT_FALSE(hitsAt(*patch, 0.5, -2e-8));
    EXPECT_FALSE(hitsAt(*patch, 0.5 + 1e-8, 0.5 + 1e-8));
    EXPECT_FALSE(hitsAt(*patch, 0.6, 0.6));
}

TEST(TriangularPatch, DistanceRangeIsOpenAtBothEnds) {
    auto patch = unitPatch();
    RenderContext ctx;
    const Ray ray{{0.2, 0.2, 1}, {0, 0, -1}};
    Intersection hit;
    EXPECT_FALSE(patch->intersect(ctx, ray, 1.0, 10, hit));  // exactly at tmin
    EXPECT_FALSE(patch->intersect(ctx, ray, 0, 1.0, hit));   // exactly at tmax
    EXPECT_FALSE(patch->intersect(ctx, ray, 1.5, 10, hit));
    EXPECT_FALSE(patch->intersect(ctx, {{0.2, 0.2, 1}, {1, 0, 0}}, 0, 10, hit));  // parallel
    ASSERT_TRUE(patch->intersect(ctx, ray, 0.999, 10, hit));
    EXPECT_DOUBLE_EQ(hit.distance, 1.0);
    EXPECT_EQ(hit.point, (Vec3{0.2, 0.2, 0}));
}

TEST(TriangularPatch, NormalIsTheNormalisedBlendOfTheCornerNormals) {
    auto patch = makeTriangularPatch(corner({0, 0, 0}, {1, 0, 0}), corner({1, 0, 0}, {0, 1, 0}),
                                     corner({0, 1, 0}, {0, 0, 1}));
    Intersection hit;
    ASSERT_TRUE(hitsAt(*patch, 1.0 / 3, 1.0 / 3, &hit));
    const double c = 1 / std::sqrt(3.0);
    EXPECT_NEAR(hit.normal.x, c, 1e-12);
    EXPECT_NEAR(hit.normal.y, c, 1e-12);
    EXPECT_NEAR(hit.normal.z, c, 1e-12);
    // Through a transform the normal and distance come out in world space.
    patch->applyTransform(makeScale(2, 2, 2));
    RenderContext ctx;
    Intersection world;
    ASSERT_TRUE(intersectShape(ctx, {{0.5, 0.5, 3}, {0, 0, -1}}, 0, 100, world, *patch));
    EXPECT_NEAR(world.distance, 3.0, 1e-12);
    EXPECT_NEAR(world.point.x, 0.5, 1e-12);
}

TEST(TriangularPatch, TrianglesWithoutAreaAreNeverHit) {
    // Corners in a line would otherwise stand for the whole plane x = 0.
    auto line = makeTriangularPatch(corner({0, 0, 0}), corner({0, 1, 0}), corner({0, 2, 0}));
    const auto& p = static_cast<const TriangularPatch&>(*line);
    EXPECT_TRUE(p.data->degenerate);
    EXPECT_EQ(p.data->faceNormal, (Vec3{1, 0, 0}));
    RenderContext ctx;
    Intersection hit;
    EXPECT_FALSE(line->intersect(ctx, {{-1, 5, 5}, {1, 0, 0}}, 0, 100, hit));
    EXPECT_FALSE(line->intersect(ctx, {{-1, 0.5, 0}, {1, 0, 0}}, 0, 100, hit));

    // A tiny but proper triangle keeps its own plane.
    auto tiny = makeTriangularPatch(corner({0, 0, 0}), corner({1e-6, 0, 0}), corner({0, 1e-6, 0}));
    EXPECT_EQ(static_cast<const TriangularPatch&>(*tiny).data->faceNormal, (Vec3{0, 0, 1}));
    EXPECT_TRUE(hitsAt(*tiny, 2e-7, 2e-7));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto bad = makeTriangularPatch(corner({nan, 0, 0}), corner({1, 0, 0}), corner({0, 1, 0}));
    EXPECT_TRUE(static_cast<const TriangularPatch&>(*bad).data->degenerate);
    EXPECT_FALSE(hitsAt(*bad, 0.2, 0.2));
    for (int axis = 0; axis < 3; ++axis) EXPECT_TRUE(std::isfinite(bad->boundsMin[axis]));
}

}  // namespace
}  // namespace quorva
