// Filling the JitterTable from our own generator, so images never depend on the C library's.
#include "driver/jitter_table.h"

#include "trace/random.h"

namespace quorva {

void fillJitterTable(JitterTable& table) {
    RandomGenerator random(665);
    for (double& entry : table) {
        std::uint32_t r = random.next() & 0x7FFFFFFF;
        entry = 1.0 - 2.0 * static_cast<double>(r) / 2147483647.0;
    }
}

}  // namespace quorva
