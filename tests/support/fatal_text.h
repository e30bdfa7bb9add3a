// The message of the fatal error a piece of code raises, for tests that assert exact texts.
#pragma once

#include <functional>
#include <string>

#include "diagnostics/diagnostics.h"

namespace quorva::testing {

// what() of the FatalError that f raises, or "(no error)" when it returns normally.
inline std::string fatalText(const std::function<void()>& f) {
    try {
        f();
    } catch (const FatalError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace quorva::testing
