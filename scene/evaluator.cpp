// The expression evaluator: constants, vectors, operators, frame values and the dispatch to the
// built-in calls. It allocates nothing, so it can run for every shading sample.
#include "eval/evaluator.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "eval/spectrum.h"
#include "geometry/transform.h"
#include "scene/evaluator_noise.h"
#include "scene/spline.h"
#include "trace/options.h"

namespace quorva {

namespace {

Value vectorValue(const Vec3& v, double fourth) {
    return Value::ofVector(v, fourth);
}

Value otherValue(const Request* node) {
    Value v;
    v.type = Value::Type::Other;
    v.other = node;
    return v;
}

Value boolean(bool b) {
    return Value::ofNumber(b ? 1.0 : 0.0);
}

double remainderOf(double a, double b) {
    return std::fabs(a) < 1e-8 ? 0.0 : std::fmod(a, b);
}

Value add(const Value& a, const Value& b, double sign) {
    if (a.isNumber() && b.isNumber()) return Value::ofNumber(a.number + sign * b.number);
    if (a.isVector() && b.isVector())
        return vectorValue(a.vector + b.vector * sign, a.fourth + sign * b.fourth);
    return Value::none();
}

Value multiplyValues(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return Value::ofNumber(a.number * b.number);
    if (a.isNumber() && b.isVector()) return vectorValue(b.vector * a.number, b.fourth);
    if (a.isVector() && b.isNumber()) return vectorValue(a.vector * b.number, a.fourth);
    if (a.isVector() && b.isVector()) return vectorValue(cross(a.vector, b.vector), a.fourth * b.fourth);
    return Value::none();
}

Value divideValues(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return Value::ofNumber(a.number / b.number);
    if (a.isVector() && b.isNumber()) {
        if (b.number == 0) internalFailure(InternalFailure::DivisionByZero, "Division by 0");
        return vectorValue(a.vector * (1.0 / b.number), a.fourth);
    }
    if (a.isVector() && b.isVector())
        return vectorValue(cross(a.vector, b.vector), b.fourth == 0 ? 0.0 : a.fourth / b.fourth);
    return Value::none();
}

Value compare(RequestKind kind, const Value& a, const Value& b) {
    if (!a.isNumber() || !b.isNumber()) return Value::none();
    switch (kind) {
        case RequestKind::Less:
            return boolean(a.number < b.number);
        case RequestKind::Greater:
            return boolean(a.number > b.number);
        case RequestKind::LessEqual:
            return boolean(a.number <= b.number);
        case RequestKind::GreaterEqual:
            return boolean(a.number >= b.number);
        case RequestKind::Equal:
            return boolean(a.number == b.number);
        case RequestKind::And:
            return boolean(a.number != 0 && b.number != 0);
        case RequestKind::Or:
            return boolean(a.number != 0 || b.number != 0);
        default:
            return Value::none();
    }
}

Value indexValue(const EvalContext& ctx, const Value& operand, const Value& index, int depth) {
    if (operand.isNumber()) fatal("Float expected");
    if (!index.isNumber()) return Value::none();
    double i = std::trunc(index.number);
    if (operand.isVector()) {
        if (i == 0) return Value::ofNumber(operand.vector.x);
        if (i == 1) return Value::ofNumber(operand.vector.y);
        if (i == 2) return Value::ofNumber(operand.vector.z);
        if (i == 3) return Value::ofNumber(operand.fourth);
        return Value::none();
    }
    if (operand.type == Value::Type::Other && operand.other && operand.other->kind == RequestKind::Array) {
        const auto& elements = operand.other->elements;
        if (!(i >= 0 && i < static_cast<double>(elements.size())))
            fatal("Array index (%d) out of range",
                  std::isfinite(i) && std::fabs(i) < 2147483647.0 ? static_cast<int>(i) : -1);
        return evaluateAt(ctx, elements[static_cast<std::size_t>(i)].get(), depth + 1);
    }
    return Value::none();
}

// A point expression moved by a rotation about an axis, a scale or a translation.
[[gnu::noinline]] Value transformExpression(const EvalContext& ctx, const Request& node, int depth) {
    Value p = evaluateAt(ctx, node.left.get(), depth + 1);
    if (!p.isVector() || !node.right) return Value::none();
    Value b = evaluateAt(ctx, node.right.get(), depth + 1);
    switch (node.kind) {
        case RequestKind::TranslateExpression:
            if (b.isVector()) return vectorValue(p.vector + b.vector, p.fourth);
            return Value::none();
        case RequestKind::ScaleExpression:
            if (b.isVector()) return vectorValue(multiply(p.vector, b.vector), p.fourth);
            if (b.isNumber()) return vectorValue(p.vector * b.number, p.fourth);
            return Value::none();
        case RequestKind::RotateExpression: {
            if (!b.isVector() || !node.argument) return Value::none();
            Value angle = evaluateAt(ctx, node.argument.get(), depth + 1);
            if (!angle.isNumber()) return Value::none();
            // Rodrigues' rotation by the right-hand rule about the unit axis.
            Vec3 k = normalized(b.vector);
            double t = angle.number * 0.017453292519943295;
            double c = std::cos(t), s = std::sin(t);
            const Vec3& v = p.vector;
            Vec3 r = v * c + cross(k, v) * s + k * (dot(k, v) * (1 - c));
            return vectorValue(r, p.fourth);
        }
        default:
            return Value::none();
    }
}

double frameValue(const EvalContext& ctx, RequestKind kind) {
    if (!ctx.frames) return 0;
    switch (kind) {
        case RequestKind::CurrentFrame:
            return ctx.frames->currentFrame;
        case RequestKind::LastFrame:
            return ctx.frames->lastFrame;
        case RequestKind::FirstFrame:
            return ctx.frames->firstFrame;
        default:
            return ctx.frames->animationLength;
    }
}

}  // namespace

double powerOf(double a, double b) {
    if (a == 0) return 0;
    if (b == 0) return 1;
    if (b == 1) return a;
    if (a > 0) return std::pow(a, b);
    double magnitude = std::pow(-a, b);
    bool evenInteger = std::trunc(b) == b && std::fmod(b, 2.0) == 0;
    return evenInteger ? magnitude : -magnitude;
}

namespace {

// The helpers below are kept out of line so that the recursive evaluateAt frame stays small: the
// nesting limit must fit in the native stack even in unoptimised, instrumented builds.

[[gnu::noinline]] Value evaluateVectorExpression(const EvalContext& ctx, const Request& node, int depth) {
    Vec3 v;
    for (int i = 0; i < 3; ++i) {
        Value c = evaluateAt(ctx, node.components[i].get(), depth + 1);
        if (!c.isNumber()) return Value::none();
        v[i] = c.number;
    }
    double fourth = 0;
    if (node.components[3]) {
        Value c = evaluateAt(ctx, node.components[3].get(), depth + 1);
        if (!c.isNumber()) return Value::none();
        fourth = c.number;
    }
    return vectorValue(v, fourth);
}

[[gnu::noinline]] Value evaluateSpectrumNode(const EvalContext& ctx, const Request& node, int depth) {
    if (!node.spectrum || !node.spectrum->index) return otherValue(&node);
    Value t = evaluateAt(ctx, node.spectrum->index.get(), depth + 1);
    if (!t.isNumber()) return Value::none();
    Color colour;
    double extra = 0;
    evaluateSpectrum(*node.spectrum, t.number, colour, extra);
    return vectorValue({colour.r, colour.g, colour.b}, extra);
}

[[gnu::noinline]] Value evaluateSplineNode(const EvalContext& ctx, const Request& node, int depth) {
    if (!node.spline) return Value::none();
    Value t = evaluateAt(ctx, node.left.get(), depth + 1);
    if (!t.isNumber()) return Value::none();
    return vectorValue(evaluateSpline(*node.spline, t.number), 0);
}

Value combine(RequestKind kind, const Value& a, const Value& b) {
    switch (kind) {
        case RequestKind::Add:
            return add(a, b, 1);
        case RequestKind::Subtract:
            return add(a, b, -1);
        case RequestKind::Multiply:
            return multiplyValues(a, b);
        case RequestKind::Divide:
            return divideValues(a, b);
        case RequestKind::Power:
            if (a.isNumber() && b.isNumber()) return Value::ofNumber(powerOf(a.number, b.number));
            if (a.isVector() && b.isVector())
                return vectorValue(multiply(a.vector, b.vector), a.fourth * b.fourth);
            return Value::none();
        case RequestKind::Remainder:
            if (a.isNumber() && b.isNumber()) return Value::ofNumber(remainderOf(a.number, b.number));
            return Value::none();
        case RequestKind::Dot:
            if (a.isVector() && b.isVector()) return Value::ofNumber(dot(a.vector, b.vector));
            return Value::none();
        default:
            return compare(kind, a, b);
    }
}

// Operators of two operands; both are always evaluated, left first (&& and || do not short-circuit).
[[gnu::noinline]] Value evaluateBinary(const EvalContext& ctx, const Request& node, int depth) {
    Value a = evaluateAt(ctx, node.left.get(), depth + 1);
    Value b = evaluateAt(ctx, node.right.get(), depth + 1);
    if (node.kind == RequestKind::Index) return indexValue(ctx, a, b, depth);
    return combine(node.kind, a, b);
}

[[gnu::noinline]] Value evaluateUnary(const EvalContext& ctx, const Request& node, int depth) {
    Value a = evaluateAt(ctx, node.left.get(), depth + 1);
    if (node.kind == RequestKind::Not) return a.isNumber() ? boolean(a.number == 0) : Value::none();
    if (a.isNumber()) return Value::ofNumber(std::fabs(a.number));
    if (a.isVector()) return Value::ofNumber(length(a.vector));
    return Value::none();
}

[[gnu::noinline]] Value evaluateChoice(const EvalContext& ctx, const Request& node, int depth) {
    Value c = evaluateAt(ctx, node.argument.get(), depth + 1);
    if (!c.isNumber()) return Value::none();
    return evaluateAt(ctx, (c.number != 0 ? node.left : node.right).get(), depth + 1);
}

[[gnu::noinline]] Value evaluateNoise(const EvalContext& ctx, const Request& node, int depth) {
    const Value point = evaluateAt(ctx, node.left.get(), depth + 1);
    if (!node.right) return evaluateNoiseNode(point, nullptr);
    const Value octaves = evaluateAt(ctx, node.right.get(), depth + 1);
    return evaluateNoiseNode(point, &octaves);
}

[[gnu::noinline]] Value currentColour(const EvalContext& ctx) {
    if (ctx.shading) {
        const Color& c = ctx.shading->color;
        return vectorValue({c.r, c.g, c.b}, ctx.shading->colorFourth);
    }
    return vectorValue({1, 1, 1}, 0);
}

}  // namespace

Value evaluateAt(const EvalContext& ctx, const Request* node, int depth) {
    if (!node) internalFailure(InternalFailure::NullRequest, "NULL request unexpected");
    if (depth > MaxRequestDepth) fatal("Expression nested too deeply (more than %d levels)", MaxRequestDepth);
    switch (node->kind) {
        case RequestKind::Float:
            return Value::ofNumber(node->number);
        case RequestKind::Vector:
            return vectorValue(node->vector, node->fourth);
        case RequestKind::VectorExpression:
            return evaluateVectorExpression(ctx, *node, depth);
        case RequestKind::String:
        case RequestKind::Array:
        case RequestKind::Image:
        case RequestKind::Environment:
            return otherValue(node);
        case RequestKind::ColorSpectrumValue:
            return evaluateSpectrumNode(ctx, *node, depth);
        case RequestKind::SplineValue:
            return evaluateSplineNode(ctx, *node, depth);
        case RequestKind::Add:
        case RequestKind::Subtract:
        case RequestKind::Multiply:
        case RequestKind::Divide:
        case RequestKind::Power:
        case RequestKind::Remainder:
        case RequestKind::Dot:
        case RequestKind::Index:
        case RequestKind::Less:
        case RequestKind::Greater:
        case RequestKind::LessEqual:
        case RequestKind::GreaterEqual:
        case RequestKind::Equal:
        case RequestKind::And:
        case RequestKind::Or:
            return evaluateBinary(ctx, *node, depth);
        case RequestKind::Abs:
        case RequestKind::Not:
            return evaluateUnary(ctx, *node, depth);
        case RequestKind::Choice:
            return evaluateChoice(ctx, *node, depth);
        case RequestKind::Noise:
            return evaluateNoise(ctx, *node, depth);
        case RequestKind::RotateExpression:
        case RequestKind::ScaleExpression:
        case RequestKind::TranslateExpression:
            return transformExpression(ctx, *node, depth);
        case RequestKind::CurrentColor:
            return currentColour(ctx);
        case RequestKind::CurrentFrame:
        case RequestKind::LastFrame:
        case RequestKind::FirstFrame:
        case RequestKind::AnimationLength:
            return Value::ofNumber(frameValue(ctx, node->kind));
        case RequestKind::Call:
            return evaluateCall(ctx, *node, depth);
    }
    return Value::none();
}

Value evaluate(const EvalContext& ctx, const Request* node) {
    return evaluateAt(ctx, node, 0);
}

bool evaluateNumber(const EvalContext& ctx, const Request* node, double& out) {
    Value v = evaluate(ctx, node);
    if (!v.isNumber()) return false;
    out = v.number;
    return true;
}

bool evaluateVector(const EvalContext& ctx, const Request* node, Vec3& out, double* fourth) {
    Value v = evaluate(ctx, node);
    if (!v.isVector()) return false;
    out = v.vector;
    if (fourth) *fourth = v.fourth;
    return true;
}

double requireNumber(const EvalContext& ctx, const Request* node) {
    double out = 0;
    if (!evaluateNumber(ctx, node, out)) fatal("Bad float expression");
    return out;
}

Vec3 requireVector(const EvalContext& ctx, const Request* node, double* fourth) {
    Vec3 out;
    if (!evaluateVector(ctx, node, out, fourth)) fatal("Bad point/vector/color expression");
    return out;
}

}  // namespace quorva
