// Fuzz target: scene text through the lexer and the parser, every statement carried out. Any input
// must end either parsed or with a clean FatalError: no crash, hang, leak or undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "scene/parser.h"
#include "scene/scene_state.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silenceDiagnostics();
    std::string text(reinterpret_cast<const char*>(data), size);
    // ReadArchive and the image functions open files by name; device files would never end.
    for (const char* device : {"/dev", "/proc", "/sys"})
        if (text.find(device) != std::string::npos) return 0;
    // One scene state for the whole run, reset before each input as the driver resets it between
    // scenes: a run pays for parsing, not for setting up and tearing down the state.
    static SceneState* scene = new SceneState;
    scene->resetScene();
    try {
        parseText(*scene, text, "fuzz.qsb");
    } catch (const FatalError&) {
    }
    scene->resetScene();
    return 0;
}
