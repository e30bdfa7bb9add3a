// Pixel filters and the frame-buffer stores: weight tables, edge normalisation, band limits, the full
// neighbourhood, and the checks of the stores.
#include "render/pixel_filter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"
#include "trace/camera.h"

namespace quorva {
namespace {

Camera cameraOf(int width, int height, int filter, double wx = 1, double wy = 1) {
    Camera c;
    c.width = width;
    c.height = height;
    c.pixelFilterType = filter;
    c.pixelFilterWidthX = wx;
    c.pixelFilterWidthY = wy;
    return c;
}

void fill(FrameBuffers& frame, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    for (int x = 0; x < frame.color.width; ++x) {
        std::uint8_t* p = frame.color.row(y) + 4 * x;
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
}

const std::uint8_t* pixel(const FrameBuffers& frame, int x, int y) {
    return frame.color.row(y) + 4 * x;
}

TEST(PixelFilter, WeightTables) {
    // Disk of width 1: the taps at +-0.5 lie on the ellipse and weigh 0, the inner 3 x 3 weigh 1.
    PixelFilter disk = makePixelFilter(DiskFilter, 1, 1);
    for (int j = 0; j < 5; ++j)
        for (int k = 0; k < 5; ++k) {
            bool inner = j >= 1 && j <= 3 && k >= 1 && k <= 3;
            EXPECT_EQ(disk.weights[j][k], inner ? 1.0 : 0.0) << j << "," << k;
        }
    // Rows of the table are vertical offsets: Catmull-Rom works in pixel units, so a tall kernel
    // reaches its zero at the vertical ends while the horizontal neighbours still count.
    PixelFilter tall = makePixelFilter(CatmullRomFilter, 1, 4);
    EXPECT_DOUBLE_EQ(tall.weights[2][0], 0.5625);
    EXPECT_DOUBLE_EQ(tall.weights[0][2], 0.0);
    EXPECT_DOUBLE_EQ(makePixelFilter(BesselFilter, 2, 2).weights[2][2], M_PI);
    EXPECT_NEAR(makePixelFilter(BesselFilter, 2, 2).weights[2][3],
                2 * j1(M_PI / 2) / 0.5 * std::cos(M_PI / 4), 1e-15);

    // Widths outside 1..5 become 3; types outside 1..7 mean no filter.
    PixelFilter triangle = makePixelFilter(TriangleFilter, 0.5, 7);
    EXPECT_EQ(triangle.widthX, 3);
    EXPECT_EQ(triangle.widthY, 3);
    EXPECT_EQ(makePixelFilter(TriangleFilter, 5, 1).widthX, 5);
    EXPECT_EQ(makePixelFilter(0, 2, 2).type, NoPixelFilter);
    EXPECT_EQ(makePixelFilter(8, 2, 2).type, NoPixelFilter);
}

TEST(PixelFilter, FlatImagesStayFlatUpToTheEdges) {
    // Neighbours outside the image add no weight, so corners are not darkened; byte values survive the
    // conversion to 0..1 and back.
    for (int type = 1; type <= 7; ++type)
        for (double width : {1.0, 2.5, 5.0}) {
            Camera camera = cameraOf(6, 5, type, width, 3);
            FrameBuffers frame;
            prepareBand(frame, camera, nullptr, 0, 4, false);
            for (int y = 0; y <= 4; ++y) fill(frame, y, 200, 33, 1, 255);
            ConsoleCapture capture;
            filterBand(frame, camera, 0, 4);
            EXPECT_EQ(capture.text(),
                      std::string("\nPerforming ") + pixelFilterName(type) + " pixel filtering... Done.");
            for (int y = 0; y <= 4; ++y)
                for (int x = 0; x < 6; ++x) {
                    const std::uint8_t* p = pixel(frame, x, y);
                    EXPECT_EQ(p[0], 200) << type << " " << width << " at " << x << "," << y;
                    EXPECT_EQ(p[1], 33);
                    EXPECT_EQ(p[2], 1);
                    EXPECT_EQ(p[3], 255);
                }
        }
}

TEST(PixelFilter, UsesTheWholeNeighbourhoodWithinTheBand) {
    // One white pixel on black spreads under a box filter to all 25 pixels around it alike, not
    // along one diagonal.
    Camera camera = cameraOf(9, 9, BoxFilter);
    FrameBuffers frame;
    prepareBand(frame, camera, nullptr, 0, 8, false);
    frame.color.row(4)[4 * 4] = 250;
    ConsoleCapture capture;
    filterBand(frame, camera, 0, 8);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            bool near = std::abs(x - 4) <= 2 && std::abs(y - 4) <= 2;
            EXPECT_EQ(pixel(frame, x, y)[0], near ? 10 : 0) << x << "," << y;
        }

    // A one-row band filters with that row only: rows outside it neither contribute nor change.
    Camera wide = cameraOf(4, 6, GaussianFilter, 3, 3);
    FrameBuffers band;
    prepareBand(band, wide, nullptr, 0, 5, false);
    for (int y = 0; y <= 5; ++y) fill(band, y, y == 2 ? 90 : 200, 0, 0, 0);
    filterBand(band, wide, 2, 2);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(pixel(band, x, 2)[0], 90);
        EXPECT_EQ(pixel(band, x, 1)[0], 200);
        EXPECT_EQ(pixel(band, x, 3)[0], 200);
    }

    // No filter: nothing changes and nothing is printed.
    Camera none = cameraOf(9, 9, 0);
    capture.clear();
    FrameBuffers same;
    prepareBand(same, none, nullptr, 0, 8, false);
    same.color.row(4)[16] = 250;
    filterBand(same, none, 0, 8);
    EXPECT_EQ(same.color.row(4)[16], 250);
    EXPECT_EQ(capture.text(), "");
}

TEST(FrameBuffers, BandRowsAndStores) {
    Camera camera = cameraOf(5, 8, -1);
    FrameBuffers frame;
    prepareBand(frame, camera, nullptr, 2, 4, true);
    for (int y = 0; y <= 8; ++y) {
        bool inBand = y >= 2 && y <= 4;
        EXPECT_EQ(frame.color.hasRow(y), inBand);
        EXPECT_EQ(frame.depth.hasRow(y), inBand);
        if (inBand) {
            EXPECT_EQ(frame.color.rows[y].size(), 6u * 4u);
            EXPECT_EQ(frame.depth.rows[y], std::vector<double>(6, 1000000.0));
        }
    }

    // Channels are truncated and clamped; the spare column is a valid position.
    putSBufferPixel(frame, {-0.5, 0.999, 7}, std::nan(""), 5, 3);
    const std::uint8_t* p = pixel(frame, 5, 3);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 254);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 0);

    putZBufferDepth(frame, 12.5, 3, 1);
    putZBufferDepth(frame, 40, 3, 1);
    EXPECT_EQ(frame.depth.rows[3][1], 12.5);

    ConsoleCapture capture;
    putSBufferPixel(frame, {1, 1, 1}, 1, 1, 7);
    putZBufferDepth(frame, 1, 7, 1);
    EXPECT_EQ(capture.text(), "Out of bounds pixel (x:1, y:7)Out of bounds pixel (x:1, y:7)");
    try {
        putSBufferPixel(frame, {1, 1, 1}, 1, 6, 3);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "SBufer coordinate out of range (6, 3)");
    }
    try {
        putZBufferDepth(frame, 1, 9, 0);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "ZBufer coordinate out of range (0, 9)");
    }

    releaseBand(frame);
    EXPECT_FALSE(frame.color.hasRow(3));
    EXPECT_FALSE(frame.depth.hasRow(3));
}

}  // namespace
}  // namespace quorva
