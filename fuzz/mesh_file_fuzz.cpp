// Fuzz target: bytes read as a binary mesh file. Any input must end either read or with a clean
// FatalError: no crash, hang, read past the end or allocation sized by an unchecked count.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "formats/mesh_file.h"
#include "fuzz/fuzz_support.h"
#include "scene/parser.h"
#include "scene/scene_state.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silenceDiagnostics();
    SceneState scene;
    try {
        // The shaders the seeds' calls name.
        parseText(scene,
                  "Declare red = Shader [ PlainSurface [ Color '1, 0, 0' ] ]\n"
                  "Declare gold = red\nDeclare jade = red\nDeclare floor = red\nDeclare stone = red\n",
                  "fuzz.qsb");
        readMeshBytes(scene, std::vector<std::uint8_t>(data, data + size), "fuzz.msh");
    } catch (const FatalError&) {
    }
    return 0;
}
