// Pattern shader evaluation and the checks of its items.
#include "shading/pattern_shader.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "eval/spectrum.h"
#include "eval/value.h"
#include "shading/noise.h"
#include "shading/surface_shader.h"

namespace quorva {
namespace {

constexpr double TwoPi = 6.283185307179586;

// A pattern item that must be a number; `fallback` when the item is absent.
double itemNumber(const RequestPtr& item, const EvalContext& ec, const char* message, double fallback) {
    if (!item) return fallback;
    Value v = evaluate(ec, item.get());
    if (!v.isNumber()) fatal("%s", message);
    return v.number;
}

// A PatternModifiers argument: a number truncated into 0..highest.
int modifier(const RequestPtr& item, const EvalContext& ec, int highest, const char* message) {
    const double v = std::trunc(itemNumber(item, ec, message, 0));
    if (!(v >= 0 && v <= highest)) fatal("%s", message);
    return static_cast<int>(v);
}

double angleAroundY(double x, double z) {
    const double rho = std::sqrt(x * x + z * z);
    if (!(rho >= 1e-8)) return 0;
    const double a = std::acos(std::fmax(-1.0, std::fmin(1.0, x / rho)));
    return z < 0 ? TwoPi - a : a;
}

double inputValue(int input, const Vec3& p, const ShadingContext& sc) {
    switch (input) {
        case 1:
            return p.x;
        case 2:
            return p.y;
        case 3:
            return p.z;
        case 4:
        case 5:
        case 6:
            sc.resolveSurfaceCoordinates();
            return input == 4 ? sc.u : (input == 5 ? sc.v : sc.w);
        case 7:
            return length(p);
        case 8:
            return std::sqrt(p.x * p.x + p.y * p.y);
        case 9:
            return angleAroundY(p.x, p.z) / TwoPi;
        default:
            return 0;
    }
}

double waveForm(int form, double f) {
    switch (form) {
        case 1:
            return (std::sin(TwoPi * f) + 1) / 2;
        case 2:
            return (std::cos(TwoPi * f) + 1) / 2;
        case 3:
            return convolutionKernel(std::fabs(std::sin(TwoPi * f)));
        case 4: {
            const double g = gradientNoise1(f < 1 ? f + f * f * (3 - 2 * f) : f);
            return g < 0 ? g + 1 : g;
        }
        case 5: {
            const double r = std::fmod(f, 1.0);
            return r < 0 ? r + 1 : r;
        }
        case 6:
            return sawtooth(f);
        default:
            return f;
    }
}

// Ten octaves of the vector gradient noise at 2^i q + offset, weights 2^-i, absolute values summed
// and divided by the sum of the weights.
Vec3 gradientBump(const Vec3& q) {
    Vec3 sum{0, 0, 0};
    double weights = 0, frequency = 1;
    for (int i = 0; i < 10; ++i) {
        const Vec3 qi = q * frequency;
        const double w = 1 / frequency;
        sum.x += std::fabs(gradientNoise(qi - Vec3{1000, 1000, 1000})) * w;
        sum.y += std::fabs(gradientNoise(qi)) * w;
        sum.z += std::fabs(gradientNoise(qi + Vec3{2000, 2000, 2000})) * w;
        weights += w;
        frequency *= 2;
    }
    return sum / weights;
}

}  // namespace

PatternParameters patternParameters(const SurfaceDescription& s, const EvalContext& ec) {
    PatternParameters p;
    p.scale = itemNumber(s.patternScale, ec, "Bad PatternScale value", 1.0);
    p.waveForm = modifier(s.patternModifiers[0], ec, 6, "PatternModifiers: bad argument 1");
    p.input = modifier(s.patternModifiers[1], ec, 9, "PatternModifiers: bad argument 2");
    p.bump = modifier(s.patternModifiers[2], ec, 4, "PatternModifiers: bad argument 3");
    const double octaves = std::trunc(itemNumber(s.octaves, ec, "Bad Octaves value", 1));
    if (!(octaves >= 1)) fatal("Bad Octaves value");
    p.octaves = octaves > MaxOctaves ? MaxOctaves : static_cast<int>(octaves);
    p.bumpAmplitude = itemNumber(s.bumpiness[0], ec, "Bad Bumpiness value (argument 1)", 1.0);
    p.bumpFrequency = itemNumber(s.bumpiness[1], ec, "Bad Bumpiness value (argument 2)", 1.0);
    if (!(p.bumpFrequency > 0)) fatal("Bad Bumpiness value (argument 2)");
    p.phase = itemNumber(s.phase, ec, "Bad Phase value", 0);
    p.turbulence = itemNumber(s.turbulence, ec, "Bad Turbulence value", 0);
    return p;
}

double patternValue(const PatternParameters& pp, const Vec3& p, const ShadingContext& sc) {
    double f = inputValue(pp.input, p, sc);
    if (pp.turbulence == 0)
        f *= pp.scale;
    else
        f = fnoise(p * pp.scale, pp.octaves, 2.0, 0.5) * pp.turbulence + f * pp.scale;
    return waveForm(pp.waveForm, f);
}

Vec3 patternBump(const PatternParameters& pp, const Vec3& p, const Vec3& n) {
    const double a = pp.bumpAmplitude;
    if (pp.bump == 0 || a == 0) return n;
    const Vec3 q = p * pp.bumpFrequency;
    Vec3 sum = n;
    switch (pp.bump) {
        case 1:
        case 2: {
            const Vec3 v = (vectorValueNoise(q) + vectorValueNoise(q * 2.0) * 0.5) / 1.5;
            const double weight = pp.bump == 2 ? fnoise(p, 3, 2.0, 0.5) : 1.0;
            sum += (v - Vec3{0.5, 0.5, 0.5}) * (2 * a * weight);
            break;
        }
        case 3:
            sum += (gradientBump(q) - Vec3{0.5, 0.5, 0.5}) * (2 * a);
            break;
        default: {
            const Vec3* centres = bumpWaveCentres();
            for (int i = 0; i < 8; ++i) {
                const Vec3 d = p - centres[i];
                double h = length(d);
                if (h < 1e-8) h = 1;
                sum += d * (std::cos(h * pp.bumpFrequency + pp.phase) * a / (8 * h));
            }
            break;
        }
    }
    if (!(lengthSquared(sum) >= 1e-20)) return {1, 0, 0};
    return sum / length(sum);
}

PatternShader::PatternShader(std::shared_ptr<const SurfaceShader> attributes,
                             const PatternParameters& parameters,
                             std::shared_ptr<const ColorSpectrum> spectrum)
    : Shader(ShaderKind::Pattern),
      attributes_(std::move(attributes)),
      parameters_(parameters),
      spectrum_(std::move(spectrum)) {}

void PatternShader::evaluate(ShadingContext& sc, SurfaceSample& out) const {
    attributes_->evaluate(sc, out);
    const Vec3 p = sc.P;
    if (parameters_.bump != 0 && parameters_.bumpAmplitude != 0) {
        sc.N = patternBump(parameters_, p, sc.N);
        out.normalModified = true;
    }
    if (!spectrum_) return;
    const double f = patternValue(parameters_, p, sc);
    Color colour;
    double extra = 0;
    if (!evaluateSpectrum(*spectrum_, f, colour, extra)) return;
    out.kaColor = colour;
    out.kdColor = colour;
    if (out.ktScale == 0) out.ktScale = extra;
}

std::shared_ptr<Shader> PatternShader::clone() const {
    auto copy = std::make_shared<PatternShader>(attributes_, parameters_, spectrum_);
    if (transform) copy->transform = std::make_unique<Transform>(*transform);
    return copy;
}

void PatternShader::pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const {
    attributes_->pruneAttributes(attributes, uvWindowIsDefault);
}

}  // namespace quorva
