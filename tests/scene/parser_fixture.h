// Helpers of the parser tests: parse text into a scene and report the fatal error it raised.
#pragma once

#include <string>

#include "diagnostics/diagnostics.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"

namespace quorva::testing {

// The message of the fatal error the text raises, or "" when it parses.
inline std::string parseFailure(SceneState& scene, const std::string& text,
                                const std::string& name = "t.qsb") {
    try {
        parseText(scene, text, name);
    } catch (const FatalError& e) {
        return e.what();
    }
    return "";
}

inline std::string parseFailure(const std::string& text) {
    SceneState scene;
    return parseFailure(scene, text);
}

// The fatal error itself (position included); fails the test when the text parses.
inline FatalError parseError(const std::string& text, const std::string& name = "t.qsb") {
    SceneState scene;
    try {
        parseText(scene, text, name);
    } catch (const FatalError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for: " << text;
    return FatalError("", "", "", 0, false);
}

// Parses text that must be valid.
inline void parseOk(SceneState& scene, const std::string& text) {
    try {
        parseText(scene, text, "t.qsb");
    } catch (const FatalError& e) {
        FAIL() << e.report() << " for: " << text;
    }
}

// A declared expression's value as a number (NaN when it is not one).
inline double declaredNumber(const SceneState& scene, const std::string& name) {
    const SymbolEntry* e = scene.symbols->lookup(name);
    if (!e) return std::nan("");
    auto* r = std::get_if<RequestPtr>(&e->value);
    if (!r || !*r || (*r)->kind != RequestKind::Float) return std::nan("");
    return (*r)->number;
}

}  // namespace quorva::testing
