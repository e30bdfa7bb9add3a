// The search path: built once from the folder tree under QUORVA_ROOT; files are looked up along it.
#include "scene/search_path.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "diagnostics/allocation.h"
#include "diagnostics/case_blind_file.h"
#include "diagnostics/diagnostics.h"

namespace quorva {

namespace fs = std::filesystem;

namespace {

// Sub-folders of `folder` whose names carry no extension (no '.'), sorted so that every run builds the
// same path whatever order the file system lists them in.
std::vector<std::string> subFolders(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError)) continue;
        std::string name = it->path().filename().string();
        if (name.find('.') != std::string::npos) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

void scanFolder(const std::string& root, const std::string& folder, std::vector<std::string>& entries) {
    for (const std::string& name : subFolders(folder)) {
        if (entries.size() >= static_cast<std::size_t>(SearchPath::MaxEntries))
            fatal("Too many sub-folders in Quillbarrow directory \"%s\".\nThe maximum is %d.", root.c_str(),
                  SearchPath::MaxEntries - 1);
        std::string path = folder + "/" + name;
        entries.push_back(path);
        scanFolder(root, path, entries);
    }
}

std::string withoutQuotes(const std::string& name) {
    std::string s;
    s.reserve(name.size());
    for (char c : name)
        if (c != '"') s.push_back(c);
    return s;
}

}  // namespace

void SearchPath::scanFromEnvironment() {
    const char* root = std::getenv("QUORVA_ROOT");
    if (!root) {
        closeLog();
        trackedReleaseAll();
        throw FatalError("environment variable QUORVA_ROOT not defined",
                         "\nERROR: environment variable QUORVA_ROOT not defined!\n", "", 0, false);
    }
    scan(root);
}

void SearchPath::scan(const std::string& root) {
    std::string base = root;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::error_code ec;
    if (base.empty() || !fs::is_directory(base, ec))
        fatal("No folder in Quillbarrow directory.\nYou probably need to reinstall the software !");
    std::vector<std::string> entries{""};
    scanFolder(base, base, entries);
    entries_ = std::move(entries);
}

void SearchPath::reset() {
    entries_.assign(1, "");
}

std::FILE* SearchPath::open(const std::string& name, const char* mode, std::string* foundPath,
                            Match match) const {
    const std::string plain = withoutQuotes(name);
    auto openFile = [&](const std::string& path) -> std::FILE* {
        std::FILE* f = std::fopen(path.c_str(), mode);
        // A folder of that name opens too on this platform but is no file.
        std::error_code ec;
        if (f && fs::is_directory(path, ec)) {
            std::fclose(f);
            return nullptr;
        }
        if (f && foundPath) *foundPath = path;
        return f;
    };
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (std::FILE* f = openFile(i == 0 ? plain : entries_[i] + "/" + plain)) return f;
    if (match == Match::Exact) return nullptr;
    // Only when the name is nowhere as written, so an exact file later on the path still wins.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::string path = findIgnoringCase(i == 0 ? plain : entries_[i] + "/" + plain);
        if (path.empty()) continue;
        if (std::FILE* f = openFile(path)) {
            warning("File \"%s\" not found, using \"%s\"", plain.c_str(), path.c_str());
            return f;
        }
    }
    return nullptr;
}

std::string SearchPath::find(const std::string& name, Match match) const {
    std::string path;
    std::FILE* f = open(name, "rb", &path, match);
    if (!f) return "";
    std::fclose(f);
    return path;
}

SearchPath& searchPath() {
    static SearchPath path;
    return path;
}

}  // namespace quorva
