// Lattice gradient noise and its turbulence sum, shared by the noise built-ins, the pattern shader and
// the iridescence of surface shading. The tables are built once, on first use, from a fixed seed, so
// every run produces the same noise.
#pragma once

#include <cstdint>

#include "geometry/vec3.h"

namespace quorva {

// The C library's linear congruential generator (x <- x * 214013 + 2531011, 15-bit results); the noise
// tables are filled from it so that they match across platforms.
class LcgRandom {
  public:
    explicit LcgRandom(std::uint32_t seed) : state_(seed) {}
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7fff);
    }
    std::uint32_t state() const { return state_; }

  private:
    std::uint32_t state_;
};

// 256 unit gradients and a permutation of 0..255, both repeated to 514 entries so that lattice
// lookups never wrap inside a cell.
struct GradientTable {
    static constexpr int Size = 256;
    static constexpr int Extended = Size + Size + 2;
    Vec3 gradient[Extended];
    int permutation[Extended];
    // Generator state after the table was filled; tables built later continue from it.
    std::uint32_t generatorState = 0;
};

// The table (seed 61), built on first use.
const GradientTable& gradientTable();

// Classic lattice gradient noise at p + 10000.0231 per coordinate with the t^2 (3 - 2t) weight; the
// interpolated sum n is returned as 0.75 n + 0.5, nominally in [0, 1].
double gradientNoise(const Vec3& p);

// Turbulence: the sum over `octaves` of |gradientNoise(p_i) - 0.5| a_i divided by 0.5 sum(a_i), with
// p_0 = p, a_0 = 1, p_{i+1} = lacunarity p_i, a_{i+1} = gain a_i. Never negative.
double fnoise(const Vec3& p, int octaves = 10, double lacunarity = 2.0, double gain = 0.5);

}  // namespace quorva
