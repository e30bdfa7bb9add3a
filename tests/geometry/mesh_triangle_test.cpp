// Mesh triangles: blending the mesh's normals, coordinates and values, the looser edge tolerance, the
// bare-mesh fallback, the parent's Solid test and surface window, and triangles that cannot be hit.
#include "geometry/mesh_triangle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry/shapes.h"
#include "geometry/world.h"
#include "shading/shader.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

class NullShader final : public Shader {
  public:
    NullShader() : Shader(ShaderKind::Constant) {}
    void evaluate(ShadingContext&, SurfaceSample&) const override {}
    std::shared_ptr<Shader> clone() const override { return std::make_shared<NullShader>(); }
};

class RejectAll final : public SolidMembership {
  public:
    bool accepts(const Vec3&) const override { return false; }
};

// A parent shape owning a one-triangle mesh in the plane z = 0: (0,0,0), (2,0,0), (0,2,0).
struct MeshFixture {
    std::unique_ptr<Shape> parent = makeSphere({0, 0, 0}, 1);
    MeshTriangle triangle;

    explicit MeshFixture(bool normals = true, bool texcoords = true) {
        auto mesh = std::make_shared<SubdivisionMesh>();
        mesh->vertices = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}};
        if (normals) mesh->normals = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
        if (texcoords) mesh->texcoords = {{0, 0, 0}, {10, 0, 0}, {0, 20, 0}};
        mesh->values = {1, 2, 6};
        parent->mesh = mesh;
        triangle.parent = parent.get();
        for (std::uint32_t i = 0; i < 3; ++i) triangle.index[i] = i;
    }

    // A world ray straight down -z at (x, y) from z = 4, through the one-shape step.
    bool hitAt(double x, double y, Intersection* out = nullptr, double tmax = 1000000) {
        RenderContext ctx;
        Intersection hit;
        const bool found = intersectShape(ctx, {{x, y, 4}, {0, 0, -1}}, 0, tmax, hit, triangle);
        if (out) *out = hit;
        return found;
    }
};

TEST(MeshTriangle, BlendsNormalsTextureCoordinatesAndValues) {
    for (bool prepared : {false, true}) {
        MeshFixture f;
        if (prepared) {
            ASSERT_TRUE(f.triangle.prepare());
        }
        f.triangle.shader = std::make_shared<NullShader>();
        Intersection hit;
        // (1, 0.5) weighs P0 by 0.25, P1 by 0.5 and P2 by 0.25.
        ASSERT_TRUE(f.hitAt(1, 0.5, &hit));
        EXPECT_EQ(hit.hit, 1);
        EXPECT_DOUBLE_EQ(hit.distance, 4.0);
        EXPECT_EQ(hit.point, (Vec3{1, 0.5, 0}));
        EXPECT_NEAR(hit.local.x, 5, 1e-12);
        EXPECT_NEAR(hit.local.y, 5, 1e-12);
        const Vec3 n = normalized(Vec3{0.5, 0.25, 0.25});
        EXPECT_NEAR(hit.normal.x, n.x, 1e-12);
        EXPECT_NEAR(hit.normal.y, n.y, 1e-12);
        EXPECT_NEAR(hit.normal.z, n.z, 1e-12);
        EXPECT_DOUBLE_EQ(hit.auxiliary, 2 * 3.0);
        EXPECT_EQ(hit.shape, f.parent.get());
        EXPECT_EQ(hit.shaderOverride, f.triangle.shader.get());
        EXPECT_FALSE(f.hitAt(1, 0.5, nullptr, 3.9));
    }
}

TEST(MeshTriangle, SmoothMeshesOverlapTheirNeighboursSlightly) {
    MeshFixture f;
    f.triangle.prepare();
    EXPECT_TRUE(f.hitAt(-0.008, 1));   // r = -0.004
    EXPECT_FALSE(f.hitAt(-0.012, 1));  // r = -0.006
    EXPECT_TRUE(f.hitAt(1.0001, 1));   // r + s = 1.00005
    EXPECT_FALSE(f.hitAt(1.001, 1));
}

TEST(MeshTriangle, BareMeshUsesTheEvenOddRule) {
    MeshFixture f(false, false);
    Intersection hit;
    ASSERT_TRUE(f.hitAt(0.5, 0.5, &hit));
    EXPECT_EQ(hit.normal, (Vec3{0, 0, 1}));
    EXPECT_EQ(hit.local, (Vec3{0.5, 0.5, 0}));
    EXPECT_FALSE(f.hitAt(-0.008, 1));
    EXPECT_FALSE(f.hitAt(1.001, 1));
    // Texture coordinates alone are enough for the barycentric test.
    MeshFixture uvOnly(false, true);
    ASSERT_TRUE(uvOnly.hitAt(-0.008, 1, &hit));
    EXPECT_EQ(hit.normal, (Vec3{0, 0, 1}));
}

TEST(MeshTriangle, ParentSolidTestAndSurfaceWindowDecide) {
    MeshFixture f;
    f.triangle.prepare();
    // The window is inclusive and applies without the uv attribute bit.
    f.parent->attributes &= ~ShapeAttr::UvWindow;
    f.parent->uvWindow[0] = 0;
    f.parent->uvWindow[1] = 5;
    f.parent->uvWindow[2] = 0;
    f.parent->uvWindow[3] = 100;
    EXPECT_TRUE(f.hitAt(1, 0.5));     // u = 5 exactly
    EXPECT_FALSE(f.hitAt(1.2, 0.2));  // u = 6

    RejectAll reject;
    auto solid = makeSphere({0, 0, 0}, 1);
    f.parent->solidTest = &reject;
    EXPECT_TRUE(f.hitAt(0.2, 0.2));  // no enclosing shape: the test is not consulted
    f.parent->parent = solid.get();
    EXPECT_FALSE(f.hitAt(0.2, 0.2));
}

TEST(MeshTriangle, TrianglesThatCannotBeHit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MeshFixture line;
    line.parent->mesh->vertices = {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}};
    EXPECT_FALSE(line.hitAt(1, 1));  // unprepared
    EXPECT_FALSE(line.triangle.prepare());
    EXPECT_FALSE(line.hitAt(1, 1));

    MeshFixture bad;
    bad.parent->mesh->vertices[1] = {nan, 0, 0};
    EXPECT_FALSE(bad.triangle.prepare());
    EXPECT_FALSE(bad.hitAt(0.2, 0.2));

    MeshFixture outOfRange;
    outOfRange.triangle.index[2] = 7;
    EXPECT_FALSE(outOfRange.hitAt(0.2, 0.2));
    EXPECT_FALSE(outOfRange.triangle.prepare());
    outOfRange.parent->mesh->normals.pop_back();  // shorter than the vertex array
    outOfRange.triangle.index[2] = 2;
    EXPECT_FALSE(outOfRange.triangle.prepare());

    MeshTriangle orphan;
    RenderContext ctx;
    Intersection hit;
    EXPECT_FALSE(orphan.intersectWorldRay(ctx, {{0, 0, 1}, {0, 0, -1}}, 0, 10, hit));
}

}  // namespace
}  // namespace quorva
