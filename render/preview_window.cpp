// The frame-buffer window on X11, driven from a thread of its own; the display probe and the GL
// toolkit start of the OpenGL preview.
#include "render/preview_window.h"

#include <GL/freeglut.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "render/frame_buffers.h"

namespace quorva {
namespace {

// Rows finished between two redraws, at least.
constexpr int RedrawRows = 8;
// The window's events (keys, closing, exposure) are handled at least this often.
constexpr std::chrono::milliseconds EventInterval{10};
// Finished rows are shown at most this often (a screen shows some 50 pictures a second).
constexpr std::chrono::milliseconds RedrawInterval{20};
// The window's largest side: a larger image shows its top left part (the server keeps a copy of the
// window, and the protocol's sizes end at 32767).
constexpr int LargestSide = 4096;

// Errors on the window's connection (a server out of memory for its copy of the window) leave the
// window blank instead of ending the process, as the library's own handler does; errors on other
// connections go to the handler that was there before.
Display* errorDisplay = nullptr;  // the window's connection, while it is open
XErrorHandler previousHandler = nullptr;
int windowErrorHandler(Display* display, XErrorEvent* error) {
    if (display == errorDisplay || !previousHandler) return 0;
    return previousHandler(display, error);
}

std::uint8_t channel(double v) {
    double t = v * 255.0;
    if (!(t > 0)) return 0;
    return t >= 255 ? 255 : static_cast<std::uint8_t>(t);
}

// The windows need a display of at least 24 bits. Null when there is none, with `problem` set as
// openWindowSystem says.
Display* probeDisplay(std::string& problem) {
    problem.clear();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    if (DefaultDepth(display, DefaultScreen(display)) < 24) {
        XCloseDisplay(display);
        problem = "Please change to 24 or 32 bit color depth";
        return nullptr;
    }
    return display;
}

// One colour channel of the visual: where its bits are and how many values they hold.
struct ChannelBits {
    int shift = 0;
    unsigned long maximum = 0;
    explicit ChannelBits(unsigned long mask) {
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        maximum = mask;
    }
    unsigned long pixel(std::uint8_t value) const { return (value * maximum / 255) << shift; }
    std::uint8_t value(unsigned long pixel) const {
        return maximum ? static_cast<std::uint8_t>(((pixel >> shift) & maximum) * 255 / maximum) : 0;
    }
};

}  // namespace

// The toolkit ends the process when it cannot open the display: the display is probed first. The
// probe's connection stays open until the toolkit has its own: a server that resets when its last
// client leaves (as a virtual server does by default) would otherwise refuse the toolkit while it
// resets.
bool openWindowSystem(std::string& problem) {
    Display* probe = probeDisplay(problem);
    if (!probe) return false;
    if (!glutGet(GLUT_INIT_STATE)) {
        int argc = 1;
        char name[] = "quorva";
        char* argv[] = {name, nullptr};
        glutInit(&argc, argv);
    }
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    XCloseDisplay(probe);
    return true;
}

// The window's X resources: the window, its back pixmap of the image size and the image that carries
// rows to the pixmap, in the visual's pixel format.
struct PreviewWindow::XWindow {
    Display* display = nullptr;
    Window window = 0;
    Pixmap back = 0;
    GC gc = nullptr;
    XImage* rows = nullptr;
    std::vector<std::uint32_t> pixelWords;  // the image's bytes, in words for the four-byte layout
    Atom deleteWindow = 0, protocols = 0;
    ChannelBits red{0}, green{0}, blue{0};
    int width = 0, height = 0;  // the window's size
    bool open = false;          // not closed by the user
    bool mapped = false;        // on the screen

    XWindow(Display* d, int imageWidth, int imageHeight)
        : display(d), width(std::min(imageWidth, LargestSide)), height(std::min(imageHeight, LargestSide)) {
        errorDisplay = d;
        previousHandler = XSetErrorHandler(windowErrorHandler);
        const int screen = DefaultScreen(d);
        Visual* visual = DefaultVisual(d, screen);
        const unsigned depth = static_cast<unsigned>(DefaultDepth(d, screen));
        red = ChannelBits(visual->red_mask);
        green = ChannelBits(visual->green_mask);
        blue = ChannelBits(visual->blue_mask);
        const unsigned w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
        window = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, w, h, 0, BlackPixel(d, screen),
                                     BlackPixel(d, screen));
        XStoreName(d, window, "Rendering Window");
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.width = width;
        hints.height = height;
        XSetWMNormalHints(d, window, &hints);
        protocols = XInternAtom(d, "WM_PROTOCOLS", False);
        deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(d, window, &deleteWindow, 1);
        XSelectInput(d, window, ExposureMask | KeyPressMask | StructureNotifyMask);
        back = XCreatePixmap(d, window, w, h, depth);
        gc = XCreateGC(d, window, 0, nullptr);
        XSetForeground(d, gc, BlackPixel(d, screen));
        XFillRectangle(d, back, gc, 0, 0, w, h);
        rows = XCreateImage(d, visual, depth, ZPixmap, 0, nullptr, w, h, 32, 0);
        if (rows) {
            // Lines of whole words (the image's pad is 32 bits).
            pixelWords.assign(static_cast<std::size_t>(rows->bytes_per_line) / 4 * h, 0);
            rows->data = reinterpret_cast<char*>(pixelWords.data());
        }
        XMapWindow(d, window);
        XFlush(d);
        open = true;
    }
    // Image row y from RGBA bytes (the part the window shows).
    void storeRow(int y, const std::uint8_t* rgba) {
        if (!rows || y >= height) return;
        // Four bytes a pixel in this machine's byte order (what servers of 24 bits mostly take) are
        // written directly; other layouts pixel by pixel.
        if (rows->bits_per_pixel == 32 && rows->byte_order == nativeByteOrder()) {
            std::uint32_t* to = &pixelWords[static_cast<std::size_t>(y) * (rows->bytes_per_line / 4)];
            for (int x = 0; x < width; ++x, rgba += 4)
                to[x] = static_cast<std::uint32_t>(red.pixel(rgba[0]) | green.pixel(rgba[1]) |
                                                   blue.pixel(rgba[2]));
            return;
        }
        for (int x = 0; x < width; ++x, rgba += 4)
            XPutPixel(rows, x, y, red.pixel(rgba[0]) | green.pixel(rgba[1]) | blue.pixel(rgba[2]));
    }
    static int nativeByteOrder() {
        const std::uint32_t one = 1;
        std::uint8_t first;
        std::memcpy(&first, &one, 1);
        return first ? LSBFirst : MSBFirst;
    }

    ~XWindow() {
        if (rows) {
            rows->data = nullptr;  // the bytes belong to pixelWords
            XDestroyImage(rows);
        }
        XFreeGC(display, gc);
        XFreePixmap(display, back);
        if (open) XDestroyWindow(display, window);
        // Closing waits for the server's answers, errors included: the handler goes after it.
        XCloseDisplay(display);
        XSetErrorHandler(previousHandler);
        errorDisplay = nullptr;
    }
};

PreviewWindow::PreviewWindow() = default;

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

std::unique_ptr<PreviewWindow> PreviewWindow::open(int width, int height, std::string& problem) {
    std::unique_ptr<PreviewWindow> window = start();
    if (!window->started(problem)) return nullptr;
    window->show(width, height);
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

void PreviewWindow::show(int width, int height) {
    if (width < 1 || height < 1) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (sizeKnown_) return;
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

// The display thread: probe, window, then redraws and events until the window is let go.
void PreviewWindow::threadMain() {
    std::string problem;
    Display* display = probeDisplay(problem);
    {
        std::lock_guard<std::mutex> hold(lock_);
        probe_ = display ? Probe::Up : Probe::Failed;
        problem_ = problem;
    }
    done_.notify_all();
    if (!display) return;
    bool sized;
    {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [&] { return sizeKnown_ || quit_; });
        sized = sizeKnown_;
    }
    if (sized) {
        x_ = std::make_unique<XWindow>(display, width_, height_);
        displayLoop();
        x_.reset();
    } else {
        XCloseDisplay(display);
    }
    // A read-back asked while the window went away gets nothing.
    std::lock_guard<std::mutex> hold(lock_);
    if (readBackAsked_) {
        readBack_.assign(shown_.size(), 0);
        readBackAsked_ = false;
        done_.notify_all();
    }
}

void PreviewWindow::displayLoop() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastRedraw = Clock::now();
    for (;;) {
        int lo = -1, hi = -1;
        bool readBack, quitting;
        {
            std::unique_lock<std::mutex> hold(lock_);
            const bool due = Clock::now() - lastRedraw >= RedrawInterval;
            wake_.wait_for(hold, EventInterval, [&] {
                return (due && pendingRows_ >= RedrawRows) || flush_ || readBackAsked_ || quit_;
            });
            // A read-back waits for the window to be on the screen.
            readBack = readBackAsked_ && (x_->mapped || !x_->open);
            quitting = quit_;
            const bool rowsDue = pendingRows_ >= RedrawRows && Clock::now() - lastRedraw >= RedrawInterval;
            if (dirtyLow_ >= 0 && (rowsDue || flush_ || readBack || quitting)) {
                lastRedraw = Clock::now();
                lo = dirtyLow_;
                hi = dirtyHigh_;
                // The rows in the visual's format, while they cannot change.
                for (int y = lo; y <= hi; ++y)
                    x_->storeRow(y, &shown_[static_cast<std::size_t>(height_ - 1 - y) * width_ * 4]);
                dirtyLow_ = dirtyHigh_ = -1;
                pendingRows_ = 0;
                ++redraws_;
            }
            flush_ = false;
        }
        handleEvents();
        if (lo >= 0) showRows(lo, hi);
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

// Keys go to the renderer, closing reads as Escape, exposed parts are copied from the back pixmap.
void PreviewWindow::handleEvents() {
    Display* d = x_->display;
    while (x_->open && XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        switch (event.type) {
            case Expose: {
                const XExposeEvent& e = event.xexpose;
                XCopyArea(d, x_->back, x_->window, x_->gc, e.x, e.y, static_cast<unsigned>(e.width),
                          static_cast<unsigned>(e.height), e.x, e.y);
                break;
            }
            case MapNotify:
                x_->mapped = true;
                break;
            case KeyPress: {
                char text[16];
                KeySym symbol;
                const int count = XLookupString(&event.xkey, text, sizeof text, &symbol, nullptr);
                std::lock_guard<std::mutex> hold(lock_);
                for (int i = 0; i < count; ++i) keys_.push_back(static_cast<unsigned char>(text[i]));
                break;
            }
            case ClientMessage:
                if (event.xclient.message_type == x_->protocols &&
                    static_cast<Atom>(event.xclient.data.l[0]) == x_->deleteWindow) {
                    // The user closed the window.
                    XDestroyWindow(d, x_->window);
                    x_->open = false;
                    std::lock_guard<std::mutex> hold(lock_);
                    closed_ = true;
                }
                break;
            case DestroyNotify:
                x_->open = false;
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    closed_ = true;
                }
                break;
            default:
                break;
        }
    }
    XFlush(d);
}

// Rows lo..hi go to the back pixmap, then to the window.
void PreviewWindow::showRows(int lo, int hi) {
    if (!x_->open || !x_->rows) return;
    Display* d = x_->display;
    hi = std::min(hi, x_->height - 1);
    if (lo > hi) return;
    const unsigned w = static_cast<unsigned>(x_->width), h = static_cast<unsigned>(hi - lo + 1);
    XPutImage(d, x_->back, x_->gc, x_->rows, 0, lo, 0, lo, w, h);
    XCopyArea(d, x_->back, x_->window, x_->gc, 0, lo, w, h, 0, lo);
    XFlush(d);
}

// The window's pixels as RGBA rows bottom-up; zeros when the window is closed.
std::vector<std::uint8_t> PreviewWindow::readWindow() {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width_) * height_ * 4, 0);
    if (!x_->open) return pixels;
    // The window is read where all of it is on the screen (reading outside it is an error); otherwise
    // the back pixmap it is copied from.
    Drawable source = x_->back;
    XWindowAttributes a;
    if (XGetWindowAttributes(x_->display, x_->window, &a) && a.map_state == IsViewable && a.x >= 0 &&
        a.y >= 0 && a.width >= x_->width && a.height >= x_->height &&
        a.x + x_->width <= WidthOfScreen(a.screen) && a.y + x_->height <= HeightOfScreen(a.screen))
        source = x_->window;
    XImage* image = XGetImage(x_->display, source, 0, 0, static_cast<unsigned>(x_->width),
                              static_cast<unsigned>(x_->height), AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < x_->height; ++y) {
        std::uint8_t* to = &pixels[static_cast<std::size_t>(height_ - 1 - y) * width_ * 4];
        for (int x = 0; x < x_->width; ++x, to += 4) {
            const unsigned long p = XGetPixel(image, x, y);
            to[0] = x_->red.value(p);
            to[1] = x_->green.value(p);
            to[2] = x_->blue.value(p);
            to[3] = 255;
        }
    }
    XDestroyImage(image);
    return pixels;
}

}  // namespace quorva
