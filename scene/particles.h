// Particle generators: declared emitters whose particles - copies of a declared shape - are born, move
// under a velocity and an acceleration, bounce off the scene and die over the frames of an animation.
//
// The generators and their live particles belong to the scene and survive from frame to frame; each
// frame's parse names the generators in use and `particlesNewFrame` then emits, moves and places them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "eval/request.h"
#include "geometry/vec3.h"
#include "trace/random.h"

namespace quorva {

struct SceneState;

// A declared ParticleGenerator as written: each item's expression (null when absent) and the aging step.
struct ParticleGeneratorDefinition {
    RequestPtr birth, death, location, velocity, acceleration, collisionDetection, particles, shape;
    double aging = 1.0;
    bool hasAging = false;
};

struct ParticleGenerator {
    std::string key;  // the declared name, or "#n" for the n-th anonymous statement of a parse
    std::shared_ptr<const ParticleGeneratorDefinition> definition;
};

struct Particle {
    double age = 0;
    Vec3 position;
    Vec3 velocity;
    const ParticleGenerator* generator = nullptr;
};

// Everything that lives for the whole animation.
struct ParticleSystem {
    std::vector<std::unique_ptr<ParticleGenerator>> generators;
    std::vector<Particle> particles;  // front of the list first
    int anonymousCount = 0;           // anonymous statements met in the current parse
    RandomGenerator random;           // `random` in the generators' expressions, the same every run
};

// Most particles one emission creates, and most particles alive at once; emissions beyond them are cut,
// so that a generator that replaces its dying particles by several new ones cannot exhaust memory.
// Every particle is a copy of its shape with a place in the bounding tree, some 700 bytes: 100000 of
// them take about 70 MB.
constexpr int MaxParticlesPerEmission = 100000;
constexpr std::size_t MaxLiveParticles = 100000;

// A ParticleGenerator statement (empty name) or a declared generator used by its name: instantiates the
// generator the first time it is met. A statement parsed again in a later frame is the same generator
// (anonymous ones are told apart by their order in the parse).
void addParticleGenerator(SceneState& scene, const std::string& name,
                          const std::shared_ptr<const ParticleGeneratorDefinition>& definition);

// Emission, then motion, for every generator; the particles' shapes are added to the scene's world.
// Runs once per frame after the parse, skipped frames included.
void particlesNewFrame(SceneState& scene);

// Frees all particles and generators (the end of the animation).
void particlesFree(SceneState& scene);

}  // namespace quorva
