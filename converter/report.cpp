// Console output and failures of the converter.
#include "converter/report.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "diagnostics/diagnostics.h"

namespace quorva::converter {
namespace {

std::string formatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return std::string(text.data(), static_cast<std::size_t>(n));
}

}  // namespace

void Console::print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatV(format, args);
    va_end(args);
    if (sink)
        sink(text);
    else
        std::fputs(text.c_str(), stderr);
}

std::string format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatV(format, args);
    va_end(args);
    return text;
}

void fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatV(format, args);
    va_end(args);
    throw FatalError(text, text, "", 0, false);
}

void failAllocation(int report) {
    fail("Memory allocation failure (report #0x%02x)", report);
}

}  // namespace quorva::converter
