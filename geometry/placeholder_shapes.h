// Stand-ins for CSG
// operations inside Solid and for particle generators. Each records the call - the statement and its
// evaluated arguments as text - in scene.placeholderCalls and does nothing else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scene/request.h"

namespace quorva {

struct SceneState;

// A declared ParticleGenerator as written: each item's expression (null when absent) and the aging step.
struct ParticleGeneratorDefinition {
    RequestPtr birth, death, location, velocity, acceleration, collisionDetection, particles, shape;
    double aging = 1.0;
    bool hasAging = false;
};

// A Solid whose primitive is a CSG operation; `operation` is its text over the operands' kinds and
// names, e.g. "Sphere + (Box - mySolid)". The operands were built and are released.
void recordSolidOperation(SceneState& scene, const std::string& operation);
// A use of a declared solid whose definition was only recorded.
void recordSolidInstance(SceneState& scene, const std::string& name);
// A ParticleGenerator statement, or a declared generator added by its name.
void addParticleGenerator(SceneState& scene, const std::string& name,
                          const std::shared_ptr<const ParticleGeneratorDefinition>& definition);

}  // namespace quorva
