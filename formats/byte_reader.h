// Bounded reading of a binary scene or mesh file: every read is checked against the bytes left, and a
// read past the end is the file's "truncated" fatal error. Every float a record carries must be finite:
// a NaN or an infinity is the file's "invalid number" fatal error.
//
// A reader works over bytes held in memory, or streams a file through a bounded buffer refilled as the
// reads move on, so that a big mesh file never sits in memory whole. A pointer that take() returns is
// valid only until the next read.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "formats/qsb_records.h"

namespace quorva {

class ByteReader {
  public:
    // The buffer a streamed file is read through; a single read that asks for more grows it.
    static constexpr std::size_t StreamBuffer = std::size_t(1) << 20;

    // A read past the end is "Binary QSB file "%s" is truncated", or "MSH file "%s" is truncated" for
    // a mesh file.
    ByteReader(const std::vector<std::uint8_t>& bytes, std::size_t start, bool meshFile, std::string fileName)
        : data_(bytes.data()),
          size_(bytes.size()),
          pos_(start),
          meshFile_(meshFile),
          fileName_(std::move(fileName)) {}
    // The file at path, streamed from its start; opened() is false when it cannot be read.
    ByteReader(const std::string& path, bool meshFile, std::string fileName, std::size_t bufferSize = StreamBuffer);
    ~ByteReader();
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // For a streamed file: whether it could be opened.
    bool opened() const { return file_ != nullptr; }
    bool atEnd() { return pos_ >= size_ && !fill(1); }
    // Whether at least n more bytes are there to read.
    bool has(std::size_t n) { return n <= size_ - pos_ || fill(n); }
    const std::string& fileName() const { return fileName_; }
    bool meshFile() const { return meshFile_; }

    std::uint8_t byte() { return *take(1); }
    // A record code; the messages for invalid numbers name the last one read.
    std::uint8_t code() { return record_ = byte(); }
    // The next n bytes, valid until the next read; fatal when fewer are left.
    const std::uint8_t* take(std::size_t n) {
        if (n > size_ - pos_ && !fill(n)) truncated();
        const std::uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }
    // A record image: the first `size` bytes of T come from the file, the rest keep T's defaults.
    template <class T>
    T record(std::size_t size = sizeof(T)) {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        std::memcpy(static_cast<void*>(&value), take(size), size);
        return value;
    }
    std::int32_t int32() { return record<std::int32_t>(); }
    double float32() { return finite(record<float>()); }
    // The float at p (unaligned), which must be finite.
    double float32At(const std::uint8_t* p) const {
        float x;
        std::memcpy(&x, p, sizeof x);
        return finite(x);
    }
    // Fatal unless every given float field (a float or an array of floats) is finite.
    template <class... Fields>
    void requireFinite(const Fields&... fields) const {
        (check(fields), ...);
    }
    // A 32-byte name field: the text up to the first zero byte, at most 32 characters.
    std::string name() { return decodeName(take(qsb::NameSize)); }

    [[noreturn]] void truncated() const;
    // "Invalid number in binary QSB file "%s" (record 0x%x)", or "... MSH file ..." for a mesh file.
    [[noreturn]] void invalidNumber() const;

    static std::string decodeName(const std::uint8_t* field);

  private:
    // Reads on from the file until at least n bytes are buffered past the position; false when the file
    // ends first (or the reader is over memory).
    bool fill(std::size_t n);

    float finite(float x) const {
        if (!std::isfinite(x)) invalidNumber();
        return x;
    }
    void check(float x) const { finite(x); }
    template <std::size_t N>
    void check(const float (&values)[N]) const {
        for (float x : values) finite(x);
    }

    // The bytes in memory, or the buffered part of the file; pos_ and size_ count within them.
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    bool meshFile_;
    std::string fileName_;
    std::uint8_t record_ = 0;
    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace quorva
