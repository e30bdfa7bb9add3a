// Reads one scene in one form and prints "seconds cpu-seconds shapes peak-kB": `ascii` parses a scene file,
// `msh` parses a small scene file that reads its mesh with ReadMeshFile, `qsb` parses the shader file
// and reads the binary scene. Shapes are the top-level shapes the world holds afterwards.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.h"
#include "formats/binary_scene.h"
#include "scene/parser.h"
#include "scene/scene_state.h"

using namespace quorva;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: quorva_binary_bench ascii|msh|qsb scene [shader-file]\n");
        return 2;
    }
    std::string form = argv[1], path = argv[2];
    diagnostics().messagesOn = false;
    SceneState scene;
    auto start = std::chrono::steady_clock::now();
    try {
        if (form == "qsb") {
            if (argc == 4) parseFile(scene, argv[3]);
            ReadBinaryScene(scene, path);
        } else {
            parseFile(scene, path);
        }
    } catch (const FatalError& e) {
        std::fprintf(stderr, "%s\n", e.report().c_str());
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::printf("%.4f %.4f %zu %ld\n", seconds, cpu, scene.frame.world.mainList.size(), usage.ru_maxrss);
    return 0;
}
