// Image texture mappings of the expression language (Image and Indexed mappings, PixelHeight).
#pragma once

#include "eval/value.h"
#include "scene/builtins.h"

namespace quorva {

bool isImageMapping(BuiltinId id);
// args holds the evaluated arguments; none when they are not of the kinds the mapping needs.
Value evaluateImageMapping(const EvalContext& ctx, BuiltinId id, int count, const Value* args);

}  // namespace quorva
