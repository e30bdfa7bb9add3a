// Lattice helpers shared by the noise generators: safe reduction of a coordinate to a cell and an
// integer hash of cells.
#pragma once

#include <cmath>
#include <cstdint>

namespace quorva::noise_detail {

// A coordinate that is not finite counts as 0.
inline double finiteOr0(double v) {
    return std::isfinite(v) ? v : 0.0;
}

// Cell number `cell` (an integral double) reduced modulo 2^32 with the two's-complement wrap, without
// converting a huge double to an integer type.
inline std::uint32_t cellBits(double cell) {
    if (std::fabs(cell) < 9.0e15) return static_cast<std::uint32_t>(static_cast<std::int64_t>(cell));
    double m = std::fmod(cell, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<std::uint32_t>(m);
}

// Lattice cell of coordinate v + offset: its index modulo a power of two (`mask` = size - 1) and the
// fraction. A coordinate that is not finite counts as 0; huge ones are reduced with floor and fmod.
struct LatticeAxis {
    int index;
    double fraction;
};
inline LatticeAxis latticeAxis(double v, double offset, int mask) {
    double t = v + offset;
    if (!(std::fabs(t) < 2147483647.0)) {  // rare: huge or not finite
        if (!std::isfinite(v)) {
            t = offset;
        } else {
            const double cell = std::floor(t);
            return {static_cast<int>(cellBits(cell) & static_cast<std::uint32_t>(mask)), t - cell};
        }
    }
    // floor() by truncation (much cheaper than the library call without SSE4.1).
    int cell = static_cast<int>(t);
    if (cell > t) --cell;
    return {cell & mask, t - cell};
}

inline std::uint32_t mix32(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

// Hash of a cell of up to four integer coordinates and a stream number: each coordinate spread by its
// own odd multiplier, then one avalanche mix.
inline std::uint32_t hashCell(std::uint32_t i, std::uint32_t j, std::uint32_t k, std::uint32_t l = 0,
                              std::uint32_t stream = 0) {
    std::uint32_t h = i * 0x8da6b343u ^ j * 0xd8163841u ^ k * 0xcb1ab31fu ^ l * 0x165667b1u;
    h ^= stream * 0x68e31da5u;
    return mix32(mix32(h));
}

inline double sCurve(double t) {
    return t * t * (3.0 - 2.0 * t);
}
inline double lerp(double t, double a, double b) {
    return a + t * (b - a);
}

}  // namespace quorva::noise_detail
