// Buffered text output.
#include "converter/output_file.h"

#include <unistd.h>

#include <cstdarg>

#include "converter/report.h"

namespace quorva::converter {
namespace {
constexpr std::size_t FlushSize = 1 << 16;
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
}

bool OutputFile::create(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    buffer_.clear();
    return file_ != nullptr;
}

void OutputFile::print(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof text) {
        buffer_.append(text, static_cast<std::size_t>(n));
    } else {
        std::string large(static_cast<std::size_t>(n) + 1, '\0');
        va_start(args, format);
        std::vsnprintf(large.data(), large.size(), format, args);
        va_end(args);
        buffer_.append(large.data(), static_cast<std::size_t>(n));
    }
    if (buffer_.size() >= FlushSize) flush();
}

void OutputFile::write(const std::string& text) {
    buffer_ += text;
    if (buffer_.size() >= FlushSize) flush();
}

void OutputFile::flush() {
    if (!file_ || buffer_.empty()) return;
    bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    if (!ok) fail("Error writing geometry QSB file");
}

void OutputFile::close() {
    if (!file_) return;
    flush();
    // On disk before the file is renamed to its final name, so that a crash cannot leave it empty.
    bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0 && fsync(fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) fail("Error writing geometry QSB file");
}

}  // namespace quorva::converter
