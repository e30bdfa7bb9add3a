// Progress lines of the pixel loops: rate of updates, elapsed time and the estimate of the time left.
#include "render/render_progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdarg>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

// A line is written at least this often when the output is a log, even while the percentage stands still.
constexpr double LineInterval = 30;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgressStyle consoleProgressStyle() {
    if (diagnostics().console) return ProgressStyle::Lines;
    return isatty(STDERR_FILENO) == 1 ? ProgressStyle::Terminal : ProgressStyle::Lines;
}

std::string formatDuration(double seconds) {
    const long total = seconds > 0 ? static_cast<long>(seconds) : 0;
    const long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0) return formatText("%ld:%02ld:%02ld", h, m, s);
    return formatText("%ld:%02ld", m, s);
}

RenderProgress::RenderProgress(ProgressStyle style, std::function<double()> clock)
    : style_(style), clock_(clock ? std::move(clock) : steadySeconds) {
    start_ = lastLine_ = clock_();
}

void RenderProgress::begin(double percent) {
    if (begun_) return;
    begun_ = true;
    startPercent_ = percent;
}

// The time left assumes the rest of the image goes at the pace of what was done in this run; until this
// run has made progress there is no estimate.
std::string RenderProgress::times(int percent) const {
    const double elapsed = clock_() - start_;
    const double done = percent - startPercent_;
    if (done <= 0) return formatText(" %s elapsed", formatDuration(elapsed).c_str());
    const double left = elapsed * (100 - percent) / done;
    return formatText(" %s elapsed, %s left", formatDuration(elapsed).c_str(),
                      formatDuration(std::round(left)).c_str());
}

void RenderProgress::show(int percent, const std::string& text) {
    if (listener_ && percent != lastNotified_) {
        lastNotified_ = percent;
        listener_(percent);
    }
    const double now = clock_();
    if (style_ == ProgressStyle::Terminal) {
        // Rewritten when the percentage or the second changes; a shorter line blanks what the longer one
        // left behind.
        const long second = static_cast<long>(now - start_);
        if (percent == lastPercent_ && second == lastSecond_) return;
        lastPercent_ = percent;
        lastSecond_ = second;
        std::string line = text + times(percent);
        const std::size_t length = line.size();
        if (length < lastLength_) line.append(lastLength_ - length, ' ');
        lastLength_ = length;
        progressMessage("\r%s", line.c_str());
        return;
    }
    const bool nextTenth = lastPercent_ < 0 || percent / 10 > lastPercent_ / 10;
    if (!nextTenth && now - lastLine_ < LineInterval) return;
    lastPercent_ = percent;
    lastLine_ = now;
    progressMessage("%s%s\n", text.c_str(), times(percent).c_str());
}

ProgressCounter::ProgressCounter(ProgressStyle style, std::function<double()> clock)
    : style_(style), clock_(clock ? std::move(clock) : steadySeconds) {
    lastLine_ = clock_();
}

void ProgressCounter::write(const std::string& text) {
    if (style_ == ProgressStyle::Terminal) {
        progressMessage("\r%s", text.c_str());
        return;
    }
    const std::size_t end = text.find_last_not_of(' ');
    progressMessage("%s\n", end == std::string::npos ? "" : text.substr(0, end + 1).c_str());
}

void ProgressCounter::show(int percent, const char* format, ...) {
    if (style_ == ProgressStyle::Lines) {
        const double now = clock_();
        const bool nextTenth = lastPercent_ < 0 || percent / 10 > lastPercent_ / 10;
        if (!nextTenth && now - lastLine_ < LineInterval) return;
        lastPercent_ = percent;
        lastLine_ = now;
    }
    va_list args;
    va_start(args, format);
    const std::string text = formatTextV(format, args);
    va_end(args);
    write(text);
}

void ProgressCounter::close(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatTextV(format, args);
    va_end(args);
    write(text);
}

}  // namespace quorva
