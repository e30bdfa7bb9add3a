// The preview rasterizer: projection onto the primary rays' pixels, hidden-line outlines, clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "render/camera.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/outline_raster.h"

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
    PreviewProjection projection() const { return PreviewProjection::fromView(camera.location, view, W, H); }
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
    PreviewProjection p = s.projection();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> pixel(0, 1), distance(0.5, 50);
    for (int i = 0; i < 200; ++i) {
        double x = pixel(random) * W, y = pixel(random) * H;
        Ray ray = primaryRay(s.camera, s.view, x, y, 0.1);
        Vec3 point = ray.origin + ray.direction * distance(random);
        double px, py;
        p.toImage(p.toCamera(point), px, py);
        EXPECT_NEAR(px, x, 1e-6);
        EXPECT_NEAR(py, y, 1e-6);
    }
}

TEST(OutlineRaster, HiddenLineTriangleLightsOnlyItsEdges) {
    View s;
    Vec3 corners[3] = {{-1.5, -1, 0}, {1.5, -1.2, 0.5}, {0, 1.3, 0}};
    OutlineRasterizer raster(s.projection(), OutlineMode::HiddenLineWhite, 0, H, 0, W);
    raster.addTriangle(corners[0], corners[1], corners[2]);
    raster.finish(s.frame, nullptr);
    PreviewProjection p = s.projection();
    double ix[3], iy[3];
    for (int i = 0; i < 3; ++i) p.toImage(p.toCamera(corners[i]), ix[i], iy[i]);
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
    OutlineRasterizer raster(s.projection(), OutlineMode::HiddenLineWhite, 0, H, 0, W);
    raster.addTriangle({-1, -1, 3}, {1, -1, 3}, {0, 1, 3});  // far triangle
    Vec3 a{-3, -3, -1}, b{3, -3, -1}, c{3, 3, -1}, d{-3, 3, -1};
    raster.addTriangle(a, b, c);
    raster.addTriangle(a, c, d);
    raster.finish(s.frame, nullptr);
    // The square covers the whole view: only its diagonal can show, never the triangle's edges.
    double px, py, qx, qy;
    PreviewProjection p = s.projection();
    p.toImage(p.toCamera(a), px, py);
    p.toImage(p.toCamera(c), qx, qy);
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
    OutlineRasterizer raster(s.projection(), OutlineMode::HiddenLineWhite, 10, 20, 0, W);
    raster.addTriangle({0, 0, -20}, {1, 0, -20}, {0, 1, -20});        // wholly behind the eye
    raster.addTriangle({0, 0, NAN}, {1, 0, 0}, {0, 1, 0});            // a non-finite corner
    raster.addTriangle({1e300, 0, 0}, {-1e300, 0, 0}, {0, 1, 1e10});  // huge but finite
    raster.addTriangle({-1, -1, -10}, {1, -1, 2}, {0, 1, 2});         // one corner behind the eye
    raster.finish(s.frame, nullptr);
    // Only the band's rows are touched.
    for (int y = 0; y < H; ++y) {
        if (y >= 10 && y < 20) continue;
        for (int x = 0; x < W; ++x) EXPECT_FALSE(s.lit(x, y));
    }
}

}  // namespace
}  // namespace quorva
