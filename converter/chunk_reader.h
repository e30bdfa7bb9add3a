// Bounds-checked reading of 3DS chunks from a file held in memory: a chunk is a 16-bit identifier and
// a 32-bit length that counts its 6-byte header and all its sub-chunks (both little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "converter/matrix.h"

namespace quorva::converter {

// Raised by Chunk::f32 for a value that is not a finite number: the chunk holding it.
struct InvalidNumber {
    std::uint16_t chunk;
};

// The payload of one chunk, read front to back. Any read past the chunk's end, and any sub-chunk whose
// length is below 6 or runs past this chunk, fails "Corrupt or truncated chunk 0x%04X in 3DS file".
class Chunk {
  public:
    // The chunk whose header starts at `offset`; it must end within `limit` (the parent's end).
    static Chunk at(const std::uint8_t* data, std::size_t offset, std::size_t limit, std::uint16_t parent);

    std::uint16_t id() const { return id_; }
    bool atEnd() const { return pos_ >= end_; }
    std::size_t remaining() const { return end_ - pos_; }
    // Fails unless `bytes` more bytes lie in the chunk.
    void need(std::size_t bytes) const;

    // Identifier of the next sub-chunk, 0 when fewer than 6 bytes remain.
    std::uint16_t peekId() const;
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    float f32();           // throws InvalidNumber unless finite
    Point3 point();        // three floats
    std::string string();  // zero-terminated
    // The next sub-chunk; this chunk continues after it.
    Chunk next();

  private:
    Chunk(const std::uint8_t* data, std::uint16_t id, std::size_t pos, std::size_t end)
        : data_(data), id_(id), pos_(pos), end_(end) {}
    [[noreturn]] void corrupt() const;

    const std::uint8_t* data_;
    std::uint16_t id_;
    std::size_t pos_, end_;
};

}  // namespace quorva::converter
