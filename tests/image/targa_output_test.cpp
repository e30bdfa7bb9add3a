// The Targa writer: header bytes, run-length packets at their limits, completing a stopped render, and
// an independent reader opening what we write.
#include "image/targa_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.h"
#include "image/image_test_files.h"
#include "image/texture_image.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::readBytes;

constexpr std::size_t PixelStart = 18 + 27;

// Writes the frame as one band and returns the file's bytes.
Bytes writeImage(const std::string& path, const FrameBuffers& frame, bool compressed, int bits) {
    auto out = openTargaOutput(compressed, path, frame.color.width, frame.color.height, false, bits);
    writeTargaRows(0, frame, *out, frame.color.height - 1);
    closeTargaOutput(std::move(out));
    return readBytes(path);
}

Bytes pixelData(const Bytes& file) {
    return Bytes(file.begin() + PixelStart, file.end());
}

TEST(TargaOutput, HeaderAndImageId) {
    testing::ScratchFolder folder;
    const auto frame = testing::patternFrame(3, 2, [](int x, int y, std::uint8_t* p) {
        p[0] = static_cast<std::uint8_t>(10 * x);  // red
        p[1] = static_cast<std::uint8_t>(100 + y);
        p[2] = 200;
        p[3] = 77;
    });
    const Bytes file = writeImage(folder.file("a.tga"), frame, false, 24);
    const Bytes header = {27, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 0x20};
    ASSERT_EQ(file.size(), PixelStart + 3 * 2 * 3);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), header);
    EXPECT_EQ(std::string(file.begin() + 18, file.begin() + 18 + 27),
              std::string("Created by Quillbarrow 1.3", 27));
    // Top row first, each pixel blue, green, red.
    EXPECT_EQ(Bytes(file.begin() + PixelStart, file.begin() + PixelStart + 6),
              (Bytes{200, 100, 0, 200, 100, 10}));

    const Bytes packed = writeImage(folder.file("b.tga"), frame, true, 32);
    EXPECT_EQ(packed[2], 10);
    EXPECT_EQ(packed[16], 32);
    EXPECT_EQ(packed[17], 0x20);  // no alpha-bits count even with alpha stored
}

TEST(TargaOutput, RunLengthPacketsStopAtTheirLimits) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("rle.tga");
    const auto flat = [](int, int, std::uint8_t* p) { p[0] = 1, p[1] = 2, p[2] = 3, p[3] = 255; };

    // 300 equal pixels: runs of 128, 128 and 44.
    EXPECT_EQ(pixelData(writeImage(path, testing::patternFrame(300, 1, flat), true, 24)),
              (Bytes{0xFF, 3, 2, 1, 0xFF, 3, 2, 1, 0x80 | 43, 3, 2, 1}));

    // Equal pixels after three literals: the literals before them go out as a raw packet of two.
    const auto abcc = [](int x, int, std::uint8_t* p) { p[0] = static_cast<std::uint8_t>(x < 3 ? x : 2); };
    EXPECT_EQ(pixelData(writeImage(path, testing::patternFrame(4, 1, abcc), true, 24)),
              (Bytes{0x01, 0, 0, 0, 0, 0, 1, 0x81, 0, 0, 2}));

    // Width 1: every pixel ends a row, so every packet holds one pixel, even for equal pixels.
    EXPECT_EQ(pixelData(writeImage(path, testing::patternFrame(1, 3, flat), true, 24)),
              (Bytes{0x00, 3, 2, 1, 0x00, 3, 2, 1, 0x00, 3, 2, 1}));

    // Runs never continue into the next row.
    EXPECT_EQ(pixelData(writeImage(path, testing::patternFrame(4, 2, flat), true, 24)),
              (Bytes{0x83, 3, 2, 1, 0x83, 3, 2, 1}));

    // 130 different pixels: a full raw packet, then a raw packet of two.
    const auto ramp = [](int x, int, std::uint8_t* p) { p[0] = static_cast<std::uint8_t>(x); };
    const Bytes ramped = pixelData(writeImage(path, testing::patternFrame(130, 1, ramp), true, 24));
    ASSERT_EQ(ramped.size(), 1 + 128 * 3 + 1 + 2 * 3u);
    EXPECT_EQ(ramped[0], 0x7F);
    EXPECT_EQ(ramped[1 + 128 * 3], 0x01);
}

TEST(TargaOutput, CompressedImageReadsBackThroughTheTextureReader) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("mixed.tga");
    // Runs and literals of every length, alpha varying.
    const auto frame = testing::patternFrame(150, 5, [](int x, int y, std::uint8_t* p) {
        const int v = (x / (y + 1)) % 7 == 0 ? 9 : x * 13 + y;
        p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8), p[2] = 5;
        p[3] = static_cast<std::uint8_t>(x);
    });
    writeImage(path, frame, true, 32);
    const auto image = loadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageType, 10);
    ASSERT_EQ(image->rows.size(), 5u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 150; ++x) {
            const std::uint8_t* want = frame.color.row(y) + 4 * x;
            const std::uint8_t* got = image->rows[y].data() + 4 * x;
            ASSERT_EQ((Bytes{got[2], got[1], got[0], got[3]}), (Bytes{want[0], want[1], want[2], want[3]}))
                << "pixel " << x << ", " << y;
        }
}

TEST(TargaOutput, StoppedRenderLeavesBlackTransparentRows) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("stopped.tga");
    const auto frame =
        testing::patternFrame(2, 3, [](int, int, std::uint8_t* p) { p[0] = p[1] = p[2] = p[3] = 255; });
    for (bool compressed : {false, true}) {
        auto out = openTargaOutput(compressed, path, 2, 3, false, 32);
        writeTargaRows(0, frame, *out, 0);
        // What is on disk between bands is already whole rows.
        EXPECT_EQ(readBytes(path).size(), PixelStart + (compressed ? 5 : 8));
        closeTargaOutput(std::move(out));
        const auto image = loadImageFile(path);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->rows[0], (Bytes(8, 255)));
        EXPECT_EQ(image->rows[1], (Bytes(8, 0)));
        EXPECT_EQ(image->rows[2], (Bytes(8, 0)));
    }
}

TEST(TargaOutput, BadRequestsAreFatal) {
    try {
        openTargaOutput(false, "/nonexistent-folder/x.tga", 4, 4, false, 24);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Failed to open Targa image file /nonexistent-folder/x.tga");
    }
    try {
        openTargaOutput(true, "unused.tga", 4, 4, false, 12);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x26) Bad pixel size (12)");
    }
}

// ImageMagick, when installed, must decode our files to the same pixels.
std::string runCommand(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) output.append(block, n);
        pclose(pipe);
    }
    return output;
}

TEST(TargaOutput, IndependentReaderAgrees) {
    if (runCommand("identify -version 2>/dev/null").find("ImageMagick") == std::string::npos)
        GTEST_SKIP() << "ImageMagick is not installed";
    testing::ScratchFolder folder;
    const auto frame = testing::patternFrame(37, 5, [](int x, int y, std::uint8_t* p) {
        p[0] = static_cast<std::uint8_t>(x < 20 ? 50 : 7 * x);
        p[1] = static_cast<std::uint8_t>(40 * y);
        p[2] = static_cast<std::uint8_t>(x * y);
        p[3] = 255;
    });
    std::string expected;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x)
            expected.append(reinterpret_cast<const char*>(frame.color.row(y) + 4 * x), 3);
    for (bool compressed : {false, true}) {
        const std::string path = folder.file(compressed ? "packed.tga" : "plain.tga");
        writeImage(path, frame, compressed, 24);
        EXPECT_EQ(runCommand("identify -format '%w %h' '" + path + "' 2>&1"), "37 5");
        EXPECT_EQ(runCommand("convert '" + path + "' -depth 8 rgb:- 2>/dev/null"), expected) << path;
    }
    const std::string wide = folder.file("alpha.tga");
    writeImage(wide, frame, true, 32);
    EXPECT_EQ(runCommand("identify -format '%w %h' '" + wide + "' 2>&1"), "37 5");
}

}  // namespace
}  // namespace quorva
