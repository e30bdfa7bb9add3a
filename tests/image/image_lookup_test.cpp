// Texture lookups: coordinates to pixels with and without tiling, v = 0 at the bottom, pixel decoding
// for colours, indices and heights, and the two interpolations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "image/texture_image.h"

namespace quorva {
namespace {

// A grey image with rows listed top row first.
ImageFile greyImage(std::vector<std::vector<std::uint8_t>> topFirst, int orientation = 0x20) {
    ImageFile image;
    image.imageType = 3;
    image.bitsPerPixel = 8;
    image.width = static_cast<unsigned>(topFirst[0].size());
    image.height = static_cast<unsigned>(topFirst.size());
    image.orientation = orientation;
    if (orientation == 0) std::reverse(topFirst.begin(), topFirst.end());
    image.rows = std::move(topFirst);
    return image;
}

double grey(const ImageFile& image, bool tile, double u, double v, int interpolation = 0) {
    const ImageSample s = imageColor(image, interpolation, tile, u, v);
    return s.ok ? s.colour.r * 255.0 : -1.0;
}

TEST(ImageLookup, CoordinatesTilingAndOrientation) {
    const ImageFile strip = greyImage({{10, 20, 30, 40}});
    EXPECT_EQ(grey(strip, true, -0.25, 0.5), 40);  // reads u = 0.75
    EXPECT_EQ(grey(strip, true, 1.25, 0.5), 20);
    EXPECT_EQ(grey(strip, false, -0.25, 0.5), -1);
    EXPECT_EQ(grey(strip, false, 1.0, 0.5), -1);
    EXPECT_EQ(grey(strip, true, -1.0, 0.5), 40);  // wraps to the right edge
    const ImageSample outside = imageColor(strip, 0, false, 0.5, 1.5);
    EXPECT_FALSE(outside.ok);
    EXPECT_EQ(outside.colour.r, 0.0);
    EXPECT_EQ(outside.filter, 0.0);
    EXPECT_EQ(imageIndex(strip, 0, false, 2.0, 0.5), 0.0);
    EXPECT_EQ(grey(strip, true, std::nan(""), 0.5), -1);

    // v = 0 is the bottom of the picture whichever way the rows are stored.
    for (int orientation : {0x20, 0}) {
        const ImageFile column = greyImage({{1}, {2}, {3}}, orientation);
        EXPECT_EQ(grey(column, false, 0.5, 0.0), 3) << orientation;
        EXPECT_EQ(grey(column, false, 0.5, 0.99), 1) << orientation;
    }
}

TEST(ImageLookup, PixelDecoding) {
    ImageFile packed;
    packed.imageType = 2;
    packed.bitsPerPixel = 16;
    packed.width = 2;
    packed.height = 1;
    packed.rows = {{0xFF, 0x7F, 0x1F, 0x80}};  // white opaque; blue with the attribute bit set
    ImageSample s = imageColor(packed, 0, false, 0.2, 0.5);
    EXPECT_EQ(s.colour.r, 248 / 255.0);
    EXPECT_EQ(s.filter, 0.0);
    s = imageColor(packed, 0, false, 0.7, 0.5);
    EXPECT_EQ(s.colour.b, 248 / 255.0);
    EXPECT_EQ(s.colour.r, 0.0);
    EXPECT_EQ(s.filter, 1.0);
    EXPECT_EQ(imageIndex(packed, 0, false, 0.2, 0.5), 0x7F);  // the high byte

    ImageFile mapped = greyImage({{0, 1, 5}});
    mapped.imageType = 1;
    mapped.colorMapLength = 2;
    mapped.colorMapEntrySize = 4;
    mapped.colorMap = {1, 2, 3, 255, 60, 70, 80, 51};
    s = imageColor(mapped, 0, false, 0.5, 0.5);
    EXPECT_EQ(s.colour.r, 80 / 255.0);
    EXPECT_EQ(s.colour.b, 60 / 255.0);
    EXPECT_NEAR(s.filter, 0.8, 1e-12);
    EXPECT_EQ(imageIndex(mapped, 0, false, 0.5, 0.5), 1);
    try {
        imageColor(mapped, 0, false, 0.9, 0.5);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Bad color index 5 of 2 at pixel [0,2]");
    }
}

TEST(ImageLookup, Heights) {
    const ImageFile grey8 = greyImage({{200, 0}, {128, 129}});
    EXPECT_EQ(imageHeight(grey8, 0, false, 0.1, 0.9), 72);
    EXPECT_EQ(imageHeightAt(grey8, 1, 0), 1);  // row 0 is the bottom row
    EXPECT_EQ(imageHeightAt(grey8, 0, 1), 72);
    EXPECT_EQ(imageHeightAt(grey8, 2, 0), 0);
    EXPECT_EQ(imageHeightAt(grey8, 0, -1), 0);

    ImageFile colour = greyImage({{64, 128, 130}});  // blue, green, red of one pixel
    colour.imageType = 2;
    colour.bitsPerPixel = 24;
    colour.width = 1;
    EXPECT_EQ(imageHeightAt(colour, 0, 0), 130 + 0.5 + 64 / 65536.0 - 128);

    colour.bitsPerPixel = 32;
    colour.rows[0].push_back(0);
    colour.imageType = 7;
    try {
        imageHeightAt(colour, 0, 0);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x17) Bad image type (7)");
    }
}

TEST(ImageLookup, Interpolation) {
    // Top row 50 150, bottom row 0 100.
    const ImageFile image = greyImage({{50, 150}, {0, 100}});
    // Between the four pixels around the cell centre both modes give the mean.
    EXPECT_DOUBLE_EQ(grey(image, false, 0.25, 0.75, 1), 75);
    EXPECT_DOUBLE_EQ(grey(image, false, 0.25, 0.75, 2), 75);
    // Bilinear weights the left and right pixels by the fraction across the pixel.
    EXPECT_DOUBLE_EQ(grey(image, false, 0.125, 0.75, 1), 0.75 * 25 + 0.25 * 125);
    // At a pixel corner the inverse-square weighting returns that corner's pixel.
    EXPECT_DOUBLE_EQ(grey(image, false, 0.0, 0.5, 2), 0);
    EXPECT_DOUBLE_EQ(imageIndex(image, 1, false, 0.25, 0.75), 75);
    EXPECT_DOUBLE_EQ(imageHeight(image, 1, false, 0.25, 0.75), 75 - 128);
}

}  // namespace
}  // namespace quorva
