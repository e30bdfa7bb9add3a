// Evaluation of expression trees: the result type, the shading context the shading variables read,
// and the single evaluator.
#pragma once

#include <cstdint>

#include "geometry/vec3.h"
#include "scene/request.h"

namespace quorva {

class RenderContext;
struct Intersection;
struct AnimationCounters;

// Result of one evaluation.
struct Value {
    enum class Type : std::uint8_t { None, Number, Vector, Other };
    Type type = Type::None;
    double number = 0;
    Vec3 vector;        // x, y, z (also r, g, b)
    double fourth = 0;  // carried along (a colour's filter or transparency)
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
    Vec3 P;        // hit point (in the shader's frame)
    Vec3 N;        // unit normal
    Vec3 I;        // incident ray direction
    Vec3 E;        // eye (ray origin)
    Vec3 V;        // direction towards the viewer
    Vec3 Po;       // object-space hit point
    Vec3 Puv;      // surface coordinates (u, v, w)
    double u = 0, v = 0, w = 0;
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
};

// The single evaluator. A null node is "(internal failure 0x2f) NULL request unexpected".
Value evaluate(const EvalContext& ctx, const Request* node);

}  // namespace quorva
