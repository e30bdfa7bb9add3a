// The frame-buffer window on X11 through GLUT.
#include "render/preview_window.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <X11/Xlib.h>

#include <algorithm>

#include "render/frame_buffers.h"

namespace quorva {
namespace {

// GLUT calls back without a user pointer: the one window open at a time is found here. Only the thread
// that opened it touches it from the callbacks.
PreviewWindow* currentWindow = nullptr;
bool windowClosed = false;

void displayCallback() {
    if (currentWindow) currentWindow->redraw();
}
void motionCallback(int, int) {
    displayCallback();
}
void reshapeCallback(int w, int h) {
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (currentWindow) glOrtho(0, currentWindow->width(), 0, currentWindow->height(), -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    displayCallback();
}
void keyboardCallback(unsigned char key, int, int) {
    pushWindowKey(key);
}
void closeCallback() {
    windowClosed = true;
    currentWindow = nullptr;
}

std::uint8_t channel(double v) {
    double t = v * 255.0;
    if (!(t > 0)) return 0;
    return t >= 255 ? 255 : static_cast<std::uint8_t>(t);
}

}  // namespace

void pushWindowKey(int key) {
    if (currentWindow) currentWindow->keys_.push_back(key);
}

bool openWindowSystem(std::string& problem) {
    problem.clear();
    // The toolkit ends the process when it cannot open the display: probe it first.
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) return false;
    int depth = DefaultDepth(probe, DefaultScreen(probe));
    XCloseDisplay(probe);
    if (depth < 24) {
        problem = "Please change to 24 or 32 bit color depth";
        return false;
    }
    if (!glutGet(GLUT_INIT_STATE)) {
        int argc = 1;
        char name[] = "quorva";
        char* argv[] = {name, nullptr};
        glutInit(&argc, argv);
    }
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    return true;
}

std::unique_ptr<PreviewWindow> PreviewWindow::open(int width, int height, std::string& problem) {
    if (!openWindowSystem(problem)) return nullptr;
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(width, height);
    int id = glutCreateWindow("Rendering Window");
    std::unique_ptr<PreviewWindow> window(new PreviewWindow(width, height, id));
    currentWindow = window.get();
    windowClosed = false;
    glutDisplayFunc(displayCallback);
    glutReshapeFunc(reshapeCallback);
    glutMotionFunc(motionCallback);
    glutPassiveMotionFunc(motionCallback);
    glutKeyboardFunc(keyboardCallback);
    glutCloseFunc(closeCallback);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glClearColor(0, 0, 0, 1);
    reshapeCallback(width, height);
    glutMainLoopEvent();
    return window;
}

PreviewWindow::PreviewWindow(int width, int height, int windowId)
    : width_(width),
      height_(height),
      windowId_(windowId),
      owner_(std::this_thread::get_id()),
      image_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0) {}

PreviewWindow::~PreviewWindow() {
    if (currentWindow == this) {
        currentWindow = nullptr;
        glutDestroyWindow(windowId_);
        glutMainLoopEvent();
    }
    // Let go of the display connection too: the next window opens a fresh one.
    if (glutGet(GLUT_INIT_STATE)) glutExit();
}

bool PreviewWindow::closed() const {
    return windowClosed || currentWindow != this;
}

bool PreviewWindow::takeKey(int& key) {
    if (!keys_.empty()) {
        key = keys_.front();
        keys_.pop_front();
        return true;
    }
    if (closed() && !closeReported_) {
        closeReported_ = true;
        key = 27;
        return true;
    }
    return false;
}

void PreviewWindow::drawPixel(int x, int y, const Color& colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    std::uint8_t* p = &image_[(static_cast<std::size_t>(height_ - 1 - y) * width_ + x) * 4];
    p[0] = channel(colour[0]);
    p[1] = channel(colour[1]);
    p[2] = channel(colour[2]);
    p[3] = 255;
    if (x == firstColumn_ && ++firstColumnCalls_ % 8 == 0) dirty_ = true;
    if (dirty_ && std::this_thread::get_id() == owner_) pump();
}

void PreviewWindow::drawRows(const SBuffer& rows, int first, int last) {
    for (int y = std::max(first, 0); y <= last && y < height_; ++y) {
        if (!rows.hasRow(y)) continue;
        const std::uint8_t* src = rows.row(y);
        std::uint8_t* dst = &image_[static_cast<std::size_t>(height_ - 1 - y) * width_ * 4];
        for (int x = 0; x < width_; ++x) {
            dst[4 * x] = src[4 * x];
            dst[4 * x + 1] = src[4 * x + 1];
            dst[4 * x + 2] = src[4 * x + 2];
            dst[4 * x + 3] = 255;
        }
    }
    dirty_ = true;
}

void PreviewWindow::redraw() {
    if (currentWindow != this) return;
    glutSetWindow(windowId_);
    glClear(GL_COLOR_BUFFER_BIT);
    glRasterPos2i(0, 0);
    glDrawPixels(width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, image_.data());
    glutSwapBuffers();
    dirty_ = false;
}

std::vector<std::uint8_t> PreviewWindow::readBack() {
    std::vector<std::uint8_t> out(image_.size(), 0);
    if (currentWindow != this) return out;
    glutSetWindow(windowId_);
    glDrawBuffer(GL_BACK);
    glClear(GL_COLOR_BUFFER_BIT);
    glRasterPos2i(0, 0);
    glDrawPixels(width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, image_.data());
    glFinish();
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glutSwapBuffers();
    return out;
}

void PreviewWindow::pump() {
    if (currentWindow != this || std::this_thread::get_id() != owner_) return;
    if (dirty_) redraw();
    glutMainLoopEvent();
}

}  // namespace quorva
