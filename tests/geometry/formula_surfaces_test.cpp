// Implicit and parametric surfaces, built through their statements so that the formulas are real
// expressions: roots, normals, inside tests, transforms, and the parametric subdivision.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/hierarchy.h"
#include "geometry/shape.h"
#include "geometry/world.h"
#include "scene/parser_fixture.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

Intersection traceWorld(const SceneState& scene, const Vec3& origin, const Vec3& dir) {
    RenderContext ctx;
    Intersection hit;
    intersectWorld(hit, {origin, normalized(dir)}, scene.frame.world, ctx, 1e-9, 1e6);
    return hit;
}

TEST(ImplicitSurface, SphereFromItsFormula) {
    SceneState scene;
    parseOk(scene, "Shape [ ImplicitSurface (x*x + y*y + z*z - 0.25) ]");
    ASSERT_EQ(scene.frame.world.mainList.size(), 1u);
    const Shape& s = *scene.frame.world.mainList[0];
    EXPECT_EQ(s.kind, ShapeKind::ImplicitSurface);
    Intersection hit = traceWorld(scene, {0.1, 0.2, -3}, {0, 0, 1});
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 3 - std::sqrt(0.25 - 0.05), 1e-6);
    const Vec3 n = normalized(hit.normal);
    EXPECT_NEAR(dot(n, normalized(hit.point)), 1, 1e-4);
    EXPECT_TRUE(s.inside({0, 0, 0}));
    EXPECT_FALSE(s.inside({0.6, 0, 0}));
    // From inside, the far side.
    EXPECT_NEAR(traceWorld(scene, {0, 0, 0}, {1, 0, 0}).distance, 0.5, 1e-6);
}

TEST(ImplicitSurface, FollowsItsTransform) {
    // The bounds are world space once transformed; the walk must not cut the moved, scaled surface.
    SceneState scene;
    parseOk(scene, "Shape [ ImplicitSurface (x*x + y*y + z*z - 0.25) Scale (2, 2, 2) Translate (3, 0, 0) ]");
    Intersection hit = traceWorld(scene, {3, 0, -5}, {0, 0, 1});
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 4, 1e-5);
    EXPECT_NEAR(traceWorld(scene, {0, 0.9, 0}, {1, 0, 0}).distance, 3 - std::sqrt(1 - 0.81), 1e-5);
    EXPECT_TRUE(scene.frame.world.mainList[0]->inside({3.9, 0, 0}));
}

TEST(ImplicitSurface, TangentContactIsNotFound) {
    // The plane y = 0.3 touches f = (y - 0.3)^2 at zero without a change of sign.
    SceneState scene;
    parseOk(scene, "Shape [ ImplicitSurface ((y - 0.3) * (y - 0.3)) ]");
    EXPECT_FALSE(traceWorld(scene, {0.1, -3, 0.2}, {0, 1, 0}).hit);
}

TEST(ParametricSurface, FormulaMustGiveAVector) {
    EXPECT_NE(parseFailure("Shape [ ParametricSurface u + v ]").find("Bad formula for ParametricSurface"),
              std::string::npos);
}

TEST(ParametricSurface, SphereVerticesLieOnTheSphere) {
    SceneState scene;
    parseOk(scene,
            "Shape [ ParametricSurface (2 * cos(6.2831853 * u) * sin(3.1415927 * v), 2 * cos(3.1415927 * v),"
            " 2 * sin(6.2831853 * u) * sin(3.1415927 * v)) Translate (1, 0, 0) ]");
    buildHierarchy(scene.frame.world);
    // The normal is radial (its side follows the formula's orientation).
    Intersection hit = traceWorld(scene, {1, 0.3, -5}, {0, 0, 1});
    ASSERT_TRUE(hit.hit && hit.shape);
    EXPECT_GT(std::fabs(normalized(hit.normal).z), 0.9);
    const Shape* owner = hit.shape;  // a mesh triangle's hit names the cut shape
    ASSERT_TRUE(owner && owner->mesh);
    EXPECT_EQ(owner->kind, ShapeKind::ParametricSurface);
    for (const Vec3& p : owner->mesh->vertices) EXPECT_NEAR(length(p - Vec3{1, 0, 0}), 2, 1e-9);
}

}  // namespace
}  // namespace quorva
