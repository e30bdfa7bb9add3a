// Scene values that would size an allocation or a conversion out of range: the statements clamp them,
// and a whole run with them stays small.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "gi/irradiance_cache.h"
#include "gi/irradiance_octree.h"
#include "gi/photon_maps.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "support/run_program.h"

namespace quorva {
namespace {

const char* GlassBase = R"(Version : 1.3
Camera [ (0, 5, -8), (0, 0.8, 0), (0, 1, 0) Format (40, 30) FieldOfView 45 ]
PointLight [ (0, 8, 1) Intensity '1, 1, 1' ]
Shape [ Sphere ((0, 1.2, 0), 1) Caustics 1
    Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0 Kt (1, 1.5) Kr 0.05 ] ] ]
Shape [ Disk ((0, 0, 0), (0, 1, 0), 8) Shader [ PlainSurface [ Color '0.9, 0.85, 0.8' Ka 0.05 Kd 0.8 ] ] ]
ComputeIrradiance 1
)";

void parse(SceneState& scene, const std::string& text) {
    scene.resetScene();
    EXPECT_EQ(parseText(scene, std::string(GlassBase) + text, "limits.qsb"), 0);
}

TEST(GiLimits, StatementsClampCountsAndErrorBounds) {
    SceneState a;
    parse(a,
          "Options [ PhotonsGatherRange (2147483647, 1e8) IrradiancePhotons (2147483647, 2147483647)\n"
          "  IrradianceSamples 2147483647 IrradianceMaxError 1e300 IrradianceMaxDistance 1e300 ]\n"
          "Photons (1e300, 1e300, 50)\n");
    const Options& o = a.frame.options;
    EXPECT_EQ(o.photons.gatherRange[0], MaxPhotonGatherCount);
    EXPECT_EQ(o.photons.gatherRange[1], MaxPhotonGatherCount);
    EXPECT_EQ(o.irradiance.photons[0], MaxIrradiancePhotons);
    EXPECT_EQ(o.irradiance.photons[1], MaxPhotonGatherCount);
    EXPECT_EQ(o.irradiance.samples, MaxIrradianceSamples);
    EXPECT_EQ(o.irradiance.maxError, MaxIrradianceError);
    EXPECT_EQ(o.irradiance.maxDistance, MaxIrradianceDistance);
    EXPECT_EQ(o.photons.parameters[0], MaxPhotonGatherCount);
    EXPECT_EQ(o.photons.parameters[1], MaxPhotonsPerTarget);

    // NaN: counts become 0 (or their lower bound), the error bound keeps its default.
    SceneState b;
    parse(b,
          "Options [ IrradianceMaxError sqrt(-1) IrradianceSamples sqrt(-1) ]\n"
          "Photons (sqrt(-1), sqrt(-1), sqrt(-1), sqrt(-1))\n"
          "SkyLight (sqrt(-1), '0.5, 0.5, 0.5', 1)\n");
    EXPECT_EQ(b.frame.options.irradiance.maxError, -1);
    EXPECT_EQ(b.frame.options.irradiance.samples, 5);
    EXPECT_EQ(b.frame.options.irradiance.skySamples, 5);
    for (double p : b.frame.options.photons.parameters) EXPECT_EQ(p, 0);
    EXPECT_DOUBLE_EQ(irradianceConfig(b.frame).maxError, 0.8);

    // Values a binary scene may still carry are bounded where the frame takes them.
    b.frame.options.photons.gatherRange[0] = 2147483647;
    b.frame.options.irradiance.maxError = NAN;
    PhotonMaps maps(b.frame);
    EXPECT_EQ(maps.caustic.gatherCount, MaxPhotonGatherCount);
    EXPECT_EQ(maps.media.gatherCount, 1);
    EXPECT_DOUBLE_EQ(irradianceConfig(b.frame).maxError, 0.8);
    a.frame.options.irradiance.samples = 2147483647;
    EXPECT_EQ(irradianceConfig(a.frame).samples, MaxIrradianceSamples);
}

TEST(GiLimits, CubesBeyondEveryCellGetTheCoarsestCell) {
    // An error bound of 1e300 times a radius, or a radius of infinity: the cell conversion saturates.
    for (double reach : {1e300, double(INFINITY)}) {
        const OctreeCell cell = cellForCube({-reach, 1, 2}, {reach, 1, 2});
        EXPECT_EQ(cell.level, 254) << reach;
    }
    IrradianceOctree tree;
    auto record = std::make_unique<IrradianceRecord>();
    record->position = {1, 2, 3};
    tree.insert(std::move(record), cellForCube({-1e300, -1e300, -1e300}, {1e300, 1e300, 1e300}));
    EXPECT_EQ(tree.size(), 1u);
}

// Runs a 40 x 30 frame of the glass scene with `options` and returns the child's peak resident set in
// kilobytes (-1 when it could not be measured).
long peakKilobytes(const testing::TemporaryFolder& dir, const std::string& options, std::string& output) {
    dir.write("limits.qsb", std::string(GlassBase) + options);
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 120;
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    const std::string rss = dir.file("rss.txt");
    testing::ProgramResult r =
        testing::runProgram("/usr/bin/time", {"-f", "%M", "-o", rss, QUORVA_BINARY, "limits", "-j", "1"}, o);
    output = r.output;
    EXPECT_EQ(r.status, 0) << options << r.output;
    std::ifstream in(rss);
    long kb = -1;
    in >> kb;
    return kb;
}

TEST(GiLimits, AbsurdValuesRenderASmallFrameInLittleMemory) {
    if (!testing::fileExists("/usr/bin/time")) GTEST_SKIP() << "no /usr/bin/time to measure the peak";
    testing::TemporaryFolder dir;
    for (const char* options : {
             "Options [ IrradianceSamples 8 PhotonsGatherRange (1e8, 1e8) ]\nPhotons (50, 2000, 50)\n",
             "Options [ IrradianceSamples 8 PhotonsGatherRange (2147483647, 2147483647) ]\n"
             "Photons (2147483647, 2000, 50)\n",
             "Options [ IrradianceSamples 8 IrradianceMaxError 1e300 IrradianceMaxDistance 1e300 ]\n",
             "Options [ IrradianceSamples 8 IrradianceMaxError sqrt(-1) ]\n",
             "Options [ IrradianceSamples 8 ]\nPhotons (sqrt(-1), sqrt(-1), sqrt(-1), sqrt(-1))\n",
         }) {
        std::string output;
        const long kb = peakKilobytes(dir, options, output);
        EXPECT_GT(kb, 1000) << options;
        EXPECT_LT(kb, 200 * 1024) << options << output;
        std::remove(dir.file("limits.tga").c_str());
    }
}

}  // namespace
}  // namespace quorva
