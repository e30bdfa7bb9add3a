// Byte-wise comparison of a table spelling with a word, for the sorted name tables searched by bisection.
#pragma once

#include <cstring>
#include <string_view>

namespace quorva {

// Negative, zero or positive as the entry sorts before, equal to or after the word, comparing bytes as
// unsigned values; the word need not be null-terminated.
inline int compareSpelling(const char* entry, std::string_view word) {
    const std::size_t n = std::strlen(entry);
    const std::size_t m = n < word.size() ? n : word.size();
    const int c = std::memcmp(entry, word.data(), m);
    if (c != 0) return c;
    return n < word.size() ? -1 : (n > word.size() ? 1 : 0);
}

}  // namespace quorva
