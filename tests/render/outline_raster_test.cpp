// The preview rasterizer: projection onto the primary rays' pixels, hidden-line outlines, clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/flat_shapes.h"
#include "geometry/quadrics.h"
#include "geometry/shape.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/outline_raster.h"
#include "render/preview_shading.h"
#include "render/preview_transform.h"
#include "render/render_job.h"
#include "render/shape_triangles.h"
#include "trace/camera.h"

namespace quorva {
namespace {

constexpr int W = 64, H = 48;

struct View {
    Camera camera;
    ViewFrame view;
    FrameBuffers frame;
    View() {
        camera.width = W;
        camera.height = H;
        camera.location = {0.3, 0.2, -5};
        camera.pointOfInterest = {0, 0, 0};
        camera.up = {0, 1, 0};
        camera.halfAngle = 0.35;
        camera.frameAspectRatio = double(W) / H;
        view = prepareView(camera);
        frame.color.width = W;
        frame.color.height = H;
        frame.color.rows.assign(H + 1, {});
        for (int y = 0; y < H; ++y) frame.color.rows[y].assign((W + 1) * 4, 0);
    }
    PreviewTransform transform() const { return buildPreviewTransform(camera); }
    void toImage(const Vec3& p, double& x, double& y) const {
        double X, Y, Wh;
        transform().project(p, X, Y, Wh);
        x = X / Wh;
        y = Y / Wh;
    }
    bool lit(int x, int y) const { return frame.color.rows[y][4 * x] != 0; }
};

// Distance from (x, y) to the segment a-b in the image.
double segmentDistance(double x, double y, double ax, double ay, double bx, double by) {
    double dx = bx - ax, dy = by - ay;
    double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - (ax + t * dx), y - (ay + t * dy));
}

TEST(OutlineRaster, ProjectedPointsLandOnTheirPrimaryRaysPixel) {
    View s;
    PreviewTransform t = s.transform();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> pixel(0, 1), distance(0.5, 50);
    for (int i = 0; i < 200; ++i) {
        double x = pixel(random) * W, y = pixel(random) * H;
        Ray ray = primaryRay(s.camera, s.view, x, y, 0.1);
        Vec3 point = ray.origin + ray.direction * distance(random);
        double X, Y, Wh;
        t.project(point, X, Y, Wh);
        EXPECT_NEAR(X / Wh, x, 1e-6);
        EXPECT_NEAR(Y / Wh, y, 1e-6);
        // The inverse brings the pixel and depth back to the point.
        Vec3 back = t.unproject(X / Wh, Y / Wh, Wh);
        EXPECT_NEAR(length(back - point), 0, 1e-6 * length(point - ray.origin));
    }
    // The depth value grows with the depth.
    EXPECT_LT(PreviewTransform::depthValue(0.001), PreviewTransform::depthValue(1));
    EXPECT_LT(PreviewTransform::depthValue(1), PreviewTransform::depthValue(1e6));
}

TEST(OutlineRaster, DegenerateCamerasStillGiveAFiniteTransform) {
    Camera camera;
    camera.location = {1, 2, 3};
    camera.pointOfInterest = {1, 7, 3};  // looking along the up vector
    camera.up = {0, 1, 0};
    double X, Y, Wh;
    buildPreviewTransform(camera).project({0, 9, 1}, X, Y, Wh);
    EXPECT_TRUE(std::isfinite(X) && std::isfinite(Y));
    EXPECT_NEAR(Wh, 7, 1e-12);
    camera.pointOfInterest = camera.location;  // warns and looks along +z
    buildPreviewTransform(camera).project({1, 2, 8}, X, Y, Wh);
    EXPECT_NEAR(Wh, 5, 1e-12);
    EXPECT_NEAR(X / Wh, camera.width / 2.0, 1e-9);
}

TEST(OutlineRaster, HiddenLineTriangleLightsOnlyItsEdges) {
    View s;
    Vec3 corners[3] = {{-1.5, -1, 0}, {1.5, -1.2, 0.5}, {0, 1.3, 0}};
    OutlineRasterizer raster(s.transform(), OutlineMode::HiddenLineWhite, W, 0, H, 0, W);
    raster.addTriangle(corners[0], corners[1], corners[2]);
    s.frame.hasDepth = true;
    s.frame.depth.width = W;
    s.frame.depth.height = H;
    s.frame.depth.rows.assign(H + 1, std::vector<double>(W + 1, 1000000));
    raster.beginEdges(s.frame, nullptr);
    raster.addTriangle(corners[0], corners[1], corners[2]);
    // The covered pixels' ZBuffer holds the distance along their primary ray to the triangle.
    const Vec3 n = faceNormal(corners[0], corners[1], corners[2]);
    int covered = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (!raster.covered(x, y)) continue;
            ++covered;
            Ray ray = primaryRay(s.camera, s.view, x, y, 0.1);
            double t = dot(corners[0] - ray.origin, n) / dot(ray.direction, n);
            EXPECT_NEAR(s.frame.depth.rows[y][x], t, 1e-4 * t);
        }
    }
    EXPECT_GT(covered, 100);
    double ix[3], iy[3];
    for (int i = 0; i < 3; ++i) s.toImage(corners[i], ix[i], iy[i]);
    int litCount = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            double d = 1e9;
            for (int i = 0; i < 3; ++i)
                d = std::min(d, segmentDistance(x, y, ix[i], iy[i], ix[(i + 1) % 3], iy[(i + 1) % 3]));
            // Lit pixels lie on the edges; the covered interior stays black.
            if (s.lit(x, y)) {
                ++litCount;
                EXPECT_LE(d, 1.0) << x << "," << y;
            }
        }
    }
    EXPECT_GT(litCount, 60);
}

TEST(OutlineRaster, NearerSquareHidesTheEdgesBehindIt) {
    View s;
    OutlineRasterizer raster(s.transform(), OutlineMode::HiddenLineWhite, W, 0, H, 0, W);
    raster.addTriangle({-1, -1, 3}, {1, -1, 3}, {0, 1, 3});  // far triangle
    Vec3 a{-3, -3, -1}, b{3, -3, -1}, c{3, 3, -1}, d{-3, 3, -1};
    raster.addTriangle(a, b, c);
    raster.addTriangle(a, c, d);
    raster.beginEdges(s.frame, nullptr);
    raster.addTriangle({-1, -1, 3}, {1, -1, 3}, {0, 1, 3});
    raster.addTriangle(a, b, c);
    raster.addTriangle(a, c, d);
    // The square covers the whole view: only its diagonal can show, never the triangle's edges.
    double px, py, qx, qy;
    s.toImage(a, px, py);
    s.toImage(c, qx, qy);
    int litCount = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (!s.lit(x, y)) continue;
            ++litCount;
            EXPECT_LE(segmentDistance(x, y, px, py, qx, qy), 1.0) << x << "," << y;
        }
    }
    EXPECT_GT(litCount, 20);
}

TEST(OutlineRaster, ClipsCornersBehindTheEyeAndSkipsNonFiniteOnes) {
    View s;
    OutlineRasterizer raster(s.transform(), OutlineMode::HiddenLineWhite, W, 10, 20, 0, W);
    auto addAll = [&raster] {
        raster.addTriangle({0, 0, -20}, {1, 0, -20}, {0, 1, -20});        // wholly behind the eye
        raster.addTriangle({0, 0, NAN}, {1, 0, 0}, {0, 1, 0});            // a non-finite corner
        raster.addTriangle({1e300, 0, 0}, {-1e300, 0, 0}, {0, 1, 1e10});  // huge but finite
        raster.addTriangle({-1, -1, -10}, {1, -1, 2}, {0, 1, 2});         // one corner behind the eye
    };
    addAll();
    // The triangle reaching behind the eye still covers the band where it lies in front.
    double x, y;
    s.toImage({0.05, 0.7, 1.4}, x, y);  // inside it, in front of the eye
    ASSERT_TRUE(y >= 10.5 && y < 19.5) << y;
    EXPECT_TRUE(raster.covered(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))));
    raster.beginEdges(s.frame, nullptr);
    addAll();
    // Only the band's rows are touched.
    int lit = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (y >= 10 && y < 20)
                lit += s.lit(x, y);
            else
                EXPECT_FALSE(s.lit(x, y));
        }
    }
    EXPECT_GT(lit, 0);
}

// Records what the rasterizer asks of the shading.
struct RecordingShading final : PreviewShading {
    std::vector<std::pair<int, int>> pixels;
    std::vector<PreviewVertex> seen;
    Color vertexColour(const PreviewSurface&, const PreviewVertex& v) override {
        return v.point.x < 0 ? Color{1, 0, 0} : Color{0, 0, 1};
    }
    void shadePixel(const PreviewSurface&, int x, int y, const PreviewVertex& v) override {
        pixels.push_back({x, y});
        seen.push_back(v);
    }
};

TEST(OutlineRaster, ScanlineShadesTheInterpolatedPointAndNormalOnEachCoveredPixel) {
    View s;
    OutlineRasterizer raster(s.transform(), OutlineMode::Scanline, W, 0, H, 0, W);
    // A slanted triangle whose corner normals differ; the normal varies linearly over the surface.
    PreviewVertex a, b, c;
    a.point = {-1.5, -1, -1};
    b.point = {1.5, -1.2, 2};
    c.point = {0, 1.3, 0.5};
    auto normalAt = [](const Vec3& p) { return Vec3{0.2 * p.x, 0.1 * p.y, -1}; };
    a.normal = normalAt(a.point);
    b.normal = normalAt(b.point);
    c.normal = normalAt(c.point);
    raster.triangle(a, b, c, AllEdges);
    RecordingShading shading;
    raster.shadeCovered(shading);
    ASSERT_GT(shading.pixels.size(), 50u);
    const Vec3 planeNormal = faceNormal(a.point, b.point, c.point);
    for (std::size_t i = 0; i < shading.pixels.size(); ++i) {
        const auto [x, y] = shading.pixels[i];
        const PreviewVertex& v = shading.seen[i];
        // On the triangle's plane, on the pixel's primary ray, with the normal interpolated there.
        EXPECT_NEAR(dot(v.point - a.point, planeNormal), 0, 1e-4);
        Ray ray = primaryRay(s.camera, s.view, x, y, 0.1);
        Vec3 toPoint = normalized(v.point - ray.origin);
        EXPECT_NEAR(length(toPoint - ray.direction), 0, 1e-5);
        EXPECT_NEAR(length(v.normal - normalized(normalAt(v.point))), 0, 1e-4);
    }
}

TEST(OutlineRaster, ColouredOutlinesTakeTheShadersColourAtTheirCorners) {
    View s;
    OutlineRasterizer raster(s.transform(), OutlineMode::HiddenLineColour, W, 0, H, 0, W);
    // A horizontal segment's triangle: red at its left corners, blue at its right one.
    Vec3 a{-1.5, -1, 0}, b{1.5, -1, 0}, c{-1.5, 1, 0};
    raster.addTriangle(a, b, c);
    RecordingShading shading;
    raster.beginEdges(s.frame, &shading);
    raster.addTriangle(a, b, c);
    // Along the left edge (both corners red) pixels are pure red.
    double x0, y0, x1, y1;
    s.toImage(a, x0, y0);
    s.toImage(c, x1, y1);
    const int x = static_cast<int>(std::lround((x0 + x1) / 2)),
              y = static_cast<int>(std::lround((y0 + y1) / 2));
    const std::uint8_t* p = &s.frame.color.rows[y][4 * x];
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[2], 0);
}

TEST(OutlineRaster, CsgComponentsCoverOnlyWhatTheirSolidAccepts) {
    struct LeftHalf final : SolidMembership {
        bool accepts(const Vec3& p) const override { return p.x < 0; }
    } leftHalf;
    View s;
    for (OutlineMode mode : {OutlineMode::Scanline, OutlineMode::HiddenLineWhite}) {
        OutlineRasterizer raster(s.transform(), mode, W, 0, H, 0, W);
        PreviewSurface clipped;
        clipped.clip = &leftHalf;
        const Vec3 a{-3, -3, 0}, b{3, -3, 0}, c{0, 3, 0};
        raster.beginSurface(clipped);
        raster.addTriangle(a, b, c);
        raster.beginEdges(s.frame, nullptr);
        raster.beginSurface(clipped);
        raster.addTriangle(a, b, c);
        int left = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                // Where the pixel's ray meets the triangle's plane z = 0.
                Ray ray = primaryRay(s.camera, s.view, x, y, 0.1);
                Vec3 p = ray.origin + ray.direction * (-ray.origin.z / ray.direction.z);
                if (p.x > 1e-6) {
                    EXPECT_FALSE(raster.covered(x, y)) << x << "," << y;
                    EXPECT_FALSE(s.lit(x, y)) << x << "," << y;
                }
                left += raster.covered(x, y);
            }
        }
        EXPECT_GT(left, 100);
    }
}

// Counts the triangles and outlined edges a cut hands over.
struct CountingSink final : TriangleSink {
    std::size_t triangles = 0, edges = 0;
    std::vector<Vec3> corners;
    void triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                  unsigned mask) override {
        ++triangles;
        edges += (mask & 1) + ((mask >> 1) & 1) + ((mask >> 2) & 1);
        corners.insert(corners.end(), {a.point, b.point, c.point});
    }
};

TEST(OutlineRaster, FineGridsGoInStripsWithEveryEdgeOutlinedOnce) {
    for (int v : {16, 300}) {  // one strip, and several of 65 rows
        Sphere sphere({0, 0, 0}, 1);
        sphere.subdivisions[0] = 1000;
        sphere.subdivisions[1] = static_cast<std::uint16_t>(v);
        CountingSink sink;
        TriangleScratch scratch;
        cutIntoTriangles(sphere, sink, scratch);
        const std::size_t u = 1000, rows = static_cast<std::size_t>(v);
        EXPECT_EQ(sink.triangles, 2 * u * rows);
        // Rows of u edges, columns of v edges and one diagonal per cell.
        EXPECT_EQ(sink.edges, u * (rows + 1) + (u + 1) * rows + u * rows);
        EXPECT_LE(scratch.grid.size(), (u + 1) * 66);
    }
}

TEST(OutlineRaster, ASecondPassReplaysTheFirstOnesCuts) {
    BoxShape box({-1, -1, -1}, {1, 2, 3});
    Sphere sphere({0, 0, 0}, 1);
    TriangleScratch scratch;
    scratch.tape = TriangleScratch::Tape::Record;
    CountingSink first, second;
    for (const Shape* shape : {static_cast<const Shape*>(&box), static_cast<const Shape*>(&sphere)})
        cutIntoTriangles(*shape, first, scratch);
    scratch.rewind();
    for (const Shape* shape : {static_cast<const Shape*>(&box), static_cast<const Shape*>(&sphere)})
        cutIntoTriangles(*shape, second, scratch);
    EXPECT_GE(first.triangles, 12u + 2 * 32 * 16);
    // The box went through a temporary World once; its triangles were replayed.
    ASSERT_EQ(scratch.cuts.size(), 1u);
    EXPECT_TRUE(scratch.cuts[0].complete);
    EXPECT_GE(scratch.triangles.size(), 12u);
    EXPECT_EQ(first.corners, second.corners);
    EXPECT_EQ(first.edges, second.edges);
}

// A polygon is outlined along its own edges: the diagonals its split into triangles makes stay hidden,
// for a convex and a concave outline alike.
TEST(OutlineRaster, PolygonsOutlineOnlyTheirOwnEdges) {
    struct Edges : TriangleSink {
        int count = 0, triangles = 0;
        void triangle(const PreviewVertex&, const PreviewVertex&, const PreviewVertex&,
                      unsigned edges) override {
            ++triangles;
            count += ((edges & EdgeAB) != 0) + ((edges & EdgeBC) != 0) + ((edges & EdgeCA) != 0);
        }
    };
    const std::vector<std::vector<Vec3>> outlines = {
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
        {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, 2, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}}};
    for (const std::vector<Vec3>& outline : outlines) {
        Polygon polygon(outline);
        Edges edges;
        TriangleScratch scratch;
        cutIntoTriangles(polygon, edges, scratch);
        EXPECT_EQ(edges.triangles, static_cast<int>(outline.size()) - 2);
        EXPECT_EQ(edges.count, static_cast<int>(outline.size()));
    }
}

}  // namespace
}  // namespace quorva
