// Progress output without its clock readings (" 0:01 elapsed, 0:02 left"), for exact comparisons.
#pragma once

#include <regex>
#include <string>

namespace quorva::testing {

inline std::string withoutTimes(const std::string& text) {
    static const std::regex times(" [0-9:]+ elapsed(, [0-9:]+ left)?");
    return std::regex_replace(text, times, "");
}

}  // namespace quorva::testing
