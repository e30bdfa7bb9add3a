// The progress a log file receives, and what a stopped render says, from the built renderer.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>

#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

const char* Scene =
    "Version : 1.3\n"
    "Camera [ (0, 1, -6), (0, 0, 0), (0, 1, 0) Format (80, 60) Antialiasing 2 ]\n"
    "PointLight [ (4, 6, -4) ]\n"
    "Shape [ Sphere ((0, 0, 0), 1) Shader [ PlainSurface [ Color '0.8, 0.4, 0.2' Kr 0.3 ] ] ]\n"
    "Shape [ Disk ((0, -1, 0), (0, 1, 0), 20) ]\n";

class ProgressCli : public ::testing::Test {
  protected:
    void SetUp() override {
        root.write("include/readme.txt", "search-path folder\n");
        dir.write("s.qsb", Scene);
        options.workingDirectory = dir.path();
        options.environment.push_back({"QUORVA_ROOT", root.path()});
    }
    TemporaryFolder dir, root;
    ProgramOptions options;
};

// Standard error to a file: whole lines, one each tenth, no carriage return anywhere.
TEST_F(ProgressCli, LogFileGetsAFewWholeLines) {
    ProgramResult r =
        testing::runProgram("/bin/sh", {"-c", "exec \"$0\" s -j 2 2> err.txt", QUORVA_BINARY}, options);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string log = testing::readFile(dir.file("err.txt"));
    EXPECT_EQ(log.find('\r'), std::string::npos);
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    const std::regex progress(
        "Rendering: [0-9]+% \\(adaptive antialiasing level: 2/10\\) [0-9]+:[0-9]{2} elapsed"
        "(, [0-9]+:[0-9]{2} left)?");
    while (std::getline(lines, line))
        if (line.rfind("Rendering:", 0) == 0) {
            ++count;
            EXPECT_TRUE(std::regex_match(line, progress)) << line;
        }
    EXPECT_GE(count, 10);
    EXPECT_LE(count, 12);
    EXPECT_NE(log.find("Rendering: 100% "), std::string::npos) << log;
}

// The counters before the pixel loops (photons, irradiance photons, the primary grid) follow the same
// rule: whole lines in a log, a few of each.
TEST_F(ProgressCli, GlobalIlluminationCountersWriteLinesToALog) {
    dir.write("gi.qsb",
              "Version : 1.3\n"
              "Camera [ (0, 1, -6), (0, 0, 0), (0, 1, 0) Format (64, 48) ]\n"
              "ComputeIrradiance 8\n"
              "Photons (20, 2000, 50)\n"
              "Options [ IrradiancePhotons (1000, 20) ]\n"
              "PointLight [ (4, 6, -4) ]\n"
              "Shape [ Sphere ((0, 0, 0), 1) Caustics 1 Shader [ PlainSurface [ Kd 0 Kt (1, 1.5) ] ] ]\n"
              "Shape [ Disk ((0, -1, 0), (0, 1, 0), 20) ]\n");
    ProgramResult r =
        testing::runProgram("/bin/sh", {"-c", "exec \"$0\" gi 2> err.txt", QUORVA_BINARY}, options);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string log = testing::readFile(dir.file("err.txt"));
    EXPECT_EQ(log.find('\r'), std::string::npos) << log;
    EXPECT_EQ(log.find('\b'), std::string::npos) << log;
    EXPECT_NE(log.find(" photons gathered\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Light 1 : evaluating irradiance photons...\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Done computing: 100%"), std::string::npos) << log;
    std::istringstream lines(log);
    std::string line;
    int grid = 0;
    while (std::getline(lines, line)) grid += line.rfind("[grid", 0) == 0;
    EXPECT_GE(grid, 2);
    EXPECT_LE(grid, 12);
}

// A render stopped by SIGTERM names the row and how to go on; the same command then completes it.
TEST_F(ProgressCli, StoppedRenderSaysHowToResume) {
    // Large enough that the signal, sent on the first tenth, lands well before the last row.
    options.interruptWhenOutputContains = "Rendering: 10%";
    options.interruptSignal = SIGTERM;
    ProgramResult r = testing::runProgram(QUORVA_BINARY, {"s", "-j", "1", "-r", "1280", "960"}, options);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(std::regex_search(r.output,
                                  std::regex("\nStopped at row [0-9]+: run the same command to resume\\.\n")))
        << r.output;
    options.interruptWhenOutputContains.clear();
    r = testing::runProgram(QUORVA_BINARY, {"s", "-j", "1", "-r", "1280", "960"}, options);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("Stopped at row"), std::string::npos);
}

}  // namespace
}  // namespace quorva
