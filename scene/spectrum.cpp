// Colour spectrum lookup.
#include "eval/spectrum.h"

namespace quorva {

bool evaluateSpectrum(const ColorSpectrum& spectrum, double t, Color& colour, double& extra) {
    for (const ColorSpectrumEntry& e : spectrum.entries) {
        double t0 = e.position[0], t1 = e.position[1];
        if (t == t0) {
            colour = e.colour[0];
            extra = e.extra[0];
            return true;
        }
        if (t == t1) {
            colour = e.colour[1];
            extra = e.extra[1];
            return true;
        }
        if (t0 < t1 ? (t > t0 && t < t1) : (t > t1 && t < t0)) {  // a band may be written high to low
            double u = (t - t0) / (t1 - t0);
            colour = e.colour[0] * (1 - u) + e.colour[1] * u;
            extra = e.extra[0] * (1 - u) + e.extra[1] * u;
            return true;
        }
    }
    colour = spectrum.defaultColour;
    extra = 0;
    return false;
}

}  // namespace quorva
