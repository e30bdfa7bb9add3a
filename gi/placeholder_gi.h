// Stand-in for the global-illumination statements that are not built yet (binary-scene
// Photons, ComputeIrradiance and SkyLight records):
// records the call - the statement and its evaluated arguments as
// text - in scene.placeholderCalls and does nothing else.
#pragma once

#include <string>
#include <vector>

namespace quorva {

struct SceneState;

void recordGlobalIllumination(SceneState& scene, const std::string& statement,
                              std::vector<std::string> arguments);

}  // namespace quorva
