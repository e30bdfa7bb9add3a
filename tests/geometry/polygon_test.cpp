// Polygons: the plane and projection, the even-odd rule with its vertex rule, concave outlines, bad
// vertices, and the splitter's coverage of convex and concave outlines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "geometry/flat_shapes.h"
#include "geometry/polygon_splitter.h"
#include "geometry/shapes.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

const Polygon& asPolygon(const std::unique_ptr<Shape>& s) {
    return static_cast<const Polygon&>(*s);
}

// Fires a ray straight down -z at (x, y) from z = 5 against a polygon in the plane z = 0.
bool hitsAt(const Shape& polygon, double x, double y, Intersection* out = nullptr) {
    RenderContext ctx;
    Intersection hit;
    const bool found = polygon.intersect(ctx, {{x, y, 5}, {0, 0, -1}}, 0, 1000000, hit);
    if (out) *out = hit;
    return found;
}

// An L: the unit-4 square without its upper right 2 x 2 quarter.
const std::vector<Vec3> LShape = {{0, 0, 0}, {4, 0, 0}, {4, 2, 0}, {2, 2, 0}, {2, 4, 0}, {0, 4, 0}};

TEST(Polygon, PlaneNormalProjectionAndBounds) {
    auto square = makePolygon({{0, 0, 2}, {1, 0, 2}, {1, 1, 2}, {0, 1, 2}});
    const Polygon& p = asPolygon(square);
    EXPECT_EQ(square->kind, ShapeKind::Polygon);
    EXPECT_EQ(p.normal, (Vec3{0, 0, 1}));
    EXPECT_EQ(p.planeConstant, -2.0);
    EXPECT_EQ(p.axis0, 0);
    EXPECT_EQ(p.axis1, 1);
    EXPECT_NEAR(square->boundsMin.x, -1e-8, 1e-15);
    EXPECT_NEAR(square->boundsMin.z, 2 - 1e-8, 1e-15);
    EXPECT_NEAR(square->boundsSize.x, 1 + 2e-8, 1e-15);
    EXPECT_NEAR(square->boundsSize.z, 2e-8, 1e-15);

    // A polygon facing y keeps (x, z).
    auto wall = makePolygon({{0, 3, 0}, {0, 3, 1}, {1, 3, 0}});
    EXPECT_EQ(asPolygon(wall).axis0, 0);
    EXPECT_EQ(asPolygon(wall).axis1, 2);
}

TEST(Polygon, CollinearFirstVerticesFallBackToTheXAxisAndStillRender) {
    // The first three corners are in line, so the plane normal is (1, 0, 0) whatever the rest says.
    auto p = makePolygon({{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 2, 2}, {0, 0, 2}});
    EXPECT_EQ(asPolygon(p).normal, (Vec3{1, 0, 0}));
    EXPECT_EQ(asPolygon(p).axis0, 1);
    EXPECT_EQ(asPolygon(p).axis1, 2);
    RenderContext ctx;
    Intersection hit;
    ASSERT_TRUE(p->intersect(ctx, {{-3, 1, 1}, {1, 0, 0}}, 0, 100, hit));
    EXPECT_DOUBLE_EQ(hit.distance, 3.0);
    EXPECT_EQ(hit.local, (Vec3{1, 1, 0}));
    Intersection miss;
    EXPECT_FALSE(p->intersect(ctx, {{-3, 1, 3}, {1, 0, 0}}, 0, 100, miss));
}

TEST(Polygon, RecordsDistancePointNormalAndProjectedCoordinates) {
    auto p = makePolygon(LShape);
    Intersection hit;
    ASSERT_TRUE(hitsAt(*p, 1, 3, &hit));
    EXPECT_DOUBLE_EQ(hit.distance, 5.0);
    EXPECT_EQ(hit.point, (Vec3{1, 3, 0}));
    EXPECT_EQ(hit.local, (Vec3{1, 3, 0}));
    EXPECT_EQ(hit.normal, (Vec3{0, 0, 1}));
    EXPECT_EQ(hit.shape, p.get());

    // Parallel rays and planes outside [tmin, tmax] give nothing.
    RenderContext ctx;
    Intersection none;
    EXPECT_FALSE(p->intersect(ctx, {{1, 1, 5}, {1, 0, 0}}, 0, 100, none));
    EXPECT_FALSE(p->intersect(ctx, {{1, 1, 5}, {0, 0, -1}}, 0, 4.9, none));
    EXPECT_FALSE(p->intersect(ctx, {{1, 1, 5}, {0, 0, -1}}, 5.1, 100, none));
    EXPECT_FALSE(p->intersect(ctx, {{1, 1, -5}, {0, 0, -1}}, 0, 100, none));
}

TEST(Polygon, ConcaveOutlineIsHitOnlyInside) {
    auto p = makePolygon(LShape);
    for (double y = 0.05; y < 4; y += 0.1) {
        for (double x = 0.05; x < 4; x += 0.1) {
            const bool expected = x < 2 || y < 2;
            EXPECT_EQ(hitsAt(*p, x, y), expected) << "at " << x << ", " << y;
        }
    }
    EXPECT_FALSE(hitsAt(*p, -0.1, 1));
    EXPECT_FALSE(hitsAt(*p, 4.1, 1));
    EXPECT_FALSE(hitsAt(*p, 1, 4.1));
}

TEST(Polygon, AVertexOnTheScanLineCountsOnce) {
    // A diamond whose left and right corners lie on the line y = 0 through the hit points.
    auto diamond = makePolygon({{0, -1, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}});
    EXPECT_TRUE(hitsAt(*diamond, 0.5, 0));
    EXPECT_TRUE(hitsAt(*diamond, -0.5, 0));
    EXPECT_FALSE(hitsAt(*diamond, 1.5, 0));
    EXPECT_FALSE(hitsAt(*diamond, -1.5, 0));
    // The apex of a triangle on the line: outside on both sides of it.
    auto triangle = makePolygon({{0, 0, 0}, {2, 0, 0}, {1, 1, 0}});
    EXPECT_FALSE(hitsAt(*triangle, 0.5, 1));
    EXPECT_FALSE(hitsAt(*triangle, 1.5, 1));
    EXPECT_TRUE(hitsAt(*triangle, 1, 0.5));
    // Ends at the hit's height count as above it: a horizontal edge at the bottom of the outline is
    // outside, one at the top inside.
    auto square = makePolygon({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}});
    EXPECT_FALSE(hitsAt(*square, 1, 0));
    EXPECT_TRUE(hitsAt(*square, 1, 2));
}

TEST(Polygon, InsideIsTheHalfSpaceBehindThePlane) {
    auto p = makePolygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});  // normal +z
    EXPECT_TRUE(p->inside({5, 5, -0.1}));
    EXPECT_FALSE(p->inside({0.2, 0.2, 0.1}));
    EXPECT_FALSE(p->inside({0.2, 0.2, 0}));
    p->applyTransform(makeTranslate({0, 0, -1}));
    EXPECT_FALSE(p->inside({0, 0, -0.5}));
    EXPECT_TRUE(p->inside({0, 0, -1.5}));
}

TEST(Polygon, FewOrNonFiniteVerticesAreSafe) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& vertices :
         std::vector<std::vector<Vec3>>{{},
                                        {{1, 1, 1}},
                                        {{0, 0, 0}, {1, 0, 0}},
                                        {{nan, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {inf, nan, 0}},
                                        {{inf, inf, inf}, {-inf, 0, 0}, {0, inf, 0}}}) {
        auto p = makePolygon(vertices);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_TRUE(std::isfinite(p->boundsMin[axis]));
            EXPECT_TRUE(std::isfinite(p->boundsSize[axis]));
        }
        RenderContext ctx;
        Intersection hit;
        p->intersect(ctx, {{0.2, 0.2, 5}, {0, 0, -1}}, 0, 1000000, hit);
        p->inside({0, 0, 0});
    }
    // Fewer than three corners enclose nothing.
    EXPECT_FALSE(hitsAt(*makePolygon({{0, 0, 0}, {1, 0, 0}}), 0.5, 0));
}

// ---- the splitter ----

double twiceArea(const std::vector<Vec3>& v, int a0, int a1) {
    double s = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const Vec3& p = v[i];
        const Vec3& q = v[(i + 1) % v.size()];
        s += p[a0] * q[a1] - q[a0] * p[a1];
    }
    return s;
}

// The triangles cover the outline exactly: n - 2 of them, each wound like the outline, each inside it,
// and their areas add up to its area.
void expectExactCover(const std::vector<Vec3>& outline, int a0 = 0, int a1 = 1) {
    const std::vector<MeshFace> faces = splitPolygon(outline, a0, a1);
    ASSERT_EQ(faces.size(), outline.size() - 2);
    const double total = twiceArea(outline, a0, a1);
    double sum = 0;
    for (const MeshFace& f : faces) {
        const std::vector<Vec3> t = {outline[f[0]], outline[f[1]], outline[f[2]]};
        const double a = twiceArea(t, a0, a1);
        EXPECT_GE(a * total, -1e-12 * std::fabs(total)) << "triangle wound against the outline";
        sum += a;
        if (std::fabs(a) < 1e-12) continue;
        Vec3 centroid = (t[0] + t[1] + t[2]) / 3.0;
        EXPECT_TRUE(insideOutline(outline.data(), outline.size(), a0, a1, centroid[a0], centroid[a1]))
            << "triangle " << f[0] << " " << f[1] << " " << f[2] << " lies outside";
    }
    EXPECT_NEAR(sum, total, 1e-9 * std::fabs(total));
}

TEST(PolygonSplitter, CoversConvexAndConcaveOutlinesExactly) {
    expectExactCover({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    expectExactCover({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    expectExactCover(LShape);
    // The same L clockwise.
    expectExactCover(std::vector<Vec3>(LShape.rbegin(), LShape.rend()));
    // A five-pointed star.
    std::vector<Vec3> star;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 ? 0.4 : 1.0, a = M_PI / 2 + i * M_PI / 5;
        star.push_back({r * std::cos(a), r * std::sin(a), 0});
    }
    expectExactCover(star);
    // A comb: deep notches whose reflex corners lie close to the would-be ears.
    std::vector<Vec3> comb = {{0, 0, 0}, {10, 0, 0}};
    for (int tooth = 4; tooth >= 0; --tooth) {
        const double x = 2.0 * tooth;
        comb.insert(comb.end(), {{x + 2, 5, 0}, {x + 1, 5, 0}, {x + 1, 1, 0}, {x, 1, 0}});
    }
    expectExactCover(comb);
    // Corners in line along an edge, and a repeated corner.
    expectExactCover({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 2, 0}, {3, 2, 0}, {0, 2, 0}});
    // A square with a square hole, joined by a cut whose two sides share their end points.
    expectExactCover({{0, 0, 0},
                      {4, 0, 0},
                      {4, 4, 0},
                      {0, 4, 0},
                      {0, 0, 0},
                      {1, 1, 0},
                      {1, 3, 0},
                      {3, 3, 0},
                      {3, 1, 0},
                      {1, 1, 0}});
    // An outline in the (y, z) plane.
    expectExactCover({{0, 0, 0}, {0, 4, 0}, {0, 4, 2}, {0, 2, 2}, {0, 2, 4}, {0, 0, 4}}, 1, 2);
}

TEST(PolygonSplitter, CoversRandomStarShapedOutlines) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> radius(0.2, 2.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 3 + trial % 60;
        std::vector<Vec3> outline;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n, r = radius(rng);
            outline.push_back({r * std::cos(a), r * std::sin(a), 0});
        }
        SCOPED_TRACE(trial);
        expectExactCover(outline);
    }
}

TEST(PolygonSplitter, DegenerateInputEndsWithNMinusTwoTriangles) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(splitPolygon({}, 0, 1).empty());
    EXPECT_TRUE(splitPolygon({{0, 0, 0}, {1, 1, 0}}, 0, 1).empty());
    // A self-crossing bow tie and a polygon with a NaN corner still end, with n - 2 faces.
    EXPECT_EQ(splitPolygon({{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}, 0, 1).size(), 2u);
    EXPECT_EQ(splitPolygon({{0, 0, 0}, {1, 0, 0}, {nan, 1, 0}, {0, 1, 0}, {-1, 0.5, 0}}, 0, 1).size(), 3u);
    // All corners in one line.
    EXPECT_EQ(splitPolygon({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 1).size(), 2u);
}

}  // namespace
}  // namespace quorva
