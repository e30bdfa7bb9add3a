// The frame-buffer window under a private Xvfb, and the runs that use it or go without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "render/opengl_preview.h"
#include "render/preview_shading.h"
#include "render/preview_window.h"
#include "support/run_program.h"
#include "support/virtual_display.h"

// Last: the X headers define macros with common names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quorva {
namespace {

using namespace std::chrono_literals;

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

// The renderer's window among the display's windows (a title starting "quorva", or the one given);
// 0 when there is none.
Window renderingWindow(Display* x, const std::string& title = "") {
    Window root = DefaultRootWindow(x), parent, *children = nullptr, target = 0;
    unsigned count = 0;
    XQueryTree(x, root, &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !target; ++i) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) && name &&
            (title.empty() ? std::string(name).rfind("quorva", 0) == 0 : std::string(name) == title))
            target = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return target;
}

// What the server shows in the renderer's window, read by another client (RGBA, rows bottom-up).
std::vector<std::uint8_t> shownByServer(const std::string& display, int width, int height,
                                        const std::string& title = "") {
    std::vector<std::uint8_t> pixels;
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return pixels;
    if (Window window = renderingWindow(x, title)) {
        XImage* image = XGetImage(x, window, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image) {
            pixels.resize(static_cast<std::size_t>(width) * height * 4);
            for (int y = 0; y < height; ++y) {
                for (int c = 0; c < width; ++c) {
                    const unsigned long p = XGetPixel(image, c, y);
                    std::uint8_t* to = &pixels[(static_cast<std::size_t>(height - 1 - y) * width + c) * 4];
                    to[0] = static_cast<std::uint8_t>((p & image->red_mask) >> 16);
                    to[1] = static_cast<std::uint8_t>((p & image->green_mask) >> 8);
                    to[2] = static_cast<std::uint8_t>(p & image->blue_mask);
                    to[3] = 255;
                }
            }
            XDestroyImage(image);
        }
    }
    XCloseDisplay(x);
    return pixels;
}

TEST(PreviewWindow, ShowsFinishedRowsBottomUpAndRefusesShallowOrMissingDisplays) {
    // The server resets when its last client leaves: the probe must not leave the toolkit a server
    // in the middle of a reset (the toolkit would end the process).
    testing::VirtualDisplay screen(320, 240, 24, true);
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
        // Rows show once they are finished, in any order; the others stay black.
        for (int y = 29; y >= 10; --y) window->rowFinished(y);
        std::vector<std::uint8_t> shown = window->readBack();
        ASSERT_EQ(shown.size(), image.size());
        const std::size_t firstRows = 10 * 40 * 4;  // image rows 20..29 at the buffer's start
        EXPECT_TRUE(std::equal(shown.begin(), shown.end() - firstRows, image.begin()));
        EXPECT_EQ(std::count(shown.end() - firstRows, shown.end(), 0), static_cast<long>(firstRows * 3 / 4));
        for (int y = 0; y < 10; ++y) window->rowFinished(y);
        EXPECT_EQ(window->readBack(), image);
        // The rows redrawn strip by strip are what the window shows.
        EXPECT_EQ(shownByServer(screen.name(), 40, 30), image);
        // At most one redraw per 8 finished rows (read-backs draw everything anyway).
        EXPECT_LE(window->redraws(), 30 / 8 + 2);
        EXPECT_FALSE(window->closed());
    }
    {
        // A window larger than 4096 pixels shows the image's top left part.
        DisplayVariable display(screen.name());
        std::string problem;
        std::unique_ptr<PreviewWindow> window = PreviewWindow::open(4100, 2, problem);
        ASSERT_TRUE(window) << problem;
        for (int x = 0; x < 4100; ++x) window->drawPixel(x, 0, Color{1, 1, 1});
        window->rowFinished(0);
        window->rowFinished(1);
        const std::vector<std::uint8_t> shown = window->readBack();
        const std::size_t top = 4100 * 4;  // image row 0 is the buffer's second row
        EXPECT_EQ(std::count(shown.begin() + top, shown.begin() + top + 4096 * 4, 255), 4096 * 4);
        EXPECT_EQ(std::count(shown.begin() + top + 4096 * 4, shown.end(), 0), 4 * 4);
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

// Sends the renderer's window a key press, or the window manager's request to close it, as another
// client of the display. False while there is no such window.
bool sendToWindow(const std::string& display, bool close) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return false;
    Window root = DefaultRootWindow(x), target = renderingWindow(x);
    if (target) {
        XEvent event{};
        if (close) {
            event.xclient.type = ClientMessage;
            event.xclient.window = target;
            event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        } else {
            event.xkey.type = KeyPress;
            event.xkey.window = target;
            event.xkey.root = root;
            event.xkey.same_screen = True;
            event.xkey.keycode = XKeysymToKeycode(x, XK_q);
        }
        XSendEvent(x, target, False, close ? NoEventMask : KeyPressMask, &event);
    }
    XCloseDisplay(x);
    return target != 0;
}

// Polls the window's key queue for up to five seconds.
int nextWindowKey(PreviewWindow& window) {
    int key = -1;
    for (int i = 0; i < 500 && !window.takeKey(key); ++i) std::this_thread::sleep_for(10ms);
    return key;
}

TEST(PreviewWindow, KeysTypedInTheWindowAndClosingItReachTheRenderer) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    DisplayVariable display(screen.name());
    std::string problem;
    std::unique_ptr<PreviewWindow> window = PreviewWindow::open(40, 30, problem);
    ASSERT_TRUE(window) << problem;
    window->readBack();  // the window exists
    ASSERT_TRUE(sendToWindow(screen.name(), false));
    EXPECT_EQ(nextWindowKey(*window), 'q');
    ASSERT_TRUE(sendToWindow(screen.name(), true));
    EXPECT_EQ(nextWindowKey(*window), 27);  // closing reads as Escape, once
    EXPECT_TRUE(window->closed());
    int key;
    EXPECT_FALSE(window->takeKey(key));
    // Drawing into a closed window is harmless.
    window->rowFinished(0);
    EXPECT_EQ(window->readBack(), std::vector<std::uint8_t>(40 * 30 * 4, 0));
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

// Points are drawn a few pixels wide: three corners cover more than three pixels each.
TEST(PreviewWindow, OpenGlPointsAreVisible) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    DisplayVariable display(screen.name());
    std::string problem;
    std::unique_ptr<OpenGlPreview> preview = OpenGlPreview::open(40, 30, problem);
    ASSERT_TRUE(preview) << problem;
    PreviewView view;
    view.location = {0, 0, -5};
    view.up = {0, 1, 0};
    view.aspect = -40.0 / 30.0;
    view.polygonMode = 1;
    preview->beginFrame(view, {{Vec3{0, 0, -5}, Color{1, 1, 1}, 0}});
    PreviewVertex a, b, c;
    a.point = {-1, -1, 0};
    b.point = {1, -1, 0};
    c.point = {0, 1, 0};
    preview->triangle(a, b, c, AllEdges);
    preview->endFrame();
    const std::vector<std::uint8_t> pixels = preview->lastFrame();
    int lit = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) lit += pixels[i] > 0;
    EXPECT_GE(lit, 3 * 9);
    EXPECT_LT(lit, 3 * 25);
}

// A sphere lit from the left (-x, as the ray tracer shows it).
const char* LitFromTheLeft = R"(Version : 1.3
Camera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (40, 30) FieldOfView 40 ]
Background '0, 0, 0'
PointLight [ (-10, 0, -2) Intensity '1, 1, 1' ]
Shape [ Sphere ((0, 0, 0), 1.2) Shader [ PlainSurface [ Color '1, 1, 1' ] ] ]
)";

// Sends a key press and release through the X test extension to the window, given the focus.
bool pressKey(const std::string& display, const std::string& title) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return false;
    const Window target = renderingWindow(x, title);
    if (target) {
        XSetInputFocus(x, target, RevertToPointerRoot, CurrentTime);
        const KeyCode key = XKeysymToKeycode(x, XK_space);
        XTestFakeKeyEvent(x, key, True, 0);
        XTestFakeKeyEvent(x, key, False, 0);
        XSync(x, False);
    }
    XCloseDisplay(x);
    return target != 0;
}

bool mapped(const std::string& display, const std::string& title) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return false;
    XWindowAttributes a{};
    const Window target = renderingWindow(x, title);
    const bool viewable = target && XGetWindowAttributes(x, target, &a) && a.map_state == IsViewable;
    XCloseDisplay(x);
    return viewable;
}

// Where QUORVA_WINDOW_WAIT asks for it, a finished window stays on the screen, titled "done", until a
// key typed in it; the OpenGL preview shows the lit side where the ray tracer does.
TEST(PreviewWindowRun, FinishedWindowsStayOpenUntilAKey) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    for (const char* mode : {"-f", "-O"}) {
        testing::TemporaryFolder out;
        std::vector<std::string> args = mode[1] == 'f' ? std::vector<std::string>{"-f"}
                                                       : std::vector<std::string>{"-O", "3"};
        std::string base = out.write("scene.qsb", LitFromTheLeft);
        base.resize(base.size() - 4);
        args.insert(args.begin(), base);
        testing::ProgramOptions o;
        o.workingDirectory = out.path();
        o.environment = {{"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"},
                         {"DISPLAY", screen.name()},
                         {"QUORVA_WINDOW_WAIT", "40"}};
        o.timeoutSeconds = 60;
        auto run = std::async(std::launch::async, [&] { return testing::runProgram(QUORVA_BINARY, args, o); });
        const std::string done = "quorva - scene.qsb - done";
        bool shown = false;
        for (int i = 0; i < 1000 && !shown; ++i) {
            shown = mapped(screen.name(), done);
            if (!shown) std::this_thread::sleep_for(20ms);
        }
        ASSERT_TRUE(shown) << mode;
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(mapped(screen.name(), done)) << mode;
        EXPECT_EQ(run.wait_for(0ms), std::future_status::timeout) << mode;
        if (mode[1] == 'O') {
            const std::vector<std::uint8_t> pixels = shownByServer(screen.name(), 40, 30, done);
            ASSERT_EQ(pixels.size(), 40u * 30 * 4);
            long left = 0, right = 0;
            for (int y = 10; y < 20; ++y)
                for (int x = 0; x < 40; ++x) (x < 20 ? left : right) += pixels[(y * 40 + x) * 4];
            EXPECT_GT(left, 2 * right) << left << " " << right;
        }
        EXPECT_TRUE(pressKey(screen.name(), done));
        ASSERT_EQ(run.wait_for(15s), std::future_status::ready) << mode;
        const testing::ProgramResult r = run.get();
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(mode[1] == 'f' ? "\nRendering completed. Press a key or close the window.\n"
                                               : "\nOpenGL rendering completed. Press a key or close the window.\n"),
                  std::string::npos)
            << r.output;
    }
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

// Frames shown in the window render on every thread, with the image and counters of one thread.
TEST(PreviewWindowRun, ShownFramesEqualBatchFramesForAnyThreadCount) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    testing::TemporaryFolder out;
    for (const char* sampling : {"-a", "-u"}) {
        // 0xA3 keeps the completion text back, so that the counters end the output.
        std::vector<std::string> common{
            "-r", "64", "48", "-d", "-\xA3", sampling, sampling[1] == 'a' ? "2" : "7"};
        auto args = [&](std::vector<std::string> more) {
            more.insert(more.end(), common.begin(), common.end());
            return more;
        };
        testing::ProgramResult batch =
            runScene(out, args({"-o", out.file("batch"), "-j", "1"}), screen.name());
        ASSERT_EQ(batch.status, 0) << batch.output;
        const std::string counters = batch.output.substr(batch.output.find("primary rays") - 8);
        for (const char* threads : {"1", "2", "3"}) {
            const std::string name = std::string("shown") + threads;
            testing::ProgramResult r =
                runScene(out, args({"-f", "-o", out.file(name), "-j", threads}), screen.name());
            ASSERT_EQ(r.status, 0) << r.output;
            EXPECT_EQ(r.output.find("No display window"), std::string::npos) << r.output;
            EXPECT_EQ(testing::readFile(out.file(name + ".tga")), testing::readFile(out.file("batch.tga")))
                << sampling << " -j " << threads;
            EXPECT_EQ(r.output.substr(r.output.find("primary rays") - 8), counters)
                << sampling << " -j " << threads;
        }
    }
}

// Closing the window stops every thread, as Escape does.
TEST(PreviewWindowRun, ClosingTheWindowStopsTheRender) {
    testing::VirtualDisplay screen(320, 240, 24);
    ASSERT_TRUE(screen.running()) << screen.error();
    testing::TemporaryFolder out;
    std::atomic<bool> sent{false};
    std::thread closer([&] {
        for (int i = 0; i < 2000 && !sent; ++i) {
            if (sendToWindow(screen.name(), true))
                sent = true;
            else
                std::this_thread::sleep_for(5ms);
        }
    });
    testing::ProgramResult r = runScene(
        out, {"-f", "-j", "2", "-a", "4", "-r", "2000", "1500", "-o", out.file("closed")}, screen.name());
    closer.join();
    ASSERT_TRUE(sent);
    EXPECT_NE(r.output.find("Stopped at row"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Rendering: 100%"), std::string::npos) << r.output;
}

TEST(PreviewWindowRun, WithoutADisplayTheImageIsWrittenAfterAll) {
    testing::TemporaryFolder out;
    for (const char* option : {"-n", "-f"}) {
        const std::string name = std::string("kept") + option;
        testing::ProgramResult r = runScene(out, {option, "-o", out.file(name)}, ":4095");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("No display window available: rendering in batch mode"), std::string::npos);
        EXPECT_EQ(r.output.find("Rendering completed."), std::string::npos) << r.output;
        EXPECT_TRUE(testing::fileExists(out.file(name + ".tga"))) << option;
    }
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
