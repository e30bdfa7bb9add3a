// The on-screen frame buffer: a window that shows the image while it renders. Only this layer talks
// to the window system; the renderer sees the FramebufferDisplay interface.
//
// The window has a thread of its own, the only one that makes window-system and GL calls: it starts
// the toolkit while the scene is still being read, opens the window and draws it black (which readies
// the GL driver's pixel transfer) as soon as the image size is known, redraws the rows finished since
// its last redraw whenever at least 8 more rows are finished, and handles the window's events (keys,
// closing, exposure) every few milliseconds. The render workers only store pixels and report finished
// rows, so all of them keep rendering while the window is shown.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "render/render_job.h"

namespace quorva {

struct SBuffer;

// Probes the X display and starts the GL toolkit on the calling thread (for the OpenGL preview). False
// when no window can open, with `problem` set to "" (no display) or to the warning to print (a display
// shallower than 24 bits).
bool openWindowSystem(std::string& problem);

class PreviewWindow final : public FramebufferDisplay {
  public:
    // Starts the window's thread, which probes the display and starts the toolkit; started() tells
    // whether a window can open.
    static std::unique_ptr<PreviewWindow> start();
    // start(), started() and show() at once: null when no window can open (see openWindowSystem).
    static std::unique_ptr<PreviewWindow> open(int width, int height, std::string& problem,
                                               const std::string& title = "quorva");
    // Shows what is drawn, then closes the window.
    ~PreviewWindow() override;
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Waits for the display probe; see openWindowSystem for the result.
    bool started(std::string& problem);
    // Opens the window of the image size at (0, 0) (at most 4096 pixels a side: a larger image shows
    // its top left part), cleared black, with the given title; returns at once (the window appears as
    // soon as the toolkit is up). Only the first call counts.
    void show(int width, int height, const std::string& title = "quorva");
    // The window's title from now on (shown within an event interval).
    void setTitle(const std::string& title);

    // Stores the pixel (channels x 255 clamped; outside pixels ignored). Called by every worker at
    // once, each pixel by one; the pixel shows once its row is reported finished.
    void drawPixel(int x, int y, const Color& colour) override;
    // Row `row` is final; called by one thread at a time (where finished work units are collected).
    void rowFinished(int row);
    // Draws image rows first..last of a band again (after filtering), with alpha 1, and shows them.
    void drawRows(const SBuffer& rows, int first, int last);

    // The user closed the window.
    bool closed() const;
    // Keys typed in the window, oldest first; closing the window reads as Escape (27). False when none.
    bool takeKey(int& key);

    // Draws the rows finished so far and reads the window's pixels back with the GL (RGBA, rows
    // bottom-up; zeros once the window is closed), for tests.
    std::vector<std::uint8_t> readBack();
    // Image bytes as drawn (RGBA, rows bottom-up).
    const std::vector<std::uint8_t>& pixels() const { return image_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Redraws of finished rows so far (not counting exposures).
    long redraws() const;

  private:
    PreviewWindow() = default;
    enum class Probe { Pending, Up, Failed };

    void threadMain();
    // Display thread: the window, the loop of redraws and events, and what it does.
    void createWindow();
    void displayLoop();
    void showRows(int lo, int hi);
    void present(int lo, int hi);
    // Draws image rows lo..hi of the staged rows into the back buffer.
    void drawShownRows(int lo, int hi);
    void redrawAll();
    bool onScreen();
    std::vector<std::uint8_t> readWindow();
    void closeWindow();
    // Window-system callbacks (display thread); the window is found through the toolkit's window data.
    static void onDisplay();
    static void onMotion(int x, int y);
    static void onReshape(int w, int h);
    static void onKeyboard(unsigned char key, int x, int y);
    static void onClose();

    int width_ = 0, height_ = 0;
    // Written by the workers, one writer per pixel; read back only as rows are reported finished.
    std::vector<std::uint8_t> image_;

    // Everything below the lock is shared with the display thread.
    mutable std::mutex lock_;
    std::condition_variable wake_;  // the display thread waits on it
    std::condition_variable done_;  // callers wait on it for the probe and read-backs
    Probe probe_ = Probe::Pending;
    std::string problem_;
    bool sizeKnown_ = false;
    bool quit_ = false;
    std::vector<std::uint8_t> shown_;     // rows finished, as the window shows them
    int dirtyLow_ = -1, dirtyHigh_ = -1;  // image rows finished since the last redraw
    int pendingRows_ = 0;
    bool flush_ = false;  // redraw the dirty rows however few
    bool readBackAsked_ = false;
    std::vector<std::uint8_t> readBack_;
    long redraws_ = 0;
    std::deque<int> keys_;
    std::string title_;
    bool titleChanged_ = false;
    bool closed_ = false;
    bool closeReported_ = false;

    // Display thread only.
    int windowId_ = 0;
    bool windowOpen_ = false;
    bool viewable_ = false;  // the window was seen on the screen
    int windowWidth_ = 0, windowHeight_ = 0;
    int backLow_ = -1, backHigh_ = -1;   // rows the back buffer missed at the last swap
    std::vector<std::uint8_t> staging_;  // the rows as drawn, copied from shown_ under the lock
    void (*copySubBuffer_)() = nullptr;  // the driver's copy of a part of the back buffer, if it has one

    std::thread thread_;
};

}  // namespace quorva
