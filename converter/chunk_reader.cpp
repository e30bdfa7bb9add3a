// Bounds-checked chunk reading.
#include "converter/chunk_reader.h"

#include <cmath>
#include <cstring>

#include "converter/report.h"

namespace quorva::converter {

Chunk Chunk::at(const std::uint8_t* data, std::size_t offset, std::size_t limit, std::uint16_t parent) {
    if (offset > limit || limit - offset < 6) fail("Corrupt or truncated chunk 0x%04X in 3DS file", parent);
    const std::uint8_t* p = data + offset;
    std::uint16_t id = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    std::uint32_t length = static_cast<std::uint32_t>(p[2]) | static_cast<std::uint32_t>(p[3]) << 8 |
                           static_cast<std::uint32_t>(p[4]) << 16 | static_cast<std::uint32_t>(p[5]) << 24;
    if (length < 6 || length > limit - offset) fail("Corrupt or truncated chunk 0x%04X in 3DS file", id);
    return Chunk(data, id, offset + 6, offset + length);
}

void Chunk::corrupt() const {
    fail("Corrupt or truncated chunk 0x%04X in 3DS file", id_);
}

void Chunk::need(std::size_t bytes) const {
    if (bytes > remaining()) corrupt();
}

std::uint16_t Chunk::peekId() const {
    if (remaining() < 6) return 0;
    return static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
}

std::uint8_t Chunk::u8() {
    need(1);
    return data_[pos_++];
}

std::uint16_t Chunk::u16() {
    need(2);
    std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

std::uint32_t Chunk::u32() {
    need(4);
    const std::uint8_t* p = data_ + pos_;
    pos_ += 4;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

float Chunk::f32() {
    std::uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isfinite(f)) throw InvalidNumber{id_};
    return f;
}

Point3 Chunk::point() {
    need(12);
    double x = f32(), y = f32(), z = f32();
    return {x, y, z};
}

std::string Chunk::string() {
    const void* zero = std::memchr(data_ + pos_, 0, remaining());
    if (!zero) corrupt();
    std::size_t n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - (data_ + pos_));
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n + 1;
    return s;
}

Chunk Chunk::next() {
    Chunk child = at(data_, pos_, end_, id_);
    pos_ = child.end_;
    return child;
}

}  // namespace quorva::converter
