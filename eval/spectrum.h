// Colour spectra (SpectrumOfColors): bands of colour between two positions, looked up by position.
#pragma once

#include <vector>

#include "eval/request.h"
#include "geometry/vec3.h"

namespace quorva {

// One band: at position[0] colour[0] and extra[0], at position[1] colour[1] and extra[1].
struct ColorSpectrumEntry {
    double position[2] = {0, 0};
    Color colour[2];
    double extra[2] = {0, 0};
};

struct ColorSpectrum {
    std::vector<ColorSpectrumEntry> entries;  // searched in order
    RequestPtr index;                         // the position expression of an indexed spectrum, or null
    Color defaultColour;                      // used where no band matches (black unless given)
};

// Colour and extra value at position t: the first band whose ends enclose t gives the linear
// interpolation between its ends (an exact end position gives that end); no band gives the default
// colour with extra 0. Returns whether a band matched.
bool evaluateSpectrum(const ColorSpectrum& spectrum, double t, Color& colour, double& extra);

}  // namespace quorva
