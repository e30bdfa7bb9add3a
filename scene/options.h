// The process-wide render settings. Reset to these defaults at the start of every scene and of every
// frame (every frame parses the scene again); the frame counters are reset per scene only.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/vec3.h"

namespace quorva {

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
