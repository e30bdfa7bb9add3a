// The light a caustics target lets through is carried by its photons alone: the floor under a clear
// slab marked for caustics is about as bright as the floor beside it, not lit twice (once through the
// slab by the shadow ray, once by the photons).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image/image_readers.h"
#include "image/texture_image.h"
#include "support/run_program.h"

namespace quorva {
namespace {

// Mean red level of the pixels in columns x0..x1, rows y0..y1.
double meanRed(const ImageFile& image, unsigned x0, unsigned x1, unsigned y0, unsigned y1) {
    double sum = 0;
    int n = 0;
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned x = x0; x <= x1; ++x) {
            sum += image.rows[y][x * image.bitsPerPixel / 8 + 2];
            ++n;
        }
    return sum / n;
}

TEST(CausticsShadow, FloorUnderAClearSlabIsAsBrightAsBesideIt) {
    // A pane seen from straight above; the light stands over the middle, the pane covers the left half of the
    // view, so the floor at x and at -x gets the same direct light.
    const std::string scene =
        "Version : 1.3\n"
        "Camera [ (0, 10, 0), (0, 0, 0), (0, 0, 1) Format (80, 40) FieldOfView 50 ]\n"
        "Background '0, 0, 0'\n"
        "Photons (80, 60000, 50)\n"
        "ComputeIrradiance 1\n"
        "PointLight [ (0, 8, 0) Intensity '0.6, 0.6, 0.6' ]\n"
        "Shape [ Box ((-4, 1, -2), (-0.3, 1.05, 2)) Caustics 1 Shader [ PlainSurface [ Color '1, 1, 1' "
        "Ka 0 Kd 0 Kr 0 Kt (1, 1.5) ] ] ]\n"
        "Shape [ Disk ((0, 0, 0), (0, 1, 0), 20) Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0.8 ] ] ]\n";
    testing::TemporaryFolder dir;
    dir.write("s.qsb", scene);
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 240;
    o.environment.push_back({"QUORVA_ROOT", dir.path()});
    const testing::ProgramResult r = testing::runProgram(QUORVA_BINARY, {"s"}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    std::FILE* file = std::fopen(dir.file("s.tga").c_str(), "rb");
    ASSERT_TRUE(file);
    ImageFile image;
    readTargaImage(file, image);
    std::fclose(file);
    ASSERT_EQ(image.width, 80u);
    // Mirror-image patches left and right of the middle, away from the slab's edges.
    const double under = meanRed(image, 14, 26, 14, 25);
    const double beside = meanRed(image, 53, 65, 14, 25);
    EXPECT_GT(beside, 40);
    EXPECT_NEAR(under / beside, 1.0, 0.1) << under << " " << beside;
}

}  // namespace
}  // namespace quorva
