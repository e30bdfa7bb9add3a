// File names written on case-blind systems ("M_RIFL.BMP" for m_rifl.bmp): the one lookup the renderer
// and the converter share, so that both accept the same names. Header-only, since the converter links
// none of the renderer's libraries.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace quorva {

// The regular file in the folder of `path` whose name equals the name part of `path` ignoring ASCII
// case, as that folder part followed by the name on disk; "" when there is none. Among several the
// first in byte order is taken, so every run picks the same one. Meant for a path that does not exist
// as written: it is not tested first.
inline std::string findIgnoringCase(const std::string& path) {
    namespace fs = std::filesystem;
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = path.substr(folder.size());
    if (name.empty()) return {};
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    auto same = [&](const std::string& a) {
        if (a.size() != name.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (lower(a[i]) != lower(name[i])) return false;
        return true;
    };
    std::string best;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        std::error_code typeError;
        if (!same(entry) || !it->is_regular_file(typeError)) continue;
        if (best.empty() || entry < best) best = entry;
    }
    return best.empty() ? best : folder + best;
}

}  // namespace quorva
