// Blobby: the constructor's checks, the surface of one and two spheres, roots against a brute-force scan
// of the field under every solver, and the polygoniser's mesh.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "geometry/polygoniser.h"
#include "geometry/solvers.h"
#include "geometry/surface_shapes.h"
#include "support/fatal_text.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::fatalText;

BlobComponent sphere(const Vec3& c, double r, double s) {
    return {0, c, {}, 0, r, s};
}
BlobComponent capsule(const Vec3& a, const Vec3& b, double r, double s) {
    return {1, a, b, 0, r, s};
}

Intersection trace(const Shape& s, const Vec3& origin, const Vec3& direction, double tmax = 1e6) {
    RenderContext ctx;
    Intersection hit;
    intersectShape(ctx, {origin, normalized(direction)}, 0, tmax, hit, s);
    return hit;
}

TEST(Blobby, ConstructorChecks) {
    EXPECT_EQ(fatalText([] { makeBlobby({{2, {}, {}, 0, 1, 1}}, 0, 0.5); }), "Invalid Blobby component type");
    EXPECT_EQ(fatalText([] {
                  makeBlobby({capsule({1, 1, 1}, {1, 1, 1}, 1, 1)}, 0, 0.5);
              }),
              "Degenerate cylindrical Blobby component");
    ConsoleCapture console;
    // A radius of 0 warns and makes no element; a negative one warns and still counts.
    auto b = makeBlobby({sphere({0, 0, 0}, 0, 1), sphere({5, 0, 0}, -1, 1), {4, {}, {}, 0, 1, 1}}, 0, 0.25);
    EXPECT_NE(console.text().find("Degenerate Blobby component"), std::string::npos);
    EXPECT_EQ(b->kind, ShapeKind::Blobby);
    EXPECT_NEAR(b->boundsMin.x, 4, 1e-12);
    EXPECT_NEAR(b->boundsSize.x, 2, 1e-12);
    EXPECT_EQ(blobbyFieldValue(*b, {0, 0, 0}), 0);
    EXPECT_NEAR(blobbyFieldValue(*b, {5, 0, 0}), 1, 1e-12);
    // A plane reaches everywhere.
    auto p = makeBlobby({{3, {}, {0, 2, 0}, 1, 1, 1}}, 0, 0.25);
    EXPECT_EQ(p->boundsMin.x, -1000000);
    EXPECT_EQ(p->boundsSize.y, 2000000);
    // A plane without a normal would divide by zero: a warning and no element.
    console.clear();
    auto flat = makeBlobby({{3, {}, {0, 0, 0}, 1, 1, 1}}, 0, 0.25);
    EXPECT_NE(console.text().find("Degenerate Blobby component"), std::string::npos);
    EXPECT_EQ(blobbyFieldValue(*flat, {0, 0, 0}), 0);
}

TEST(Blobby, SpheresAloneAndJoined) {
    // One sphere of strength s and threshold s / 4: the surface lies at R / sqrt(2).
    for (int solver : {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm}) {
        auto one = makeBlobby({sphere({0, 0, 0}, 2, 1)}, solver, 0.25);
        const Intersection hit = trace(*one, {-10, 0, 0}, {1, 0, 0});
        ASSERT_TRUE(hit.hit) << solver;
        EXPECT_NEAR(hit.distance, 10 - 2 / std::sqrt(2.0), 1e-9);
        EXPECT_NEAR(normalized(hit.normal).x, -1, 1e-9);
        EXPECT_FALSE(trace(*makeBlobby({sphere({0, 0, 0}, 2, 1)}, solver, 1.5), {-10, 0, 0}, {1, 0, 0}).hit);
    }
    // Each sphere alone gives 0.4096 at the midpoint, below the threshold; together they pass it.
    auto two = makeBlobby({sphere({-0.6, 0, 0}, 1, 1), sphere({0.6, 0, 0}, 1, 1)}, 0, 0.6);
    EXPECT_TRUE(trace(*two, {0, -5, 0}, {0, 1, 0}).hit);
    EXPECT_TRUE(two->inside({0, 0, 0}));
    EXPECT_FALSE(trace(*makeBlobby({sphere({-0.6, 0, 0}, 1, 1)}, 0, 0.6), {0, -5, 0}, {0, 1, 0}).hit);
}

// The first crossing of field = threshold along the ray, by scanning and bisection; -1 when none. The
// field of a plane ends abruptly on the plane itself; a jump across the threshold there is no root.
double bruteForce(const Shape& b, double threshold, const Vec3& o, const Vec3& d) {
    const double step = 1e-3;
    auto f = [&](double t) { return blobbyFieldValue(b, o + d * t) - threshold; };
    double previous = f(0);
    for (double t = step; t < 40; t += step) {
        const double current = f(t);
        if ((current > 0) != (previous > 0)) {
            double lo = t - step, hi = t;
            for (int i = 0; i < 60; ++i) {
                const double mid = (lo + hi) / 2;
                ((f(mid) > 0) == (previous > 0) ? lo : hi) = mid;
            }
            if (std::fabs(f(hi) - f(lo)) < 1e-6) return lo;
        }
        previous = current;
    }
    return -1;
}

TEST(Blobby, RootsMatchTheFieldOnRandomRays) {
    const std::vector<BlobComponent> parts = {sphere({0, 0, 0}, 1.5, 1),
                                              sphere({1.2, 0.5, 0}, 1, 2),
                                              capsule({-1, -1, 0.5}, {1.5, 1, 2}, 0.8, 1.5),
                                              capsule({0, 1, -1}, {0.3, 2.5, -1.2}, 0.7, 1),
                                              {3, {}, {0, 2, 0}, 4, 1, 0.5}};  // a layer below y = -1
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int solver : {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm}) {
        auto b = makeBlobby(parts, solver, 0.4);
        int hits = 0;
        for (int i = 0; i < 60; ++i) {
            const Vec3 origin = normalized({unit(random), unit(random), unit(random)}) * 12;
            const Vec3 target{unit(random) * 1.5, unit(random) * 1.5, unit(random) * 1.5};
            const Vec3 d = normalized(target - origin);
            const double expected = bruteForce(*b, 0.4, origin, d);
            const Intersection hit = trace(*b, origin, d, 40);
            ASSERT_EQ(hit.hit != 0, expected >= 0) << "solver " << solver << " ray " << i;
            if (!hit.hit) continue;
            ++hits;
            EXPECT_NEAR(hit.distance, expected, 1e-6) << "solver " << solver << " ray " << i;
        }
        EXPECT_GT(hits, 30);
    }
}

TEST(Blobby, PolygonisedMeshIsClosedAndOnTheSurface) {
    auto b =
        makeBlobby({sphere({-0.5, 0, 0}, 1, 1), capsule({0.3, -0.4, 0}, {0.8, 0.6, 0.3}, 0.7, 1)}, 0, 0.3);
    ImplicitSurfaceDescription s;
    s.box = b->bounds();
    s.cells[0] = s.cells[1] = s.cells[2] = 20;
    s.threshold = 0.3;
    s.value = [&](const Vec3& p) { return blobbyFieldValue(*b, p); };
    s.normal = [](const Vec3& p) { return p; };
    std::vector<Vec3> vertices, normals;
    std::vector<MeshFace> faces;
    polygonise(s, vertices, normals, faces);
    ASSERT_GT(faces.size(), 100u);
    for (const Vec3& v : vertices) EXPECT_NEAR(blobbyFieldValue(*b, v), 0.3, 1e-4);
    // Closed and consistently oriented: every directed edge appears once and its reverse once.
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> edges;
    for (const MeshFace& f : faces)
        for (int k = 0; k < 3; ++k) ++edges[{f[k], f[(k + 1) % 3]}];
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(edges.count({edge.second, edge.first}), 1u);
    }
}

}  // namespace
}  // namespace quorva
