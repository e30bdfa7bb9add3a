// The attribute table of the surface shaders: evaluation, checks, constant folding and attribute pruning.
#include "shading/surface_shader.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "diagnostics/diagnostics.h"
#include "eval/spectrum.h"
#include "eval/value.h"
#include "geometry/shape.h"
#include "shading/brdf.h"
#include "shading/pattern_shader.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

constexpr double InversePi = 0.3183098861837907;
constexpr double DegreesToRadians = 0.017453292519943295;

enum Slot : int {
    BaseColor = 9,
    NormalModifier = 10,
    PointModifier = 11,
    KaColor = 12,
    KaScale = 13,
    Kb = 14,
    Metal = 15,
    KdColor = 16,
    KdScale = 17,
    KsColor = 18,
    KsScale = 19,
    KrColor = 20,
    KrScale = 21,
    KrBlur = 22,
    KtColor = 23,
    KtScale = 24,
    KtBlur = 25,
    KtAbsorption = 26,
    BrdfAngle = 28,
    Ior = 29,
    Dispersion = 30,
    DispersionSamples = 31,
    Iridescence1 = 32,
    Iridescence4 = 35,
    Caustics = 36,
    IrradianceSamples = 38,
};

// Reads the slots of one table with its checks.
class SlotReader {
  public:
    SlotReader(const SurfaceDescription& s, const EvalContext& ec) : surface_(s), ec_(ec) {}

    const Request* slot(int i) const { return surface_.slots[i].get(); }

    double number(int i, const char* message, double fallback) const {
        const Request* r = slot(i);
        if (!r) return fallback;
        Value v = evaluate(ec_, r);
        if (!v.isNumber()) fatal("%s", message);
        return v.number;
    }
    Color colour(int i, const char* message, const Color& fallback) const {
        const Request* r = slot(i);
        if (!r) return fallback;
        Value v = evaluate(ec_, r);
        if (!v.isVector()) fatal("%s", message);
        return Color(v.vector);
    }
    Value vector(int i, const char* message) const {
        Value v = evaluate(ec_, slot(i));
        if (!v.isVector()) fatal("%s", message);
        return v;
    }
    Value any(int i) const { return evaluate(ec_, slot(i)); }

  private:
    const SurfaceDescription& surface_;
    const EvalContext& ec_;
};

}  // namespace

void evaluateSurfaceAttributes(const SurfaceDescription& surface, const EvalContext& ec, ShadingContext& sc,
                               SurfaceSample& s) {
    SlotReader in(surface, ec);
    s = SurfaceSample{};

    if (in.slot(PointModifier)) sc.P = in.vector(PointModifier, "Bad IntersectionPointModifier point").vector;
    if (in.slot(NormalModifier)) {
        Vec3 n = in.vector(NormalModifier, "Bad NormalModifier vector").vector;
        normalize(n);
        sc.N = n;
        s.normalModified = true;
    }

    Color base{1, 1, 1};
    double baseFourth = 0;
    if (in.slot(BaseColor)) {
        Value v = in.vector(BaseColor, "Bad color specification");
        base = Color(v.vector);
        baseFourth = v.fourth;
    }
    sc.color = base;
    sc.colorFourth = baseFourth;

    s.kaColor = in.colour(KaColor, "Bad Ka color", base);
    s.kaScale = in.number(KaScale, "Bad Ka scale", 0.001);
    s.kb = in.number(Kb, "Bad Kb value", 1.0);
    if (s.kb < 0) {
        warning("Kb values less than 0 not allowed (reset to 1.0)");
        s.kb = 1.0;
    }
    s.metal = in.number(Metal, "Bad Metal attribute value", 0);
    if (s.metal < 0) {
        warning("Metal attribute value less than 0 not allowed (reset to 0)");
        s.metal = 0;
    }
    s.kdColor = in.colour(KdColor, "Bad Kd color", base);
    s.kdScale = in.number(KdScale, "Bad Kd scale", 0.8);
    s.ksColor = in.colour(KsColor, "Bad Ks color", base);
    s.ksScale = in.number(KsScale, "Bad Ks scale", 0);
    s.krColor = in.colour(KrColor, "Bad Kr color", base);
    s.krScale = in.number(KrScale, "Bad Kr scale", 0);
    s.krBlur = in.number(KrBlur, "Bad Kr blur coeff value", 0) * InversePi;
    s.ktColor = in.colour(KtColor, "Bad Kt color", base);
    s.ktScale = baseFourth;
    if (in.slot(KtScale)) {
        // A colour here is the transmission colour; the scale keeps its default.
        Value v = in.any(KtScale);
        if (v.isNumber())
            s.ktScale = v.number;
        else if (v.isVector())
            s.ktColor = Color(v.vector);
        else
            fatal("Bad Kt scale");
    }
    s.ktBlur = in.number(KtBlur, "Bad Kt blur coeff value", 0) * 0.25;
    s.ktAbsorption = std::clamp(in.number(KtAbsorption, "Bad Kt absorption value", 0), 0.0, 1.0);
    s.brdf = surface.brdf;
    const double angle = in.number(BrdfAngle, "Bad specular BRDF angle", 10);
    s.brdfParameter = brdfParameter(s.brdf, angle * DegreesToRadians);
    s.ior = in.number(Ior, "Bad index of refraction", 1.0);
    s.dispersion = in.number(Dispersion, "Bad chromatic dispersion value", 0);
    if (s.dispersion < 0) {
        warning("'Dispersion' first value can't be < 0.0 (reset to 0)");
        s.dispersion = 0;
    }
    const double samples = in.number(DispersionSamples, "Bad dispersion sample value", 8);
    s.dispersionSamples = boundedCount(samples, 2, MaxDispersionSamples);
    static const char* const IridescenceMessages[3] = {
        "Iridescence: bad argument 1", "Iridescence: bad argument 2", "Iridescence: bad argument 3"};
    for (int i = 0; i < 3; ++i) s.iridescence[i] = in.number(Iridescence1 + i, IridescenceMessages[i], 0);
    s.iridescenceColor =
        in.colour(Iridescence4, "Iridescence: bad argument 4", {0.247059, 0.176471, 0.137255});
    s.caustics = in.number(Caustics, "Bad Caustics value in shader", 0);
    if (s.caustics < 0 || s.caustics > 1) {
        warning("'Caustics' values can't be < 0.0 or > 1.0 (reset to 0)");
        s.caustics = 0;
    }
    s.internalCaustics = surface.internalCaustics;
    // -1 or below (and NaN) means the IrradianceSamples option; larger counts are bounded like it.
    const double irradianceSamples = in.number(IrradianceSamples, "Bad IrradianceSamples value", -1);
    s.irradianceSamples =
        irradianceSamples > -1 ? boundedCount(irradianceSamples, 0, MaxIrradianceSamples) : -1;

    // A functional surface's colour spectrum colours its ambient and diffuse terms at the position its
    // index gives; where the surface is otherwise opaque the spectrum's values give its transmission.
    // (The pattern shader colours pattern surfaces itself.)
    if (surface.kind != SurfaceKind::Pattern && surface.colorSpectrum && surface.colorSpectrum->spectrum &&
        surface.spectrumIndex) {
        Value t = evaluate(ec, surface.spectrumIndex.get());
        Color c;
        double extra = 0;
        if (t.isNumber() && evaluateSpectrum(*surface.colorSpectrum->spectrum, t.number, c, extra)) {
            s.kaColor = c;
            s.kdColor = c;
            if (s.ktScale == 0) s.ktScale = extra;
        }
    }
}

bool isConstantSurface(const SurfaceDescription& surface) {
    if (surface.slots[NormalModifier] || surface.slots[PointModifier]) return false;
    for (const RequestPtr& r : surface.slots)
        if (r && !isConstantRequest(*r)) return false;
    return !surface.spectrumIndex || isConstantRequest(*surface.spectrumIndex);
}

void SurfaceShader::evaluate(ShadingContext& sc, SurfaceSample& out) const {
    if (data_->hasConstant) {
        out = data_->constant;
        return;
    }
    EvalContext ec;
    ec.frames = sc.render && sc.render->frame ? &sc.render->frame->frames : nullptr;
    ec.shading = &sc;
    evaluateSurfaceAttributes(data_->description, ec, sc, out);
}

std::shared_ptr<Shader> SurfaceShader::clone() const {
    auto copy = std::make_shared<SurfaceShader>(kind, data_);
    if (transform) copy->transform = std::make_unique<Transform>(*transform);
    return copy;
}

namespace {

// A term that can never contribute, whatever the hit: its weight is known to be 0 or its colour known
// to be black. Only empty slots (their defaults) and constant trees are known. The transmission weight
// defaults to the base colour's fourth value and may be given as a colour, which is then the term's
// colour; the reflection weight defaults to 0.
bool termIsOff(const SurfaceDescription& d, int weightSlot, int colourSlot, bool transmission) {
    std::optional<Value> base;
    const RequestPtr& baseSlot = d.slots[BaseColor];
    if (!baseSlot)
        base = Value::ofVector({1, 1, 1}, 0);
    else if (isConstantRequest(*baseSlot)) {
        Value v = evaluate(EvalContext{}, baseSlot.get());
        if (v.isVector()) base = v;
    }
    std::optional<double> weight;
    std::optional<Color> colour;
    bool weightGaveColour = false;
    const RequestPtr& w = d.slots[weightSlot];
    auto defaultWeight = [&]() -> std::optional<double> {
        if (!transmission) return 0.0;
        if (base) return base->fourth;
        return std::nullopt;
    };
    if (!w) {
        weight = defaultWeight();
    } else if (isConstantRequest(*w)) {
        Value v = evaluate(EvalContext{}, w.get());
        if (v.isNumber()) {
            weight = v.number;
        } else if (v.isVector() && transmission) {
            colour = Color(v.vector);
            weightGaveColour = true;
            weight = defaultWeight();
        }
    }
    if (!weightGaveColour) {
        const RequestPtr& c = d.slots[colourSlot];
        if (!c) {
            if (base) colour = Color(base->vector);
        } else if (isConstantRequest(*c)) {
            Value v = evaluate(EvalContext{}, c.get());
            if (v.isVector()) colour = Color(v.vector);
        }
    }
    return (weight && *weight == 0) || (colour && colour->isBlack());
}

}  // namespace

void SurfaceShader::pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const {
    if (kind == ShaderKind::Pattern) {
        // A pattern recolours the ambient and diffuse terms and may set the transmission weight, so
        // only its reflection is known in advance.
        if (data_->hasConstant) {
            const SurfaceSample& s = data_->constant;
            if (s.krScale == 0 || s.krColor.isBlack()) attributes &= ~ShapeAttr::Reflects;
        } else if (termIsOff(data_->description, KrScale, KrColor, false)) {
            attributes &= ~ShapeAttr::Reflects;
        }
        return;
    }
    if (data_->hasConstant) {
        const SurfaceSample& s = data_->constant;
        if (s.ktScale == 0 || s.ktColor.isBlack()) attributes &= ~ShapeAttr::Refracts;
        if (s.krScale == 0 || s.krColor.isBlack()) attributes &= ~ShapeAttr::Reflects;
    } else {
        if (termIsOff(data_->description, KtScale, KtColor, true)) attributes &= ~ShapeAttr::Refracts;
        if (termIsOff(data_->description, KrScale, KrColor, false)) attributes &= ~ShapeAttr::Reflects;
    }
    if ((attributes & ShapeAttr::UvWindow) && uvWindowIsDefault) attributes &= ~ShapeAttr::UvWindow;
}

std::shared_ptr<Shader> makeSurfaceShader(const SurfaceDescription& surface, const EvalContext& ec) {
    auto data = std::make_shared<SurfaceShader::Data>();
    data->description = surface;
    ShaderKind kind = ShaderKind::PerHit;
    if (isConstantSurface(surface)) {
        ShadingContext sc;
        EvalContext ec;
        ec.shading = &sc;
        evaluateSurfaceAttributes(surface, ec, sc, data->constant);
        data->hasConstant = true;
        kind = ShaderKind::Constant;
    }
    if (surface.kind != SurfaceKind::Pattern) return std::make_shared<SurfaceShader>(kind, std::move(data));
    const PatternParameters parameters = patternParameters(surface, ec);
    std::shared_ptr<const ColorSpectrum> spectrum;
    if (surface.colorSpectrum) spectrum = surface.colorSpectrum->spectrum;
    return std::make_shared<PatternShader>(
        std::make_shared<SurfaceShader>(ShaderKind::Pattern, std::move(data)), parameters,
        std::move(spectrum));
}

std::shared_ptr<Shader> makeSurfaceShader(const SurfaceDescription& surface) {
    return makeSurfaceShader(surface, EvalContext{});
}

}  // namespace quorva
