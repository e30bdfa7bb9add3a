// The process-wide records one scene builds while it is parsed: the frame it renders from (options,
// animation counters, camera, world, lights, background, fog, media, sun) beside what lives as long as
// the parse (symbols, output names, particles, the parse-time samplers). The driver owns one and resets
// it per scene and per frame.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "trace/frame.h"
#include "trace/quasi_random.h"

namespace quorva {

class SymbolTable;
struct ParticleSystem;

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

    Frame frame;  // what the pixels render from
    std::unique_ptr<SymbolTable> symbols;
    OutputNames output;
    std::array<double, 256> jitter{};  // the JitterTable, refilled per scene by the driver
    QuasiRandom fbmTriples{3};         // fBm evaluated while parsing; restarted per frame
    // The particle generators and their particles, kept for the whole animation.
    std::shared_ptr<ParticleSystem> particles;

    // Resets everything a frame re-parses (the frame but its animation counters,
    // the parse-time fBm sampler); keeps the symbol table.
    void resetFrame();
    // Resets everything, the animation counters and symbol table included.
    void resetScene();
};

}  // namespace quorva
