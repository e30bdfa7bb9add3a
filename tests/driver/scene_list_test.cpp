// Input kinds of the first argument, the jitter table and the timing lines.
#include "driver/scene_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "driver/jitter_table.h"
#include "driver/report.h"
#include "driver/run_state.h"
#include "support/run_program.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using testing::TemporaryFolder;

std::string fatalOf(const std::string& input, RunState& run) {
    try {
        buildSceneList(input, run);
    } catch (const FatalError& e) {
        return e.what();
    }
    return "";
}

TEST(SceneList, PatternListsMatchingBaseNamesOnce) {
    TemporaryFolder dir;
    dir.write("b.qsb", "");
    dir.write("b.qsh", "");
    dir.write("a.qsb", "");
    dir.write("a.v2.qsb", "");
    dir.write("c.tga", "");
    RunState run;
    buildSceneList(dir.path() + "/*.qsb", run);
    EXPECT_EQ(run.inputKind, InputKind::Pattern);
    ASSERT_EQ(run.sceneNames.size(), 2u);  // "a.v2.qsb" is cut at its first '.' to "a"
    EXPECT_EQ(run.sceneNames[0], dir.path() + "/a");
    EXPECT_EQ(run.sceneNames[1], dir.path() + "/b");
    buildSceneList(dir.path() + "/?.*", run);
    EXPECT_EQ(run.sceneNames.size(), 3u);
    EXPECT_EQ(fatalOf(dir.path() + "/z*", run), "No QSB files found");
}

TEST(SceneList, ListFilesSkipMissingScenes) {
    TemporaryFolder dir;
    dir.write("one.qsb", "");
    std::string list = dir.write(
        "scenes.list", dir.file("one") + "\n  " + dir.file("missing") + "\t" + dir.file("one") + "\n");
    RunState run;
    buildSceneList(list, run);
    EXPECT_EQ(run.inputKind, InputKind::ListFile);
    EXPECT_EQ(run.listFile, list);
    EXPECT_EQ(run.sceneNames, (std::vector<std::string>{dir.file("one"), dir.file("one")}));
    EXPECT_EQ(fatalOf(dir.file("none.list"), run), "QSB List file doesn't exist.");
    std::string bad = dir.write("bad.LIST", "one.qsb\n");
    EXPECT_EQ(fatalOf(bad, run), "No file extension when invoking QSB files within a .LIST");
}

TEST(SceneList, SingleBaseName) {
    RunState run;
    EXPECT_EQ(fatalOf("scene.qsb", run), "No file extension in input");
    EXPECT_EQ(fatalOf("../examples/scene", run), "");
    EXPECT_EQ(run.sceneNames, std::vector<std::string>{"../examples/scene"});
}

TEST(JitterTable, RefillsTheSameEntriesInMinusOneToOne) {
    JitterTable a, b;
    fillJitterTable(a);
    fillJitterTable(b);
    EXPECT_EQ(a, b);
    double low = 1, high = -1;
    for (double v : a) {
        EXPECT_GE(v, -1.0);
        EXPECT_LE(v, 1.0);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    EXPECT_LT(low, -0.5);  // the entries spread over the range
    EXPECT_GT(high, 0.5);
}

TEST(Report, TimingLines) {
    ConsoleCapture c;
    printTimes(0, 5);
    EXPECT_EQ(c.text(), "\n\nTotal parsing time: less than 1 second\nTotal computing time: 5 seconds\n");
    c.clear();
    printTimes(1, 61);
    EXPECT_EQ(c.text(),
              "\n\nTotal parsing time: 1 second\nTotal computing time: 61 seconds (more than 1 minute)\n");
    c.clear();
    printTimes(3, 125);
    EXPECT_EQ(c.text(),
              "\n\nTotal parsing time: 3 seconds\nTotal computing time: 125 seconds (more than 2 minutes)\n");
}

TEST(Report, StatisticsSkipZeroCounters) {
    RenderStatistics s;
    s.primaryRays = 12;
    s.shadowRays = 3;
    s.refractedRays = 2;
    s.dispersionRays = 1;
    s.boundsChecked = 40;
    ConsoleCapture c;
    printStatistics(s, false);
    EXPECT_EQ(c.text(),
              "\n      12 primary rays\n       3 shadow rays\n       3 refracted rays\n"
              "       1 refracted rays due to dispersion only\n\n       0 shadow checks\n"
              "       0 shadow cache hits\n      40 bounds checked\n       0 objects checked\n");
}

}  // namespace
}  // namespace quorva
