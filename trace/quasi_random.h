// The quasi-random sequence generator shared by depth of field, blurred reflection, soft shadows and the
// irradiance cache: a Gray-code Sobol sequence. Each step takes the index j of the lowest zero bit of a
// step counter, XORs direction number j of every dimension into that dimension's 32-bit state and
// increments the counter; state x 2^-32 is the value in [0, 1).
#pragma once

#include <array>
#include <cstdint>

namespace quorva {

class QuasiRandom {
  public:
    static constexpr int MaxDimensions = 3;
    static constexpr int Bits = 32;

    explicit QuasiRandom(int dimensions = 2);
    void reset();
    // Starts the sequence again, every dimension shifted by its own bit pattern derived from
    // `scramble` (an XOR shift keeps the sequence's stratification). Samples that restart with the
    // same scramble draw the same points, whatever was drawn before.
    // The shifts are worked out when the first value is drawn, so restarting a sequence a sample does
    // not use costs nothing.
    void restart(std::uint32_t scramble) {
        pendingScramble_ = scramble;
        pending_ = true;
    }
    int dimensions() const { return dimensions_; }

    // One value of a one-dimensional stream (dimension 0).
    double next();
    // The next point of the sequence in 2 or 3 dimensions.
    void nextPair(double& u, double& v);
    void nextTriple(double& u, double& v, double& w);

  private:
    void applyRestart();
    void step();
    int dimensions_;
    std::uint32_t counter_ = 0;
    std::array<std::uint32_t, MaxDimensions> state_{};
    std::uint32_t pendingScramble_ = 0;
    bool pending_ = false;
};

}  // namespace quorva
