// Message formats, the fatal-error exception and the allocation tracker.
#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "diagnostics/console.h"
#include "support/run_program.h"

#include "diagnostics/allocation.h"
#include "diagnostics/internal_failure.h"

namespace quorva {
namespace {

TEST(Diagnostics, WarningOutsideAFileHasNoPosition) {
    ConsoleCapture capture;
    warning("Option -e is now obsolete");
    EXPECT_EQ(capture.text(), "WARNING : Option -e is now obsolete!\n");
}

TEST(Diagnostics, FatalErrorCarriesTextAndReport) {
    try {
        fatal("Unable to find scene file %s", "x.qsb");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Unable to find scene file x.qsb");
        EXPECT_EQ(e.report(), "\nERROR :\nUnable to find scene file x.qsb\n");
    }
}

TEST(Diagnostics, InternalFailureCodes) {
    try {
        internalFailure(InternalFailure::HalfVectorNull, "Half vector is null");
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x2d) Half vector is null");
    }
    try {
        internalFailure(InternalFailure::Bisecting, "Bisecting");
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(Internal failure 0x30) Bisecting");
    }
}

class ScriptedKeys final : public KeySource {
  public:
    bool keyWaiting() override { return false; }
    int readKey() override {
        ++reads;
        return 'x';
    }
    int reads = 0;
};

class FixedPosition final : public InputPosition {
  public:
    bool active() const override { return true; }
    std::string fileName() const override { return "inner.qsb"; }
    int line() const override { return 7; }
};

TEST(Diagnostics, MessagesNameTheFileAndLineWhileParsing) {
    FixedPosition position;
    diagnostics().position = &position;
    ConsoleCapture capture;
    warning("Stack overflow in ReadArchive\"%s\"", "x");
    EXPECT_EQ(capture.text(),
              "WARNING in file inner.qsb, near or on line 7 : Stack overflow in ReadArchive\"x\"!\n");
    try {
        fatal("parse error");
    } catch (const FatalError& e) {
        EXPECT_EQ(e.report(), "\nERROR in file inner.qsb, near or on line 7 :\nparse error\n");
        EXPECT_EQ(e.file(), "inner.qsb");
        EXPECT_EQ(e.line(), 7);
    }
    diagnostics().position = nullptr;
}

// With -m a warning still reaches the log but not the console; a fatal error reaches both. With
// pause on error the position goes to "tmperr" as "file line" without a newline.
TEST(Diagnostics, MuteLogAndPauseOnError) {
    testing::TemporaryFolder dir;
    std::string logPath = dir.file("run.log");
    DiagnosticsState& d = diagnostics();
    d.log = std::fopen(logPath.c_str(), "w");
    d.messagesOn = d.warningsOn = false;
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        ConsoleCapture capture;
        message("hidden message\n");
        progressMessage("\r%d shapes done", 3);
        warning("hidden warning");
        EXPECT_EQ(capture.text(), "");
        FixedPosition position;
        d.position = &position;
        d.pauseOnError = true;
        ScriptedKeys keys;
        setKeySource(&keys);
        try {
            fatal("Bad color specification");
        } catch (const FatalError& e) {
            reportFatal(e);
        }
        setKeySource(nullptr);
        EXPECT_EQ(keys.reads, 1);
        d.position = nullptr;
        d.pauseOnError = false;
        EXPECT_EQ(capture.text(),
                  "\nERROR in file inner.qsb, near or on line 7 :\nBad color specification\n");
    }
    std::filesystem::current_path(cwd);
    d.messagesOn = d.warningsOn = true;
    EXPECT_EQ(d.log, nullptr);  // closed by the fatal error
    EXPECT_EQ(testing::readFile(logPath),
              "hidden message\nWARNING : hidden warning!\n"
              "\nERROR in file inner.qsb, near or on line 7 :\nBad color specification\n");
    EXPECT_EQ(testing::readFile(dir.file("tmperr")), "inner.qsb 7");
}

}  // namespace
}  // namespace quorva
