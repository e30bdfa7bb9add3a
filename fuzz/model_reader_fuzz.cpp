// Fuzz target for the converter's general model reader (OBJ, glTF, PLY, STL, FBX, Collada through the
// Open Asset Import Library) and what follows it: the model is given its default view, smoothed and
// written as solids and shaders. The library reads in a child process given 3 seconds: its own crashes
// and hangs become refusals, so what is found here is ours. An input is the reader's format hint on its first
// line ("obj", "gltf", "ply", "stl", "fbx", "dae"; at most 7 characters), then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "converter/assimp_reader.h"
#include "converter/default_view.h"
#include "converter/geometry_writer.h"
#include "converter/smoothing.h"
#include "diagnostics/diagnostics.h"

using namespace quorva;
using namespace quorva::converter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t line = 0;
    while (line < size && line < 8 && data[line] != '\n') ++line;
    if (line == size || line > 7) return 0;
    std::string hint(reinterpret_cast<const char*>(data), line);
    Console quiet{[](const std::string&) {}};
    ReadSettings settings;
    settings.fileName = "fuzz." + hint;
    try {
        Model model = readAssimpMemory(data + line + 1, size - line - 1, hint, settings, quiet, 3);
        addDefaultView(model, modelExtent(model));
        SolidPlan plan = planSolids(model, 31, true);
        for (const ShaderUse& s : plan.shaders) shaderDeclaration(s);
        for (const Solid& s : plan.solids) {
            CornerNormals normals = smoothNormals(model.meshes[s.mesh], 60);
            (void)normals;
        }
    } catch (const FatalError&) {
    }
    return 0;
}
