// The frame-buffer window on X11 through the GL toolkit, driven from a thread of its own; the display
// probe and the toolkit start of the OpenGL preview.
#include "render/preview_window.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "render/frame_buffers.h"

namespace quorva {
namespace {

// Rows finished between two redraws, at least.
constexpr int RedrawRows = 8;
// The window's events (keys, closing, exposure) are handled at least this often.
constexpr std::chrono::milliseconds EventInterval{10};
// Finished rows are shown at most this often (a screen shows some 50 pictures a second): each redraw
// costs the window system a copy of the window.
constexpr std::chrono::milliseconds RedrawInterval{20};
// The window's largest side: a larger image shows its top left part (the window system keeps a copy of
// the window, and the GL driver buffers of its size).
constexpr int LargestSide = 4096;

// Errors on the window's connection (a server out of memory for the window's buffers) leave the window
// blank instead of ending the process, as the library's own handler does. The connection is the
// toolkit's and is known once the window's context is current; until then, while the window is being
// made, every error is taken as the window's. Errors on other connections go to the handler that was
// there before.
Display* errorDisplay = nullptr;
bool windowErrorsOn = false;
XErrorHandler previousHandler = nullptr;
int windowErrorHandler(Display* display, XErrorEvent* error) {
    if (windowErrorsOn && (!errorDisplay || display == errorDisplay)) return 0;
    return previousHandler ? previousHandler(display, error) : 0;
}

std::uint8_t channel(double v) {
    double t = v * 255.0;
    if (!(t > 0)) return 0;
    return t >= 255 ? 255 : static_cast<std::uint8_t>(t);
}

// The toolkit ends the process when it cannot open the display: the display is probed first. Null when
// there is none, with `problem` set as openWindowSystem says.
Display* probeDisplay(std::string& problem) {
    problem.clear();
    Display* probe = XOpenDisplay(nullptr);
    // A server that resets when its last client leaves refuses connections for a moment while it
    // resets (a run started right after another on the same virtual server): try again briefly.
    const char* name = std::getenv("DISPLAY");
    for (int attempt = 0; !probe && name && *name && attempt < 10; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        probe = XOpenDisplay(nullptr);
    }
    if (!probe) return nullptr;
    if (DefaultDepth(probe, DefaultScreen(probe)) < 24) {
        XCloseDisplay(probe);
        problem = "Please change to 24 or 32 bit color depth";
        return nullptr;
    }
    return probe;
}

// The probe's connection stays open until the toolkit has its own: a server that resets when its last
// client leaves (as a virtual server does by default) would otherwise refuse the toolkit while it
// resets.
void startToolkit(Display* probe) {
    if (!glutGet(GLUT_INIT_STATE)) {
        int argc = 1;
        char name[] = "quorva";
        char* argv[] = {name, nullptr};
        glutInit(&argc, argv);
    }
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    XCloseDisplay(probe);
}

PreviewWindow* windowOfCallback() {
    return static_cast<PreviewWindow*>(glutGetWindowData());
}

}  // namespace

bool openWindowSystem(std::string& problem) {
    Display* probe = probeDisplay(problem);
    if (!probe) return false;
    startToolkit(probe);
    return true;
}

std::unique_ptr<PreviewWindow> PreviewWindow::start() {
    std::unique_ptr<PreviewWindow> window(new PreviewWindow);
    try {
        window->thread_ = std::thread(&PreviewWindow::threadMain, window.get());
    } catch (const std::system_error&) {
        // No thread for the window: render without it, as without a display.
        window->probe_ = Probe::Failed;
    }
    return window;
}

std::unique_ptr<PreviewWindow> PreviewWindow::open(int width, int height, std::string& problem,
                                                   const std::string& title) {
    std::unique_ptr<PreviewWindow> window = start();
    if (!window->started(problem)) return nullptr;
    window->show(width, height, title);
    return window;
}

PreviewWindow::~PreviewWindow() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool PreviewWindow::started(std::string& problem) {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return probe_ != Probe::Pending; });
    problem = problem_;
    return probe_ == Probe::Up;
}

void PreviewWindow::show(int width, int height, const std::string& title) {
    if (width < 1 || height < 1) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (sizeKnown_) return;
    title_ = title;
    width_ = width;
    height_ = height;
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    image_.assign(bytes, 0);
    shown_.assign(bytes, 0);
    sizeKnown_ = true;
    wake_.notify_all();
}

void PreviewWindow::drawPixel(int x, int y, const Color& colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    std::uint8_t* p = &image_[(static_cast<std::size_t>(height_ - 1 - y) * width_ + x) * 4];
    p[0] = channel(colour[0]);
    p[1] = channel(colour[1]);
    p[2] = channel(colour[2]);
    p[3] = 255;
}

void PreviewWindow::rowFinished(int row) {
    if (row < 0 || row >= height_) return;
    const std::size_t at = static_cast<std::size_t>(height_ - 1 - row) * width_ * 4;
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(&shown_[at], &image_[at], static_cast<std::size_t>(width_) * 4);
    dirtyLow_ = dirtyLow_ < 0 ? row : std::min(dirtyLow_, row);
    dirtyHigh_ = std::max(dirtyHigh_, row);
    if (++pendingRows_ == RedrawRows) wake_.notify_all();
}

void PreviewWindow::drawRows(const SBuffer& rows, int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, height_ - 1);
    if (first > last) return;
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
    std::lock_guard<std::mutex> hold(lock_);
    for (int y = first; y <= last; ++y) {
        if (!rows.hasRow(y)) continue;
        const std::uint8_t* src = rows.row(y);
        const std::size_t at = static_cast<std::size_t>(height_ - 1 - y) * rowBytes;
        std::uint8_t* dst = &image_[at];
        for (int x = 0; x < width_; ++x) {
            dst[4 * x] = src[4 * x];
            dst[4 * x + 1] = src[4 * x + 1];
            dst[4 * x + 2] = src[4 * x + 2];
            dst[4 * x + 3] = 255;
        }
        // Only rows that differ from what the window shows are drawn again.
        if (std::memcmp(&shown_[at], dst, rowBytes) == 0) continue;
        std::memcpy(&shown_[at], dst, rowBytes);
        dirtyLow_ = dirtyLow_ < 0 ? y : std::min(dirtyLow_, y);
        dirtyHigh_ = std::max(dirtyHigh_, y);
    }
    flush_ = true;
    wake_.notify_all();
}

void PreviewWindow::setTitle(const std::string& title) {
    std::lock_guard<std::mutex> hold(lock_);
    if (title == title_) return;
    title_ = title;
    titleChanged_ = true;
}

bool PreviewWindow::closed() const {
    std::lock_guard<std::mutex> hold(lock_);
    return closed_;
}

bool PreviewWindow::takeKey(int& key) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!keys_.empty()) {
        key = keys_.front();
        keys_.pop_front();
        return true;
    }
    if (closed_ && !closeReported_) {
        closeReported_ = true;
        key = 27;
        return true;
    }
    return false;
}

long PreviewWindow::redraws() const {
    std::lock_guard<std::mutex> hold(lock_);
    return redraws_;
}

std::vector<std::uint8_t> PreviewWindow::readBack() {
    std::unique_lock<std::mutex> hold(lock_);
    if (!sizeKnown_ || probe_ != Probe::Up) return std::vector<std::uint8_t>(shown_.size(), 0);
    readBackAsked_ = true;
    wake_.notify_all();
    done_.wait(hold, [&] { return !readBackAsked_; });
    return readBack_;
}

// The display thread: probe, toolkit, window, then redraws and events until the window is let go.
void PreviewWindow::threadMain() {
    std::string problem;
    Display* probe = probeDisplay(problem);
    const bool up = probe != nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        probe_ = up ? Probe::Up : Probe::Failed;
        problem_ = problem;
    }
    done_.notify_all();
    if (!up) return;
    startToolkit(probe);
    bool sized;
    {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [&] { return sizeKnown_ || quit_; });
        sized = sizeKnown_;
    }
    if (sized) {
        previousHandler = XSetErrorHandler(windowErrorHandler);
        windowErrorsOn = true;
        createWindow();
        displayLoop();
        closeWindow();
    }
    glutExit();
    if (sized) {
        XSetErrorHandler(previousHandler);
        windowErrorsOn = false;
        errorDisplay = nullptr;
    }
    // A read-back asked while the window went away gets nothing.
    std::lock_guard<std::mutex> hold(lock_);
    if (readBackAsked_) {
        readBack_.assign(shown_.size(), 0);
        readBackAsked_ = false;
        done_.notify_all();
    }
}

void PreviewWindow::createWindow() {
    staging_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 0);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(std::min(width_, LargestSide), std::min(height_, LargestSide));
    std::string title;
    {
        std::lock_guard<std::mutex> hold(lock_);
        title = title_;
        titleChanged_ = false;
    }
    windowId_ = glutCreateWindow(title.c_str());
    windowOpen_ = true;
    errorDisplay = glXGetCurrentDisplay();
    // Where the driver can copy a part of the back buffer to the window, a redraw shows only the rows it
    // drew (a whole swap copies the whole window).
    const char* extensions = glXQueryExtensionsString(errorDisplay, DefaultScreen(errorDisplay));
    if (extensions && std::strstr(extensions, "GLX_MESA_copy_sub_buffer"))
        copySubBuffer_ = glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCopySubBufferMESA"));
    glutSetWindowData(this);
    // Every callback is in place before the first event.
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutMotionFunc(onMotion);
    glutPassiveMotionFunc(onMotion);
    glutKeyboardFunc(onKeyboard);
    glutCloseFunc(onClose);
    // Rows are byte-aligned, and a redraw takes a strip of rows out of the whole image.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width_);
    glClearColor(0, 0, 0, 1);
    // The window drawn black at once: the driver readies its pixel transfer while the renderer still
    // builds the scene's hierarchy, not at the first redraw of rendered rows.
    onReshape(std::min(width_, LargestSide), std::min(height_, LargestSide));
    glutMainLoopEvent();
}

void PreviewWindow::displayLoop() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastRedraw = Clock::now();
    for (;;) {
        int lo = -1, hi = -1;
        bool readBack, quitting;
        std::string title;
        {
            std::unique_lock<std::mutex> hold(lock_);
            const bool due = Clock::now() - lastRedraw >= RedrawInterval;
            wake_.wait_for(hold, EventInterval, [&] {
                return (due && pendingRows_ >= RedrawRows) || flush_ || readBackAsked_ || quit_;
            });
            // A read-back waits for the window to be on the screen.
            readBack = readBackAsked_ && (!windowOpen_ || onScreen());
            quitting = quit_;
            const bool rowsDue = pendingRows_ >= RedrawRows && Clock::now() - lastRedraw >= RedrawInterval;
            if (dirtyLow_ >= 0 && (rowsDue || flush_ || readBack || quitting)) {
                lastRedraw = Clock::now();
                lo = dirtyLow_;
                hi = dirtyHigh_;
                // The rows as they are drawn, while they cannot change.
                const std::size_t row = static_cast<std::size_t>(width_) * 4;
                const std::size_t from = static_cast<std::size_t>(height_ - 1 - hi) * row;
                std::memcpy(&staging_[from], &shown_[from], static_cast<std::size_t>(hi - lo + 1) * row);
                dirtyLow_ = dirtyHigh_ = -1;
                pendingRows_ = 0;
                ++redraws_;
            }
            flush_ = false;
            if (titleChanged_) title = title_;
            titleChanged_ = false;
        }
        if (windowOpen_ && !title.empty()) {
            glutSetWindow(windowId_);
            glutSetWindowTitle(title.c_str());
        }
        if (windowOpen_) glutMainLoopEvent();
        if (windowOpen_ && lo >= 0) showRows(lo, hi);
        if (readBack) {
            std::vector<std::uint8_t> pixels = readWindow();
            std::lock_guard<std::mutex> hold(lock_);
            readBack_ = std::move(pixels);
            readBackAsked_ = false;
            done_.notify_all();
        }
        if (quitting) return;
    }
}

// Draws rows lo..hi into the back buffer and shows them.
void PreviewWindow::showRows(int lo, int hi) {
    glutSetWindow(windowId_);
    drawShownRows(lo, hi);
    present(lo, hi);
}

// Shows image rows lo..hi of the back buffer (all of the window for lo < 0). Where the driver copies a
// part of the back buffer to the window, only those rows are copied and the back buffer keeps the whole
// picture; otherwise the buffers are swapped.
void PreviewWindow::present(int lo, int hi) {
    if (!copySubBuffer_) {
        glutSwapBuffers();
        return;
    }
    int bottom = 0, rows = windowHeight_;
    if (lo >= 0) {
        hi = std::min(hi, windowHeight_ - 1);
        if (lo > hi) return;
        bottom = windowHeight_ - 1 - hi;
        rows = hi - lo + 1;
    }
    using CopySubBuffer = void (*)(Display*, GLXDrawable, int, int, int, int);
    reinterpret_cast<CopySubBuffer>(copySubBuffer_)(glXGetCurrentDisplay(), glXGetCurrentDrawable(), 0,
                                                    bottom, windowWidth_, rows);
}

// Draws rows lo..hi into the back buffer. After a swap the back buffer may hold what the window showed
// before the previous redraw: the rows drawn then are drawn again. The image keeps its size whatever
// the window's, its top row at the window's top; rows below the window are left out.
void PreviewWindow::drawShownRows(int lo, int hi) {
    int a = lo, b = hi;
    if (backLow_ >= 0) {
        a = std::min(a, backLow_);
        b = std::max(b, backHigh_);
    }
    if (!copySubBuffer_) {
        backLow_ = lo;
        backHigh_ = hi;
    }
    b = std::min(b, windowHeight_ - 1);
    if (a > b) return;
    const int bottom = height_ - 1 - b;  // the strip's first row in the bottom-up image
    glPixelStorei(GL_UNPACK_SKIP_ROWS, bottom);
    glWindowPos2i(0, windowHeight_ - 1 - b);
    glDrawPixels(std::min(width_, windowWidth_), b - a + 1, GL_RGBA, GL_UNSIGNED_BYTE, staging_.data());
}

void PreviewWindow::redrawAll() {
    if (!windowOpen_) return;
    glutSetWindow(windowId_);
    glClear(GL_COLOR_BUFFER_BIT);
    backLow_ = backHigh_ = -1;
    drawShownRows(0, height_ - 1);
    present(-1, -1);
}

bool PreviewWindow::onScreen() {
    if (!viewable_) {
        XWindowAttributes a;
        viewable_ = XGetWindowAttributes(glXGetCurrentDisplay(), glXGetCurrentDrawable(), &a) &&
                    a.map_state == IsViewable;
    }
    return viewable_;
}

// The window's pixels as RGBA rows bottom-up, read from the back buffer, which holds what the window
// shows where parts of it are copied to the window (otherwise it is drawn again first); zeros when the
// window is closed.
std::vector<std::uint8_t> PreviewWindow::readWindow() {
    std::vector<std::uint8_t> pixels(staging_.size(), 0);
    if (!windowOpen_) return pixels;
    glutSetWindow(windowId_);
    if (!copySubBuffer_) {
        glClear(GL_COLOR_BUFFER_BIT);
        backLow_ = backHigh_ = -1;
        drawShownRows(0, height_ - 1);
    }
    glReadBuffer(GL_BACK);
    // Image row y is window row windowHeight - 1 - y: the window's bottom rows hold the image's last.
    const int rows = std::min(height_, windowHeight_), columns = std::min(width_, windowWidth_);
    glPixelStorei(GL_PACK_ROW_LENGTH, width_);
    glPixelStorei(GL_PACK_SKIP_ROWS, height_ - rows);
    glReadPixels(0, windowHeight_ - rows, columns, rows, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    if (!copySubBuffer_) glutSwapBuffers();
    return pixels;
}

void PreviewWindow::closeWindow() {
    if (!windowOpen_) return;
    windowOpen_ = false;
    glutSetWindowData(nullptr);
    glutDestroyWindow(windowId_);
    glutMainLoopEvent();
}

void PreviewWindow::onDisplay() {
    if (PreviewWindow* window = windowOfCallback()) window->redrawAll();
}

void PreviewWindow::onMotion(int, int) {
    onDisplay();
}

// The viewport covers the window, with an orthographic projection over the image; the image keeps the
// render's size.
void PreviewWindow::onReshape(int w, int h) {
    PreviewWindow* window = windowOfCallback();
    if (!window) return;
    window->windowWidth_ = w;
    window->windowHeight_ = h;
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, window->width_, 0, window->height_, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    window->redrawAll();
}

void PreviewWindow::onKeyboard(unsigned char key, int, int) {
    PreviewWindow* window = windowOfCallback();
    if (!window) return;
    std::lock_guard<std::mutex> hold(window->lock_);
    window->keys_.push_back(key);
}

// The user closed the window (the toolkit destroys it and carries on).
void PreviewWindow::onClose() {
    PreviewWindow* window = windowOfCallback();
    if (!window) return;
    window->windowOpen_ = false;
    std::lock_guard<std::mutex> hold(window->lock_);
    window->closed_ = true;
}

}  // namespace quorva
