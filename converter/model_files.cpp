// Case-blind lookup of the files a model names.
#include "converter/model_files.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "diagnostics/case_blind_file.h"

namespace quorva::converter {

std::string findModelFile(const std::string& path, Console& console) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
    std::string found = findIgnoringCase(path);
    if (!found.empty())
        console.print("\nWarning: File \"%s\" not found, using \"%s\"\n", path.c_str(), found.c_str());
    return found;
}

void matchMapNames(Model& model, const std::string& folder, Console& console) {
    std::map<std::string, std::string> seen;  // one warning per name
    auto match = [&](std::string& name) {
        if (name.empty()) return;
        auto it = seen.find(name);
        if (it == seen.end()) it = seen.emplace(name, findModelFile(folder + name, console)).first;
        const std::string& found = it->second;
        // Only the file name part changes: the folder part is the one the 3DS file gives.
        if (found.size() > folder.size() && found != folder + name) name = found.substr(folder.size());
    };
    for (Material& m : model.materials) {
        match(m.textureMap);
        match(m.bumpMap);
    }
    match(model.backgroundBitmap);
}

}  // namespace quorva::converter
