// Z-channel files (raw doubles and Targa depth images) and the per-frame output names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "image/image_test_files.h"
#include "image/targa_output.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::readBytes;

constexpr std::size_t PixelStart = 18 + 27;

// A 4 x 2 depth buffer; row 1 is absent (not part of the band) and reads as no hit.
FrameBuffers depthFrame() {
    FrameBuffers frame;
    frame.hasDepth = true;
    frame.depth.width = 4;
    frame.depth.height = 2;
    frame.depth.rows.resize(3);
    frame.depth.rows[0] = {1000000.0, 2.5, -3.0, 10.0 + 1.0 / 256 + 3.0 / 65536, 1000000.0};
    return frame;
}

TEST(ZChannel, DepthTargaBytes) {
    testing::ScratchFolder folder;
    const std::string base = folder.file("shot0001");
    // Per pixel: whole units, then two fraction bytes, each through the 0..1 colour scale.
    const Bytes expected24 = {0, 0, 255, 0, 127, 2, 0, 0, 0, 2, 0, 10};
    for (int depth : {8, 16, 24, 32}) {
        FrameBuffers frame = depthFrame();
        ConsoleCapture console;
        dumpZChannel(frame, base, depth);
        const std::string name = base + ".Z" + std::to_string(depth) + ".tga";
        EXPECT_EQ(console.text(), "\nZ-channel dumped to \"" + name + "\"");
        const Bytes file = readBytes(name);
        ASSERT_EQ(file.size(), PixelStart + 8u * depth / 8) << depth;
        EXPECT_EQ(file[2], depth == 8 ? 3 : 2);
        EXPECT_EQ(file[16], depth);
        Bytes row(file.begin() + PixelStart, file.begin() + PixelStart + 4 * depth / 8);
        Bytes want;
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t* p = expected24.data() + 3 * x;
            if (depth == 8) want.push_back(p[2]);
            if (depth == 16) want.insert(want.end(), {p[1], p[2]});
            if (depth >= 24) want.insert(want.end(), p, p + 3);
            if (depth == 32) want.push_back(255);
        }
        EXPECT_EQ(row, want) << depth;
        // No hit (and absent rows) is 255 whole units.
        EXPECT_EQ(file.back(), 255);
    }
}

TEST(ZChannel, RawDoublesWrittenOncePerFrame) {
    testing::ScratchFolder folder;
    const std::string base = folder.file("shot0002");
    FrameBuffers frame = depthFrame();
    dumpZChannel(frame, base, 64);
    const Bytes file = readBytes(base + ".Z64.quorva");
    ASSERT_EQ(file.size(), 4u * 2 * 8);
    double values[8];
    std::memcpy(values, file.data(), sizeof values);  // little-endian host
    EXPECT_EQ(values[1], 2.5);
    EXPECT_EQ(values[2], -3.0);
    EXPECT_EQ(values[7], 1000000.0);

    std::filesystem::remove(base + ".Z64.quorva");
    dumpZChannel(frame, base, 64);
    EXPECT_FALSE(std::filesystem::exists(base + ".Z64.quorva"));
}

TEST(ZChannel, FailuresAreWarnings) {
    FrameBuffers frame = depthFrame();
    ConsoleCapture console;
    dumpZChannel(frame, "/nonexistent-folder/z", 16);
    EXPECT_EQ(console.text(), "WARNING : Unable to create Z-channel TGA file!\n");
    frame.zDumped = false;
    console.clear();
    dumpZChannel(frame, "/nonexistent-folder/z", 64);
    EXPECT_EQ(console.text(), "WARNING : Unable to create Z-channel 64-bit file!\n");
}

TEST(OutputNames, FrameNumbersAndBaseLimits) {
    std::string base = "walk", image, z;
    makeOutputName(base, 12, image, z);
    EXPECT_EQ(image, "walk0012.tga");
    EXPECT_EQ(z, "walk0012");

    ConsoleCapture console;
    base.clear();
    makeOutputName(base, 0, image, z);
    EXPECT_EQ(console.text(), "WARNING : Zero length outfile name. Reset to 'render'!\n");
    EXPECT_EQ(image, "render0000.tga");

    console.clear();
    base = std::string(119, 'a') + "bc";
    makeOutputName(base, 3, image, z);
    const std::string cut = std::string(119, 'a') + "b";
    EXPECT_EQ(console.text(), "WARNING : Output file name too long. Truncated to \"" + cut + "\"!\n");
    EXPECT_EQ(image, cut + "0003.tga");
}

}  // namespace
}  // namespace quorva
