// Model files of today's tools (OBJ, glTF, PLY, STL, FBX, Collada and the other formats the Open Asset
// Import Library reads) turned into the converter's Model, so that the writers of 3DS files write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "converter/model.h"
#include "converter/report.h"
#include "converter/tds_reader.h"

namespace quorva::converter {

// Reads the model file `path` (the files it names, such as an OBJ file's materials, are found beside
// it, ignoring case when need be). Meshes come triangulated, with every node's transformation applied
// and in the converter's frame (z up: the formats whose convention is y up are turned); one mesh per
// node, split into solids by material as for 3DS objects. Materials, lights and the camera come where
// the file has them; a texture is named by its path from the working folder. The library reads the
// file in a child process (isolated_import.h). Fails with "Cannot read model file %s: %s" (the file as
// given, the library's message).
Model readAssimpFile(const std::string& path, const ReadSettings& settings, Console& console);

// The same for a file held in memory; `hint` is its extension without the dot ("obj"), and files it
// names are not read. `secondsAllowed` > 0 bounds the library's reading.
Model readAssimpMemory(const std::uint8_t* data, std::size_t size, const std::string& hint,
                       const ReadSettings& settings, Console& console, unsigned secondsAllowed = 0);

}  // namespace quorva::converter
