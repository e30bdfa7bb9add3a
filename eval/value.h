// Evaluation of expression trees: the result type, the shading context the shading variables read,
// and the single evaluator.
#pragma once

#include <cstdint>

#include "eval/request.h"
#include "geometry/vec3.h"

namespace quorva {

class RenderContext;
class RandomGenerator;
class QuasiRandom;
struct Intersection;
struct AnimationCounters;

// Result of one evaluation.
struct Value {
    enum class Type : std::uint8_t { None, Number, Vector, Other };
    Type type = Type::None;
    double number = 0;
    Vec3 vector;                     // x, y, z (also r, g, b)
    double fourth = 0;               // carried along (a colour's filter or transparency)
    const Request* other = nullptr;  // string, array, image, environment mapping

    static Value none() { return {}; }
    static Value ofNumber(double n) {
        Value v;
        v.type = Type::Number;
        v.number = n;
        return v;
    }
    static Value ofVector(const Vec3& x, double fourth = 0) {
        Value v;
        v.type = Type::Vector;
        v.vector = x;
        v.fourth = fourth;
        return v;
    }
    bool isNumber() const { return type == Type::Number; }
    bool isVector() const { return type == Type::Vector; }
    bool isNone() const { return type == Type::None; }
};

// The record of the current intersection read by the shading variables (owned by shading).
struct ShadingContext {
    Vec3 P;   // hit point (in the shader's frame)
    Vec3 N;   // unit normal
    Vec3 I;   // incident ray direction
    Vec3 E;   // eye (ray origin)
    Vec3 V;   // direction towards the viewer
    Vec3 Po;  // object-space hit point
    // Surface coordinates (u, v, w). Where working them out costs (angles), the hit is left in
    // `pendingSurfaceCoordinates` instead and they are filled the first time they are read: readers
    // call resolveSurfaceCoordinates() first.
    mutable Vec3 Puv;
    mutable double u = 0, v = 0, w = 0;
    mutable const Intersection* pendingSurfaceCoordinates = nullptr;
    void resolveSurfaceCoordinates() const;
    int level = 0;
    double opacity = 1;
    double age = 0;
    Color color{1, 1, 1};  // the base colour once evaluated
    double colorFourth = 0;
    const Intersection* hit = nullptr;
    RenderContext* render = nullptr;  // trace, visibility and random cast rays / draw numbers here
};

// What an evaluation may read besides the tree.
struct EvalContext {
    const AnimationCounters* frames = nullptr;  // CurrentFrame and the others (0 when null)
    const ShadingContext* shading = nullptr;    // null at parse time: shading variables yield none
    // `random` draws from the shading context's RenderContext when there is one, else from this
    // generator (the parser's); with neither it yields none.
    RandomGenerator* random = nullptr;
    // fBm draws from the shading context's RenderContext in the same way, else from this sequence.
    QuasiRandom* quasi = nullptr;
};

// The single evaluator. A null node is "(internal failure 0x2f) NULL request unexpected". Nothing is
// allocated on the way, so it may run for every shading sample.
Value evaluate(const EvalContext& ctx, const Request* node);
inline Value evaluate(const EvalContext& ctx, const RequestPtr& node) {
    return evaluate(ctx, node.get());
}

// Conveniences for statements: true and the result when the tree yields a number (a vector).
bool evaluateNumber(const EvalContext& ctx, const Request* node, double& out);
bool evaluateVector(const EvalContext& ctx, const Request* node, Vec3& out, double* fourth = nullptr);
inline bool evaluateNumber(const EvalContext& ctx, const RequestPtr& node, double& out) {
    return evaluateNumber(ctx, node.get(), out);
}
inline bool evaluateVector(const EvalContext& ctx, const RequestPtr& node, Vec3& out,
                           double* fourth = nullptr) {
    return evaluateVector(ctx, node.get(), out, fourth);
}
// The same, ending the run with "Bad float expression" or "Bad point/vector/color expression" when the
// tree yields something else.
double requireNumber(const EvalContext& ctx, const Request* node);
Vec3 requireVector(const EvalContext& ctx, const Request* node, double* fourth = nullptr);

}  // namespace quorva
