// Bounded reading of a binary scene or mesh file held in memory: every read is checked against the
// bytes left, and a read past the end is the file's "truncated" fatal error. Every float a record
// carries must be finite: a NaN or an infinity is the file's "invalid number" fatal error.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "formats/qsb_records.h"

namespace quorva {

// The whole file, or empty with `opened` false when it cannot be read.
struct FileBytes {
    bool opened = false;
    std::vector<std::uint8_t> bytes;
};
FileBytes readFileBytes(const std::string& path);

class ByteReader {
  public:
    // A read past the end is "Binary QSB file "%s" is truncated", or "MSH file "%s" is truncated" for
    // a mesh file.
    ByteReader(const std::vector<std::uint8_t>& bytes, std::size_t start, bool meshFile, std::string fileName)
        : data_(bytes.data()),
          size_(bytes.size()),
          pos_(start),
          meshFile_(meshFile),
          fileName_(std::move(fileName)) {}

    bool atEnd() const { return pos_ >= size_; }
    std::size_t left() const { return size_ - pos_; }
    const std::string& fileName() const { return fileName_; }
    bool meshFile() const { return meshFile_; }

    std::uint8_t byte() { return *take(1); }
    // A record code; the messages for invalid numbers name the last one read.
    std::uint8_t code() { return record_ = byte(); }
    // The next n bytes; fatal when fewer are left.
    const std::uint8_t* take(std::size_t n) {
        if (n > left()) truncated();
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
    float finite(float x) const {
        if (!std::isfinite(x)) invalidNumber();
        return x;
    }
    void check(float x) const { finite(x); }
    template <std::size_t N>
    void check(const float (&values)[N]) const {
        for (float x : values) finite(x);
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    bool meshFile_;
    std::string fileName_;
    std::uint8_t record_ = 0;
};

}  // namespace quorva
