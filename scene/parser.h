// The scene-language parser: reads one ascii scene or shader file and carries out every statement as
// soon as it is read, building the scene in `scene`.
#pragma once

#include <string>

namespace quorva {

struct SceneState;

// Parses the file (empty name = standard input) and returns 0. The first syntax error raises the fatal
// "parse error" with the file and line (so it ends the run), nesting deeper than the parser accepts
// raises "parser stack overflow", and the statements raise their own fatal errors.
int parseFile(SceneState& scene, const std::string& path);
// Parses in-memory text under the given file name (tests, fuzzing).
int parseText(SceneState& scene, const std::string& text, const std::string& name);
// Reads in-memory text and checks its syntax without carrying out any statement, as if the whole text
// were the branch of an if that is not taken (benchmarks of the grammar alone).
int checkSyntax(SceneState& scene, const std::string& text, const std::string& name);

}  // namespace quorva
