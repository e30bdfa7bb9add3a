// The built renderer run as a program: usage, missing root, missing scenes, list files, patterns,
// option errors; standard input closed and a timeout, so nothing may wait for a key.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

// A tiny valid scene: one sphere in front of the camera, 16 x 12 pixels.
const char* TinyScene =
    "Version : 1.3\n"
    "Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (16, 12) ]\n"
    "PointLight [ (5, 5, -5) ]\n"
    "Shape [ Sphere ((0, 0, 0), 1) ]\n";

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { root.write("include/readme.txt", "search-path folder\n"); }
    ProgramResult run(std::vector<std::string> args, bool withRoot = true) {
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.timeoutSeconds = 60;
        if (withRoot)
            o.environment.push_back({"QUORVA_ROOT", root.path()});
        else
            o.unset.push_back("QUORVA_ROOT");
        return testing::runProgram(QUORVA_BINARY, args, o);
    }
    TemporaryFolder dir, root;
};

TEST_F(Cli, UsageListsTheOptionsWithoutWaiting) {
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"-help"}}) {
        ProgramResult r = run(args);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("Usage: QUORVA file [options]\n"), std::string::npos);
        EXPECT_NE(r.output.find("\nPress a key to list the command line options.\r -a level   : Adaptive"),
                  std::string::npos);
        EXPECT_NE(
            r.output.find(" -z z_depth : Dump Z-channel to disk (8,16,24,32=Targa / 64=Floating point)\n"),
            std::string::npos);
    }
}

TEST_F(Cli, MissingRootVariable) {
    dir.write("s.qsb", TinyScene);
    ProgramResult r = run({"s"}, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "\nERROR: environment variable QUORVA_ROOT not defined!\n");
}

TEST_F(Cli, MissingSceneAndExtension) {
    ProgramResult r = run({"nothing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("\nERROR :\nUnable to find scene file nothing.qsb\n"), std::string::npos);
    r = run({"scene.qsb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "\nERROR :\nNo file extension in input\n");
}

TEST_F(Cli, RendersAndReportsStatistics) {
    dir.write("s.qsb", TinyScene);
    ProgramResult r = run({"s", "-d"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("s.tga")));
    EXPECT_NE(r.output.find("-= Scene: s.qsb - Image: s.tga (16x12) =-"), std::string::npos);
    EXPECT_NE(r.output.find("     192 primary rays\n"), std::string::npos);
    EXPECT_NE(r.output.find("Total parsing time: "), std::string::npos);
}

TEST_F(Cli, ListFileIsDeletedAndMissingScenesSkipped) {
    dir.write("a.qsb", TinyScene);
    dir.write("render.list", "a missing a\n");
    ProgramResult r = run({"render.list", "-m"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("a.tga")));
    EXPECT_FALSE(testing::fileExists(dir.file("render.list")));
}

TEST_F(Cli, PatternRendersEverySceneInBatchMode) {
    dir.write("one.qsb", TinyScene);
    dir.write("two.qsb", TinyScene);
    ProgramResult r = run({"*.qsb", "-f", "-m"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("one.tga")));
    EXPECT_TRUE(testing::fileExists(dir.file("two.tga")));
    r = run({"none*"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("No QSB files found"), std::string::npos);
}

TEST_F(Cli, OptionErrorsAndWarnings) {
    dir.write("s.qsb", TinyScene);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text;
    } cases[] = {
        {{"s", "-C", "x.y"}, 1, "No file extension with option -C"},
        {{"s", "-o", "x.tga"}, 1, "No file extension with option -o"},
        {{"s", "-S", "x.qsh"}, 1, "No file extension with option -S"},
        {{"s", "-x", "10", "5"}, 1, "End column (xb) must be greater than start column (xa)"},
        {{"s", "-y", "10", "5"}, 1, "End row (yb) must be greater than start row (ya) !"},
        {{"s", "-y", "0", "9999"}, 0, "WARNING : End line 9999 of image has been reset to 12!"},
        {{"s", "-z", "12"}, 0, "WARNING : Bad value specified with option -z. Must be 8, 16, 24, 32 or 64!"},
        {{"s", "-y", "20", "30"}, 1, "Start line 20 of image can't be after end of image 12"},
    };
    for (const Case& c : cases) {
        ProgramResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.text << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << r.output;
    }
}

TEST_F(Cli, OutputNameAndZChannel) {
    dir.write("s.qsb", TinyScene);
    ProgramResult r = run({"s", "-o", "picture", "-z", "64", "-m"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(testing::fileExists(dir.file("picture.tga")));
    EXPECT_EQ(std::filesystem::file_size(dir.file("picture.Z64.quorva")), 16u * 12u * 8u);
}

TEST_F(Cli, AnimationFramesAreNumbered) {
    dir.write("anim.qsb", std::string(TinyScene) + "Sequence [ FirstFrame 0 LastFrame 3 ]\n");
    ProgramResult r = run({"anim", "-k", "3"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Skipping frame: 1\n"), std::string::npos);
    EXPECT_NE(r.output.find("Skipping frame: 2\n"), std::string::npos);
    EXPECT_FALSE(testing::fileExists(dir.file("anim0000.tga")));
    EXPECT_TRUE(testing::fileExists(dir.file("anim0002.tga")));
    EXPECT_TRUE(testing::fileExists(dir.file("anim0003.tga")));
    r = run({"anim", "-m"});
    for (const char* name : {"anim0000.tga", "anim0001.tga"})
        EXPECT_TRUE(testing::fileExists(dir.file(name)));
}

TEST_F(Cli, LogFileAndDeletedInputs) {
    dir.write("s.qsb", TinyScene);
    dir.write("s.qsh", "Declare Grey = '0.5, 0.5, 0.5'\n");
    // Warnings of the first option reading come before the log opens; later ones reach it.
    ProgramResult r = run({"s", "-L", "-y", "0", "9999", "-d-"});
    EXPECT_EQ(r.status, 0) << r.output;
    std::string log = testing::readFile(dir.file("s.log"));
    EXPECT_NE(log.find("WARNING : End line 9999 of image has been reset to 12!"), std::string::npos);
    EXPECT_NE(log.find("- Image: s.tga"), std::string::npos);
    EXPECT_NE(r.output.find("-= Scene: s.qsb + qsh - Image: s.tga (16x12) =-"), std::string::npos);
    EXPECT_FALSE(testing::fileExists(dir.file("s.qsb")));
    EXPECT_FALSE(testing::fileExists(dir.file("s.qsh")));
}

// Long options and option errors are answered before anything is rendered: the scene and its shader
// stay (a group starting with a second dash once read as the delete-inputs letter).
TEST_F(Cli, LongOptionsAndOptionErrorsNeitherRenderNorDelete) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text;
    } cases[] = {
        {{"s", "--help"}, 0, "Usage: QUORVA file [options]\n"},
        {{"s", "-d", "-help"}, 0, " -z z_depth : Dump Z-channel"},
        {{"--help"}, 0, "Usage: QUORVA file [options]\n"},
        {{"s", "--version"}, 0, "\nquorva 1.3 - global illumination ray tracer\n"},
        {{"s", "--threads", "2"}, 1, "\nERROR :\nUnknown option --threads\n"},
        {{"s", "--"}, 0, "- Image: s.tga"},
        {{"s", "-Q"}, 1, "\nERROR :\noption 'Q' unsupported\n"},
        {{"s", "-dQ-"}, 1, "\nERROR :\noption 'Q' unsupported\n"},
        {{"s", "-a", "42"}, 0, "WARNING : Bad value specified with option -a. Must be 0 to 10"},
    };
    for (const Case& c : cases) {
        dir.write("s.qsb", TinyScene);
        dir.write("s.qsh", "Declare Grey = '0.5, 0.5, 0.5'\n");
        std::filesystem::remove(dir.file("s.tga"));
        ProgramResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.output;
        EXPECT_NE(r.output.find(c.text), std::string::npos) << r.output;
        EXPECT_EQ(testing::fileExists(dir.file("s.tga")),
                  c.status == 0 && (c.args.back() == "--" || c.args.back() == "42"));
        EXPECT_TRUE(testing::fileExists(dir.file("s.qsb")) && testing::fileExists(dir.file("s.qsh")))
            << c.args.back();
    }
    EXPECT_EQ(run({"s", "--version"}).output, "\nquorva 1.3 - global illumination ray tracer\n");
}

// The last frame of -K releases every name, static ones too: the frame after it is not parsed.
TEST_F(Cli, EndFrameWithEveryKindOfDeclaration) {
    dir.write("anim.qsb", std::string(TinyScene) +
                              "Sequence [ FirstFrame 0 LastFrame 4 ]\n"
                              "static R = 0.5\nDeclare D = 0.4\nnew N = 0.1\n"
                              "Shape [ Sphere ((1, 1, 0), R + D + N) ]\n");
    ProgramResult r = run({"anim", "-k", "2", "-K", "3", "-m"});
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char* name : {"anim0001.tga", "anim0002.tga"})
        EXPECT_TRUE(testing::fileExists(dir.file(name)));
    for (const char* name : {"anim0000.tga", "anim0003.tga"})
        EXPECT_FALSE(testing::fileExists(dir.file(name)));
}

// Ctrl-C stops a render like Escape: status 1, a whole image on disk. Running the same command again
// renders only the rows that were missing and gives the image an uninterrupted render gives.
TEST_F(Cli, InterruptedRenderResumesToTheSameImage) {
    const std::string scene =
        "Version : 1.3\n"
        "Camera [ (0, 1, -6), (0, 0, 0), (0, 1, 0) Format (120, 90) Antialiasing 2 ]\n"
        "AreaLight [ Bulb ((4, 6, -4), 1) ]\n"
        "Shape [ Sphere ((0, 0, 0), 1) Shader [ PlainSurface [ Color '0.8, 0.4, 0.2' Kr 0.3 ] ] ]\n"
        "Shape [ Disk ((0, -1, 0), (0, 1, 0), 20) ]\n";
    dir.write("s.qsb", scene);
    ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", root.path()});
    o.interruptWhenOutputContains = "Rendering: 30%";
    ProgramResult r = testing::runProgram(QUORVA_BINARY, {"s"}, o);
    ASSERT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Stopped at row"), std::string::npos);
    const std::string partial = testing::readFile(dir.file("s.tga"));
    ASSERT_GT(partial.size(), 45u);

    r = run({"s", "-m"});
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string resumed = testing::readFile(dir.file("s.tga"));

    TemporaryFolder other;
    other.write("s.qsb", scene);
    o.workingDirectory = other.path();
    o.interruptWhenOutputContains.clear();
    r = testing::runProgram(QUORVA_BINARY, {"s", "-m"}, o);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(resumed, testing::readFile(other.file("s.tga")));
    EXPECT_NE(resumed, partial);
}

TEST_F(Cli, ArbitraryBytesInArgumentsNeverCrash) {
    dir.write("s.qsb", TinyScene);
    ProgramResult r = run({"s", "-\x01\x7f\xff\xfe", "-r", "abc", "def", "-k"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.output;
}

}  // namespace
}  // namespace quorva
