// What every fuzz target does before its first input: the diagnostics print nothing, since the
// messages an input draws are expected, not findings.
#pragma once

#include <string>

#include "diagnostics/diagnostics.h"

namespace quorva {

inline void silenceDiagnostics() {
    static const bool silenced = [] {
        diagnostics().console = [](const std::string&) {};
        return true;
    }();
    (void)silenced;
}

}  // namespace quorva
