// The renderer on several threads as a program: Targa and Z-channel files identical for any -j, a render
// stopped (Ctrl-C or kill -9) with -j 4 and resumed equals one uninterrupted thread, frame ranges with
// -k and -K, and the PNG copy of -p as libpng decodes it.
#include <png.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <vector>

#include "support/parallel_scene.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

using testing::parallelScene;  // glass, a blurred mirror, area and point lights over a checkered floor

class ParallelCli : public ::testing::Test {
  protected:
    ProgramResult run(const TemporaryFolder& dir, std::vector<std::string> args,
                      const std::string& stopAt = "", int signal = SIGINT) {
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.timeoutSeconds = 120;
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        o.interruptWhenOutputContains = stopAt;
        o.interruptSignal = signal;
        return testing::runProgram(QUORVA_BINARY, args, o);
    }
    TemporaryFolder root;
};

TEST_F(ParallelCli, ImagesAndZChannelsAreTheSameForAnyThreadCount) {
    struct Case {
        std::string camera;
        std::vector<std::string> options;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"Format (41, 29) DepthOfField (0.1, 7, 2) PixelFilter (3, 2, 2)",
         {"-z", "32"},
         {"s.tga", "s.Z32.tga"}},
        {"Format (41, 29) DepthOfField (0.1, 7, 1)", {"-a", "4", "-z", "64"}, {"s.tga", "s.Z64.quorva"}},
        {"Format (41, 29)", {"-A", "2", "-z", "16"}, {"s.tga", "s.Z16.tga"}},
        {"Format (41, 29) PixelFilter (7, 3, 3)", {"-u", "7", "-z", "8"}, {"s.tga", "s.Z8.tga"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> reference;
        std::string statistics;
        for (const char* threads : {"1", "2", "3", "8"}) {
            TemporaryFolder dir;
            dir.write("s.qsb", parallelScene(c.camera));
            std::vector<std::string> args{"s", "-d", "-j", threads};
            args.insert(args.end(), c.options.begin(), c.options.end());
            ProgramResult r = run(dir, args);
            ASSERT_EQ(r.status, 0) << r.output;
            // The counters printed by -d end the output.
            const std::string counts = r.output.substr(r.output.find("primary rays") - 8);
            std::vector<std::string> files;
            for (const std::string& name : c.files) files.push_back(testing::readFile(dir.file(name)));
            if (reference.empty()) {
                reference = files;
                statistics = counts;
                for (const std::string& f : files) EXPECT_GT(f.size(), 100u);
                continue;
            }
            for (std::size_t i = 0; i < files.size(); ++i)
                EXPECT_TRUE(files[i] == reference[i])
                    << c.files[i] << " with -j " << threads << " " << c.camera;
            EXPECT_EQ(counts, statistics) << threads;
        }
    }
}

// Stopped with Ctrl-C or killed at several moments while four threads render, then run again with four
// threads: the image one uninterrupted thread writes.
TEST_F(ParallelCli, StoppedFourThreadRendersResumeToTheOneThreadImage) {
    const std::string text = parallelScene("Format (120, 90)", "");
    TemporaryFolder whole;
    whole.write("s.qsb", text);
    ASSERT_EQ(run(whole, {"s", "-m", "-a", "2", "-j", "1"}).status, 0);
    const std::string expected = testing::readFile(whole.file("s.tga"));
    struct Stop {
        const char* at;
        int signal;
    };
    for (Stop stop : {Stop{"Rendering: 20%", SIGINT}, Stop{"Rendering: 40%", SIGKILL},
                      Stop{"Rendering: 70%", SIGINT}, Stop{"Rendering: 90%", SIGKILL}}) {
        TemporaryFolder dir;
        dir.write("s.qsb", text);
        ProgramResult r = run(dir, {"s", "-a", "2", "-j", "4"}, stop.at, stop.signal);
        EXPECT_NE(r.status, 0) << stop.at;
        r = run(dir, {"s", "-m", "-a", "2", "-j", "4"});
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(testing::readFile(dir.file("s.tga")) == expected) << stop.at;
    }
}

TEST_F(ParallelCli, FrameRangesWriteTheFramesOfAFullRun) {
    const std::string text = parallelScene("Format (16, 12)") + "Sequence [ FirstFrame 0 LastFrame 4 ]\n" +
                             "Shape [ Sphere ((CurrentFrame - 2, 2.5, 0), 0.4) ]\n";
    TemporaryFolder full, part;
    full.write("a.qsb", text);
    part.write("a.qsb", text);
    ASSERT_EQ(run(full, {"a", "-m"}).status, 0);
    ProgramResult r = run(part, {"a", "-k", "2", "-K", "3"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Frame 2 / 5"), std::string::npos);
    EXPECT_NE(r.output.find("Frame 3 / 5"), std::string::npos);
    EXPECT_EQ(r.output.find("Frame 4 / 5"), std::string::npos);
    for (const char* name : {"a0001.tga", "a0002.tga"})
        EXPECT_TRUE(testing::readFile(part.file(name)) == testing::readFile(full.file(name))) << name;
    for (const char* name : {"a0000.tga", "a0003.tga", "a0004.tga"})
        EXPECT_FALSE(testing::fileExists(part.file(name)));

    r = run(part, {"a", "-k", "3", "-K", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("End frame must not be before start frame"), std::string::npos);
    r = run(part, {"a", "-j", "-2", "-m", "-K", "1", "-o", "b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("WARNING : Bad value specified with option -j. Using all cores!"),
              std::string::npos);
    EXPECT_TRUE(testing::fileExists(part.file("b0000.tga")));
    EXPECT_FALSE(testing::fileExists(part.file("b0001.tga")));
}

// A run whose threads cannot all start (a per-user process limit, as a busy shared machine may impose)
// warns, renders with the workers it got and writes the image of one thread. The limit binds only a
// user without privileges, so the run is switched to an unused user id, which needs root here.
TEST_F(ParallelCli, ThreadsThatCannotStartLeaveFewerWorkers) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 || access("/usr/bin/prlimit", X_OK) != 0)
        GTEST_SKIP() << "needs root with setpriv and prlimit";
    TemporaryFolder dir;
    dir.write("s.qsb", parallelScene("Format (40, 30)"));
    chmod(dir.path().c_str(), 0777);
    chmod(root.path().c_str(), 0777);
    ASSERT_EQ(run(dir, {"s", "-m", "-j", "1", "-o", "one"}).status, 0);
    ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 120;
    o.environment.push_back({"QUORVA_ROOT", root.path()});
    const ProgramResult r =
        testing::runProgram("/usr/bin/prlimit",
                            {"--nproc=3", "--", "/usr/bin/setpriv", "--reuid=54321", "--regid=54321",
                             "--clear-groups", QUORVA_BINARY, "s", "-m", "-j", "8"},
                            o);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("rendering threads could be started"), std::string::npos) << r.output;
    EXPECT_TRUE(testing::readFile(dir.file("s.tga")) == testing::readFile(dir.file("one.tga")));
}

// Red, green, blue (alpha) rows of a Targa image as we write them: true colour, top row first,
// uncompressed or run-length encoded.
std::vector<std::uint8_t> targaPixels(const std::string& file, int& width, int& height, int& channels) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(file.data());
    width = b[12] | (b[13] << 8);
    height = b[14] | (b[15] << 8);
    const int bytes = b[16] / 8;
    channels = bytes;
    std::size_t at = 18 + b[0];
    std::vector<std::uint8_t> out;
    auto put = [&](const std::uint8_t* p) {
        out.insert(out.end(), {p[2], p[1], p[0]});
        if (bytes == 4) out.push_back(p[3]);
    };
    const std::size_t total = static_cast<std::size_t>(width) * height;
    for (std::size_t n = 0; n < total;) {
        int count = 1;
        bool run = false;
        if (b[2] == 10) {
            count = (b[at] & 0x7F) + 1;
            run = b[at++] & 0x80;
        }
        for (int i = 0; i < count; ++i, ++n) {
            put(b + at);
            if (!run) at += bytes;
        }
        if (run) at += bytes;
    }
    return out;
}

TEST_F(ParallelCli, ThePngCopyHasTheTargaPixels) {
    for (const char* bits : {"24", "32"}) {
        TemporaryFolder dir;
        dir.write("s.qsb", parallelScene("Format (33, 21)", std::string("BitsPerPixel ") + bits));
        ProgramResult r = run(dir, {"s", "-m", "-p", "-a", "2"});
        ASSERT_EQ(r.status, 0) << r.output;
        int width, height, channels;
        const std::vector<std::uint8_t> expected =
            targaPixels(testing::readFile(dir.file("s.tga")), width, height, channels);

        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, dir.file("s.png").c_str()));
        EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, channels == 4 ? PNG_FORMAT_FLAG_ALPHA : 0u) << bits;
        image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
        std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
        EXPECT_EQ(static_cast<int>(image.width), width);
        EXPECT_EQ(static_cast<int>(image.height), height);
        EXPECT_TRUE(pixels == expected) << bits;
        EXPECT_FALSE(testing::fileExists(dir.file("s.png.part")));
    }
    // A stopped render writes no PNG.
    TemporaryFolder dir;
    dir.write("s.qsb", parallelScene("Format (120, 90)"));
    ProgramResult r = run(dir, {"s", "-p", "-a", "2", "-j", "2"}, "Rendering: 30%");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_FALSE(testing::fileExists(dir.file("s.png")));
}

}  // namespace
}  // namespace quorva
