// Small helpers for the file names the driver derives.
#pragma once

#include <string>

namespace quorva {

// True when the last component of the path (after the last '/') contains a '.': the name carries an
// extension. Folders with dots ("../scenes/wall") are fine.
inline bool hasExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.find('.', start) != std::string::npos;
}

}  // namespace quorva
