// Global illumination on several threads, through the renderer: the image, its Z channel, the -d counters
// and the saved photon map and irradiance cache files are those of one thread, for photon maps whose paths
// draw nothing shared and ones whose shaders draw from the random generator, and for an irradiance cache
// with a tight error bound, where rows often miss records the rows above make while they render, with and
// without adaptive anti-aliasing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/parallel_scene.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

// Glass and mirror caustics targets, a spot in a participating medium (media photons), irradiance
// photons guiding the cache; `extra` adds shapes.
std::string photonScene(const std::string& extra) {
    return "Version : 1.3\n"
           "Options [ IrradianceSamples 24 IrradianceBounceLevel 1 IrradiancePhotons (6000, 30) "
           "SavePhotonMap ]\n"
           "Camera [ (0, 4, -8), (0, 1, 0), (0, 1, 0) Format (40, 30) FieldOfView 45 ]\n"
           "Background '0.05, 0.05, 0.08'\n"
           "Photons (30, 9000, 50)\n"
           "ComputeIrradiance 1\n"
           "Media (1, 8, 10, 0.2, 0, 1)\n"
           "SpotLight [ (0, 7, 0), (0, 0, 0), 14, 18, 1 Intensity '1, 1, 1' MediaInteraction ]\n"
           "PointLight [ (3, 6, -2) Intensity '0.5, 0.5, 0.5' ]\n"
           "Shape [ Sphere ((0, 1.5, 0), 1) Caustics 1 Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0 "
           "Kt (1, 1.5) Kr 0.05 Dispersion (1.05, 3) ] ] ]\n"
           "Shape [ Sphere ((1.8, 0.7, 0.5), 0.7) Caustics 1 Shader [ PlainSurface [ Kd 0.1 Kr 0.8 ] ] ]\n"
           "Shape [ Disk ((0, 0, 0), (0, 1, 0), 8) Shader [ PlainSurface [ Color '0.9, 0.85, 0.8' Ka 0.05 "
           "Kd 0.8 ] ] ]\n" +
           extra;
}

const std::string CacheScene = testing::giRoomScene("Format (48, 36)");

TEST(ParallelGi, FilesAndCountersAreTheSameForAnyThreadCount) {
    struct Case {
        std::string scene;
        std::vector<std::string> options;
        std::vector<const char*> files;
    };
    const std::vector<const char*> photonFiles = {"s.tga", "s.Z32.tga", "s.qpm", "s.qic"};
    const std::vector<const char*> cacheFiles = {"s.tga", "s.Z32.tga", "s.qic"};
    const Case cases[] = {
        {photonScene(""), {}, photonFiles},
        // Photons of both passes meet a shader drawing from the random generator: those lights fall back
        // to one thread from the first such photon.
        {photonScene("Shape [ Sphere ((-1.8, 0.6, 0), 0.6) Caustics 1 Shader [ FunctionalSurface [ "
                     "Color '0.8, 0.3, 0.3' Kd (0.4 + 0.2 * random) Kt (0.3, 1.2) ] ] ]\n"),
         {},
         photonFiles},
        {CacheScene, {}, cacheFiles},
        {CacheScene, {"-a", "3"}, cacheFiles},
    };
    TemporaryFolder root;
    for (const Case& c : cases) {
        const std::string& scene = c.scene;
        const std::vector<const char*>& files = c.files;
        std::vector<std::string> reference;
        std::string counters;
        for (const char* threads : {"1", "2", "3", "8"}) {
            TemporaryFolder dir;
            dir.write("s.qsb", scene);
            ProgramOptions o;
            o.workingDirectory = dir.path();
            o.timeoutSeconds = 240;
            o.environment.push_back({"QUORVA_ROOT", root.path()});
            std::vector<std::string> args = {"s", "-d", "-z", "32", "-s", "2", "-j", threads};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const ProgramResult r = testing::runProgram(QUORVA_BINARY, args, o);
            ASSERT_EQ(r.status, 0) << r.output;
            ASSERT_NE(r.output.find("irradiance rays"), std::string::npos) << r.output;
            const std::string counts = r.output.substr(r.output.find("primary rays") - 8);
            std::vector<std::string> contents;
            for (const char* name : files) contents.push_back(testing::readFile(dir.file(name)));
            if (reference.empty()) {
                reference = contents;
                counters = counts;
                for (const std::string& c : contents) EXPECT_GT(c.size(), 100u);
                continue;
            }
            for (std::size_t i = 0; i < contents.size(); ++i)
                EXPECT_TRUE(contents[i] == reference[i]) << files[i] << " with -j " << threads;
            EXPECT_EQ(counts, counters) << "-j " << threads;
        }
    }
}

}  // namespace
}  // namespace quorva
