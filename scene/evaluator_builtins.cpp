// Evaluation of built-in calls: shading variables, elementary functions, vector functions, pattern
// shaping, random numbers and the ray-casting functions trace and visibility.
#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "geometry/shape.h"
#include "geometry/world.h"
#include "scene/builtins.h"
#include "scene/evaluator_mappings.h"
#include "scene/evaluator_noise.h"
#include "scene/scene_state.h"
#include "trace/random.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {

namespace {

constexpr double Ln2 = 0.6931471805599453;
constexpr double Log10Of2 = 0.30102999566398120;

Value vec(const Vec3& v, double fourth = 0) {
    return Value::ofVector(v, fourth);
}
Value num(double x) {
    return Value::ofNumber(x);
}

// The shading variables; none without a shading context.
Value shadingVariable(const EvalContext& ctx, BuiltinId id) {
    const ShadingContext* s = ctx.shading;
    if (!s) return Value::none();
    s->resolveSurfaceCoordinates();
    switch (id) {
        case BuiltinId::Age:
            return num(s->age);
        case BuiltinId::Eye:
            return vec(s->E);
        case BuiltinId::Incident:
            return vec(s->I);
        case BuiltinId::Level:
            return num(s->level);
        case BuiltinId::Normal:
            return vec(s->N);
        case BuiltinId::Opacity:
            return num(s->opacity);
        case BuiltinId::Point:
            return vec(s->P);
        case BuiltinId::ObjectPoint:
            return vec(s->Po);
        case BuiltinId::SurfacePoint:
            return vec(s->Puv);
        case BuiltinId::View:
            return vec(s->V);
        case BuiltinId::U:
            return num(s->u);
        case BuiltinId::VCoordinate:
            return num(s->v);
        case BuiltinId::W:
            return num(s->w);
        case BuiltinId::X:
            return num(s->P.x);
        case BuiltinId::Y:
            return num(s->P.y);
        case BuiltinId::Z:
            return num(s->P.z);
        default:
            return Value::none();
    }
}

RandomGenerator* generatorOf(const EvalContext& ctx) {
    if (ctx.shading && ctx.shading->render) return &ctx.shading->render->random;
    return ctx.random;
}

// One-argument elementary functions of numbers.
bool elementary(BuiltinId id, double a, double& out) {
    switch (id) {
        case BuiltinId::Acos:
            out = std::acos(a);
            return true;
        case BuiltinId::Asin:
            out = std::asin(a);
            return true;
        case BuiltinId::Atan:
            out = std::atan(a);
            return true;
        case BuiltinId::Ceil:
            out = std::ceil(a);
            return true;
        case BuiltinId::Cos:
            out = std::cos(a);
            return true;
        case BuiltinId::Cosh:
            out = std::cosh(a);
            return true;
        case BuiltinId::Exp:
            out = std::exp(a);
            return true;
        case BuiltinId::Fabs:
            out = std::fabs(a);
            return true;
        case BuiltinId::Floor:
            out = std::floor(a);
            return true;
        case BuiltinId::Int:
            out = std::trunc(a);
            return true;
        case BuiltinId::Inversesqrt:
            out = 1.0 / std::sqrt(a);
            return true;
        case BuiltinId::Log:
            out = std::log2(a) * Ln2;
            return true;
        case BuiltinId::Log10:
            out = std::log2(a) * Log10Of2;
            return true;
        case BuiltinId::Round:
            out = std::round(a);
            return true;
        case BuiltinId::Sign:
            out = a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0);
            return true;
        case BuiltinId::Sin:
            out = std::sin(a);
            return true;
        case BuiltinId::Sinh:
            out = std::sinh(a);
            return true;
        case BuiltinId::Sqrt:
            out = std::sqrt(a);
            return true;
        case BuiltinId::Tan:
            out = std::tan(a);
            return true;
        case BuiltinId::Tanh:
            out = std::tanh(a);
            return true;
        case BuiltinId::Sawtooth:
            out = sawtooth(a);
            return true;
        case BuiltinId::Ramp:
            out = ramp(a);
            return true;
        default:
            return false;
    }
}

double smoothstep(double e0, double e1, double x) {
    if (x <= e0) return 0;
    if (x >= e1) return 1;
    double t = (x - e0) / (e1 - e0);
    return t * t * (3 - 2 * t);
}

double bias(double b, double x) {
    if (x <= 0) return 0;
    if (b <= 0) return 0;
    return std::pow(x, std::log(b) / std::log(0.5));
}

double gain(double g, double x) {
    return x < 0.5 ? bias(1 - g, 2 * x) / 2 : 1 - bias(1 - g, 2 - 2 * x) / 2;
}

// Hue as a fraction of a turn (wrapping), saturation 0..1, full value.
Vec3 hsvColour(double hue, double saturation) {
    double h = hue - std::floor(hue);
    double s = std::clamp(saturation, 0.0, 1.0);
    double sector = h * 6;
    int i = static_cast<int>(sector) % 6;
    double f = sector - std::floor(sector);
    double p = 1 - s, q = 1 - s * f, t = 1 - s * (1 - f);
    switch (i) {
        case 0:
            return {1, t, p};
        case 1:
            return {q, 1, p};
        case 2:
            return {p, 1, t};
        case 3:
            return {p, q, 1};
        case 4:
            return {t, p, 1};
        default:
            return {1, p, q};
    }
}

// The wave perturbation: d = P - centre, r = |d| (1 below 1e-8), d cos(r frequency + phase) / r.
Value wave(const Value& p, const Value* centre, const Value* frequency, const Value* phase) {
    if (!p.isVector()) return Value::none();
    Vec3 c{0, 0, 0};
    double f = 1, ph = 0;
    if (centre) {
        if (!centre->isVector()) fatal("Wave center must be vector");
        c = centre->vector;
    }
    if (frequency) {
        if (!frequency->isNumber()) fatal("Wavelength must be a float");
        f = frequency->number;
    }
    if (phase) {
        if (!phase->isNumber()) fatal("Wave phase must be a float");
        ph = phase->number;
    }
    Vec3 d = p.vector - c;
    double r = length(d);
    if (r < 1e-8) r = 1;
    return vec(d * (std::cos(r * f + ph) / r));
}

// trace(D) from the hit point, or trace(O, D): the colour seen along the ray.
Value traceFunction(const EvalContext& ctx, const Value& a, const Value* b) {
    const ShadingContext* s = ctx.shading;
    if (!s || !s->render || !s->render->frame || !a.isVector()) return Value::none();
    Ray ray;
    if (b) {
        if (!b->isVector()) return Value::none();
        ray.origin = a.vector;
        ray.direction = b->vector;
    } else {
        ray.origin = s->hit ? s->hit->point : s->P;
        ray.direction = a.vector;
    }
    normalize(ray.direction);
    Color colour;
    double alpha = 0;
    traceRay(*s->render, s->level + 1, ray, colour, alpha, nullptr);
    return vec({colour.r, colour.g, colour.b});
}

// visibility(A, B): 1 when nothing lies between the two points, else 0.
Value visibilityFunction(const EvalContext& ctx, const Value& a, const Value& b) {
    const ShadingContext* s = ctx.shading;
    if (!s || !s->render || !s->render->frame || !a.isVector() || !b.isVector()) return Value::none();
    RenderContext& rc = *s->render;
    Ray ray{a.vector, b.vector - a.vector};
    double distance = normalize(ray.direction);
    double bias = rc.settings.shadowBias;
    if (distance <= 2 * bias) return num(1);
    Intersection hit;
    bool savedAnyHit = rc.anyHit;
    rc.anyHit = true;
    bool blocked = intersectWorld(hit, ray, rc.frame->world, rc, bias, distance - bias);
    rc.anyHit = savedAnyHit;
    return num(blocked ? 0 : 1);
}

}  // namespace

double sawtooth(double x) {
    double f = x >= 0 ? x - std::floor(x) : x + std::floor(-x) + 1;
    return 2 * std::min(f, 1 - f);
}

double ramp(double x) {
    if (std::fabs(x) < 1e-8) return 0;
    double r = std::fmod(x, 1.0);
    return r < 0 ? r + 1 : r;
}

double legendre(double x, int l, int m) {
    if (m < 0 || m > l || std::fabs(x) > 1) return 0;
    // P_m^m by the closed form, then upward in l.
    double pmm = 1;
    if (m > 0) {
        double s = std::sqrt((1 - x) * (1 + x));
        double factor = 1;
        for (int i = 1; i <= m; ++i) {
            pmm *= -factor * s;
            factor += 2;
        }
    }
    if (l == m) return pmm;
    double pmmp1 = x * (2 * m + 1) * pmm;
    if (l == m + 1) return pmmp1;
    double pll = 0;
    for (int ll = m + 2; ll <= l; ++ll) {
        pll = (x * (2 * ll - 1) * pmmp1 - (ll + m - 1) * pmm) / (ll - m);
        pmm = pmmp1;
        pmmp1 = pll;
    }
    return pll;
}

namespace {

[[gnu::noinline]] Value applyWithoutArguments(const EvalContext& ctx, BuiltinId id) {
    if (id == BuiltinId::Random) {
        RandomGenerator* g = generatorOf(ctx);
        return g ? num(g->nextUnit()) : Value::none();
    }
    return shadingVariable(ctx, id);
}

// The function of a call applied to its evaluated arguments. Kept out of the recursion: it runs
// once the arguments are known.
[[gnu::noinline]] Value applyCall(const EvalContext& ctx, BuiltinId id, int count, const Value* args) {
    const Value& a = args[0];
    const Value& b = args[1];
    const Value& c = args[2];

    if (isImageMapping(id)) return evaluateImageMapping(ctx, id, count, args);
    if (isNoiseBuiltin(id)) return evaluateNoiseCall(ctx, id, count, args);

    if (count == 1) {
        double out;
        if (a.isNumber() && elementary(id, a.number, out)) return num(out);
        switch (id) {
            case BuiltinId::Length:
                return a.isVector() ? num(length(a.vector)) : Value::none();
            case BuiltinId::Normalize:
                return a.isVector() ? vec(normalized(a.vector), a.fourth) : Value::none();
            case BuiltinId::Random: {
                RandomGenerator* g = generatorOf(ctx);
                if (!g) return Value::none();
                if (a.isNumber()) return num(a.number * g->nextUnit());
                if (a.isVector()) {
                    double x = g->nextUnit(), y = g->nextUnit(), z = g->nextUnit();
                    return vec(multiply(a.vector, {x, y, z}));
                }
                return Value::none();
            }
            case BuiltinId::Greyscale:
                if (a.isVector()) return num(0.299 * a.vector.x + 0.587 * a.vector.y + 0.114 * a.vector.z);
                return a.isNumber() ? a : Value::none();
            case BuiltinId::Wave:
                return wave(a, nullptr, nullptr, nullptr);
            case BuiltinId::Trace:
                return traceFunction(ctx, a, nullptr);
            default:
                return Value::none();
        }
    }

    if (count == 2) {
        switch (id) {
            case BuiltinId::Atan2:
                return a.isNumber() && b.isNumber() ? num(std::atan2(a.number, b.number)) : Value::none();
            case BuiltinId::Fmod:
                if (a.isNumber() && b.isNumber())
                    return num(std::fabs(a.number) < 1e-8 ? 0.0 : std::fmod(a.number, b.number));
                return Value::none();
            case BuiltinId::Pow:
                return a.isNumber() && b.isNumber() ? num(powerOf(a.number, b.number)) : Value::none();
            case BuiltinId::Min:
            case BuiltinId::Max: {
                bool isMin = id == BuiltinId::Min;
                if (a.isNumber() && b.isNumber())
                    return num(isMin ? std::min(a.number, b.number) : std::max(a.number, b.number));
                if (a.isVector() && b.isVector()) {
                    Vec3 r;
                    for (int i = 0; i < 3; ++i)
                        r[i] =
                            isMin ? std::min(a.vector[i], b.vector[i]) : std::max(a.vector[i], b.vector[i]);
                    return vec(r, isMin ? std::min(a.fourth, b.fourth) : std::max(a.fourth, b.fourth));
                }
                return Value::none();
            }
            case BuiltinId::Distance:
                return a.isVector() && b.isVector() ? num(length(a.vector - b.vector)) : Value::none();
            case BuiltinId::Reflect:
                // I - 2 (N.I) N: the mirror direction of I about the normal N.
                if (a.isVector() && b.isVector())
                    return vec(a.vector - b.vector * (2 * dot(b.vector, a.vector)));
                return Value::none();
            case BuiltinId::Step:
                return a.isNumber() && b.isNumber() ? num(b.number < a.number ? 0.0 : 1.0) : Value::none();
            case BuiltinId::Bias:
                return a.isNumber() && b.isNumber() ? num(bias(a.number, b.number)) : Value::none();
            case BuiltinId::Gain:
                return a.isNumber() && b.isNumber() ? num(gain(a.number, b.number)) : Value::none();
            case BuiltinId::HSVColorWheel:
                return a.isNumber() && b.isNumber() ? vec(hsvColour(a.number, b.number)) : Value::none();
            case BuiltinId::Trace:
                return traceFunction(ctx, a, &b);
            case BuiltinId::Visibility:
                return visibilityFunction(ctx, a, b);
            default:
                return Value::none();
        }
    }

    if (count == 3) {
        switch (id) {
            case BuiltinId::Clamp:
                if (a.isNumber() && b.isNumber() && c.isNumber())
                    return num(std::min(std::max(a.number, b.number), c.number));
                return Value::none();
            case BuiltinId::Mix:
                // (1 - t) a + t b for numbers or vectors.
                if (!c.isNumber()) return Value::none();
                if (a.isNumber() && b.isNumber()) return num(a.number * (1 - c.number) + b.number * c.number);
                if (a.isVector() && b.isVector())
                    return vec(a.vector * (1 - c.number) + b.vector * c.number,
                               a.fourth * (1 - c.number) + b.fourth * c.number);
                return Value::none();
            case BuiltinId::Smoothstep:
                if (a.isNumber() && b.isNumber() && c.isNumber())
                    return num(smoothstep(a.number, b.number, c.number));
                return Value::none();
            case BuiltinId::Pulse:
                if (a.isNumber() && b.isNumber() && c.isNumber())
                    return num((c.number < a.number ? 0.0 : 1.0) - (c.number < b.number ? 0.0 : 1.0));
                return Value::none();
            case BuiltinId::Legendre:
                if (a.isNumber() && b.isNumber() && c.isNumber()) {
                    double l = std::trunc(b.number), m = std::trunc(c.number);
                    if (!(l >= 0 && l <= 1000 && m >= -1000 && m <= 1000)) return num(0);
                    return num(legendre(a.number, static_cast<int>(l), static_cast<int>(m)));
                }
                return Value::none();
            case BuiltinId::Refract: {
                // GLSL-style refraction of I through N with index ratio eta; total internal
                // reflection gives the zero vector.
                if (!a.isVector() || !b.isVector() || !c.isNumber()) return Value::none();
                double eta = c.number;
                double ni = dot(b.vector, a.vector);
                double k = 1 - eta * eta * (1 - ni * ni);
                if (k < 0) return vec({0, 0, 0});
                return vec(a.vector * eta - b.vector * (eta * ni + std::sqrt(k)));
            }
            default:
                return Value::none();
        }
    }

    if (count == 4 && id == BuiltinId::Wave) return wave(a, &b, &c, &args[3]);
    return Value::none();
}

}  // namespace

void ShadingContext::resolveSurfaceCoordinates() const {
    if (!pendingSurfaceCoordinates) return;
    Puv = surfaceCoordinates(*pendingSurfaceCoordinates);
    u = Puv.x;
    v = Puv.y;
    w = Puv.z;
    pendingSurfaceCoordinates = nullptr;
}

Value evaluateCall(const EvalContext& ctx, const Request& node, int depth) {
    auto id = static_cast<BuiltinId>(node.builtin);
    const int count = node.argumentCount < 4 ? node.argumentCount : 4;
    if (count <= 0) return applyWithoutArguments(ctx, id);
    // The arguments, evaluated in order.
    Value args[4];
    for (int i = 0; i < count; ++i) args[i] = evaluateAt(ctx, callArgument(node, i), depth + 1);
    return applyCall(ctx, id, count, args);
}

}  // namespace quorva
