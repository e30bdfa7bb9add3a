// Message, progress message, warning and fatal error; the log stream; the pause-on-error hand-off.
#include "diagnostics/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "diagnostics/allocation.h"
#include "diagnostics/console.h"
#include "diagnostics/internal_failure.h"

namespace quorva {

DiagnosticsState& diagnostics() {
    static DiagnosticsState state;
    return state;
}

namespace {
// Render workers may report at the same time; each text reaches the console and the log whole.
std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}
}  // namespace

void writeConsole(const std::string& text) {
    std::lock_guard<std::mutex> hold(outputLock());
    DiagnosticsState& d = diagnostics();
    if (d.console) {
        d.console(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}

namespace {

void writeLog(const std::string& text) {
    std::lock_guard<std::mutex> hold(outputLock());
    DiagnosticsState& d = diagnostics();
    if (d.log) {
        std::fwrite(text.data(), 1, text.size(), d.log);
        std::fflush(d.log);
    }
}

std::string positionText() {
    const InputPosition* p = diagnostics().position;
    if (p && p->active())
        return formatText("in file %s, near or on line %d ", p->fileName().c_str(), p->line());
    return "";
}

}  // namespace

std::string formatTextV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = formatTextV(format, args);
    va_end(args);
    return s;
}

void messageText(const std::string& text) {
    writeLog(text);
    if (diagnostics().messagesOn) writeConsole(text);
}

void message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    messageText(text);
}

void progressMessage(const char* format, ...) {
    if (!diagnostics().messagesOn) return;
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    writeConsole(text);
}

void warningText(const std::string& text) {
    std::string full = "WARNING " + positionText() + ": " + text + "!\n";
    writeLog(full);
    if (diagnostics().warningsOn) writeConsole(full);
}

void warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    warningText(text);
}

void fatalText(const std::string& text) {
    const InputPosition* p = diagnostics().position;
    bool hasPosition = p && p->active();
    std::string file = hasPosition ? p->fileName() : std::string();
    int line = hasPosition ? p->line() : 0;
    std::string report = "\nERROR " + positionText() + ":\n" + text + "\n";
    throw FatalError(text, report, file, line, hasPosition);
}

void fatal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    fatalText(text);
}

void internalFailure(InternalFailure code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    unsigned value = static_cast<unsigned>(code);
    const char* word = code == InternalFailure::Bisecting ? "Internal" : "internal";
    fatalText(formatText("(%s failure 0x%02x) ", word, value) + text);
}

void closeLog() {
    DiagnosticsState& d = diagnostics();
    if (d.log) {
        std::fclose(d.log);
        d.log = nullptr;
    }
}

void reportFatal(const FatalError& error) {
    DiagnosticsState& d = diagnostics();
    writeLog(error.report());
    if (d.errorsOn) writeConsole(error.report());
    if (d.pauseOnError) {
        closeLog();
        messageText("\nPress a key to return...");
        waitForKey();
        if (std::FILE* f = std::fopen("tmperr", "w")) {
            std::fprintf(f, "%s %d", error.file().c_str(), error.line());
            std::fclose(f);
        }
    }
    closeLog();
    trackedReleaseAll();
}

ConsoleCapture::ConsoleCapture() : saved_(diagnostics().console) {
    diagnostics().console = [this](const std::string& s) { text_ += s; };
}

ConsoleCapture::~ConsoleCapture() {
    diagnostics().console = saved_;
}

}  // namespace quorva
