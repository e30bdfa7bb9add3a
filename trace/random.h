// The renderer's own seeded pseudo-random generator: the `random` built-in draws from it, and the
// driver fills the jitter table with one seeded 665. Results are reproducible across platforms.
#pragma once

#include <cstdint>

namespace quorva {

class RandomGenerator {
  public:
    static constexpr std::uint32_t Max = 2147483647;  // results lie in 0..Max

    explicit RandomGenerator(std::uint32_t seed = 1) { reseed(seed); }

    void reseed(std::uint32_t seed) {
        state_ = 0x853c49e6748fea9bULL ^ (std::uint64_t(seed) * 0x9e3779b97f4a7c15ULL);
    }

    // Next result in 0..2147483647 (the top 31 bits of a permuted 64-bit congruential step).
    std::uint32_t next() {
        std::uint64_t old = state_;
        state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
        auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
        auto rot = static_cast<std::uint32_t>(old >> 59u);
        std::uint32_t r = (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
        return r >> 1;
    }
    // Next result scaled to [0, 1].
    double nextUnit() { return next() / double(Max); }

  private:
    std::uint64_t state_ = 0;
};

}  // namespace quorva
