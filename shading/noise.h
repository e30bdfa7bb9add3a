// The noise generators behind the noise built-ins, the pattern shader and the iridescence of surface
// shading: lattice gradient noise and its sums, hashed value noise, Catmull-Rom and convolution value
// noise, sparse convolution noise and cell noise. Every table is built once, on first use (thread-safe),
// from a fixed seed, and lattice indices are reduced in double, so the noise is the same on every
// machine and for every point, huge or not finite (a coordinate that is not finite counts as 0).
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

// Octave sums: `octaves` terms at p_0 = p, p_{i+1} = lacunarity p_i with weights a_0 = 1,
// a_{i+1} = gain a_i.
struct Octaves {
    int count = 1;
    double lacunarity = 2.0;
    double gain = 0.5;
};
constexpr int MaxOctaves = 64;

// Classic lattice gradient noise at p + 10000.0231 per coordinate with the t^2 (3 - 2t) weight; the
// interpolated sum n is returned as 0.75 n + 0.5, nominally in [0, 1].
double gradientNoise(const Vec3& p);

// Turbulence: the sum over `octaves` of |gradientNoise(p_i) - 0.5| a_i divided by 0.5 sum(a_i), with
// p_0 = p, a_0 = 1, p_{i+1} = lacunarity p_i, a_{i+1} = gain a_i. Never negative.
double fnoise(const Vec3& p, int octaves = 10, double lacunarity = 2.0, double gain = 0.5);

// Unit vector whose component c is the octave sum of gradientNoise with the coordinates rotated by c
// places ((x, y, z), (y, z, x), (z, x, y)), divided by 0.5 sum(a_i).
Vec3 dnoise(const Vec3& p, const Octaves& octaves);

// One-dimensional gradient noise at x + 10000.0231 on its own table, about -0.5..0.5.
double gradientNoise1(double x);

// Hashed value noise on a 1024-cell periodic lattice at p + 100000 with the smoothstep weight; lattice
// values are the low 16 bits of an integer hash of the cell / 65535, so the result lies in [0, 1].
double valueNoise(const Vec3& p);
// The octave sum of valueNoise divided by the sum of the weights.
double valueNoiseSum(const Vec3& p, const Octaves& octaves);
// Three independent value noises: at p - 1000, p and p + 2000.
Vec3 vectorValueNoise(const Vec3& p);

// Value noise with Catmull-Rom interpolation over the 4 x 4 x 4 lattice values around p; repeats
// every 256 cells.
double vnoise(const Vec3& p);
// Value noise convolved with a cubic kernel of radius 2 over the same 64 lattice values.
double vcnoise(const Vec3& p);
// Sparse convolution noise: `impulses` (1..1001) impulses per cell over the 27 cells around p.
double scnoise(const Vec3& p, int impulses);

// Cell noise: a value in [0, 1) constant over each unit cell (of p, or of (p, t) with hasTime).
double fcellnoise(const Vec3& p, double t = 0, bool hasTime = false);
// Three independent cell values.
Vec3 vcellnoise(const Vec3& p, double t = 0, bool hasTime = false);
// Distance from p to the nearest feature point: one per cell c, at c + 0.5 + jitter (vcellnoise(c) - 0.5)
// with jitter in [0, 1] (0: the cell centres).
double voronoi(const Vec3& p, double jitter);

// The kernel of the convolution noise, (3b^3 - 5b^2 + 2)/2 for b < 1, else (-b^3 + 5b^2 - 8b + 4)/2,
// tabulated at squared distances s = i / 100 (i = 0..400) and read at the nearest entry; 0 from s = 4 on.
double convolutionKernel(double squaredDistance);

// The eight wave centres of the pattern shader's wave bumps: coordinates 2u - 1, u from the first
// eight points of a fresh three-dimensional quasi-random sequence.
const Vec3* bumpWaveCentres();

}  // namespace quorva
