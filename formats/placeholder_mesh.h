// Stand-in for ReadMeshFile until the mesh reader exists: records the call (the file name) in
// scene.placeholderCalls and reads nothing.
#pragma once

#include <string>

namespace quorva {

struct SceneState;

void readMeshFile(SceneState& scene, const std::string& name);

}  // namespace quorva
