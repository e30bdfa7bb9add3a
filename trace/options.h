// The process-wide render settings. Reset to these defaults at the start of every scene and of every
// frame (every frame parses the scene again); the frame counters are reset per scene only.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/vec3.h"

namespace quorva {

// Bounds of the global-illumination counts a scene sets. Each of them sizes an allocation or a loop
// (a gather heap, a photon map, an N-Rooks table); a statement clamps its value into them, so that no
// scene value asks for more than a run can hold.
inline constexpr int MaxPhotonGatherCount = 100000;   // Photons k, PhotonsGatherRange, IrradiancePhotons m
inline constexpr int MaxIrradiancePhotons = 1 << 24;  // IrradiancePhotons n
inline constexpr double MaxPhotonsPerTarget = 16777216.0;  // Photons n
inline constexpr int MaxIrradianceSamples = 10000000;      // IrradianceSamples, SkyLight samples
inline constexpr double MaxIrradianceError = 1000.0;       // |IrradianceMaxError|; NaN is the default
// IrradianceMaxDistance: sample distances never exceed the no-hit distance 1e6, so any larger D gives
// the same records; bounding it keeps every radius a finite float.
inline constexpr double MaxIrradianceDistance = 1e7;

// Bounds of the sample counts that multiply the rays of every hit or pixel they apply to: past them a
// frame would never finish. A statement reduces a larger count with a warning.
inline constexpr int MaxSoftShadowSamples = 4096;    // SoftShadowSamples, the SunLight's sample count
inline constexpr int MaxBlurSampleCount = 1024;      // MaxBlurSamples
inline constexpr int MaxDepthOfFieldSamples = 4096;  // DepthOfField n
inline constexpr int MaxMediaSamples = 10000;        // Media samples per segment
// A shader's Dispersion samples are evaluated at every hit, so they are bounded there, without a warning.
inline constexpr int MaxDispersionSamples = 256;

// `value` truncated towards zero and clamped to lo..hi; NaN gives lo.
inline int boundedCount(double value, int lo, int hi) {
    if (!(value >= lo)) return lo;
    if (value >= hi) return hi;
    return static_cast<int>(value);
}

// IrradianceMaxError: any finite value within +-MaxIrradianceError; NaN keeps the default (-1).
inline double boundedMaxError(double a) {
    if (a != a) return -1;
    return a < -MaxIrradianceError ? -MaxIrradianceError : a > MaxIrradianceError ? MaxIrradianceError : a;
}

struct IrradianceSettings {
    double maxError = -1;       // -1 means 0.8
    int samples = 100;          // below 5 becomes 5
    double maxDistance = 0;     // 0 = automatic
    int distribution = 6;       // 1..6
    int bounceLevel = 3;        // 1..7
    int blendingArea = 8;       // K = 10 x value, 1..19
    int photons[2] = {0, 0};    // IrradiancePhotons (n, m)
    bool enabled = false;       // ComputeIrradiance / -g / cache load
    double computeSetting = 0;  // ComputeIrradiance value
    double gridSpacing = 0;     // 1/size from -g
    int gridSize = 0;           // primary grid size n from -g or ComputeIrradiance (0: automatic)
    bool forced = false;        // -g or ComputeIrradiance asked for the cache
    int skySamples = 0;         // SkyLight: hemisphere rays (0: no sky light)
    double skyScale = 0;        // SkyLight: irradiance scale (<= 0 keeps the default)
    bool loadRequested = false;
    std::string loadPath;  // LoadIrradianceCache / -l 2
    bool saveRequested = false;
    std::string savePath;  // SaveIrradianceCache / -s 2
};

struct PhotonSettings {
    bool requested = false;  // Photons statement
    double parameters[4] = {0, 0, 0, 0};
    int parameterCount = 0;
    int gatherRange[2] = {0, 0};
    double accelerator[3] = {0, 0, 0};
    bool loadRequested = false;
    std::string loadPath;
    bool saveRequested = false;
    std::string savePath;
};

struct Options {
    double version = -1;  // not given
    double adaptiveThreshold = 0.005;
    int adaptiveDepth = 4;  // grid size N
    int maxRayLevel = 6;
    int maxBlurLevel = 3;
    int maxBlurSamples = 4;
    int softShadowSamples = 16;
    int depthOfFieldSamples = 4;
    int bitsPerPixel = 24;
    int writeAntialiasFlag = 1;
    int antialiasing = 0;  // level; above 10 = super-adaptive
    bool undersampling = false;
    int zChannelDepth = 0;
    double shadowBias = 0.001;
    int renderMode = 1;  // RenderMode
    int openGlMode = 3;
    std::uint16_t featureMask = 0x8000;  // not chosen yet
    double displayGamma = 2.2;
    double gammaFactor = 1.0;
    bool gammaOn = false;
    double sunGlow = 0;
    Vec3 sunLightRotation{0, 0, 0};
    bool parallelSunRays = false;
    double henyeyGreenstein = 0;
    IrradianceSettings irradiance;
    PhotonSettings photons;
};

// FirstFrame, LastFrame, AnimationLength and CurrentFrame; reset per scene, not per frame.
struct AnimationCounters {
    int firstFrame = 0;
    int lastFrame = -1;
    int animationLength = 0;
    int currentFrame = 0;
    bool firstFrameStarted = false;  // the frame loop has begun its first pass
};

}  // namespace quorva
