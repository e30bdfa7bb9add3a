// The pattern lives here so that the test files comparing progress output do not compile <regex>.
#include "support/progress_text.h"

#include <regex>

namespace quorva::testing {

std::string withoutTimes(const std::string& text) {
    static const std::regex times(" [0-9:]+ elapsed(, [0-9:]+ left)?");
    return std::regex_replace(text, times, "");
}

}  // namespace quorva::testing
