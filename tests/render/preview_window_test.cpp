// The frame-buffer window under a private Xvfb, and the runs that use it or go without it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "render/opengl_preview.h"
#include "render/preview_shading.h"
#include "render/preview_window.h"
#include "support/run_program.h"
#include "support/virtual_display.h"

namespace quorva {
namespace {

// Sets DISPLAY for the scope of a test.
class DisplayVariable {
  public:
    explicit DisplayVariable(const std::string& value) {
        const char* old = std::getenv("DISPLAY");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("DISPLAY", value.c_str(), 1);
    }
    ~DisplayVariable() {
        if (had_)
            setenv("DISPLAY", old_.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

  private:
    bool had_ = false;
    std::string old_;
};

const char* SceneText = R"(Version : 1.3
Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (40, 30) FieldOfView 40 ]
Background '0.1, 0.2, 0.3'
PointLight [ (-4, 7, -6) Intensity '1, 1, 1' ]
Shape [ Sphere ((-0.6, 0, 0), 0.8) Shader [ PlainSurface [ Color '1, 1, 1' Ka 1 Kd 0 ] ] ]
Shape [ Polygon (4, (0.2, -0.8, 0), (1.4, -0.8, 0), (1.4, 0.8, 0), (0.2, 0.8, 0))
    Shader [ PlainSurface [ Color '1, 1, 1' Ka 1 Kd 0 ] ] ]
)";

// Flat shapes only: their triangles are exact, so the scanline silhouette matches the traced one.
const char* FlatSceneText = R"(Version : 1.3
Camera [ (0.3, 0.2, -5), (0, 0, 0), (0, 1, 0) Format (40, 30) FieldOfView 40 ]
Background '0.1, 0.2, 0.3'
Shape [ Polygon (3, (-1.5, -1, 0), (0, 1.2, 0.5), (-0.2, -0.9, 0)) Shader [ PlainSurface [ Color '1, 1, 1' Ka 1 Kd 0 ] ] ]
Shape [ Polygon (4, (0.2, -0.8, 0), (1.4, -0.8, 0), (1.4, 0.8, 0), (0.2, 0.8, 0))
    Shader [ PlainSurface [ Color '1, 1, 1' Ka 1 Kd 0 ] ] ]
)";

testing::ProgramResult runScene(const testing::TemporaryFolder& out, std::vector<std::string> args,
                                const std::string& display, const char* text = SceneText) {
    std::string base = out.write("scene.qsb", text);
    base = base.substr(0, base.size() - 4);
    testing::ProgramOptions o;
    o.workingDirectory = out.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    o.environment.push_back({"DISPLAY", display});
    o.timeoutSeconds = 60;
    args.insert(args.begin(), base);
    return testing::runProgram(QUORVA_BINARY, args, o);
}

TEST(PreviewWindow, ShowsTheImageBottomUpAndRefusesShallowOrMissingDisplays) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    {
        DisplayVariable display(screen.name());
        std::string problem;
        std::unique_ptr<PreviewWindow> window = PreviewWindow::open(40, 30, problem);
        ASSERT_TRUE(window) << problem;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) window->drawPixel(x, y, Color{x / 40.0, y / 30.0, 2.0});
        window->drawPixel(-1, 0, Color{1, 1, 1});  // ignored
        window->drawPixel(40, 29, Color{1, 1, 1});
        // Image row 0 is the window's top row (the last row of the bottom-up buffer).
        const std::vector<std::uint8_t>& image = window->pixels();
        EXPECT_EQ(image[(29 * 40 + 5) * 4 + 0], static_cast<std::uint8_t>(5 / 40.0 * 255));
        EXPECT_EQ(image[(29 * 40 + 5) * 4 + 1], 0);
        EXPECT_EQ(image[(29 * 40 + 5) * 4 + 2], 255);
        EXPECT_EQ(window->readBack(), image);
        EXPECT_FALSE(window->closed());
    }
    testing::VirtualDisplay shallow(320, 240, 16);
    ASSERT_TRUE(shallow.running()) << shallow.error();
    {
        DisplayVariable display(shallow.name());
        std::string problem;
        EXPECT_FALSE(PreviewWindow::open(40, 30, problem));
        EXPECT_EQ(problem, "Please change to 24 or 32 bit color depth");
    }
    {
        DisplayVariable display(":4095");
        std::string problem = "x";
        EXPECT_FALSE(PreviewWindow::open(40, 30, problem));
        EXPECT_EQ(problem, "");
    }
}

TEST(PreviewWindow, OpenGlPreviewIsNotMirroredAgainstTheRayTracer) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    DisplayVariable display(screen.name());
    std::string problem;
    std::unique_ptr<OpenGlPreview> preview = OpenGlPreview::open(40, 30, problem);
    ASSERT_TRUE(preview) << problem;
    PreviewView view;
    view.location = {0, 0, -5};
    view.up = {0, 1, 0};
    view.fieldOfView = 40;
    view.aspect = -40.0 / 30.0;
    // Every vertex takes its colour from the shading: red here.
    struct RedShading final : PreviewShading {
        Color vertexColour(const PreviewSurface&, const PreviewVertex&) override { return {1, 0, 0}; }
        void shadePixel(const PreviewSurface&, int, int, const PreviewVertex&) override {}
    } red;
    preview->setShading(&red);
    preview->beginFrame(view, {{Vec3{0, 0, -5}, Color{1, 1, 1}, 0}});
    // The ray tracer shows +x on the right (right = up x view) and +y at the top.
    PreviewVertex a, b, c;
    a.point = {0.3, 0.3, 0};
    b.point = {1.2, 0.3, 0};
    c.point = {0.3, 1.2, 0};
    preview->triangle(a, b, c, AllEdges);
    preview->endFrame();
    std::vector<std::uint8_t> pixels = preview->lastFrame();
    int right = 0, left = 0, top = 0, bottom = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            if (!pixels[(y * 40 + x) * 4]) continue;
            EXPECT_EQ(pixels[(y * 40 + x) * 4 + 1], 0);  // no green in a red surface
            (x >= 20 ? right : left)++;
            (y >= 15 ? top : bottom)++;  // rows bottom-up
        }
    }
    EXPECT_GT(right, 10);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(bottom, 0);
}

TEST(PreviewWindowRun, FrameBufferRunsEndByThemselves) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    testing::TemporaryFolder out;
    testing::ProgramResult r = runScene(out, {"-f", "-o", out.file("shown")}, screen.name());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Rendering completed."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("No display window"), std::string::npos) << r.output;
    testing::ProgramResult batch = runScene(out, {"-o", out.file("batch")}, screen.name());
    EXPECT_EQ(testing::readFile(out.file("shown.tga")), testing::readFile(out.file("batch.tga")));

    r = runScene(out, {"-O", "3"}, screen.name());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("OpenGL rendering completed."), std::string::npos) << r.output;

    // The hidden option keeps the completion text back.
    r = runScene(out, {"-n", "-\xA3"}, screen.name());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("Rendering completed."), std::string::npos) << r.output;
}

TEST(PreviewWindowRun, WithoutADisplayTheImageIsWrittenAfterAll) {
    testing::TemporaryFolder out;
    testing::ProgramResult r = runScene(out, {"-n", "-o", out.file("kept")}, ":4095");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("No display window available: rendering in batch mode"), std::string::npos);
    EXPECT_TRUE(testing::fileExists(out.file("kept.tga")));
}

TEST(PreviewRun, ScanlineOfAmbientWhiteShapesEqualsTheRayTracedImage) {
    testing::TemporaryFolder out;
    testing::ProgramResult traced = runScene(out, {"-o", out.file("traced")}, ":4095", FlatSceneText);
    testing::ProgramResult scan = runScene(out, {"-h", "3", "-o", out.file("scan")}, ":4095", FlatSceneText);
    ASSERT_EQ(traced.status, 0) << traced.output;
    ASSERT_EQ(scan.status, 0) << scan.output;
    std::string a = testing::readFile(out.file("traced.tga")), b = testing::readFile(out.file("scan.tga"));
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (std::size_t i = 18; i < a.size(); ++i) differing += a[i] != b[i];
    EXPECT_EQ(differing, 0);
}

TEST(PreviewRun, WireframeExampleRendersInTheOutlineAndScanlineModes) {
    testing::TemporaryFolder out;
    testing::ProgramOptions o;
    o.workingDirectory = out.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    std::string scene = std::string(QUORVA_SOURCE_DIR) + "/examples/preview/wireframe";
    for (const char* mode : {"1", "3"}) {
        std::string image = out.file(std::string("h") + mode);
        testing::ProgramResult r =
            testing::runProgram(QUORVA_BINARY, {scene, "-h", mode, "-o", image, "-m"}, o);
        EXPECT_EQ(r.status, 0) << mode << "\n" << r.output;
        std::string tga = testing::readFile(image + ".tga");
        ASSERT_GT(tga.size(), 18u);
        // Run-length packets of 24-bit pixels after the header and image ID: count the lit pixels.
        std::size_t at = 18 + static_cast<unsigned char>(tga[0]), pixels = 0, lit = 0;
        while (at < tga.size() && pixels < 160u * 120u) {
            unsigned char packet = static_cast<unsigned char>(tga[at++]);
            std::size_t count = (packet & 0x7f) + 1u, raw = packet & 0x80 ? 1 : count;
            for (std::size_t i = 0; i < raw && at + 3 <= tga.size(); ++i, at += 3) {
                bool on = tga[at] || tga[at + 1] || tga[at + 2];
                lit += on ? (packet & 0x80 ? count : 1) : 0;
            }
            pixels += count;
        }
        EXPECT_EQ(pixels, 160u * 120u) << mode;
        EXPECT_GT(lit, 300u) << mode;
        if (mode[0] == '1') {
            EXPECT_LT(lit, 160u * 120u / 4) << mode;  // outlines on black
        }
    }
}

}  // namespace
}  // namespace quorva
