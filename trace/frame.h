// The records one frame renders from: options, animation counters, camera, world, lights, background,
// fog, the participating medium and the sun. The parser fills them (SceneState holds the frame beside
// its parse-lifetime records); from the moment pixels render, everything downstream sees a const Frame.
#pragma once

#include <memory>
#include <vector>

#include "eval/request.h"
#include "geometry/world.h"
#include "gi/media.h"
#include "trace/camera.h"
#include "trace/options.h"

namespace quorva {

class Light;

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

struct Frame {
    Frame();
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    Options options;
    AnimationCounters frames;  // kept across the frames of one scene
    Camera camera;
    World world;
    std::vector<std::unique_ptr<Light>> lights;  // in order of addition; the light list is newest first
    BackgroundSettings background;
    FogSettings fog;
    MediaSettings media;  // the participating medium (Media statement)
    SunLightSettings sun;

    // Resets what a frame re-parses: everything but the animation counters.
    void reset();
};

}  // namespace quorva
