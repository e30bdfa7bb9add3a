// Bicubic patches and NURBS: constructor and statement messages, evaluation under the bases, default and
// given knot vectors, weights, and an exact rational circle.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/surface_shapes.h"
#include "geometry/world.h"
#include "scene/parser_fixture.h"
#include "support/fatal_text.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::fatalText;
using testing::parseFailure;
using testing::parseOk;

std::vector<Vec3> grid(double bulge) {
    std::vector<Vec3> points;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) points.push_back({double(i), (i % 3 && j % 3) ? bulge : 0, double(j)});
    return points;
}

SurfacePoint at(const Shape& s, double u, double v) {
    SurfacePoint p;
    s.evaluate(u, v, p);
    return p;
}

TEST(BicubicPatch, MessagesAndBases) {
    std::vector<Vec3> fifteen = grid(0);
    fifteen.pop_back();
    EXPECT_EQ(fatalText([&] { makeBicubicPatch(fifteen, 1, 4, 4); }),
              "1 points are missing on a BicubicPatch");
    EXPECT_EQ(fatalText([] { makeBicubicPatch(grid(0), 5, 4, 4); }), "Type of BicubicPatch out of range");
    auto bezier = makeBicubicPatch(grid(2), 1, 6, 7);
    EXPECT_EQ(bezier->subdivisions[0], 6);
    EXPECT_EQ(bezier->subdivisions[1], 7);
    // Counts beyond reason are limited instead of exhausting memory when the patch is cut.
    auto huge = makeBicubicPatch(grid(0), 1, 1e9, -3);
    EXPECT_EQ(huge->subdivisions[0], 1024);
    EXPECT_EQ(huge->subdivisions[1], 1);
    EXPECT_EQ(at(*bezier, 0, 0).worldPoint, (Vec3{0, 0, 0}));
    EXPECT_EQ(at(*bezier, 1, 1).worldPoint, (Vec3{3, 0, 3}));
    EXPECT_NEAR(at(*bezier, 0.5, 0.5).worldPoint.y, 2 * 0.75 * 0.75, 1e-12);
    // A flat grid gives the flat square under every basis that reproduces lines.
    for (int type : {1, 2, 3}) {
        auto flat = makeBicubicPatch(grid(0), type, 4, 4);
        for (double u : {0.0, 0.3, 1.0})
            for (double v : {0.0, 0.6, 1.0}) {
                const SurfacePoint p = at(*flat, u, v);
                EXPECT_NEAR(p.worldPoint.y, 0, 1e-12);
                EXPECT_NEAR(std::fabs(p.normal.y), 1, 1e-12);
                EXPECT_GE(p.worldPoint.x, -1e-12);
                EXPECT_LE(p.worldPoint.x, 3 + 1e-12);
            }
    }
}

std::vector<std::vector<NurbsPoint>> quarterCircle() {
    const double w = std::sqrt(0.5);
    return {
        {{{1, 0, 0}, 1}, {{1, 0, 1}, 1}}, {{{1, 1, 0}, w}, {{1, 1, 1}, w}}, {{{0, 1, 0}, 1}, {{0, 1, 1}, 1}}};
}

TEST(Nurbs, RationalQuarterCircleAndKnots) {
    auto arc = makeNurbs(3, 3, {0, 0, 0, 1, 1, 1}, 2, 2, {}, quarterCircle());
    EXPECT_EQ(arc->uvWindow[0], 0);
    EXPECT_EQ(arc->uvWindow[1], 1);
    EXPECT_EQ(arc->subdivisions[0], 6);
    for (int k = 0; k <= 20; ++k) {
        const SurfacePoint p = at(*arc, k / 20.0, 0.5);
        EXPECT_NEAR(p.worldPoint.x * p.worldPoint.x + p.worldPoint.y * p.worldPoint.y, 1, 1e-12);
        EXPECT_NEAR(p.worldPoint.z, 0.5, 1e-12);
        // The normal lies in the xy plane, across the arc.
        EXPECT_NEAR(std::fabs(dot(p.normal, {p.worldPoint.x, p.worldPoint.y, 0})), 1, 1e-9);
    }
    // All weights 0: every weight is 1 and the surface is the plain B-spline (here bilinear).
    std::vector<std::vector<NurbsPoint>> square = {{{{0, 0, 0}, 0}, {{0, 0, 2}, 0}},
                                                   {{{2, 0, 0}, 0}, {{2, 4, 2}, 0}}};
    auto bilinear = makeNurbs(2, 2, {}, 2, 2, {}, square);
    EXPECT_NEAR(at(*bilinear, 0.5, 0.5).worldPoint.y, 1, 1e-12);
    // Repeated inner knots give 0/0 quotients that count as 1.
    std::vector<std::vector<NurbsPoint>> rows(5, {{{0, 0, 0}, 0}, {{0, 0, 1}, 0}});
    for (int i = 0; i < 5; ++i) rows[i][0].point.x = rows[i][1].point.x = i;
    auto repeated = makeNurbs(3, 5, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2, 2, {}, rows);
    for (double u : {0.0, 0.25, 0.5, 0.75, 1.0})
        EXPECT_TRUE(std::isfinite(at(*repeated, u, 0.5).worldPoint.x));
    EXPECT_NEAR(at(*repeated, 1, 0).worldPoint.x, 4, 1e-12);
    EXPECT_EQ(fatalText([&] { makeNurbs(4, 3, {}, 2, 2, {}, quarterCircle()); }),
              "NURBS order 4 out of range (1..3)");
}

TEST(Nurbs, StatementChecks) {
    const std::string points = "[ [ (0,0,0), (0,0,1) ], [ (1,0,0), (1,0,1) ], [ (2,1,0), (2,1,1) ] ]";
    auto nurbs = [&](const std::string& knots, const std::string& p) {
        return "Shape [ NURBS (2, 3, " + knots + ", 2, 2, 0, " + p + ") ]";
    };
    EXPECT_EQ(parseFailure(nurbs("\"k\"", points)), "Knot vector for NURBS has to be an array");
    EXPECT_EQ(parseFailure(nurbs("[0, \"a\", 1]", points)), "Knot value has to be a float");
    EXPECT_EQ(parseFailure(nurbs("0", "1")), "NURBS control points have to be a square array");
    EXPECT_EQ(parseFailure(nurbs("0", "[ 1, 2, 3 ]")), "NURBS rows have to be arrays of points");
    EXPECT_EQ(parseFailure(nurbs("0", "[ [ (0,0,0), (0,0,1) ] ]")), "Row entries are missing in NURBS");
    EXPECT_EQ(parseFailure(nurbs("0", "[ [ (0,0,0), (0,0,1) ], [ (1,0,0) ], [ (2,0,0) ] ]")),
              "Column entries are missing in NURBS (row 1)");
    EXPECT_EQ(parseFailure("Shape [ BicubicPatch (1, 4, 4, (0,0,0)) ]"),
              "15 points are missing on a BicubicPatch");
    EXPECT_EQ(parseFailure("Shape [ NURBS (1e12, 3, 0, 2, 2, 0, 0) ]"),
              "NURBS order 2147483647 out of range (1..3)");
    // A knot vector of the wrong length warns and gives the surface of the default vector.
    ConsoleCapture console;
    SceneState wrong, plain;
    parseOk(wrong, nurbs("[0, 1, 2]", points));
    EXPECT_NE(console.text().find("First knot vector should have 5 entries instead of 3 in NURBS"),
              std::string::npos);
    parseOk(plain, nurbs("0", points));
    ASSERT_EQ(wrong.frame.world.subdividedSources.size(), 1u);
    ASSERT_EQ(plain.frame.world.subdividedSources.size(), 1u);
    EXPECT_EQ(wrong.frame.world.subdividedSources[0]->mesh->vertices,
              plain.frame.world.subdividedSources[0]->mesh->vertices);
}

// The statements hand their arguments to the constructors in the order the scene writes them.
TEST(SurfaceStatements, ArgumentsReachTheShapes) {
    SceneState scene;
    parseOk(scene,
            "Shape [ Blobby (0.25, Sphere((0, 0, 0), 2, 1), Plane((0, 2, 0), 2, 1, 1)) SturmSolver ]\n"
            "Shape [ ImplicitPlanarHeightField (0, 2, 0, 1, x + 10 * z, 3, 2) Translate (10, 0, 0) ]\n"
            "Shape [ ImplicitSphericalHeightField (2, 0.5, z, 8, 5) Translate (20, 0, 0) ]");
    ASSERT_EQ(scene.frame.world.mainList.size(), 3u);
    const Shape& blobby = *scene.frame.world.mainList[0];
    EXPECT_EQ(blobby.kind, ShapeKind::Blobby);
    // The plane's normal is normalised and its distance divided by the normal's length: p = y + 1.
    EXPECT_NEAR(blobbyFieldValue(blobby, {5, -0.5, 5}), 0.5625, 1e-12);
    EXPECT_NEAR(blobbyFieldValue(blobby, {0, 5, 0}), 0, 1e-12);
    RenderContext ctx;
    Intersection hit;
    intersectShape(ctx, {{0, 10, 0}, {0, -1, 0}}, 0, 1e6, hit, blobby);
    EXPECT_NEAR(hit.distance, 10 - std::sqrt(2.0), 1e-9);
    // x and z of the expression are the grid's own coordinates: 2 + 10 * 1 at the far corner.
    hit = {};
    intersectShape(ctx, {{12, 100, 1}, {0, -1, 0}}, 0, 1e6, hit, *scene.frame.world.mainList[1]);
    EXPECT_NEAR(hit.distance, 88, 1e-9);
    // z is the latitude: the north pole stands at 2 + 0.5 * pi / 2.
    hit = {};
    intersectShape(ctx, {{20, 10, 0}, {0, -1, 0}}, 0, 1e6, hit, *scene.frame.world.mainList[2]);
    EXPECT_NEAR(hit.distance, 10 - (2 + 0.25 * 3.14159265358979323846), 1e-9);
    EXPECT_EQ(parseFailure("Shape [ ImplicitSphericalHeightField (0, 1, 0, 8, 5, SmoothNormal) ]"),
              "Failed to compute HeightField normals");
}

}  // namespace
}  // namespace quorva
