// The adaptive and undersampling loops, driven by an image function instead of the camera: which
// positions are traced, how often, and what each pixel receives.
#include "render/antialias.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "render/frame_buffers.h"
#include "render/render_rows.h"
#include "render_fixture.h"
#include "support/progress_text.h"

namespace quorva {
namespace {

struct Sample {
    Color colour;
    double alpha = 1;
};

// Records every traced position and every finished pixel.
class RecordingSource final : public SampleSource {
  public:
    explicit RecordingSource(std::function<Sample(double, double)> image) : image_(std::move(image)) {}

    double sample(int, double x, double y, Color& colour, double& alpha, bool* recordFirstDepth,
                  double* firstDepth) override {
        ++traced[{x, y}];
        order.push_back({x, y});
        Sample s = image_(x, y);
        colour = s.colour;
        alpha = s.alpha;
        double depth = 100 + x + 1000 * y;
        if (recordFirstDepth && *recordFirstDepth) {
            *firstDepth = depth;
            *recordFirstDepth = false;
        }
        return depth;
    }
    void finish(int, int x, int y, const Color& colour, double alpha, double depth) override {
        Finished& f = finished[{x, y}];
        ++f.count;
        f.colour = colour;
        f.alpha = alpha;
        f.depth = depth;
        f.firstSample = pixelStart;
        pixelStart = order.size();
    }

    struct Finished {
        int count = 0;
        Color colour;
        double alpha = 0, depth = 0;
        std::size_t firstSample = 0;  // index in `order` of the first sample traced for this pixel
    };
    std::map<std::pair<double, double>, int> traced;
    std::vector<std::pair<double, double>> order;
    std::map<std::pair<int, int>, Finished> finished;
    std::size_t pixelStart = 0;

    int maxTraceCount() const {
        int m = 0;
        for (const auto& [pos, n] : traced) m = std::max(m, n);
        return m;
    }

  private:
    std::function<Sample(double, double)> image_;
};

SamplingLoop loopFor(SampleSource& source, int width, int level, int gridSize, bool superAdaptive = false) {
    SamplingLoop loop{source};
    loop.width = width;
    loop.columnStart = 0;
    loop.columnEnd = width;
    loop.level = level;
    loop.gridSize = gridSize;
    loop.superAdaptive = superAdaptive;
    return loop;
}

Sample flat(double, double) {
    return {{0.5, 0.3, 0.77}, 1};
}

// A hashed value per position: every pixel differs from its neighbours.
Sample noise(double x, double y) {
    double v = std::fmod(std::sin(x * 12.9898 + y * 78.233) * 43758.5453, 1.0);
    return {{std::fabs(v), 0.5, 0.5}, 1};
}

int byteOf(double v) {
    return colourByte(v);
}

TEST(AdaptiveAntialiasing, FlatImageTracesEachPixelCornerOnceAndMatchesThePlainRender) {
    RecordingSource source(flat);
    SamplingLoop loop = loopFor(source, 7, 10, 4);
    ConsoleCapture capture;
    runAdaptive(loop, 0, 5);
    // Only pixel corners, each exactly once: one new corner per pixel away from the edges.
    EXPECT_EQ(source.traced.size(), 8u * 6u);
    EXPECT_EQ(source.maxTraceCount(), 1);
    for (int y = 0; y <= 5; ++y)
        for (int x = 0; x <= 7; ++x) EXPECT_EQ(source.traced.count({x, y}), 1u) << x << "," << y;
    ASSERT_EQ(source.finished.size(), 35u);
    for (const auto& [pixel, f] : source.finished) {
        EXPECT_EQ(f.count, 1);
        EXPECT_EQ(byteOf(f.colour.r), byteOf(0.5));
        EXPECT_EQ(byteOf(f.colour.g), byteOf(0.3));
        EXPECT_EQ(byteOf(f.colour.b), byteOf(0.77));
        EXPECT_EQ(byteOf(f.alpha), 255);
        // The depth is the one of the first sample traced for the pixel.
        const auto& first = source.order[f.firstSample];
        EXPECT_EQ(f.depth, 100 + first.first + 1000 * first.second);
    }
}

TEST(AdaptiveAntialiasing, BusyImageNeverTracesAPositionTwice) {
    for (int n : {2, 4, 8, 16}) {
        RecordingSource source(noise);
        SamplingLoop loop = loopFor(source, 6, 10, n, n > 4);
        loop.columnStart = 1;
        loop.columnEnd = 5;
        ConsoleCapture capture;
        runAdaptive(loop, 2, 5);
        EXPECT_EQ(source.maxTraceCount(), 1) << "N = " << n;
        EXPECT_EQ(source.finished.size(), 12u);
        // Everything lies inside the pixels rendered.
        for (const auto& [pos, count] : source.traced) {
            EXPECT_GE(pos.first, 1);
            EXPECT_LE(pos.first, 5);
            EXPECT_GE(pos.second, 2);
            EXPECT_LE(pos.second, 5);
        }
    }
}

TEST(AdaptiveAntialiasing, ThresholdFollowsTheLevel) {
    EXPECT_EQ(contrastThreshold(10), 1);
    EXPECT_EQ(contrastThreshold(1), 10);
    // The pixel's right edge is one 8-bit unit brighter: level 10 (T = 1) subdivides, level 9 (T = 2)
    // does not.
    auto step = [](double x, double) { return Sample{{(x >= 1 ? 101 : 100) / 255.0 + 1e-6, 0, 0}, 1}; };
    for (auto [level, expected] : {std::pair{10, 9u}, std::pair{9, 4u}}) {
        RecordingSource source(step);
        SamplingLoop loop = loopFor(source, 1, level, 2);
        ConsoleCapture capture;
        runAdaptive(loop, 0, 1);
        EXPECT_EQ(source.traced.size(), expected) << "level " << level;
    }
}

TEST(AdaptiveAntialiasing, GridOfTwelveSplitsIntoSizesSixThreeAndOne) {
    // Only the pixel's bottom-right grid corner is white.
    auto corner = [](double x, double y) { return Sample{x == 1 && y == 1 ? Color{1, 1, 1} : Color{}, 1}; };
    RecordingSource source(corner);
    SamplingLoop loop = loopFor(source, 1, 10, 12, true);
    ConsoleCapture capture;
    runAdaptive(loop, 0, 1);
    std::set<std::pair<int, int>> cells;
    for (const auto& [pos, n] : source.traced)
        cells.insert({int(std::lround(pos.first * 12)), int(std::lround(pos.second * 12))});
    const std::set<std::pair<int, int>> expected = {{0, 0},   {12, 0},  {0, 12}, {12, 12}, {6, 0},   {0, 6},
                                                    {6, 6},   {12, 6},  {6, 12}, {9, 6},   {6, 9},   {9, 9},
                                                    {12, 9},  {9, 12},  {10, 9}, {9, 10},  {10, 10}, {11, 9},
                                                    {11, 10}, {10, 11}, {9, 11}, {11, 11}};
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(source.maxTraceCount(), 1);
    // The size-one squares under the busy size-three square never reach the white corner.
    EXPECT_EQ(source.finished.at({0, 0}).colour, (Color{0, 0, 0}));
}

TEST(AdaptiveAntialiasing, AlphaIsAveragedButNotTested) {
    auto halfCovered = [](double x, double) { return Sample{{0.2, 0.2, 0.2}, x < 0.5 ? 0.0 : 1.0}; };
    RecordingSource source(halfCovered);
    SamplingLoop loop = loopFor(source, 1, 10, 2);
    ConsoleCapture capture;
    runAdaptive(loop, 0, 1);
    EXPECT_EQ(source.traced.size(), 4u);
    EXPECT_EQ(byteOf(source.finished.at({0, 0}).alpha), 127);
}

TEST(AdaptiveAntialiasing, ProgressAndKeys) {
    struct OneKey final : KeySource {
        int key;
        bool pending = true;
        explicit OneKey(int k) : key(k) {}
        bool keyWaiting() override { return pending; }
        int readKey() override {
            pending = false;
            return key;
        }
    };
    for (bool super : {false, true}) {
        OneKey escape(EscapeKey);
        setKeySource(&escape);
        RecordingSource source(flat);
        SamplingLoop loop = loopFor(source, 2, 3, 4, super);
        ConsoleCapture capture;
        runAdaptive(loop, 0, 4);
        setKeySource(nullptr);
        EXPECT_EQ(testing::withoutTimes(capture.text()),
                  super ? "Rendering: 25% (super-adaptive antialiasing level: 3/10)\n"
                        : "Rendering: 25% (adaptive antialiasing level: 3/10)\n");
        EXPECT_TRUE(loop.stopRequested);
        EXPECT_EQ(source.finished.size(), 2u);  // the row in progress is completed
    }
    OneKey other('x');
    setKeySource(&other);
    RecordingSource source(flat);
    SamplingLoop loop = loopFor(source, 2, 3, 4);
    ConsoleCapture capture;
    runUndersampled(loop, 0, 20);
    setKeySource(nullptr);
    EXPECT_TRUE(loop.keyPressed);
    EXPECT_FALSE(loop.stopRequested);
}

TEST(Undersampling, FlatBlocksCostFiveSamples) {
    // Two by two blocks of 6 x 6 pixels plus the shared last row and column.
    RecordingSource source(flat);
    SamplingLoop loop = loopFor(source, 13, 5, 4);
    ConsoleCapture capture;
    runUndersampled(loop, 0, 13);
    EXPECT_EQ(source.traced.size(), 9u + 4u);  // the 3 x 3 block corners and four centres
    EXPECT_EQ(source.maxTraceCount(), 1);
    EXPECT_EQ(source.traced.count({3.5, 3.5}), 1u);
    ASSERT_EQ(source.finished.size(), 13u * 13u);
    for (const auto& [pixel, f] : source.finished) {
        EXPECT_EQ(f.count, 1);
        EXPECT_EQ(f.colour, (Color{0.5, 0.3, 0.77}));
    }
    // The second 53 % line (printed again when the loop ends) adds nothing to a log.
    EXPECT_EQ(testing::withoutTimes(capture.text()),
              "Rendering: 7% (undersampling quality level 5/10 - antialiasing disabled)\n"
              "Rendering: 53% (undersampling quality level 5/10 - antialiasing disabled)\n");
}

TEST(Undersampling, EdgesAreTracedAndEveryPixelFinishedOnce) {
    // A straight edge always separates a crossed quarter's corner from the block centre, so it is found
    // and the image is reproduced exactly; with bands and blocks cut short at the image's edges.
    auto edge = [](double x, double) {
        bool right = x > 8.2;
        return Sample{right ? Color{1, 1, 1} : Color{0, 0, 0.2}, right ? 1.0 : 0.0};
    };
    for (int rowStart : {0, 2}) {
        RecordingSource source(edge);
        SamplingLoop loop = loopFor(source, 14, 8, 4);
        loop.columnStart = 1;
        ConsoleCapture capture;
        runUndersampled(loop, rowStart, 15);
        EXPECT_EQ(source.maxTraceCount(), 1);
        EXPECT_EQ(source.finished.size(), 13u * (15u - rowStart));
        for (const auto& [pixel, f] : source.finished) {
            EXPECT_EQ(f.count, 1);
            Sample expected = edge(pixel.first + 0.5, pixel.second + 0.5);
            EXPECT_EQ(f.colour, expected.colour) << pixel.first << "," << pixel.second;
            EXPECT_EQ(f.alpha, expected.alpha);
        }
        for (int y = rowStart; y < 15; ++y) EXPECT_EQ(source.traced.count({8.5, y + 0.5}), 1u) << y;
        // Rows before the first multiple of six are traced in full.
        if (rowStart == 2) {
            for (int x = 1; x < 14; ++x) EXPECT_EQ(source.traced.count({x + 0.5, 3.5}), 1u);
        }
        EXPECT_LT(source.traced.size(), source.finished.size() * 2 / 3);
    }
}

TEST(SamplingLoops, RenderTheCameraThroughTheJob) {
    // An empty scene: every sample is the background, so each loop traces only its sparse grid and every
    // pixel ends as the plain loop would store it (alpha 0 where primary rays miss).
    for (bool undersample : {false, true}) {
        testing::RenderFixture f(8, 6);
        f.scene.frame.background.colour = {0.2, 0.4, 0.6};
        f.scene.frame.options.antialiasing = 5;
        f.scene.frame.options.undersampling = undersample;
        ConsoleCapture console;
        renderRows(f.job, 0, 6);
        // Adaptive: the 9 x 7 pixel corners. Undersampling: two blocks share a side (6 corners) and
        // have a centre each.
        EXPECT_EQ(f.ctx.stats.primaryRays, undersample ? 8u : 63u);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const std::uint8_t* p = f.pixel(x, y);
                EXPECT_EQ(p[0], 51);
                EXPECT_EQ(p[1], 102);
                EXPECT_EQ(p[2], 153);
                EXPECT_EQ(p[3], 0);
                EXPECT_EQ(f.depth(x, y), 1000000.0);
            }
    }
}

}  // namespace
}  // namespace quorva
