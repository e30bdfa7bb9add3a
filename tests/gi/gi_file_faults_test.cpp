// The cache and photon map files under faults: a cut file, a write beyond the file-size limit, a run
// killed while it writes. Nothing a later run trusts is left half-written under a final name, and a
// damaged file is never used in silence.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/run_program.h"

namespace quorva {
namespace {

const char* CacheScene = R"(Version : 1.3
Camera [ (0, 1, -4), (0, 1, 0), (0, 1, 0) Format (16, 12) ]
Options [ IrradianceSamples 12 IrradianceBounceLevel 1 ]
ComputeIrradiance 4
PointLight [ (1, 2, -2) ]
Declare wall = Shader [ PlainSurface [ Color '0.8, 0.7, 0.6' Ka 0.05 Kd 0.8 ] ]
Shape [ Box ((-3, -0.1, -3), (3, 0, 3)) wall ]
Shape [ Box ((-3, 0, 2), (3, 3, 2.1)) wall ]
Shape [ Sphere ((0, 0.6, 0), 0.6) wall ]
)";

const char* PhotonScene = R"(Version : 1.3
Camera [ (0, 5, -8), (0, 0.8, 0), (0, 1, 0) Format (16, 12) FieldOfView 45 ]
Photons (30, 200000, 50)
Options [ IrradianceSamples 6 ]
ComputeIrradiance 1
PointLight [ (0, 8, 1) Intensity '1, 1, 1' ]
Shape [ Sphere ((0, 1.2, 0), 1) Caustics 1
    Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0 Kt (1, 1.5) ] ] ]
Shape [ Disk ((0, 0, 0), (0, 1, 0), 8) Shader [ PlainSurface [ Color '0.9, 0.9, 0.9' Ka 0.05 Kd 0.8 ] ] ]
)";

struct GiRun {
    testing::TemporaryFolder dir;
    testing::ProgramOptions options;
    GiRun() {
        options.workingDirectory = dir.path();
        options.timeoutSeconds = 120;
        options.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    }
    testing::ProgramResult quorva(const std::vector<std::string>& args) {
        return testing::runProgram(QUORVA_BINARY, args, options);
    }
    // The run under a shell with a file-size limit of `blocks` (SIGXFSZ is ignored by the renderer).
    testing::ProgramResult limited(int blocks, const std::string& args) {
        return testing::runProgram(
            "/bin/sh",
            {"-c", "ulimit -f " + std::to_string(blocks) + "; exec '" + QUORVA_BINARY + "' " + args},
            options);
    }
};

// The number of whole records in a .qic (items of 1 + 82, 9 and 1 bytes) and whether it ends inside one.
struct QicShape {
    int records = 0;
    bool cut = false;
};
QicShape shapeOf(const std::string& bytes) {
    QicShape s;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto tag = static_cast<unsigned char>(bytes[at]);
        const std::size_t size = tag == 254 ? 83 : tag == 253 ? 9 : 1;
        if (at + size > bytes.size()) {
            s.cut = true;
            break;
        }
        if (tag == 254) ++s.records;
        at += size;
    }
    return s;
}

// Whole: as long as its header's photon counts say.
bool wholePhotonFile(const std::string& bytes) {
    if (bytes.size() < 36) return false;
    long long total = 0;
    for (int m = 0; m < 3; ++m) {
        std::int32_t count;
        std::memcpy(&count, bytes.data() + 12 * m, 4);
        total += count;
    }
    return bytes.size() == 36 + 32 * static_cast<std::size_t>(total);
}

TEST(GiFileFaults, CutCacheLoadsItsCompleteRecordsWithAWarning) {
    GiRun run;
    run.dir.write("box.qsb", CacheScene);
    ASSERT_EQ(run.quorva({"box", "-s", "2"}).status, 0);
    const std::string saved = testing::readFile(run.dir.file("box.qic"));
    QicShape whole = shapeOf(saved);
    ASSERT_FALSE(whole.cut);
    ASSERT_GT(whole.records, 3);
    // Cut inside the third record.
    std::size_t at = 0;
    for (int seen = 0; at < saved.size();) {
        const auto tag = static_cast<unsigned char>(saved[at]);
        if (tag == 254 && ++seen == 3) break;
        at += tag == 254 ? 83 : tag == 253 ? 9 : 1;
    }
    run.dir.write("box.qic", saved.substr(0, at + 40));
    std::filesystem::remove(run.dir.file("box.tga"));
    testing::ProgramResult r = run.quorva({"box", "-l", "2"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("WARNING"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("box.qic ends inside an item: 2 complete records read, the last one dropped"),
              std::string::npos)
        << r.output;
}

TEST(GiFileFaults, CutPhotonFileStopsTheRun) {
    GiRun run;
    run.dir.write("glass.qsb", PhotonScene);
    ASSERT_EQ(run.quorva({"glass", "-s", "1"}).status, 0);
    const std::string map = testing::readFile(run.dir.file("glass.qpm"));
    ASSERT_TRUE(wholePhotonFile(map));
    run.dir.write("glass.qpm", map.substr(0, map.size() - 10));
    std::filesystem::remove(run.dir.file("glass.tga"));
    testing::ProgramResult r = run.quorva({"glass", "-l", "1"});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Could not load photon maps file \"glass.qpm\": the file is shorter than its "
                            "photon counts say"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Rendering:"), std::string::npos) << r.output;
    // The scene's own LoadPhotonMap stops the same way.
    run.dir.write("glass.qsb", std::string(PhotonScene) + "Options [ LoadPhotonMap ]\n");
    EXPECT_EQ(run.quorva({"glass"}).status, 1);
}

// Bit 0 wins in a sum of -s or -l values: 3 touches the photon map only, and says so.
TEST(GiFileFaults, SumAskingForBothFilesWarns) {
    GiRun run;
    run.dir.write("box.qsb", CacheScene);
    testing::ProgramResult r = run.quorva({"box", "-s", "1", "-s", "2", "-l", "3"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Option -s 3 saves the photon map only, not the irradiance cache"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Option -l 3 loads the photon map only, not the irradiance cache"),
              std::string::npos);
    EXPECT_FALSE(testing::fileExists(run.dir.file("box.qic")));
}

TEST(GiFileFaults, CacheWriteBeyondTheFileSizeLimitFails) {
    GiRun run;
    run.dir.write("box.qsb", CacheScene);
    // 2 blocks: 1 or 2 KB, well below the records of this scene and above its 16 x 12 image.
    testing::ProgramResult r = run.limited(2, "box -s 2");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("Failed to write irradiance cache file box.qic"), std::string::npos) << r.output;
    const QicShape left = shapeOf(testing::readFile(run.dir.file("box.qic")));
    EXPECT_GT(left.records, 0);
}

TEST(GiFileFaults, PhotonWriteBeyondTheFileSizeLimitLeavesNoFile) {
    GiRun run;
    run.dir.write("glass.qsb", PhotonScene);
    testing::ProgramResult r = run.limited(2, "glass -s 1");
    EXPECT_NE(r.output.find("Could not save photon maps"), std::string::npos) << r.output;
    EXPECT_FALSE(testing::fileExists(run.dir.file("glass.qpm")));
}

// A run killed (SIGKILL) while it writes each kind of file: what is left under the final name is whole
// (a cache of complete records; a photon file as long as its counts say) or absent.
TEST(GiFileFaults, KilledWhileWritingLeavesWholeFilesOrNone) {
    GiRun run;
    run.dir.write("box.qsb", CacheScene);
    run.dir.write("glass.qsb", PhotonScene);
    run.options.interruptSignal = SIGKILL;
    for (const char* when :
         {"Computing primary global illumination grid", "Initializing rendering pipeline"}) {
        run.options.interruptWhenOutputContains = when;
        std::filesystem::remove(run.dir.file("box.qic"));
        run.quorva({"box", "-s", "2"});
        const std::string bytes = testing::readFile(run.dir.file("box.qic"));
        EXPECT_FALSE(shapeOf(bytes).cut) << when << ": " << bytes.size() << " bytes";
    }
    run.options.interruptWhenOutputContains = "Saving Photon maps...";
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::filesystem::remove(run.dir.file("glass.qpm"));
        testing::ProgramResult r = run.quorva({"glass", "-s", "1"});
        EXPECT_NE(r.status, 0);
        const std::string path = run.dir.file("glass.qpm");
        if (testing::fileExists(path)) {
            EXPECT_TRUE(wholePhotonFile(testing::readFile(path))) << attempt;
        }
    }
}

}  // namespace
}  // namespace quorva
