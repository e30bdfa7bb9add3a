// The noise built-ins: argument kinds, octave settings and the dispatch to the noise generators. A
// point must be a vector; other kinds give none.
#include "scene/evaluator_noise.h"

#include <algorithm>
#include <cmath>

#include "shading/noise.h"
#include "trace/quasi_random.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

constexpr double TwoPi = 6.283185307179586;

// An octave argument: a number sets the count (truncated), a vector gives (count, lacunarity, gain).
// The count is clamped to 1..MaxOctaves. False for any other kind.
bool octavesOf(const Value* v, int defaultCount, Octaves& out) {
    out.count = defaultCount;
    if (!v) return true;
    double count;
    if (v->isNumber()) {
        count = v->number;
    } else if (v->isVector()) {
        count = v->vector.x;
        out.lacunarity = v->vector.y;
        out.gain = v->vector.z;
    } else {
        return false;
    }
    count = std::trunc(count);
    out.count = !(count >= 1) ? 1 : (count > MaxOctaves ? MaxOctaves : static_cast<int>(count));
    return true;
}

// Angle of (a, b) around the third axis in [0, 1) turns, a towards b; 0 on the axis.
double turns(double a, double b) {
    const double rho = std::sqrt(a * a + b * b);
    if (!(rho >= 1e-8)) return 0;
    const double angle = std::acos(std::clamp(a / rho, -1.0, 1.0));
    return (b < 0 ? TwoPi - angle : angle) / TwoPi;
}

QuasiRandom* sequenceOf(const EvalContext& ctx) {
    if (ctx.shading && ctx.shading->render) return &ctx.shading->render->fbmTriples;
    return ctx.quasi;
}

// fBm(P[, a]): P moved by a (0.1 by default; a number for all axes or a vector) times 2u - 1 per axis.
Value fBm(const EvalContext& ctx, const Value& p, const Value* amount) {
    Vec3 a{0.1, 0.1, 0.1};
    if (amount) {
        if (amount->isNumber())
            a = {amount->number, amount->number, amount->number};
        else if (amount->isVector())
            a = amount->vector;
        else
            return Value::none();
    }
    QuasiRandom* sequence = sequenceOf(ctx);
    if (!sequence) return Value::none();
    double u, v, w;
    sequence->nextTriple(u, v, w);
    return Value::ofVector(p.vector + multiply(a, {2 * u - 1, 2 * v - 1, 2 * w - 1}), p.fourth);
}

}  // namespace

bool isNoiseBuiltin(BuiltinId id) {
    switch (id) {
        case BuiltinId::Circular1:
        case BuiltinId::Circular2:
        case BuiltinId::Dnoise:
        case BuiltinId::FBm:
        case BuiltinId::Fcellnoise:
        case BuiltinId::Fnoise:
        case BuiltinId::Radial1:
        case BuiltinId::Radial2:
        case BuiltinId::Scnoise:
        case BuiltinId::Vcellnoise:
        case BuiltinId::Vcnoise:
        case BuiltinId::Vnoise:
        case BuiltinId::Voronoi:
            return true;
        default:
            return false;
    }
}

Value evaluateNoiseCall(const EvalContext& ctx, BuiltinId id, int count, const Value* args) {
    const Value& p = args[0];
    if (!p.isVector()) return Value::none();
    const Value* second = count > 1 ? &args[1] : nullptr;
    const Vec3& q = p.vector;
    Octaves octaves;
    switch (id) {
        case BuiltinId::Circular1:
            return Value::ofNumber(std::sqrt(q.x * q.x + q.z * q.z));
        case BuiltinId::Circular2:
            return Value::ofNumber(std::sqrt(q.x * q.x + q.y * q.y));
        case BuiltinId::Radial1:
            return Value::ofNumber(turns(q.x, q.z));
        case BuiltinId::Radial2:
            return Value::ofNumber(turns(q.x, q.y));
        case BuiltinId::Fnoise:
            if (!octavesOf(second, 10, octaves)) return Value::none();
            return Value::ofNumber(fnoise(q, octaves.count, octaves.lacunarity, octaves.gain));
        case BuiltinId::Dnoise:
            if (!octavesOf(second, 1, octaves)) return Value::none();
            return Value::ofVector(dnoise(q, octaves));
        case BuiltinId::FBm:
            return fBm(ctx, p, second);
        case BuiltinId::Vnoise:
            return Value::ofNumber(vnoise(q));
        case BuiltinId::Vcnoise:
            return Value::ofNumber(vcnoise(q));
        case BuiltinId::Scnoise: {
            if (!second || !second->isNumber()) return Value::none();
            const double n = std::trunc(second->number);
            return Value::ofNumber(scnoise(q, !(n >= 1) ? 1 : (n > 1001 ? 1001 : static_cast<int>(n))));
        }
        case BuiltinId::Fcellnoise:
        case BuiltinId::Vcellnoise: {
            if (second && !second->isNumber()) return Value::none();
            const double t = second ? second->number : 0;
            if (id == BuiltinId::Fcellnoise) return Value::ofNumber(fcellnoise(q, t, second != nullptr));
            return Value::ofVector(vcellnoise(q, t, second != nullptr));
        }
        case BuiltinId::Voronoi:
            if (!second || !second->isNumber()) return Value::none();
            return Value::ofNumber(voronoi(q, second->number));
        default:
            return Value::none();
    }
}

Value evaluateNoiseNode(const Value& point, const Value* octaveValue) {
    if (!point.isVector()) return Value::none();
    Octaves octaves;
    if (!octavesOf(octaveValue, 1, octaves)) return Value::none();
    return Value::ofNumber(valueNoiseSum(point.vector, octaves));
}

}  // namespace quorva
