// Stand-ins for the shape statements whose kinds are not built yet (bicubic patches, NURBS, Blobby,
// implicit and parametric surfaces, height fields, surfaces of revolution, extrusions) and for
// particle generators. Each records the call - the statement and its
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

// A primitive of a kind that is not built yet, e.g. ("Blobby", {"0.5", "Sphere((0, 0, 0), 1, 1)"}).
void recordPlaceholderShape(SceneState& scene, const std::string& statement,
                            std::vector<std::string> arguments);
// A ParticleGenerator statement, or a declared generator added by its name.
void addParticleGenerator(SceneState& scene, const std::string& name,
                          const std::shared_ptr<const ParticleGeneratorDefinition>& definition);

}  // namespace quorva
