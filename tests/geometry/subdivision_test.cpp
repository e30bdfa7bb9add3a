// Cutting shapes into mesh triangles: the parametric grid and its window, the flat kinds' meshes, and
// displaced shapes added to a World and hit through the hierarchy.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/flat_shapes.h"
#include "geometry/hierarchy.h"
#include "geometry/mesh_triangle.h"
#include "geometry/shapes.h"
#include "geometry/world.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "tests/scene/parser_fixture.h"
#include "trace/options.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::parseOk;

std::size_t countTriangles(const World& w, const Shape* parent) {
    std::size_t n = 0;
    for (const Shape* s : w.mainList) {
        EXPECT_EQ(s->kind, ShapeKind::MeshTriangle);
        EXPECT_EQ(s->parent, parent);
        ++n;
    }
    return n;
}

// The nearest hit along a ray in a World that may hold a hierarchy.
Intersection trace(const World& world, const Vec3& origin, const Vec3& direction) {
    RenderContext ctx;
    Intersection hit;
    intersectWorld(hit, {origin, normalized(direction)}, world, ctx, 0, 1000000);
    return hit;
}

TEST(ParametricSubdivision, SamplesTheUnitSquareOnTheShapesGrid) {
    auto sphere = makeSphere({1, 2, 3}, 2);  // 32 x 16 cells
    World pieces;
    sphere->subdivide(pieces);
    ASSERT_TRUE(sphere->mesh);
    const SubdivisionMesh& mesh = *sphere->mesh;
    ASSERT_EQ(mesh.vertices.size(), 33u * 17u);
    ASSERT_EQ(mesh.normals.size(), mesh.vertices.size());
    ASSERT_EQ(mesh.texcoords.size(), mesh.vertices.size());
    ASSERT_EQ(mesh.values.size(), mesh.vertices.size());
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        EXPECT_NEAR(length(mesh.vertices[i] - Vec3{1, 2, 3}), 2, 1e-12);
        EXPECT_NEAR(dot(mesh.normals[i], (mesh.vertices[i] - Vec3{1, 2, 3}) / 2), 1, 1e-12);
    }
    EXPECT_EQ(mesh.texcoords.front(), (Vec3{0, 0, 0}));
    EXPECT_EQ(mesh.texcoords.back(), (Vec3{1, 1, 0}));
    EXPECT_EQ(mesh.texcoords[33 + 16], (Vec3{0.5, 1.0 / 16, 0}));
    // Two triangles per cell, less the one of each cell touching a pole that has no area.
    EXPECT_EQ(countTriangles(pieces, sphere.get()), 2u * 32 * 16 - 2 * 32);
}

TEST(ParametricSubdivision, FollowsTheUvWindowAndGuardsZeroCounts) {
    auto sphere = makeSphere({0, 0, 0}, 1);
    sphere->uvWindow[0] = 0.25;
    sphere->uvWindow[1] = 0.5;
    sphere->uvWindow[2] = 0.5;
    sphere->uvWindow[3] = 0.75;
    sphere->subdivisions[0] = 0;  // counts as one cell
    sphere->subdivisions[1] = 4;
    World pieces;
    sphere->subdivide(pieces);
    const SubdivisionMesh& mesh = *sphere->mesh;
    ASSERT_EQ(mesh.vertices.size(), 2u * 5u);
    EXPECT_EQ(mesh.texcoords.front(), (Vec3{0.25, 0.5, 0}));
    EXPECT_EQ(mesh.texcoords.back(), (Vec3{0.5, 0.75, 0}));
    EXPECT_EQ(countTriangles(pieces, sphere.get()), 8u);

    // A kind without a parametric form yields nothing.
    auto box = makeBox({0, 0, 0}, {1, 1, 1});
    World none;
    box->Shape::subdivide(none);
    EXPECT_TRUE(none.mainList.empty());
}

TEST(FlatSubdivision, PolygonCutsItsOutlineInWorldSpace) {
    auto polygon = makePolygon({{0, 0, 0}, {4, 0, 0}, {4, 2, 0}, {2, 2, 0}, {2, 4, 0}, {0, 4, 0}});
    polygon->applyTransform(makeTranslate({0, 0, 5}));
    World world;
    polygon->subdivide(world);
    EXPECT_EQ(countTriangles(world, polygon.get()), 4u);
    const SubdivisionMesh& mesh = *polygon->mesh;
    EXPECT_EQ(mesh.vertices[2], (Vec3{4, 2, 5}));
    EXPECT_EQ(mesh.normals[2], (Vec3{0, 0, 1}));
    EXPECT_EQ(mesh.texcoords[2], (Vec3{4, 2, 0}));
    ASSERT_TRUE(buildHierarchy(world));
    // Hits only inside the L, with the polygon's own coordinates.
    const Intersection inside = trace(world, {1, 3, 10}, {0, 0, -1});
    ASSERT_TRUE(inside.hit);
    EXPECT_NEAR(inside.distance, 5, 1e-12);
    EXPECT_NEAR(inside.local.x, 1, 1e-12);
    EXPECT_NEAR(inside.local.y, 3, 1e-12);
    EXPECT_EQ(inside.shape, polygon.get());
    EXPECT_FALSE(trace(world, {3, 3, 10}, {0, 0, -1}).hit);
}

TEST(FlatSubdivision, PatchBecomesOneTriangleWithItsCornerData) {
    PatchCorner c0{{0, 0, 0}, {0, 0, 1}}, c1{{1, 0, 0}, {1, 0, 1}}, c2{{0, 1, 0}, {0, 1, 1}};
    c1.u = 0.5;
    auto patch = makeTriangularPatch(c0, c1, c2);
    patch->applyTransform(makeScale(2, 2, 2));
    World world;
    patch->subdivide(world);
    ASSERT_EQ(countTriangles(world, patch.get()), 1u);
    const SubdivisionMesh& mesh = *patch->mesh;
    EXPECT_EQ(mesh.vertices[1], (Vec3{2, 0, 0}));
    EXPECT_NEAR(mesh.normals[1].x, std::sqrt(0.5), 1e-12);
    EXPECT_EQ(mesh.texcoords[1], (Vec3{0.5, 0, 0}));
    EXPECT_EQ(mesh.texcoords[2], (Vec3{0, 1, 0}));
}

TEST(Displacement, DisplacedSphereIsAddedAsAGroupOfTriangles) {
    SceneState scene;
    parseOk(scene, "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping 0.5 ShapeSubdivisions (64, 32) ]");
    World& world = scene.frame.world;
    ASSERT_EQ(world.mainList.size(), 1u);
    EXPECT_EQ(world.mainList[0]->kind, ShapeKind::BoundingGroup);
    ASSERT_EQ(world.subdividedSources.size(), 1u);
    const Shape* sphere = world.subdividedSources[0].get();
    ASSERT_TRUE(buildHierarchy(world));

    // Hits on a sphere of radius 1.5 from every side, poles included, with outward normals there.
    for (const Vec3& dir : {Vec3{0, 0, 1}, Vec3{0, -1, 0}, Vec3{0, 1, 0}, Vec3{-1, 0, 0}, Vec3{1, 0.3, -0.2},
                            Vec3{-0.01, -1, 0.02}}) {
        const Vec3 d = normalized(dir);
        const Intersection hit = trace(world, d * -5, d);
        ASSERT_TRUE(hit.hit) << dir;
        EXPECT_EQ(hit.shape, sphere);
        EXPECT_NEAR(hit.distance, 3.5, 0.01) << dir;
        EXPECT_GT(dot(normalized(hit.normal), -d), 0.99) << dir;
    }
    // At the poles and on the seam, where the grid repeats its vertices, the copies share one normal
    // made from the faces on every side.
    for (const Vec3& d : {Vec3{0, 1, 0}, Vec3{0, -1, 0}, Vec3{-1, 0, 0}}) {
        const Intersection hit = trace(world, d * -5, d);
        ASSERT_TRUE(hit.hit) << d;
        EXPECT_NEAR(hit.distance, 3.5, 1e-9) << d;
        EXPECT_GT(dot(normalized(hit.normal), -d), 1 - 1e-9) << d;
    }
}

TEST(Displacement, NormalsFollowTheDisplacedSurface) {
    SceneState scene;
    // u is the polygon's x here: the square is tilted into the plane z = x / 2.
    parseOk(scene,
            "Shape [ Polygon (4, (0, 0, 0), (2, 0, 0), (2, 2, 0), (0, 2, 0)) DisplacementMapping u * 0.5 ]");
    ASSERT_TRUE(buildHierarchy(scene.frame.world));
    const Intersection hit = trace(scene.frame.world, {1, 1, 5}, {0, 0, -1});
    ASSERT_TRUE(hit.hit);
    EXPECT_NEAR(hit.distance, 4.5, 1e-9);
    const Vec3 n = normalized(hit.normal), expected = normalized(Vec3{-0.5, 0, 1});
    EXPECT_NEAR(n.x, expected.x, 1e-9);
    EXPECT_NEAR(n.z, expected.z, 1e-9);
}

TEST(Displacement, ReadsObjectSpacePointsUvAndTheFrameCounter) {
    SceneState scene;
    scene.frame.world.frames = &scene.frame.frames;
    scene.frame.frames.currentFrame = 4;
    // length(P) is 1 on the unit sphere in its own space, whatever the translation.
    parseOk(scene,
            "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping length(P) * 0.25 Translate (10, 0, 0) ]\n"
            "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping CurrentFrame * 0.1 Translate (0, 10, 0) ]\n"
            "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping v Translate (0, 0, 10) ]\n"
            "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping (1, 2, 3) Translate (0, 0, -10) ]\n");
    ASSERT_TRUE(buildHierarchy(scene.frame.world));
    EXPECT_NEAR(trace(scene.frame.world, {10, 0, -5}, {0, 0, 1}).distance, 5 - 1.25, 0.01);
    EXPECT_NEAR(trace(scene.frame.world, {0, 10, -5}, {0, 0, 1}).distance, 5 - 1.4, 0.01);
    // v runs from 0 at the south pole to 1 at the north pole.
    EXPECT_NEAR(trace(scene.frame.world, {0, -5, 10}, {0, 1, 0}).distance, 4, 0.01);
    EXPECT_NEAR(trace(scene.frame.world, {0, 5, 10}, {0, -1, 0}).distance, 3, 0.01);
    // A vector is no distance: the sphere stays as it was.
    EXPECT_NEAR(trace(scene.frame.world, {0, 0, -15}, {0, 0, 1}).distance, 4, 0.01);
}

TEST(Displacement, ScalesWithTheShapeAndCoversFlatKinds) {
    SceneState scene;
    parseOk(scene,
            "Shape [ Sphere ((0, 0, 0), 1) DisplacementMapping 0.5 Scale (2, 2, 2) ]\n"
            "Shape [ Polygon (6, (0, 0, 0), (4, 0, 0), (4, 2, 0), (2, 2, 0), (2, 4, 0), (0, 4, 0))\n"
            "        DisplacementMapping 1 Translate (20, 0, 0) ]\n"
            "Shape [ TriangularPatch ((0, 0, 0), (0, 0, 1), (1, 0, 0), (0, 0, 1), (0, 1, 0), (0, 0, 1))\n"
            "        DisplacementMapping -2 Translate (-20, 0, 0) ]\n");
    ASSERT_TRUE(buildHierarchy(scene.frame.world));
    EXPECT_NEAR(trace(scene.frame.world, {0, 0, -10}, {0, 0, 1}).distance, 7, 0.02);
    const Intersection onL = trace(scene.frame.world, {21, 3, 10}, {0, 0, -1});
    ASSERT_TRUE(onL.hit);
    EXPECT_NEAR(onL.distance, 9, 1e-9);
    EXPECT_NEAR(onL.normal.z, 1, 1e-9);
    EXPECT_FALSE(trace(scene.frame.world, {23, 3, 10}, {0, 0, -1}).hit);
    EXPECT_NEAR(trace(scene.frame.world, {-19.8, 0.2, 10}, {0, 0, -1}).distance, 12, 1e-9);
}

}  // namespace
}  // namespace quorva
