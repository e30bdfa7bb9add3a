// How the converter talks: progress text goes to a console sink (standard error unless a test captures
// it); every failure raises the renderer's fatal-error exception with the exact text, and only main
// turns it into the exit status.
#pragma once

#include <functional>
#include <string>

namespace quorva::converter {

struct Console {
    std::function<void(const std::string&)> sink;  // empty: standard error
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Raises quorva::FatalError with the formatted text.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Allocation failures name a fixed report number per place.
[[noreturn]] void failAllocation(int report);

}  // namespace quorva::converter
