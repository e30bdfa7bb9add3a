// Internals shared by the evaluator's source files: the depth-carrying evaluation and the built-in
// call dispatch.
#pragma once

#include "eval/value.h"

namespace quorva {

// Evaluates `node` at nesting `depth` (the root is 0); deeper than MaxRequestDepth is fatal.
Value evaluateAt(const EvalContext& ctx, const Request* node, int depth);
// A Call node (built-in function or shading variable).
Value evaluateCall(const EvalContext& ctx, const Request& node, int depth);

// The number power function of the language: 0 to any power is 0, anything to the power 0 is 1, and a
// negative base keeps its sign unless the exponent is an even integer (so no power is undefined).
double powerOf(double a, double b);

// Pattern-shaping helpers shared with the shaders.
double sawtooth(double x);
double ramp(double x);
double legendre(double x, int l, int m);

}  // namespace quorva
