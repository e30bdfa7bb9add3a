// Builders of the Options items.
#include "scene/builders/option_items.h"

#include <cmath>
#include <cstdio>

#include "diagnostics/diagnostics.h"
#include "gi/media.h"
#include "scene/scene_state.h"

namespace quorva {

namespace {

bool fileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

void buildGammaCorrection(Options& o, double sceneGamma, double displayGamma) {
    if (displayGamma > 0) o.displayGamma = displayGamma;
    if (sceneGamma <= 0) fatal("GammaCorrection value must be greater than 0");
    o.gammaOn = !(std::fabs(sceneGamma - o.displayGamma) < 0.1);
    o.gammaFactor = o.gammaOn ? sceneGamma / o.displayGamma : 1.0;
}

void buildAdaptiveDepth(Options& o, int n) {
    // The grid size is 4 n; sizes outside 4..16 fall back to 4. Compared in 64 bits so a huge n cannot
    // wrap into the range.
    long long depth = 4LL * n;
    o.adaptiveDepth = (depth < 4 || depth > 16) ? 4 : static_cast<int>(depth);
}

void buildMaxRayLevel(Options& o, int n) {
    if (n < 1 || n > 16) fatal("MaxRayLevel must be between 1 and 16");
    o.maxRayLevel = n;
}

void buildMaxBlurLevel(Options& o, int n) {
    if (n < 1 || n > o.maxRayLevel) fatal("MaxBlurLevel must be between 1 and MaxRayLevel");
    o.maxBlurLevel = n;
}

void buildBitsPerPixel(Options& o, int n) {
    if (n != 24 && n != 32) fatal("BitsPerPixel should be 24 or 32, not %d", n);
    o.bitsPerPixel = n;
}

void buildZChannelDepth(Options& o, int n) {
    if (n != 8 && n != 16 && n != 24 && n != 32 && n != 64) {
        warning("Bad value specified with ZChannelDepth. Must be 8, 16, 24, 32 or 64");
        n = 0;
    }
    o.zChannelDepth = n;
}

void buildSoftShadowSamples(Options& o, int n) {
    o.softShadowSamples = reducedSampleCount("SoftShadowSamples", n, MaxSoftShadowSamples);
}

void buildMaxBlurSamples(Options& o, int n) {
    o.maxBlurSamples = reducedSampleCount("MaxBlurSamples", n, MaxBlurSampleCount);
}

void buildIrradianceMaxError(Options& o, double f) {
    o.irradiance.maxError = boundedMaxError(f);
}

void buildIrradianceBlendingArea(Options& o, double f) {
    // K = the integer part of 10 f, clamped to 1..19 (compared before converting, so any double is safe).
    double k10 = std::trunc(10 * f);
    o.irradiance.blendingArea = !(k10 >= 1) ? 1 : k10 > 19 ? 19 : static_cast<int>(k10);
}

void buildIrradianceSamples(Options& o, int n) {
    o.irradiance.samples = boundedCount(n, 5, MaxIrradianceSamples);
}

void buildIrradianceDistribution(Options& o, int n) {
    o.irradiance.distribution = (n < 1 || n > 6) ? 6 : n;
}

void buildIrradianceBounceLevel(Options& o, int n) {
    o.irradiance.bounceLevel = (n < 1 || n > 7) ? 1 : n;
}

void buildIrradiancePhotons(Options& o, int shot, int gathered) {
    // The photons shot for the irradiance map are at least 1000; that map gathers at least as many
    // photons per estimate as the Photons statement's first value (both within their bounds).
    int k = o.photons.parameterCount > 0 ? static_cast<int>(o.photons.parameters[0]) : 0;
    o.irradiance.photons[0] = boundedCount(shot, 1000, MaxIrradiancePhotons);
    o.irradiance.photons[1] = boundedCount(gathered < k ? k : gathered, 0, MaxPhotonGatherCount);
}

void buildIrradianceMaxDistance(Options& o, double f) {
    o.irradiance.maxDistance = f > 0 ? std::fmin(f, MaxIrradianceDistance) : 0;
}

void buildPhotonsGatherRange(Options& o, int low, int high) {
    // Each value is a heap capacity: values below 1 take the Photons count, larger ones are bounded.
    o.photons.gatherRange[0] = boundedCount(low, 0, MaxPhotonGatherCount);
    o.photons.gatherRange[1] = boundedCount(high, 0, MaxPhotonGatherCount);
}

void buildHenyeyGreenstein(SceneState& scene, double g) {
    scene.frame.options.henyeyGreenstein = g;
    mediaSetEccentricity(scene.frame.media, g);
}

void buildOutputTo(SceneState& scene, const std::string& name) {
    if (scene.frame.frames.firstFrameStarted) return;
    if (name.find('.') != std::string::npos) fatal("No file extension with 'OutputTo'");
    scene.output.imageFile = name + ".tga";
    scene.output.outputBase = name;
}

void buildCacheFileOption(SceneState& scene, CacheFileOption which, const std::string* name) {
    Options& o = scene.frame.options;
    bool hasDot = name && name->find('.') != std::string::npos;
    switch (which) {
        case CacheFileOption::SavePhotonMap:
            if (hasDot) fatal("No file extension with SavePhotonMap");
            o.photons.saveRequested = true;
            o.photons.savePath = name ? *name + ".qpm" : scene.output.photonMapFile;
            break;
        case CacheFileOption::SaveIrradianceCache: {
            if (hasDot) fatal("No file extension with SaveIrradianceCache");
            std::string path = name ? *name + ".qic" : scene.output.irradianceCacheFile;
            if (!fileExists(path)) {
                o.irradiance.saveRequested = true;
                o.irradiance.savePath = path;
            }
            break;
        }
        case CacheFileOption::LoadPhotonMap: {
            std::string path = !name ? scene.output.photonMapFile : hasDot ? *name : *name + ".qpm";
            if (fileExists(path)) {
                o.photons.loadRequested = true;
                o.photons.loadPath = path;
            }
            break;
        }
        case CacheFileOption::LoadIrradianceCache:
            o.irradiance.loadRequested = true;
            o.irradiance.loadPath = !name    ? scene.output.irradianceCacheFile
                                    : hasDot ? *name
                                             : *name + ".qic";
            break;
    }
}

int reducedSampleCount(const char* item, double n, int limit) {
    if (n != n) return 0;
    if (n <= limit) return n < -limit ? -limit : static_cast<int>(n);
    warning("%s of %.15g samples is too many (reduced to %d)", item, n, limit);
    return limit;
}

}  // namespace quorva
