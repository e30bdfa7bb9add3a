// The -E copy of the renderer's image, decoded through OpenEXR.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <half.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "image/texture_image.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::TemporaryFolder;

// A light bright enough to saturate the front of the sphere, and a background that is not.
const char* Scene =
    "Version : 1.3\n"
    "Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (48, 36) FieldOfView 40 ]\n"
    "Background '0.1, 0.2, 0.3'\n"
    "PointLight [ (-4, 5, -6) Intensity '4, 4, 4' ]\n"
    "Shape [ Sphere ((0, 0, 0), 1.2) Shader [ PlainSurface [ Color '1, 0.5, 0.2' ] ] ]\n";

struct Decoded {
    int width = 0, height = 0;
    std::vector<float> rgba, z;
    bool halfColour = false;
};

Decoded decode(const std::string& path) {
    Decoded d;
    Imf::InputFile file(path.c_str());
    const Imath::Box2i window = file.header().dataWindow();
    d.width = window.max.x - window.min.x + 1;
    d.height = window.max.y - window.min.y + 1;
    d.halfColour = file.header().channels().findChannel("R")->type == Imf::HALF;
    d.rgba.resize(static_cast<std::size_t>(d.width) * d.height * 4);
    d.z.resize(static_cast<std::size_t>(d.width) * d.height);
    Imf::FrameBuffer slices;
    const char* names[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c)
        slices.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(d.rgba.data() + c),
                                           4 * sizeof(float), 4 * sizeof(float) * d.width));
    if (file.header().channels().findChannel("Z"))
        slices.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(d.z.data()), sizeof(float),
                                      sizeof(float) * d.width));
    else
        d.z.clear();
    file.setFrameBuffer(slices);
    file.readPixels(window.min.y, window.max.y);
    return d;
}

struct Counts {
    int saturated = 0, below = 0;
};

// The half values round to the Targa's bytes where the Targa is below 255 and are at least 1 where it is
// saturated; counts the channels above 1.05 and those below 255.
Counts compare(const Decoded& exr, const ImageFile& tga) {
    Counts counts;
    for (int y = 0; y < exr.height; ++y)
        for (int x = 0; x < exr.width; ++x) {
            const std::uint8_t* bgr = tga.rows[y].data() + 3 * x;
            const float* v = &exr.rgba[(static_cast<std::size_t>(y) * exr.width + x) * 4];
            for (int c = 0; c < 3; ++c) {
                const int byte = bgr[2 - c];
                if (byte == 255) {
                    EXPECT_GE(v[c], 1.0f) << x << "," << y;
                    counts.saturated += v[c] > 1.05f;
                } else {
                    // The byte is the value's 255ths cut down; half precision moves it by 0.13 at most.
                    EXPECT_NEAR(v[c] * 255, byte + 0.5, 0.65) << x << "," << y << " channel " << c;
                    ++counts.below;
                }
            }
        }
    return counts;
}

// The half values follow the Targa; with -z the depth comes along; every -j writes the same file; a partial
// render writes none.
TEST(ExrOutput, HalfFloatsMatchTheTargaAndKeepWhatItClips) {
    TemporaryFolder dir, root;
    root.write("include/readme.txt", "search-path folder\n");
    dir.write("s.qsb", Scene);
    ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", root.path()});
    auto r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-z", "8", "-j", "1"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string first = testing::readFile(dir.file("s.exr"));
    const Decoded exr = decode(dir.file("s.exr"));
    const auto tga = loadImageFile(dir.file("s.tga"));
    ASSERT_TRUE(tga);
    ASSERT_EQ(exr.width, 48);
    ASSERT_EQ(exr.height, 36);
    EXPECT_TRUE(exr.halfColour);
    ASSERT_EQ(exr.z.size(), 48u * 36);
    const Counts counts = compare(exr, *tga);
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 48; ++x) EXPECT_GT(exr.z[static_cast<std::size_t>(y) * 48 + x], 0.0f);
    EXPECT_GT(counts.saturated, 20);
    EXPECT_GT(counts.below, 1000);
    EXPECT_NEAR(exr.z[18 * 48 + 24], 5 - 1.2, 0.05);  // the sphere's front, in the middle

    std::filesystem::remove(dir.file("s.tga"));
    r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-z", "8", "-j", "3"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::readFile(dir.file("s.exr")) == first);

    TemporaryFolder part;
    part.write("s.qsb", Scene);
    o.workingDirectory = part.path();
    r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-y", "0", "9"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(part.file("s.tga")));
    EXPECT_FALSE(testing::fileExists(part.file("s.exr")));
}

// The anti-aliasing and undersampling loops average or copy clipped samples for the Targa: the EXR keeps
// the light above 1 all the same, for every -j.
TEST(ExrOutput, SamplingLoopsKeepWhatTheyClip) {
    TemporaryFolder dir, root;
    root.write("include/readme.txt", "search-path folder\n");
    dir.write("s.qsb", Scene);
    ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", root.path()});
    for (const char* loop : {"-a", "-u"}) {
        std::string first;
        for (const char* threads : {"1", "2"}) {
            std::filesystem::remove(dir.file("s.tga"));
            auto r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", loop, "3", "-j", threads}, o);
            ASSERT_EQ(r.status, 0) << r.output;
            const auto tga = loadImageFile(dir.file("s.tga"));
            ASSERT_TRUE(tga);
            const Counts counts = compare(decode(dir.file("s.exr")), *tga);
            EXPECT_GT(counts.saturated, 20) << loop;
            EXPECT_GT(counts.below, 1000) << loop;
            if (first.empty())
                first = testing::readFile(dir.file("s.exr"));
            else
                EXPECT_TRUE(testing::readFile(dir.file("s.exr")) == first) << loop;
        }
    }
}

// Lines of a width that is not a multiple of eight come out whole, the depth with them, also where rows
// were resumed; a file-size limit that the Targa fits under and the EXR does not is reported, and leaves
// no EXR, whole or partial.
TEST(ExrOutput, OddWidthsAndFailedWrites) {
    TemporaryFolder dir, root;
    root.write("include/readme.txt", "search-path folder\n");
    dir.write("s.qsb", Scene);
    ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", root.path()});
    auto r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-z", "8", "-r", "45", "31"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    const Decoded exr = decode(dir.file("s.exr"));
    const auto tga = loadImageFile(dir.file("s.tga"));
    ASSERT_TRUE(tga);
    ASSERT_EQ(exr.width, 45);
    ASSERT_EQ(exr.z.size(), 45u * 31);
    const Counts counts = compare(exr, *tga);
    EXPECT_GT(counts.saturated, 10);
    EXPECT_GT(counts.below, 1000);
    EXPECT_NEAR(exr.z[15 * 45 + 22], 5 - 1.2, 0.05);
    EXPECT_GT(exr.z[0], 1000.0f);  // the background's corner

    // Rows kept from an earlier partial render (-y 0 15 draws rows 0 to 14) carry their bytes.
    std::filesystem::remove(dir.file("s.tga"));
    r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-r", "45", "31", "-y", "0", "15"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    r = testing::runProgram(QUORVA_BINARY, {"s", "-m", "-E", "-r", "45", "31"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    const auto resumed = loadImageFile(dir.file("s.tga"));
    ASSERT_TRUE(resumed);
    const Decoded again = decode(dir.file("s.exr"));
    EXPECT_GT(compare(again, *resumed).below, 1000);
    int kept = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 45; ++x)
            for (int c = 0; c < 3; ++c) {
                const int byte = resumed->rows[y][3 * x + 2 - c];
                kept +=
                    again.rgba[(static_cast<std::size_t>(y) * 45 + x) * 4 + c] == float(half(byte / 255.0f));
            }
    EXPECT_EQ(kept, 15 * 45 * 3);

    // 120 x 80 pixels: a Targa of a few kilobytes, an EXR of 77 kB; the limit is 32 kB (or 64 kB).
    std::filesystem::remove(dir.file("s.tga"));
    std::filesystem::remove(dir.file("s.exr"));
    r = testing::runProgram(
        "/bin/sh", {"-c", std::string("ulimit -f 64; exec '") + QUORVA_BINARY + "' s -m -E -r 120 80"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Failed to write EXR image file s.exr"), std::string::npos) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("s.tga")));
    EXPECT_FALSE(testing::fileExists(dir.file("s.exr")));
    EXPECT_FALSE(testing::fileExists(dir.file("s.exr.part")));
}

}  // namespace
}  // namespace quorva
