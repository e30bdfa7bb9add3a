// The process-wide records one scene builds while it is parsed and renders from: options, animation
// counters, camera, world, lights, symbols, background, fog and the sun. The driver owns one and resets
// it per scene and per frame.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "geometry/world.h"
#include "gi/media.h"
#include "gi/quasi_random.h"
#include "render/camera.h"
#include "scene/options.h"
#include "scene/request.h"

namespace quorva {

class Light;
class SymbolTable;
struct ParticleSystem;

struct BackgroundSettings {
    Color colour{0, 0, 0};
    RequestPtr expression;  // non-constant background (or the sky expression of SkyLight)
    double intensity = 1.0;
    Color skyColour{1.0, 0.98, 0.95};
    bool skyLightOn = false;
    bool skyTint = false;
};

struct FogSettings {
    double density = 0;        // Fog first value, 0..1
    double start = 0;          // Fog second value
    double heightScale = 0;    // GroundFog
    double distanceScale = 0;  // GroundFog
    Color colour{0, 0, 0};
};

// The SunLight statement as written; the sun light itself is built after the parse.
struct SunLightSettings {
    bool given = false;
    double values[4] = {0, 0, 0, 0};  // ( f : f [, f [, f [, v ]]] )
    int count = 0;
    Vec3 vector;
    bool hasVector = false;
    int softShadowSamples = 0;  // 0 = not given
};

// Per-scene file names the statements may change.
struct OutputNames {
    std::string imageFile;   // B + ".tga", or OutputTo s + ".tga"
    std::string outputBase;  // base for animation frames
    std::string photonMapFile;
    std::string irradianceCacheFile;
};

struct SceneState {
    SceneState();
    ~SceneState();
    SceneState(const SceneState&) = delete;
    SceneState& operator=(const SceneState&) = delete;

    Options options;
    AnimationCounters frames;
    Camera camera;
    World world;
    std::vector<std::unique_ptr<Light>> lights;  // in order of addition; the light list is newest first
    std::unique_ptr<SymbolTable> symbols;
    BackgroundSettings background;
    FogSettings fog;
    MediaSettings media;  // the participating medium (Media statement)
    SunLightSettings sun;
    OutputNames output;
    std::array<double, 256> jitter{};  // the JitterTable, refilled per scene by the driver
    QuasiRandom fbmTriples{3};         // fBm evaluated while parsing; restarted per frame
    // The particle generators and their particles, kept for the whole animation.
    std::shared_ptr<ParticleSystem> particles;

    // Resets everything a frame re-parses (options, camera, world, lights, background, fog, media,
    // sun); keeps the animation counters and the symbol table.
    void resetFrame();
    // Resets everything, the animation counters and symbol table included.
    void resetScene();
};

}  // namespace quorva
