// A mesh declared once and placed a hundred times costs the renderer about what one placement does:
// the peak memory of the child processes, measured.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "formats/writer/qsb_writer.h"
#include "support/run_program.h"

namespace quorva {
namespace {

// The largest peak of the children waited for so far, in kilobytes.
long childrenPeak() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

TEST(MeshPlacementMemory, HundredPlacementsCostLittleMoreThanOne) {
    testing::TemporaryFolder dir;
    testing::TemporaryFolder root;
    root.write("include/empty.txt", "");
    // A smooth grid of 2 x 150 x 150 triangles, declared and not placed by its file.
    qsb::QsbWriter w;
    ASSERT_EQ(w.OpenMeshFile(dir.file("grid.msh")), qsb::WriteStatus::Written);
    ASSERT_EQ(w.BeginMeshDeclaration("grid"), qsb::WriteStatus::Written);
    constexpr int Cells = 150;
    for (int i = 0; i < Cells; ++i)
        for (int j = 0; j < Cells; ++j) {
            auto corner = [&](float* out, int u, int v) {
                const float c[6] = {u / float(Cells), 0.02f * float((u * 7 + v * 3) % 5), v / float(Cells), 0, 1, 0};
                for (int k = 0; k < 6; ++k) out[k] = c[k];
            };
            float t[18];
            corner(t, i, j), corner(t + 6, i + 1, j), corner(t + 12, i + 1, j + 1);
            ASSERT_EQ(w.WriteMeshTriangle(t), qsb::WriteStatus::Written);
            corner(t, i, j), corner(t + 6, i + 1, j + 1), corner(t + 12, i, j + 1);
            ASSERT_EQ(w.WriteMeshTriangle(t), qsb::WriteStatus::Written);
        }
    ASSERT_EQ(w.EndMeshDeclaration(), qsb::WriteStatus::Written);
    ASSERT_EQ(w.CloseMeshFile(), qsb::WriteStatus::Written);

    auto scene = [&](int placements) {
        std::string text =
            "Version : 1.3\n"
            "Camera [ (0, 30, -30), (0, 0, 0), (0, 1, 0) Format (32, 24) ]\n"
            "PointLight [ (0, 20, -10) Intensity '1, 1, 1' ]\n";
        if (placements > 0) text += "ReadMeshFile \"grid.msh\"\n";
        for (int k = 0; k < placements; ++k)
            text += "grid [ Translate (" + std::to_string(k % 10 - 5) + ", 0, " + std::to_string(k / 10 - 5) + ") ]\n";
        return text;
    };
    testing::ProgramOptions options;
    options.workingDirectory = dir.path();
    options.environment.push_back({"QUORVA_ROOT", root.path()});
    auto peakOf = [&](int placements) {
        dir.write("s.qsb", scene(placements));
        std::remove(dir.file("s.tga").c_str());
        const testing::ProgramResult r = testing::runProgram(QUORVA_BINARY, {"s", "-j", "1"}, options);
        EXPECT_EQ(r.status, 0) << r.output;
        return childrenPeak();
    };
    // In rising order, since the measure is the largest child's peak so far.
    const long none = peakOf(0), one = peakOf(1), hundred = peakOf(100);
    const long mesh = one - none;
    EXPECT_GT(mesh, 2000) << "the mesh of 45,000 triangles should show in the peak";
    // A placement that copied its triangles' records would add the mesh's size again each time.
    EXPECT_LT(hundred - one, mesh / 4) << "one placement " << one << " KB, a hundred " << hundred << " KB";
}

}  // namespace
}  // namespace quorva
