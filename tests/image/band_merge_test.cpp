// Band part images rendered by separate runs (-y) and assembled by mergeBandParts: the merged image is
// the one full render writes, byte for byte; a missing, short or damaged band is a fatal error naming
// the band, and neither the parts nor an older image are touched then.
#include "image/band_merge.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::TemporaryFolder;

// 40 x 30 pixels, adaptive anti-aliasing and a Gaussian pixel filter that reads two rows around each.
const char* const Scene =
    "Version : 1.3\n"
    "Camera [ (0, 1.5, -4), (0, 1, 2), (0, 1, 0) Format (40, 30) FieldOfView 45 Antialiasing 4 "
    "PixelFilter (4, 2, 2) ]\n"
    "Background '0.25, 0.35, 0.55'\n"
    "PointLight [ (6, 9, -8) Intensity '1, 1, 1' ]\n"
    "Shape [ Sphere ((0, 1, 1), 1) Shader [ PlainSurface [ Color '0.9, 0.2, 0.15' Kd 0.8 ] ] ]\n"
    "Shape [ Cylinder ((-1.8, 0, 3), (-2.4, 3, 3.5), 0.02) ]\n"
    "Shape [ Box ((-20, -0.1, -20), (20, 0, 40)) ]\n";

class BandMerge : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("s.qsb", Scene);
        render({"-o", "full"});
        // Rows 0-9, 10-23 and 24-29: -y takes the first row and the row after the last.
        render({"-y", "0", "10", "-o", "band0"});
        render({"-y", "10", "24", "-o", "band1"});
        render({"-y", "24", "30", "-o", "band2"});
    }
    void render(std::vector<std::string> args) {
        args.insert(args.begin(), "s");
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        ASSERT_EQ(testing::runProgram(QUORVA_BINARY, args, o).status, 0);
    }
    std::vector<BandPart> bands() const {
        return {
            {dir.file("band0.tga"), 0, 9}, {dir.file("band1.tga"), 10, 23}, {dir.file("band2.tga"), 24, 29}};
    }
    // The fatal message of a merge into out.tga, which must fail.
    std::string failure(const std::vector<BandPart>& parts) {
        try {
            mergeBandParts(parts, dir.file("out.tga"));
        } catch (const FatalError& e) {
            return e.what();
        }
        ADD_FAILURE() << "the merge succeeded";
        return "";
    }
    TemporaryFolder dir, root;
};

TEST_F(BandMerge, BandsGiveTheImageOfOneFullRender) {
    const std::string full = testing::readFile(dir.file("full.tga"));
    mergeBandParts(bands(), dir.file("out.tga"));
    EXPECT_EQ(testing::readFile(dir.file("out.tga")), full);
    // A finished image serves as the part of any band; the output is replaced whole.
    mergeBandParts({{dir.file("band0.tga"), 0, 9}, {dir.file("full.tga"), 10, 29}}, dir.file("out.tga"));
    EXPECT_EQ(testing::readFile(dir.file("out.tga")), full);
}

TEST_F(BandMerge, MissingRowsNameTheBandAndKeepEverything) {
    dir.write("out.tga", "older image");
    const std::string band1 = testing::readFile(dir.file("band1.tga"));
    std::vector<BandPart> parts = bands();

    parts[1].path = dir.file("gone.tga");
    EXPECT_EQ(failure(parts), "Band 1 (rows 10 to 23): " + dir.file("gone.tga") + " is missing");
    // A band whose part did not draw all of its rows (here one beyond the rendered range).
    parts = bands();
    parts[1].lastRow = 24;
    parts[2].firstRow = 25;
    EXPECT_EQ(failure(parts), "Band 1 (rows 10 to 24): " + dir.file("band1.tga") + " does not hold row 24");
    parts = bands();
    parts[1].firstRow = 12;
    EXPECT_EQ(failure(parts), "Rows 10 to 11 are in no band");
    parts = bands();
    parts.pop_back();
    EXPECT_EQ(failure(parts), "Rows 24 to 29 are in no band");
    // A part that lost its drawn-pixel table with the end of the file, and a finished image cut short.
    dir.write("short.tga", band1.substr(0, band1.size() / 2));
    parts = bands();
    parts[1].path = dir.file("short.tga");
    EXPECT_EQ(failure(parts), "Band 1 (rows 10 to 23): " + dir.file("short.tga") +
                                  " has no drawn-pixel table: row 10 is not drawn");
    const std::string full = testing::readFile(dir.file("full.tga"));
    dir.write("short.tga", full.substr(0, full.size() / 2));
    parts = bands();
    parts[1].path = dir.file("short.tga");
    EXPECT_EQ(failure(parts),
              "Band 1 (rows 10 to 23): " + dir.file("short.tga") + " is damaged or cut short");
    dir.write("foreign.tga", std::string(60, 'x'));
    parts[1].path = dir.file("foreign.tga");
    EXPECT_EQ(failure(parts),
              "Band 1 (rows 10 to 23): " + dir.file("foreign.tga") + " is not an image written by quorva");

    EXPECT_EQ(testing::readFile(dir.file("out.tga")), "older image");
    EXPECT_EQ(testing::readFile(dir.file("band1.tga")), band1);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".merge-"), std::string::npos);
}

}  // namespace
}  // namespace quorva
