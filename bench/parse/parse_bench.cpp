// Times parsing one scene file: prints its size, the parse time and the rate. With --syntax-only the
// statements are read and checked but not carried out (the grammar, lexer and expression reader alone).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "diagnostics/diagnostics.h"
#include "scene/parser.h"
#include "scene/scene_state.h"

using namespace quorva;

int main(int argc, char** argv) {
    bool syntaxOnly = argc == 3 && std::string(argv[1]) == "--syntax-only";
    if (argc != 2 + syntaxOnly) {
        std::fprintf(stderr, "usage: quorva_parse_bench [--syntax-only] scene.qsb\n");
        return 2;
    }
    std::string path = argv[1 + syntaxOnly];
    double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    SceneState scene;
    auto start = std::chrono::steady_clock::now();
    try {
        if (syntaxOnly) {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            std::string text(static_cast<std::size_t>(megabytes * 1e6), '\0');
            std::size_t got = f ? std::fread(text.data(), 1, text.size(), f) : 0;
            if (f) std::fclose(f);
            text.resize(got);
            checkSyntax(scene, text, path);
        } else {
            parseFile(scene, path);
        }
    } catch (const FatalError& e) {
        std::fprintf(stderr, "%s\n", e.report().c_str());
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f MB in %.3f s: %.1f MB/s (%s)\n", megabytes, seconds, megabytes / seconds,
                syntaxOnly ? "syntax only" : "statements carried out");
    return 0;
}
