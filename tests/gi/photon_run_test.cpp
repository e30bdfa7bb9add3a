// The photon maps in a whole run: shot and saved by one run, loaded by the next, same pixels (the
// irradiance photons steer the cache's samples, so they must come back exactly too).
#include <gtest/gtest.h>

#include "support/run_program.h"

namespace quorva {
namespace {

const char* GlassScene = R"(Version : 1.3
Camera [ (0, 5, -8), (0, 0.8, 0), (0, 1, 0) Format (40, 30) FieldOfView 45 ]
Photons (30, 8000, 50)
Options [ IrradianceSamples 40 IrradiancePhotons (20000, 30) ]
PointLight [ (0, 8, 1) Intensity '1, 1, 1' ]
Shape [ Sphere ((0, 1.2, 0), 1) Caustics 1
    Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0 Kt (1, 1.5) ] ] ]
Shape [ Disk ((0, 0, 0), (0, 1, 0), 8) Shader [ PlainSurface [ Color '0.9, 0.9, 0.9' Ka 0.05 Kd 0.8 ] ] ]
Shape [ Disk ((0, 0, 3), (0, 0, -1), 8) Shader [ PlainSurface [ Color '0.8, 0.5, 0.4' Kd 0.8 ] ] ]
)";

TEST(PhotonRun, ReloadedMapsRenderTheSavedRunsPixels) {
    testing::TemporaryFolder dir;
    dir.write("glass.qsb", GlassScene);
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 120;
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    const std::string scene = dir.file("glass");
    testing::ProgramResult first =
        testing::runProgram(QUORVA_BINARY, {scene, "-g", "4", "-s", "1", "-o", dir.file("first")}, o);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("Building Photon maps..."), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("Saving Photon maps..."), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("irradiance photons gathered"), std::string::npos) << first.output;
    const std::string map = testing::readFile(dir.file("glass.qpm"));
    ASSERT_GT(map.size(), 36u + 32 * 100);

    testing::ProgramResult second = testing::runProgram(
        QUORVA_BINARY, {scene, "-g", "4", "-l", "1", "-s", "1", "-o", dir.file("second")}, o);
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("Photon maps rebuilt successfully."), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("Saving Photon maps"), std::string::npos);  // the file exists already
    EXPECT_EQ(testing::readFile(dir.file("glass.qpm")), map);
    EXPECT_EQ(testing::readFile(dir.file("second.tga")), testing::readFile(dir.file("first.tga")));

    // A damaged file stops the run rather than rendering without its photons.
    dir.write("glass.qpm", map.substr(0, 50));
    testing::ProgramResult third =
        testing::runProgram(QUORVA_BINARY, {scene, "-g", "4", "-l", "1", "-o", dir.file("third")}, o);
    EXPECT_EQ(third.status, 1) << third.output;
    EXPECT_NE(third.output.find("Could not load photon maps file"), std::string::npos) << third.output;
}

}  // namespace
}  // namespace quorva
