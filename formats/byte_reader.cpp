// Reading a binary file through a buffer, and the bounded reads over it or over bytes in memory.
#include "formats/byte_reader.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/diagnostics.h"

namespace quorva {

ByteReader::ByteReader(const std::string& path, bool meshFile, std::string fileName, std::size_t bufferSize)
    : data_(nullptr), size_(0), pos_(0), meshFile_(meshFile), fileName_(std::move(fileName)) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return;
    buffer_.resize(bufferSize > 0 ? bufferSize : 1);
    data_ = buffer_.data();
}

ByteReader::~ByteReader() {
    if (file_) std::fclose(file_);
}

bool ByteReader::fill(std::size_t n) {
    if (!file_) return false;
    // The unread bytes move to the front; the buffer grows only for a read longer than it, and then
    // only as the file's bytes arrive, so a count that claims more than the file holds allocates no
    // more than the file's size.
    std::size_t have = size_ - pos_;
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, have);
        size_ = have;
        pos_ = 0;
    }
    while (have < n) {
        if (size_ == buffer_.size()) buffer_.resize(std::max(buffer_.size() * 2, size_ + 1));
        const std::size_t got = std::fread(buffer_.data() + size_, 1, buffer_.size() - size_, file_);
        size_ += got;
        have += got;
        if (got == 0) break;
    }
    data_ = buffer_.data();
    return have >= n;
}

void ByteReader::truncated() const {
    if (meshFile_) fatal("MSH file \"%s\" is truncated", fileName_.c_str());
    fatal("Binary QSB file \"%s\" is truncated", fileName_.c_str());
}

void ByteReader::invalidNumber() const {
    if (meshFile_) fatal("Invalid number in MSH file \"%s\" (record 0x%x)", fileName_.c_str(), record_);
    fatal("Invalid number in binary QSB file \"%s\" (record 0x%x)", fileName_.c_str(), record_);
}

std::string ByteReader::decodeName(const std::uint8_t* field) {
    std::size_t length = 0;
    while (length < qsb::NameSize && field[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace quorva
