// Records of the global-illumination statements that are not built yet.
#include "gi/placeholder_gi.h"

#include "scene/scene_state.h"

namespace quorva {

void recordGlobalIllumination(SceneState& scene, const std::string& statement,
                              std::vector<std::string> arguments) {
    scene.placeholderCalls.push_back({statement, std::move(arguments)});
}

}  // namespace quorva
