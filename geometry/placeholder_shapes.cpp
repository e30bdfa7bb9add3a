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

}  // namespace quorva
