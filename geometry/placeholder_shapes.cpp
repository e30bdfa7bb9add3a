// Records of primitives whose kinds are not built yet.
#include "geometry/placeholder_shapes.h"

#include "scene/scene_state.h"

namespace quorva {

void recordPlaceholderShape(SceneState& scene, const std::string& statement,
                            std::vector<std::string> arguments) {
    scene.placeholderCalls.push_back({statement, std::move(arguments)});
}

}  // namespace quorva
