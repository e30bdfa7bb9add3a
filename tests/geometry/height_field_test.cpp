// Height fields: grid messages, the cell triangles and their normals, the cell walk against a brute-force
// test of every triangle, the triangle cache, and the spherical variant.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/surface_shapes.h"
#include "image/texture_image.h"
#include "support/fatal_text.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::fatalText;

// An 8-bit grey image whose pixel values are height + 128; heights[row][column], row 0 at the bottom.
ImageFile greyImage(const std::vector<std::vector<int>>& heights) {
    ImageFile image;
    image.imageType = 3;
    image.bitsPerPixel = 8;
    image.height = static_cast<unsigned>(heights.size());
    image.width = static_cast<unsigned>(heights[0].size());
    image.orientation = 0;  // row 0 is the bottom row
    for (const auto& row : heights) {
        image.rows.emplace_back();
        for (int h : row) image.rows.back().push_back(static_cast<std::uint8_t>(h + 128));
    }
    return image;
}

Intersection trace(RenderContext& ctx, const Shape& s, const Vec3& origin, const Vec3& direction) {
    Intersection hit;
    intersectShape(ctx, {origin, normalized(direction)}, 0, 1e6, hit, s);
    return hit;
}

TEST(HeightField, GridMessages) {
    EXPECT_EQ(fatalText([] {
                  makePlanarHeightField(greyImage({{1, 2, 3, 4, 5}}), false);
              }),
              "HeightField too small (5x1)");
    const HeightFunction flat = [](double, double) { return 0.0; };
    EXPECT_EQ(fatalText([&] { makeImplicitPlanarHeightField(1, 1, 0, 1, flat, 4, 4, false); }),
              "Degenerate HeightField");
    EXPECT_EQ(fatalText([&] { makeImplicitPlanarHeightField(0, 1, 0, 1, flat, 1, 4, false); }),
              "Grid size (1,4) < 2");
    EXPECT_EQ(fatalText([&] { makeImplicitPlanarHeightField(0, 1, 0, 1, flat, 1e30, 1e30, false); }),
              "Failed to allocate HeightField");
    EXPECT_EQ(fatalText([&] { makeImplicitSphericalHeightField(1, 1, flat, 3, 8, false); }),
              "Spherical grid size (3,8) < 4");
}

TEST(HeightField, OneCellFromATwoByTwoImage) {
    RenderContext ctx;
    auto field = makePlanarHeightField(greyImage({{0, 0}, {0, 0}}), false);
    EXPECT_NEAR(field->boundsSize.x, 1, 1e-12);
    EXPECT_NEAR(field->boundsSize.z, 1, 1e-12);
    // Both triangles of the single cell, and the diagonal they share; the flat normal points up.
    for (const Vec3& at : {Vec3{0.2, 0, 0.3}, Vec3{0.8, 0, 0.7}, Vec3{0.5, 0, 0.5}, Vec3{1, 0, 0}}) {
        const Intersection hit = trace(ctx, *field, at + Vec3{0, 5, 0}, {0, -1, 0});
        ASSERT_TRUE(hit.hit) << at;
        EXPECT_NEAR(hit.distance, 5, 1e-9);
        EXPECT_NEAR(normalized(hit.normal).y, 1, 1e-12);
    }
    EXPECT_FALSE(trace(ctx, *field, {1.2, 5, 0.5}, {0, -1, 0}).hit);
    EXPECT_TRUE(field->inside({0.5, -0.5, 0.5}));
    EXPECT_FALSE(field->inside({0.5, 0.5, 0.5}));
}

TEST(HeightField, CacheAndCellSkipping) {
    RenderContext ctx;
    const HeightFunction flat = [](double, double) { return 0.0; };
    auto field = makeImplicitPlanarHeightField(0, 9, 0, 1, flat, 10, 2, false);
    // Above the maximum height no cell is tested.
    EXPECT_FALSE(trace(ctx, *field, {-1, 0.5, 0.5}, {1, 0, 0}).hit);
    EXPECT_EQ(ctx.heightFieldCacheCount, 0);
    // In the plane of the field every cell is tested and misses: 18 triangles through 8 slots.
    EXPECT_FALSE(trace(ctx, *field, {-1, 0, 0.5}, {1, 0, 0}).hit);
    EXPECT_EQ(ctx.heightFieldCacheCount, 8);
    EXPECT_EQ(ctx.heightFieldCacheNext, 18 % 8);
    EXPECT_EQ(ctx.heightFieldCache[0].column, 8);  // the 17th triangle
    EXPECT_EQ(ctx.heightFieldCache[1].key, 1);
    EXPECT_EQ(ctx.heightFieldCache[2].column, 5);  // the oldest left
}

TEST(HeightField, SmoothNormalsAtTheCorners) {
    RenderContext ctx;
    // Heights on a 3 x 3 grid; a corner vertex has one triangle around it, so its normal is that one's.
    const HeightFunction bumpy = [](double x, double z) { return 0.3 * x * x - 0.2 * z + 0.1 * x * z; };
    auto field = makeImplicitPlanarHeightField(0, 2, 0, 2, bumpy, 3, 3, true);
    auto triangleNormal = [](Vec3 p0, Vec3 p1, Vec3 p2) { return normalized(cross(p2 - p0, p1 - p0)); };
    auto at = [&](double x, double z) { return Vec3{x, bumpy(x, z), z}; };
    const Intersection first = trace(ctx, *field, {0, 5, 0}, {0, -1, 0});
    ASSERT_TRUE(first.hit);
    const Vec3 expectFirst = triangleNormal(at(0, 0), at(1, 0), at(0, 1));
    EXPECT_NEAR(dot(normalized(first.normal), expectFirst), 1, 1e-12);
    const Intersection last = trace(ctx, *field, {2, 5, 2}, {0, -1, 0});
    ASSERT_TRUE(last.hit);
    const Vec3 expectLast = triangleNormal(at(2, 1), at(2, 2), at(1, 2));
    EXPECT_NEAR(dot(normalized(last.normal), expectLast), 1, 1e-12);
    EXPECT_GT(expectLast.y, 0);
}

TEST(HeightField, WalkFindsTheNearestTriangle) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int grid = 0; grid < 4; ++grid) {
        const int columns = 3 + grid * 2, rows = 4 + grid;
        std::vector<double> h(columns * rows);
        for (double& v : h) v = unit(random) * 2 - 1;
        const HeightFunction table = [&](double x, double z) {
            return h[std::lround(z) * columns + std::lround(x)];
        };
        auto field = makeImplicitPlanarHeightField(0, columns - 1, 0, rows - 1, table, columns, rows, false);
        RenderContext ctx;
        // Straight down through every vertex and every edge midpoint: shared edges are found.
        for (int r2 = 0; r2 <= 2 * (rows - 1); ++r2)
            for (int c2 = 0; c2 <= 2 * (columns - 1); ++c2)
                ASSERT_TRUE(trace(ctx, *field, {c2 / 2.0, 5, r2 / 2.0}, {0, -1, 0}).hit) << c2 << " " << r2;
        for (int i = 0; i < 200; ++i) {
            const Vec3 o{unit(random) * (columns + 4) - 2, 3, unit(random) * (rows + 4) - 2};
            const Vec3 target{unit(random) * (columns - 1), unit(random) * 2 - 1, unit(random) * (rows - 1)};
            const Vec3 d = normalized(target - o);
            // Brute force: every triangle of every cell.
            double best = 1e6;
            for (int r = 0; r + 1 < rows; ++r)
                for (int c = 0; c + 1 < columns; ++c) {
                    auto p = [&](int cc, int rr) {
                        return Vec3{double(cc), h[rr * columns + cc], double(rr)};
                    };
                    const Vec3 tri[2][3] = {{p(c, r), p(c + 1, r), p(c, r + 1)},
                                            {p(c + 1, r), p(c + 1, r + 1), p(c, r + 1)}};
                    for (const auto& t : tri) {
                        const Vec3 e1 = t[1] - t[0], e2 = t[2] - t[0], q = cross(d, e2);
                        const double det = dot(e1, q), u = dot(o - t[0], q) / det;
                        const Vec3 s = cross(o - t[0], e1);
                        const double v = dot(d, s) / det, dist = dot(e2, s) / det;
                        if (u >= 0 && v >= 0 && u + v <= 1 && dist > 1e-8) best = std::min(best, dist);
                    }
                }
            const Intersection hit = trace(ctx, *field, o, d);
            ASSERT_EQ(hit.hit != 0, best < 1e6) << "grid " << grid << " ray " << i;
            if (hit.hit) {
                EXPECT_NEAR(hit.distance, best, 1e-9) << "grid " << grid << " ray " << i;
            }
        }
    }
}

TEST(HeightField, SphericalFieldOfConstantHeight) {
    RenderContext ctx;
    const HeightFunction one = [](double, double) { return 1.0; };
    auto ball = makeImplicitSphericalHeightField(2, 0.5, one, 64, 33, true);
    EXPECT_EQ(ball->kind, ShapeKind::SphericalHeightField);
    EXPECT_NEAR(ball->boundsSize.x, 5, 1e-12);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 50; ++i) {
        const Vec3 d = normalized({unit(random), unit(random), unit(random)});
        const Intersection hit = trace(ctx, *ball, d * -10, d);  // through the centre, poles included
        ASSERT_TRUE(hit.hit) << d;
        EXPECT_NEAR(hit.distance, 7.5, 0.01);
        EXPECT_GT(dot(normalized(hit.normal), -d), 0.99);  // outward, smooth
    }
}

}  // namespace
}  // namespace quorva
