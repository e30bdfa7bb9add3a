// Progress output without its clock readings (" 0:01 elapsed, 0:02 left"), for exact comparisons.
#pragma once

#include <string>

namespace quorva::testing {

std::string withoutTimes(const std::string& text);

}  // namespace quorva::testing
