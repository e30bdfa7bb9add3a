// The library's file readers run in a child process: a damaged file that crashes one of them (a binary
// PLY file can) must end in a refusal, not take the converter down. The child sends the scene back in
// the library's own lossless binary dump, which the converter reads again and checks itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "converter/report.h"

struct aiScene;
namespace Assimp {
class Importer;
}

namespace quorva::converter {

struct IsolatedImport {
    bool read = false;
    std::string error;               // the library's message, or how the child ended
    std::string console;             // what the child printed (warnings about file names)
    std::vector<std::uint8_t> dump;  // the scene as the library's binary dump ("assbin")
};

// Runs `read` in a child process: it returns the importer's scene or null (the importer's error then
// says why), printing to the console it is given. `secondsAllowed` > 0 ends a child that takes longer.
IsolatedImport importIsolated(const std::function<const aiScene*(Assimp::Importer&, Console&)>& read,
                              unsigned secondsAllowed = 0);

}  // namespace quorva::converter
