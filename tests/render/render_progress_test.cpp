#include "render/render_progress.h"

#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

// A log gets one line each tenth of the image, or after 30 s without one; the time left is estimated
// from the part done in this run (a resumed render started at 50 %).
TEST(RenderProgress, LogLinesComeEachTenthOrHalfMinute) {
    double now = 100;
    RenderProgress progress(ProgressStyle::Lines, [&] { return now; });
    progress.begin(50);
    ConsoleCapture console;
    const auto show = [&](int percent) { progress.show(percent, formatText("Rendering: %d%%", percent)); };
    now = 110;
    show(51);  // the first line always comes
    now = 120;
    show(55);
    show(59);
    now = 145;
    show(59);  // 35 s since the last line
    now = 150;
    show(60);  // a new tenth
    show(69);
    now = 3700;
    show(100);
    EXPECT_EQ(console.text(),
              "Rendering: 51% 0:10 elapsed, 8:10 left\n"
              "Rendering: 59% 0:45 elapsed, 3:25 left\n"
              "Rendering: 60% 0:50 elapsed, 3:20 left\n"
              "Rendering: 100% 1:00:00 elapsed, 0:00 left\n");
}

// On a terminal the line rewrites itself when the percentage or the second changes, blanking what a
// longer line left; before any progress in this run there is no estimate.
TEST(RenderProgress, TerminalLineRewritesItself) {
    double now = 0;
    RenderProgress progress(ProgressStyle::Terminal, [&] { return now; });
    progress.begin(0);
    ConsoleCapture console;
    progress.show(0, "R 0%");
    progress.show(0, "R 0%");
    now = 0.5;
    progress.show(0, "R 0%");
    now = 600;
    progress.show(10, "R 10%");
    now = 1200;
    progress.show(99, "R 99%");
    EXPECT_EQ(console.text(),
              "\rR 0% 0:00 elapsed"
              "\rR 10% 10:00 elapsed, 1:30:00 left"
              "\rR 99% 20:00 elapsed, 0:12 left   ");
    diagnostics().messagesOn = false;  // -m
    console.clear();
    now = 1300;
    progress.show(100, "R 100%");
    diagnostics().messagesOn = true;
    EXPECT_EQ(console.text(), "");
}

// A counter rewrites itself on a terminal with its text as given; a log gets a whole line each tenth
// (or after 30 s), without the trailing blanks, and the closing line always.
TEST(ProgressCounter, FollowsTheConsoleRule) {
    double now = 0;
    ConsoleCapture console;
    ProgressCounter terminal(ProgressStyle::Terminal, [&] { return now; });
    terminal.show(1, "%d photons   ", 5);
    terminal.show(2, "%d photons   ", 9);
    terminal.close("%d done ", 9);
    EXPECT_EQ(console.text(), "\r5 photons   \r9 photons   \r9 done ");
    console.clear();
    ProgressCounter log(ProgressStyle::Lines, [&] { return now; });
    for (int percent = 0; percent <= 100; percent += 5) log.show(percent, "%d%% completed   ", percent);
    log.show(100, "again");
    now = 31;
    log.show(100, "after half a minute");
    log.close("%d done ", 9);
    std::string expected;
    for (int percent = 0; percent <= 100; percent += 10) expected += formatText("%d%% completed\n", percent);
    EXPECT_EQ(console.text(), expected + "after half a minute\n9 done\n");
}

}  // namespace
}  // namespace quorva
