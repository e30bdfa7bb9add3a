// The adaptive / super-adaptive anti-aliasing loop and the fast undersampling loop, run by RenderRows
// instead of the plain loop.
#pragma once

namespace quorva {

struct RenderJob;

// Contrast threshold in 8-bit units for a level 1..10: 11 - level, at least 1.
int contrastThreshold(int level);

void renderAdaptive(RenderJob& job, int rowStart, int rowEnd);
void renderUndersampled(RenderJob& job, int rowStart, int rowEnd);

}  // namespace quorva
