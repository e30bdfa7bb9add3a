// Timing and statistics printout.
#include "driver/report.h"

#include "diagnostics/diagnostics.h"
#include "trace/render_context.h"

namespace quorva {

void printTimes(long parseSeconds, long computeSeconds) {
    message("\n\nTotal parsing time: ");
    if (parseSeconds == 0) {
        message("less than 1 second");
    } else {
        message("%ld second", parseSeconds);
        if (parseSeconds > 1) message("s");
    }
    message("\nTotal computing time: %ld seconds", computeSeconds);
    if (computeSeconds > 60) {
        message(" (more than %ld minute", computeSeconds / 60);
        if (computeSeconds > 120) message("s");
        message(")");
    }
    message("\n");
}

void printStatistics(const RenderStatistics& s, bool skyLight) {
    auto u = [](std::uint32_t v) { return static_cast<unsigned long>(v); };
    message("\n%8lu primary rays\n", u(s.primaryRays));
    message("%8lu shadow rays\n", u(s.shadowRays));
    if (s.reflectedRays) message("%8lu reflected rays\n", u(s.reflectedRays));
    std::uint32_t refracted = s.refractedRays + s.dispersionRays;
    if (refracted) message("%8lu refracted rays\n", u(refracted));
    if (s.dispersionRays) message("%8lu refracted rays due to dispersion only\n", u(s.dispersionRays));
    if (s.irradianceRays) {
        if (skyLight)
            message("%8lu diffuse solar radiation rays\n", u(s.irradianceRays));
        else
            message("%8lu Monte Carlo irradiance rays\n", u(s.irradianceRays));
    }
    if (s.photonRays) {
        std::uint32_t total = s.photonRays + s.photonRefracted + s.photonDispersion + s.photonReflected +
                              s.photonInternalReflected;
        message("%8lu photon rays (%lu refracted, %lu reflected)\n", u(total),
                u(s.photonRefracted + s.photonDispersion), u(s.photonReflected + s.photonInternalReflected));
    }
    if (s.photonDispersion)
        message("%8lu refracted photon rays due to dispersion only\n", u(s.photonDispersion));
    if (s.surfacePhotonsGathered > 0)
        message("         -> %d surface photons gathered\n", static_cast<int>(s.surfacePhotonsGathered));
    if (s.mediaPhotonsGathered > 0)
        message("         -> %d participating media photons gathered\n",
                static_cast<int>(s.mediaPhotonsGathered));
    if (s.jitteredRays) message("%8lu jittered rays\n", u(s.jitteredRays));
    if (s.internalReflectionRays)
        message("%8lu total internal reflection rays\n", u(s.internalReflectionRays));
    message("\n%8lu shadow checks\n", u(s.shadowChecks));
    message("%8lu shadow cache hits\n", u(s.shadowCacheHits));
    message("%8lu bounds checked\n", u(s.boundsChecked));
    message("%8lu objects checked\n", u(s.objectsChecked));
}

}  // namespace quorva
