// The on-screen frame buffer: a window that shows the image while it renders. Only this layer talks
// to the window system; the renderer sees the FramebufferDisplay interface.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "render/render_job.h"

namespace quorva {

struct SBuffer;

void pushWindowKey(int key);

// Probes the X display and starts the toolkit. False when no window can open, with `problem` set to ""
// (no display) or to the warning to print (a display shallower than 24 bits).
bool openWindowSystem(std::string& problem);

class PreviewWindow final : public FramebufferDisplay {
  public:
    // Opens a "Rendering Window" of the image size at (0, 0), cleared black. Returns null when no
    // display can be opened, with `problem` set to "" (no display) or to the warning to print (a
    // display shallower than 24 bits).
    static std::unique_ptr<PreviewWindow> open(int width, int height, std::string& problem);
    ~PreviewWindow() override;

    // Stores the pixel (channels x 255 clamped; outside pixels ignored). Calls at `firstColumn` are
    // counted and every 8th redraws the window. Cheap; callers serialise their calls. The redraw happens
    // only on the thread that opened the window; other threads leave it to the next call or pump().
    void drawPixel(int x, int y, const Color& colour) override;
    // Draws image rows first..last of a band again (after filtering), with alpha 1.
    void drawRows(const SBuffer& rows, int first, int last);
    void setFirstColumn(int column) { firstColumn_ = column; }
    // Shows what is drawn and handles pending window events.
    void redraw();
    void pump();
    // The user closed the window.
    bool closed() const;
    // Keys typed in the window, oldest first; closing the window reads as Escape (27). False when none.
    bool takeKey(int& key);
    // Draws the image and reads the window's pixels back (RGBA, rows bottom-up), for tests.
    std::vector<std::uint8_t> readBack();
    // Image bytes (RGBA, rows bottom-up).
    const std::vector<std::uint8_t>& pixels() const { return image_; }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    PreviewWindow(int width, int height, int windowId);
    int width_, height_, windowId_;
    int firstColumn_ = 0;
    long firstColumnCalls_ = 0;
    bool dirty_ = false;
    std::thread::id owner_;
    std::vector<std::uint8_t> image_;
    std::deque<int> keys_;
    bool closeReported_ = false;

    friend void pushWindowKey(int key);
};

}  // namespace quorva
