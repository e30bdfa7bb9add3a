// The preview modes run end to end: what the coloured outlines take from the shaders.
#include <gtest/gtest.h>

#include <cstdio>

#include "image/image_readers.h"
#include "image/texture_image.h"
#include "support/run_program.h"

namespace quorva {
namespace {

// A red and a green polygon on a blue-grey background, lit from the camera.
const char* TwoPolygons = R"(Version : 1.3
Camera [ (0.3, 0.2, -5), (0, 0, 0), (0, 1, 0) Format (40, 30) FieldOfView 40 ]
Background '0.1, 0.2, 0.3'
PointLight [ (0, 0, -6) Intensity '1, 1, 1' ]
Shape [ Polygon (3, (-1.5, -1, 0), (0, 1.2, 0.5), (-0.2, -0.9, 0)) Shader [ PlainSurface [ Color '1, 0, 0' ] ] ]
Shape [ Polygon (4, (0.2, -0.8, 0), (1.4, -0.8, 0), (1.4, 0.8, 0), (0.2, 0.8, 0))
    Shader [ PlainSurface [ Color '0, 1, 0' ] ] ]
)";

TEST(PreviewModesRun, ColouredOutlinesTakeTheShadersColourOnTheBackground) {
    testing::TemporaryFolder out;
    std::string scene = out.write("scene.qsb", TwoPolygons);
    scene = scene.substr(0, scene.size() - 4);
    testing::ProgramOptions o;
    o.workingDirectory = out.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    testing::ProgramResult r =
        testing::runProgram(QUORVA_BINARY, {scene, "-h", "2", "-o", out.file("h2")}, o);
    ASSERT_EQ(r.status, 0) << r.output;
    std::FILE* file = std::fopen(out.file("h2.tga").c_str(), "rb");
    ASSERT_TRUE(file);
    ImageFile image;
    readTargaImage(file, image);
    std::fclose(file);
    ASSERT_EQ(image.width, 40u);
    // Every pixel is the background, or an outline in its shader's colour (not the lit colour).
    int red = 0, green = 0;
    for (const auto& row : image.rows) {
        for (unsigned x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &row[x * image.bitsPerPixel / 8];
            const int b = p[0], g = p[1], rr = p[2];  // stored blue, green, red
            if (rr == 255 && g == 0 && b == 0)
                ++red;
            else if (rr == 0 && g == 255 && b == 0)
                ++green;
            else
                EXPECT_TRUE(rr == 25 && g == 51 && b == 76) << rr << " " << g << " " << b;
        }
    }
    EXPECT_GT(red, 20);
    EXPECT_GT(green, 20);
}

}  // namespace
}  // namespace quorva
