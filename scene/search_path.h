// The search path: the empty prefix, then every sub-folder of the folder named by QUORVA_ROOT, depth
// first (each folder before its own sub-folders, names sorted), at most 100 entries. Included files,
// texture images and meshes are looked up along it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quorva {

class SearchPath {
  public:
    static constexpr int MaxEntries = 100;

    // Reads QUORVA_ROOT and scans it. A missing variable closes the log, releases all tracked memory
    // and raises a FatalError whose report() is "\nERROR: environment variable QUORVA_ROOT not
    // defined!\n" (main prints it and exits with status 1).
    void scanFromEnvironment();
    // Scans the given root folder: sub-folders whose names have no extension, each followed by its own
    // sub-folders. A root that is not a folder is fatal ("No folder in Quillbarrow directory..."), and
    // so are more than 99 sub-folders in all.
    void scan(const std::string& root);
    // Only the empty prefix (tests).
    void reset();

    // How a name a scene gives is matched. Names written on case-blind systems may differ in case from
    // the files on disk: when no prefix + name opens as written, IgnoringCase takes the file whose name
    // matches ignoring case in the folder of the first prefix that has one, with the warning
    // "File \"%s\" not found, using \"%s\"" (the name as given, the path used).
    enum class Match { Exact, IgnoringCase };

    // The first prefix + name (double quotes removed) that opens in `mode`; null when none does. Used
    // for the files a scene names (includes, images), so the case is ignored when need be.
    std::FILE* open(const std::string& name, const char* mode, std::string* foundPath = nullptr,
                    Match match = Match::IgnoringCase) const;
    // The path of the first prefix + name that opens for binary reading, or "" when none does.
    std::string find(const std::string& name, Match match = Match::Exact) const;

    const std::vector<std::string>& entries() const { return entries_; }

  private:
    std::vector<std::string> entries_{""};
};

// The process-wide search path, built once by the driver.
SearchPath& searchPath();

}  // namespace quorva
