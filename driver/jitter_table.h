// The JitterTable: 256 offsets in -1..1, refilled at the start of every scene from a generator seeded
// with 665, read by the pixel loops.
#pragma once

#include <array>

namespace quorva {

using JitterTable = std::array<double, 256>;

// Entry i = 1 - 2 r / 2147483647 for the generator's next result r (masked with 0x7FFFFFFF).
void fillJitterTable(JitterTable& table);

}  // namespace quorva
