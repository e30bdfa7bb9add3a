// The noise built-ins and the noise node of the expression language.
#pragma once

#include "eval/value.h"
#include "scene/builtins.h"

namespace quorva {

bool isNoiseBuiltin(BuiltinId id);
// args holds the evaluated arguments; none when they are not of the kinds the function needs.
Value evaluateNoiseCall(const EvalContext& ctx, BuiltinId id, int count, const Value* args);
// noise(P[, octaves]); `octaves` null when not given.
Value evaluateNoiseNode(const Value& point, const Value* octaves);

}  // namespace quorva
