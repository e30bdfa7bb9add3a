// Files a model names (texture maps, an OBJ file's material library), looked up the way the renderer
// looks up the files a scene names: as written, else the file of the same folder whose name matches
// ignoring case, with the warning "File \"%s\" not found, using \"%s\"".
#pragma once

#include <string>

#include "converter/model.h"
#include "converter/report.h"

namespace quorva::converter {

// `path` when it names a file; else the file matching it ignoring case, with the warning; else "".
std::string findModelFile(const std::string& path, Console& console);

// The texture, bump and background maps of a 3DS file, which names them relative to its own folder
// `folder` ("" or ending in '/'): a name that matches a file there only ignoring case takes the name on
// disk; every other name stays as the file holds it.
void matchMapNames(Model& model, const std::string& folder, Console& console);

}  // namespace quorva::converter
