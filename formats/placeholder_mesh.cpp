// Record of ReadMeshFile until the mesh reader exists.
#include "formats/placeholder_mesh.h"

#include "scene/scene_state.h"

namespace quorva {

void readMeshFile(SceneState& scene, const std::string& name) {
    scene.placeholderCalls.push_back({"ReadMeshFile", {"\"" + name + "\""}});
}

}  // namespace quorva
