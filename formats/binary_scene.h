// The renderer's reader of binary scene files: the header, the scene-wide records (camera, options,
// general settings, lights, sky dome) and the object records, built through the same constructors
// and with the same checks as the ascii statements they mirror.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorva {

struct SceneState;

// Whether the file starts with the binary scene magic; "Unable to find scene file %s" when it cannot
// be opened.
bool IsBinaryScene(const std::string& path);

// Reads the binary scene into `scene` (its shader file has been parsed already). Sets the scene
// language version from the version byte and prints "[scene from QSBsdk v1.0.%d]\n".
void ReadBinaryScene(SceneState& scene, const std::string& path);
// The same for a file already in memory; `path` names it in messages.
void readBinarySceneBytes(SceneState& scene, const std::vector<std::uint8_t>& bytes, const std::string& path);

}  // namespace quorva
