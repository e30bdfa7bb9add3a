// The four message routines every part of the renderer reports through, the fatal-error exception,
// the output switches and the optional log stream.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <string>

namespace quorva {

// Where the scene reader currently is. The lexer installs one while an ascii file is being read;
// messages then name the innermost file and line.
class InputPosition {
  public:
    virtual ~InputPosition() = default;
    virtual bool active() const = 0;  // an ascii file is being read
    virtual std::string fileName() const = 0;
    virtual int line() const = 0;
};

// Raised by fatal(). `what()` is the bare message text (as formatted by the caller); `report()` is
// the complete text the console shows ("\nERROR in file ..., near or on line N :\n<text>\n").
class FatalError : public std::exception {
  public:
    FatalError(std::string text, std::string report, std::string file, int line, bool hasPosition)
        : text_(std::move(text)),
          report_(std::move(report)),
          file_(std::move(file)),
          line_(line),
          hasPosition_(hasPosition) {}
    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& text() const { return text_; }
    const std::string& report() const { return report_; }
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    bool hasPosition() const { return hasPosition_; }

  private:
    std::string text_, report_, file_;
    int line_;
    bool hasPosition_;
};

// The process-wide output state: three switches (reset per scene and per frame by the driver),
// the log stream, and the pause-on-error flag read when a fatal error is reported.
struct DiagnosticsState {
    bool messagesOn = true;
    bool warningsOn = true;
    bool errorsOn = true;
    bool pauseOnError = false;
    std::FILE* log = nullptr;                 // open only with -L
    const InputPosition* position = nullptr;  // set by the lexer while parsing
    // Console sink; stderr unless a test captures it.
    std::function<void(const std::string&)> console;
};

DiagnosticsState& diagnostics();

// Message routines (printf-style formats).
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void progressMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Same routines for text that is already formatted.
void messageText(const std::string& text);
void warningText(const std::string& text);
[[noreturn]] void fatalText(const std::string& text);

// printf into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatTextV(const char* format, va_list args);

// Writes a fatal error to the log and the console, honours pause-on-error ("tmperr"), closes the log
// and releases every tracked block. main() calls this and then exits with status 1.
void reportFatal(const FatalError& error);

// Closes the log stream if one is open.
void closeLog();

// Writes text to the console sink (stderr by default), bypassing the switches.
void writeConsole(const std::string& text);

// Redirects console output into a string for the lifetime of the object (tests).
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

  private:
    std::string text_;
    std::function<void(const std::string&)> saved_;
};

}  // namespace quorva
