// Records of the shape statements whose kinds are not built yet.
#include "geometry/placeholder_shapes.h"

#include "diagnostics/diagnostics.h"
#include "scene/scene_state.h"

namespace quorva {

void recordSolidOperation(SceneState& scene, const std::string& operation) {
    scene.placeholderCalls.push_back({"Solid CSG", {operation}});
}

void recordSolidInstance(SceneState& scene, const std::string& name) {
    scene.placeholderCalls.push_back({"Solid instance", {name}});
}

void addParticleGenerator(SceneState& scene, const std::string& name,
                          const std::shared_ptr<const ParticleGeneratorDefinition>& definition) {
    std::vector<std::string> arguments;
    if (!name.empty()) arguments.push_back(name);
    if (definition) {
        const ParticleGeneratorDefinition& g = *definition;
        const std::pair<const char*, const RequestPtr*> items[] = {
            {"Birth", &g.birth},
            {"Death", &g.death},
            {"Location", &g.location},
            {"Velocity", &g.velocity},
            {"Acceleration", &g.acceleration},
            {"CollisionDetection", &g.collisionDetection},
            {"Particles", &g.particles},
            {"Shape", &g.shape}};
        for (const auto& [word, e] : items)
            if (*e) arguments.push_back(std::string(word) + " " + toString(**e));
        if (g.hasAging) arguments.push_back("Aging " + formatText("%.10g", g.aging));
    }
    scene.placeholderCalls.push_back({"ParticleGenerator", std::move(arguments)});
}

}  // namespace quorva
