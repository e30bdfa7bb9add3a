// The progress line of the pixel loops, with the time spent and the time left. A person at a terminal
// sees one line that rewrites itself; a log file or a pipe gets a few whole lines (one each tenth of the
// image, or after half a minute without one) and never a carriage return.
#pragma once

#include <functional>
#include <string>

namespace quorva {

enum class ProgressStyle {
    Terminal,  // "\r" + line, rewritten in place
    Lines,     // whole lines ending in "\n", few of them
};

// Terminal when the console is the standard error stream and that is a terminal; Lines otherwise (a
// file, a pipe, a test's capture).
ProgressStyle consoleProgressStyle();

// "m:ss", or "h:mm:ss" from one hour on.
std::string formatDuration(double seconds);

class RenderProgress {
  public:
    // `clock` returns seconds on a steady clock; the render's time counts from construction.
    explicit RenderProgress(ProgressStyle style = consoleProgressStyle(),
                            std::function<double()> clock = nullptr);

    // The share of the image already done when the pixel loops start (a resumed render), in percent:
    // the time left is estimated from the progress made since then. Only the first call counts.
    void begin(double percent);
    // `text` is the line without carriage return ("Rendering: 42% (antialiasing disabled)").
    void show(int percent, const std::string& text);
    // Told each new percentage (a window's title), whatever the console shows.
    void setListener(std::function<void(int percent)> listener) { listener_ = std::move(listener); }

  private:
    std::string times(int percent) const;

    ProgressStyle style_;
    std::function<double()> clock_;
    std::function<void(int)> listener_;
    int lastNotified_ = -1;
    double start_ = 0;
    double startPercent_ = 0;
    bool begun_ = false;
    int lastPercent_ = -1;
    long lastSecond_ = -1;
    double lastLine_ = 0;  // when the last whole line was written
    std::size_t lastLength_ = 0;
};

// The counter of a long step other than the pixel loops (primary grid, photons, shapes cut, frames
// skipped), by the same rule: on a terminal each update rewrites the line ("\r" and the text as given);
// elsewhere the text, without its trailing blanks, becomes a whole line when the share done enters a new
// tenth or half a minute after the last line.
class ProgressCounter {
  public:
    explicit ProgressCounter(ProgressStyle style = consoleProgressStyle(),
                             std::function<double()> clock = nullptr);

    // `percent` is the share of the step done, 0..100.
    void show(int percent, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The step's last line, written in either style.
    void close(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    void write(const std::string& text);

    ProgressStyle style_;
    std::function<double()> clock_;
    int lastPercent_ = -1;
    double lastLine_ = 0;
};

}  // namespace quorva
