// Stand-ins for CSG operations inside Solid. Each records the call - the statement and its
// evaluated arguments as text - in scene.placeholderCalls and does nothing else.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scene/request.h"

namespace quorva {

struct SceneState;

// A Solid whose primitive is a CSG operation; `operation` is its text over the operands' kinds and
// names, e.g. "Sphere + (Box - mySolid)". The operands were built and are released.
void recordSolidOperation(SceneState& scene, const std::string& operation);
// A use of a declared solid whose definition was only recorded.
void recordSolidInstance(SceneState& scene, const std::string& name);

}  // namespace quorva
