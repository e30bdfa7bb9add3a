// The ReadMeshFile statement: reads a binary mesh file found through the search path, declares its
// meshes as solids and places the copies its calls ask for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorva {

struct SceneState;

void ReadMeshFile(SceneState& scene, const std::string& name);
// The same for a file already in memory; `name` names it in messages.
void readMeshBytes(SceneState& scene, const std::vector<std::uint8_t>& bytes, const std::string& name);

}  // namespace quorva
