// Pattern matching over a folder, list files, single base names.
#include "driver/scene_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "diagnostics/diagnostics.h"
#include "driver/file_names.h"
#include "driver/run_state.h"

namespace quorva {
namespace {

// Shell-style match of '?' and '*' (no character classes), byte by byte.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string cutAtFirstDot(const std::string& name) {
    std::size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void addPatternMatches(const std::string& input, RunState& run) {
    namespace fs = std::filesystem;
    std::size_t slash = input.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : input.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? input : input.substr(slash + 1);
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (wildcardMatch(pattern, name)) names.push_back(name);
    }
    // Listing order is sorted so that runs are reproducible. A scene's other files (.qsh, .tga, ...)
    // match a pattern like "scene*" too: each base name is rendered once. The folder of the pattern
    // stays in front of the names so that scenes outside the current folder are found.
    std::sort(names.begin(), names.end());
    std::string prefix = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    for (const std::string& name : names) {
        if (run.sceneNames.size() >= MaxScenes) break;
        std::string base = prefix + cutAtFirstDot(name);
        if (std::find(run.sceneNames.begin(), run.sceneNames.end(), base) == run.sceneNames.end())
            run.sceneNames.push_back(base);
    }
    if (run.sceneNames.empty()) fatal("No QSB files found");
}

void addListFile(const std::string& input, RunState& run) {
    std::ifstream in(input);
    if (!in) fatal("QSB List file doesn't exist.");
    std::string word;
    while (in >> word) {
        if (hasExtension(word)) fatal("No file extension when invoking QSB files within a .LIST");
        std::error_code ec;
        if (!std::filesystem::is_regular_file(word + ".qsb", ec)) continue;
        if (run.sceneNames.size() >= MaxScenes) break;
        run.sceneNames.push_back(word);
    }
}

}  // namespace

void buildSceneList(const std::string& input, RunState& run) {
    run.sceneNames.clear();
    run.listFile.clear();
    if (input.find_first_of("?*") != std::string::npos) {
        run.inputKind = InputKind::Pattern;
        addPatternMatches(input, run);
    } else if (input.find(".list") != std::string::npos || input.find(".LIST") != std::string::npos) {
        run.inputKind = InputKind::ListFile;
        run.listFile = input;
        addListFile(input, run);
    } else {
        run.inputKind = InputKind::BaseName;
        if (hasExtension(input)) fatal("No file extension in input");
        run.sceneNames.push_back(input);
    }
}

}  // namespace quorva
