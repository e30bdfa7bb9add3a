// Fuzz target for the converter's 3DS reader and what follows it: the model read from the bytes is
// smoothed and written as solids, shaders and transformation text, so that no value read from a file
// can reach a later step unchecked.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/geometry_writer.h"
#include "converter/smoothing.h"
#include "converter/tds_reader.h"
#include "diagnostics/diagnostics.h"

using namespace quorva;
using namespace quorva::converter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Console quiet{[](const std::string&) {}};
    ReadSettings settings;
    settings.gamma = data[0] & 1;
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    try {
        Model model = readTds(bytes, settings, quiet);
        SolidPlan plan = planSolids(model);
        planSolids(model, 31, true);  // the names of declared solids (binary, MSH and -d output)
        for (const ShaderUse& s : plan.shaders) shaderDeclaration(s);
        for (const Solid& s : plan.solids) {
            const Mesh& mesh = model.meshes[s.mesh];
            CornerNormals normals = smoothNormals(mesh, (data[0] & 2) ? 0 : 60);
            (void)normals;
            solidCentre(s, mesh);
            transformationText(mesh.frame);
        }
        for (const CameraView& c : model.cameras) fieldOfView(c.lens);
    } catch (const FatalError&) {
    }
    return 0;
}
