// The scene list built from the first argument: a file pattern, a ".list" file, or one base name.
#pragma once

#include <string>

namespace quorva {

struct RunState;

// Fills run.sceneNames (at most 1000) and run.inputKind / run.listFile. Fatal errors:
// "No QSB files found", "QSB List file doesn't exist.",
// "No file extension when invoking QSB files within a .LIST", "No file extension in input".
void buildSceneList(const std::string& input, RunState& run);

}  // namespace quorva
