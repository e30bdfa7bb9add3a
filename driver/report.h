// The timing lines and the -d statistics printed after every frame.
#pragma once

#include <ctime>

namespace quorva {

struct RenderStatistics;

// "Total parsing time" and "Total computing time" lines.
void printTimes(long parseSeconds, long computeSeconds);
// The RenderStatistics counters in their print format.
void printStatistics(const RenderStatistics& stats, bool skyLight);

}  // namespace quorva
