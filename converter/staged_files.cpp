// Temporary output files and their renaming.
#include "converter/staged_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace quorva::converter {

StagedFiles::~StagedFiles() {
    for (const auto& [final, temporary] : files_) std::remove(temporary.c_str());
}

std::string StagedFiles::stage(const std::string& final) {
    // A rename within one folder replaces the old file in one step; the suffix keeps a temporary left
    // by a killed run recognisable beside its output.
    std::string temporary = final + ".part-XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return {};
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);  // a temporary file is private; the output is not
    ::close(fd);
    files_.emplace_back(final, temporary);
    return temporary;
}

bool StagedFiles::publish(const std::string& final) {
    for (auto it = files_.begin(); it != files_.end(); ++it) {
        if (it->first != final) continue;
        bool renamed = std::rename(it->second.c_str(), final.c_str()) == 0;
        if (!renamed) std::remove(it->second.c_str());
        files_.erase(it);
        return renamed;
    }
    return false;
}

}  // namespace quorva::converter
