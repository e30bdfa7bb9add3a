// Fuzz target for the VUE animation reader: frames 0 to 2 of the text are parsed and applied to a small
// model with two meshes, a light and a camera.
#include <cstddef>
#include <cstdint>
#include <string>

#include "converter/geometry_writer.h"
#include "converter/vue_reader.h"
#include "diagnostics/diagnostics.h"

using namespace quorva;
using namespace quorva::converter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Console quiet{[](const std::string&) {}};
    lastVueFrame(text);
    for (int frame = 0; frame < 3; ++frame) {
        Model model;
        Mesh box;
        box.name = "Box";
        box.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        box.faces = {{{0, 1, 2}, 0}};
        box.materialNames = {"Default"};
        model.meshes = {box, box};
        model.meshes[1].name = "Target";
        model.pointLights.push_back({"Omni", {0, 0, 0}, {1, 1, 1}, false, 1});
        model.spotLights.push_back({"Spot", {0, 0, 5}, {0, 0, 0}, {1, 1, 1}, 20, 40, false, false, 1});
        model.cameras.push_back({"Camera", {0, -10, 0}, {0, 0, 0}, 0, 50});
        try {
            applyVueFrame(parseVueFrame(text, frame), model, quiet);
            for (const Mesh& m : model.meshes) transformationText(m.transform);
        } catch (const FatalError&) {
        }
    }
    return 0;
}
