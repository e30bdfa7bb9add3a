// Sobol direction numbers for the first three dimensions and the Gray-code stepping.
#include "trace/quasi_random.h"

namespace quorva {
namespace {

// Direction numbers v[d][j] (already shifted to the top of the 32-bit word). Dimension 0 is the
// van der Corput sequence; dimensions 1 and 2 use the primitive polynomials x + 1 and x^2 + x + 1 with
// initial values m = {1} and m = {1, 3}.
struct DirectionTable {
    std::uint32_t v[QuasiRandom::MaxDimensions][QuasiRandom::Bits];
    DirectionTable() {
        for (int j = 0; j < QuasiRandom::Bits; ++j) v[0][j] = 1u << (31 - j);
        // x + 1 (degree 1, a = 0): m_j = 2 m_{j-1} xor m_{j-1}.
        std::uint32_t m[QuasiRandom::Bits];
        m[0] = 1;
        for (int j = 1; j < QuasiRandom::Bits; ++j) m[j] = (m[j - 1] << 1) ^ m[j - 1];
        for (int j = 0; j < QuasiRandom::Bits; ++j) v[1][j] = m[j] << (31 - j);
        // x^2 + x + 1 (degree 2, a = 1): m_j = 2 m_{j-1} xor 4 m_{j-2} xor m_{j-2}.
        m[0] = 1;
        m[1] = 3;
        for (int j = 2; j < QuasiRandom::Bits; ++j) m[j] = (m[j - 1] << 1) ^ (m[j - 2] << 2) ^ m[j - 2];
        for (int j = 0; j < QuasiRandom::Bits; ++j) v[2][j] = m[j] << (31 - j);
    }
};

const DirectionTable& directions() {
    static const DirectionTable table;
    return table;
}

constexpr double TwoToMinus32 = 1.0 / 4294967296.0;

}  // namespace

QuasiRandom::QuasiRandom(int dimensions)
    : dimensions_(dimensions < 1 ? 1 : (dimensions > MaxDimensions ? MaxDimensions : dimensions)) {
    directions();
}

void QuasiRandom::reset() {
    pending_ = false;
    counter_ = 0;
    state_.fill(0);
}

void QuasiRandom::applyRestart() {
    pending_ = false;
    counter_ = 0;
    std::uint32_t h = pendingScramble_;
    for (int d = 0; d < MaxDimensions; ++d) {
        // A 32-bit integer hash per dimension.
        h += 0x9e3779b9u;
        std::uint32_t z = h;
        z = (z ^ (z >> 16)) * 0x85ebca6bu;
        z = (z ^ (z >> 13)) * 0xc2b2ae35u;
        state_[d] = z ^ (z >> 16);
    }
}

void QuasiRandom::step() {
    if (pending_) applyRestart();
    // Index of the lowest zero bit of the counter, at most the last direction number.
    int j = 0;
    std::uint32_t c = counter_;
    while ((c & 1u) && j < Bits - 1) {
        c >>= 1;
        ++j;
    }
    const DirectionTable& t = directions();
    for (int d = 0; d < dimensions_; ++d) state_[d] ^= t.v[d][j];
    ++counter_;
}

double QuasiRandom::next() {
    step();
    return state_[0] * TwoToMinus32;
}

void QuasiRandom::nextPair(double& u, double& v) {
    step();
    u = state_[0] * TwoToMinus32;
    v = state_[dimensions_ > 1 ? 1 : 0] * TwoToMinus32;
}

void QuasiRandom::nextTriple(double& u, double& v, double& w) {
    step();
    u = state_[0] * TwoToMinus32;
    v = state_[dimensions_ > 1 ? 1 : 0] * TwoToMinus32;
    w = state_[dimensions_ > 2 ? 2 : 0] * TwoToMinus32;
}

}  // namespace quorva
