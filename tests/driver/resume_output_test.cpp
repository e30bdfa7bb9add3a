// The renderer run as a program on the faults around its output image: partial renders that later runs
// complete, failed writes, images cut short or damaged, copies left behind by killed runs, and texture
// files a library cannot decode. Every run either writes the right image or ends with status 1.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

// A sphere over a disk, 40 x 30 pixels, with anti-aliasing and a pixel filter when asked.
std::string scene(const std::string& cameraExtras) {
    return "Version : 1.3\n"
           "Camera [ (0, 1, -6), (0, 0, 0), (0, 1, 0) Format (40, 30)" +
           cameraExtras +
           " ]\n"
           "PointLight [ (4, 6, -4) ]\n"
           "Shape [ Sphere ((0, 0, 0), 1) Shader [ PlainSurface [ Color '0.8, 0.4, 0.2' Kr 0.3 ] ] ]\n"
           "Shape [ Disk ((0, -1, 0), (0, 1, 0), 20) ]\n";
}

class ResumeOutput : public ::testing::Test {
  protected:
    void SetUp() override { root.write("include/readme.txt", "search-path folder\n"); }
    ProgramResult run(std::vector<std::string> args, const std::string& limit = "") {
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        if (limit.empty()) return testing::runProgram(QUORVA_BINARY, args, o);
        // The shell sets the file size limit (in blocks of 512 bytes) before it becomes the renderer.
        std::string command = "ulimit -f " + limit + "; exec \"$0\"";
        for (std::size_t i = 0; i < args.size(); ++i) command += " \"$" + std::to_string(i + 1) + "\"";
        args.insert(args.begin(), QUORVA_BINARY);
        args.insert(args.begin(), command);
        args.insert(args.begin(), "-c");
        return testing::runProgram("/bin/sh", args, o);
    }
    // The image one uninterrupted render of the scene gives.
    std::string fullRender(const std::string& text) {
        TemporaryFolder other;
        other.write("s.qsb", text);
        ProgramOptions o;
        o.workingDirectory = other.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        EXPECT_EQ(testing::runProgram(QUORVA_BINARY, {"s"}, o).status, 0);
        return testing::readFile(other.file("s.tga"));
    }
    std::string image() const { return testing::readFile(dir.file("s.tga")); }
    TemporaryFolder dir, root;
};

// Renders restricted to rows or columns record what they drew; later runs draw the rest, band after band
// or all at once, and end with the image of one full render, also when anti-aliasing and a pixel filter
// make pixels depend on their neighbours.
TEST_F(ResumeOutput, BandsThenFullEqualOneFullRender) {
    for (const std::string extras : {"", " Antialiasing 2 PixelFilter (2, 1.5, 1.5)"}) {
        const std::string text = scene(extras);
        const std::string full = fullRender(text);
        std::filesystem::remove(dir.file("s.tga"));
        dir.write("s.qsb", text);
        ASSERT_EQ(run({"s", "-y", "0", "12"}).status, 0);
        EXPECT_NE(image(), full);
        ASSERT_EQ(run({"s", "-y", "12", "30", "-x", "5", "40"}).status, 0);
        EXPECT_NE(image(), full);
        ProgramResult r = run({"s"});
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(image(), full) << extras;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
    }
}

}  // namespace
}  // namespace quorva
