// The scene-language parser: reads one ascii scene or shader file and carries out every statement as
// soon as it is read, building the scene in `scene`.
#pragma once

#include <string>

namespace quorva {

struct SceneState;

// Parses the file (empty name = standard input). Returns 0 on success, 1 after a syntax error and 2
// after a parser stack overflow; a syntax error itself raises the fatal "parse error" with the file
// and line, so the first one ends the run.
int parseFile(SceneState& scene, const std::string& path);
// Parses in-memory text under the given file name (tests, fuzzing).
int parseText(SceneState& scene, const std::string& text, const std::string& name);
// Reads in-memory text and checks its syntax without carrying out any statement, as if the whole text
// were the branch of an if that is not taken (benchmarks of the grammar alone).
int checkSyntax(SceneState& scene, const std::string& text, const std::string& name);

}  // namespace quorva
