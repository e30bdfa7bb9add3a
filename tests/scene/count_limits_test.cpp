// Scene values that size a grid, a list or a loop of rays: the statements bound them, with a warning
// where the statement has no message of its own, and a small frame with them renders in little memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "geometry/subdivision.h"
#include "geometry/surface_shapes.h"
#include "geometry/world.h"
#include "parser_fixture.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::parseOk;

std::uint64_t cells(const Shape& s, int axes) {
    std::uint64_t n = 1;
    for (int a = 0; a < axes; ++a) n *= s.subdivisions[a];
    return n;
}

TEST(CountLimits, SubdivisionGridsShrinkInProportion) {
    ConsoleCapture quiet;
    // Pieces multiply the grid; a thin grid keeps its single step; a grid that fits is left alone.
    int rings[2] = {2048, 512}, thin[2] = {65535, 1}, fits[2] = {512, 256};
    EXPECT_TRUE(boundSubdivisionCounts(rings, 2, MaxSubdivisionCells, 3));
    EXPECT_LE(3 * std::uint64_t(rings[0]) * rings[1], MaxSubdivisionCells);
    EXPECT_NEAR(rings[0], 4 * rings[1], 4);
    EXPECT_TRUE(boundSubdivisionCounts(thin, 2, 1000));
    EXPECT_EQ(thin[0] * 10 + thin[1], 10001);
    EXPECT_FALSE(boundSubdivisionCounts(fits, 2, MaxSubdivisionCells));
}

TEST(CountLimits, StatementsReduceCountsWithAWarning) {
    SceneState scene;
    ConsoleCapture capture;
    parseOk(scene,
            "Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) DepthOfField (9, 0.2, 2147483647) ]\n"
            "Shape [ Sphere ((0, 0, 0), 1) ShapeSubdivisions (65535, 65535) ]\n"
            "Shape [ ImplicitSurface (x*x + y*y + z*z - 1) ShapeSubdivisions (1000, 1000, 1000) ]\n"
            "Options [ SoftShadowSamples 2147483647 MaxBlurSamples 2147483647 ]\n"
            "Media (1, 2147483647, 12, 0.06, 0, 1)\n"
            "SunLight (60 : 25, 1.2, 1e300)\n");
    const auto& shapes = scene.frame.world.mainList;
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(cells(*shapes[0], 2), 131044u);
    EXPECT_LE(cells(*shapes[1], 3), MaxSubdivisionVolume);
    EXPECT_GE(shapes[1]->subdivisions[0], 127);
    // A patch's own counts: each side at most 1024, then the grid as a whole.
    std::vector<Vec3> points;
    for (int k = 0; k < 16; ++k) points.push_back({double(k % 4), 0, double(k / 4)});
    const auto patch = makeBicubicPatch(points, 1, 1e9, 1e9);
    EXPECT_EQ(patch->subdivisions[0], 362);
    EXPECT_EQ(patch->subdivisions[1], 362);
    const Options& o = scene.frame.options;
    EXPECT_EQ(o.depthOfFieldSamples, MaxDepthOfFieldSamples);
    EXPECT_EQ(o.softShadowSamples, MaxSoftShadowSamples);
    EXPECT_EQ(o.maxBlurSamples, MaxBlurSampleCount);
    EXPECT_EQ(scene.frame.media.samples, MaxMediaSamples);
    EXPECT_EQ(scene.frame.sun.values[3], MaxSoftShadowSamples);
    const std::string text = capture.text();
    for (const char* warning : {
             "Subdivision of 4294836225 cells is too fine (reduced to 131044)!",
             "Subdivision of 1000000000 cells is too fine (reduced to ",
             "Subdivision of 1048576 cells is too fine (reduced to 131044)!",
             "SoftShadowSamples of 2147483647 samples is too many (reduced to 4096)!",
             "MaxBlurSamples of 2147483647 samples is too many (reduced to 1024)!",
             "DepthOfField of 2147483647 samples is too many (reduced to 4096)!",
             "Media of 2147483647 samples is too many (reduced to 10000)!",
             "SunLight of 1e+300 samples is too many (reduced to 4096)!",
         })
        EXPECT_NE(text.find(warning), std::string::npos) << warning << "\n" << text;
    // NaN is no sample count; the media statement keeps its own message for counts below one.
    parseOk(scene, "SunLight (60 : 25, 1.2, sqrt(-1))\n");
    EXPECT_EQ(scene.frame.sun.values[3], 0);
    EXPECT_EQ(testing::parseFailure("Media (1, sqrt(-1), 12, 0.06, 0, 1)"),
              "Bad media samples value. Must be greater than 1");
}

// Runs a 40 x 30 frame of `scene` in a child and returns its peak resident set in kilobytes.
long peakKilobytes(const testing::TemporaryFolder& dir, const std::string& scene) {
    dir.write("limits.qsb", scene);
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 60;
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    const std::string rss = dir.file("rss.txt");
    testing::ProgramResult r =
        testing::runProgram("/usr/bin/time", {"-f", "%M", "-o", rss, QUORVA_BINARY, "limits", "-j", "1"}, o);
    EXPECT_EQ(r.status, 0) << scene << r.output;
    EXPECT_FALSE(r.timedOut) << scene;
    std::ifstream in(rss);
    long kb = -1;
    in >> kb;
    return kb;
}

// The bound is a Release binary's; AddressSanitizer's red zones and quarantine take about as much again.
#if defined(__SANITIZE_ADDRESS__)
constexpr long PeakAllowance = 3;
#else
constexpr long PeakAllowance = 1;
#endif

TEST(CountLimits, OverSizedScenesRenderInLittleMemory) {
    if (!testing::fileExists("/usr/bin/time")) GTEST_SKIP() << "no /usr/bin/time to measure the peak";
    const std::string base =
        "Version : 1.3\n"
        "Camera [ (0, 4, -9), (0, 0.8, 0), (0, 1, 0) Format (40, 30) ]\n"
        "PointLight [ (5, 9, -7) Intensity '1, 1, 1' MediaInteraction ]\n"
        "Declare clay = Shader [ PlainSurface [ Color '0.9, 0.5, 0.3' Ka 0.1 Kd 0.7 ] ]\n";
    testing::TemporaryFolder dir;
    for (const char* scene : {
             "Shape [ Sphere ((0, 0, 0), 1) clay DisplacementMapping 0.1 * sin(u * 50)\n"
             "  ShapeSubdivisions (65535, 65535) ]\n",
             "Shape [ SurfaceOfRevolution (2, 4, (0, 1, 0), (0, 0, 0), (0.9, 0, 0), (0.1, 1.2, 0), (0, 2.6, "
             "0))"
             "  clay ShapeSubdivisions (65535, 65535) DisplacementMapping 0.01 ]\n",
             "Declare drop = Solid [ Sphere ((0, 0, 0), 0.12) clay ]\n"
             "ParticleGenerator [ Particles 2147483647 Location (0, 0, 0) Velocity (0, 1, 0) Shape \"drop\" ]"
             "Camera [ (0, 4, -9), (0, 0.8, 0), (0, 1, 0) Format (40, 30) DepthOfField (9, 0.2, 1e300) ]\n"
             "Options [ SoftShadowSamples 1e300 ]  Media (1, 2147483647, 1e9, 0.06, 0, 1)\n"
             "Shape [ Sphere ((0, 0.5, 0), 1) Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0 Kt (1, 1.5)"
             "  Dispersion (1.1, 2147483647) IrradianceSamples 1e300 ] ] ]\n",
         }) {
        const long kb = peakKilobytes(dir, base + scene);
        EXPECT_GT(kb, 1000) << scene;
        EXPECT_LT(kb, PeakAllowance * 200 * 1024) << scene;
    }
}

}  // namespace
}  // namespace quorva
