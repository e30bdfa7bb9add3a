// An output file of the converter written through a large buffer; any failed write or close raises
// "Error writing geometry QSB file", whichever file it was.
#pragma once

#include <cstdio>
#include <string>

namespace quorva::converter {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file ("w"); false when it cannot be created.
    bool create(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void write(const std::string& text);
    void close();

  private:
    void flush();
    std::FILE* file_ = nullptr;
    std::string buffer_;
};

}  // namespace quorva::converter
