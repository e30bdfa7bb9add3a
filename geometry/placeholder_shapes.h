// Stand-in for primitives a reader meets before their kind can be built: records the call - the
// statement and its evaluated arguments as text - in scene.placeholderCalls and does nothing else.
#pragma once

#include <string>
#include <vector>

namespace quorva {

struct SceneState;

// A primitive of a kind that is not built yet, e.g. ("NURBS", {"4", "4", "3", "3"}).
void recordPlaceholderShape(SceneState& scene, const std::string& statement,
                            std::vector<std::string> arguments);

}  // namespace quorva
