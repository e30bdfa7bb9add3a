// The combination shaders: multilayer, indexed and composite. Outside shadow tests they shade their
// members themselves and hand back a sample that only emits the mixed colour; during a shadow test
// they report the transmission the members combine to.
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "shading/shade_point.h"
#include "shading/shader.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

using Members = std::vector<std::shared_ptr<const Shader>>;
using WeightedMembers = std::vector<std::pair<std::shared_ptr<const Shader>, RequestPtr>>;

SurfaceSample emittingSample(const Color& colour) {
    SurfaceSample s;
    s.kaColor = colour;
    s.kaScale = 1;
    s.kdScale = 0;
    s.ktScale = 0;
    s.emitting = true;
    return s;
}

SurfaceSample transmissionSample(double ktScale, const Color& ktColour) {
    SurfaceSample s;
    s.kdScale = 0;
    s.ktScale = ktScale;
    s.ktColor = ktColour;
    return s;
}

// A member evaluated at the hit without disturbing the caller's hit record or context.
void evaluateMember(RenderContext& ctx, const Shader* member, const ShadePoint& at, const ShadingContext& sc,
                    ShadePoint& memberAt, SurfaceSample& sample) {
    memberAt = at;
    if (!member) {
        sample = defaultSurfaceSample();
        return;
    }
    ShadingContext memberSc = sc;
    evaluateShaderAt(ctx, *member, memberAt, memberSc, sample);
}

Color shadeMember(RenderContext& ctx, const Shader* member, const ShadePoint& at, const ShadingContext& sc,
                  const Color* lightTable) {
    ShadePoint memberAt;
    SurfaceSample sample;
    evaluateMember(ctx, member, at, sc, memberAt, sample);
    Color shade;
    shadeSurface(ctx, memberAt, sample, lightTable, shade);
    return shade;
}

EvalContext evalContextFor(const RenderContext& ctx, const ShadingContext& sc) {
    EvalContext ec;
    ec.frames = ctx.frame ? &ctx.frame->frames : nullptr;
    ec.shading = &sc;
    return ec;
}

// Holds the per-point light table for the lifetime of a combination's shading.
class LightTableScope {
  public:
    LightTableScope(RenderContext& ctx, const ShadePoint& at)
        : ctx_(ctx), table_(ctx.skyLightMode ? nullptr : buildLightTable(ctx, at)) {}
    ~LightTableScope() { releaseLightTable(ctx_, table_); }
    const Color* table() const { return table_; }

  private:
    RenderContext& ctx_;
    const Color* table_;
};

class MultiLayerShader final : public Shader {
  public:
    explicit MultiLayerShader(std::shared_ptr<const Members> members)
        : Shader(ShaderKind::MultiLayer), members_(std::move(members)) {}

    void evaluate(ShadingContext&, SurfaceSample& out) const override { out = defaultSurfaceSample(); }

    void evaluateHit(RenderContext& ctx, ShadePoint& at, ShadingContext& sc,
                     SurfaceSample& out) const override {
        const Members& m = *members_;
        if (m.empty()) {
            out = defaultSurfaceSample();
            return;
        }
        ShadePoint memberAt;
        SurfaceSample sample;
        if (ctx.shadowTest) {
            // Shadows see the layers' combined transmission in the colour of the innermost layer.
            double product = 1;
            Color colour;
            for (const auto& member : m) {
                evaluateMember(ctx, member.get(), at, sc, memberAt, sample);
                product *= sample.ktScale;
                colour = sample.ktColor;
            }
            out = transmissionSample(product, colour);
            return;
        }
        LightTableScope table(ctx, at);
        Color sum;
        double s = 1;
        // Front to back: each layer shows (1 - its transmission) of what reaches it; the last layer
        // keeps its own transmission.
        for (std::size_t i = 0; i < m.size(); ++i) {
            if (i > 0 && s <= 0.001) break;
            evaluateMember(ctx, m[i].get(), at, sc, memberAt, sample);
            Color shade;
            if (i + 1 < m.size()) {
                const double w = sample.ktScale;
                sample.ktScale = 0;
                shadeSurface(ctx, memberAt, sample, table.table(), shade);
                sum += shade * ((1 - w) * s);
                s *= w;
            } else {
                shadeSurface(ctx, memberAt, sample, table.table(), shade);
                sum += shade * s;
            }
        }
        out = emittingSample(sum);
    }

    std::shared_ptr<Shader> clone() const override {
        auto copy = std::make_shared<MultiLayerShader>(members_);
        if (transform) copy->transform = std::make_unique<Transform>(*transform);
        return copy;
    }

  private:
    std::shared_ptr<const Members> members_;
};

class IndexedShader final : public Shader {
  public:
    IndexedShader(RequestPtr index, std::shared_ptr<const ShaderSpectrum> spectrum)
        : Shader(ShaderKind::Indexed), index_(std::move(index)), spectrum_(std::move(spectrum)) {}

    void evaluate(ShadingContext&, SurfaceSample& out) const override { out = defaultSurfaceSample(); }

    void evaluateHit(RenderContext& ctx, ShadePoint& at, ShadingContext& sc,
                     SurfaceSample& out) const override {
        Value v = index_ ? quorva::evaluate(evalContextFor(ctx, sc), index_.get()) : Value::none();
        if (!v.isNumber()) fatal("Bad indexed shader modifier");
        const double x = v.number;
        const ShaderSpectrumEntry* band = nullptr;
        if (spectrum_)
            for (const ShaderSpectrumEntry& e : *spectrum_)
                if (e.low <= x && x <= e.high) {
                    band = &e;
                    break;
                }
        if (!band) {
            out = defaultSurfaceSample();
            return;
        }
        // On a band's end the end's shader is the surface; between the ends the two are mixed.
        const Shader* single = x == band->low    ? band->lowShader.get()
                               : x == band->high ? band->highShader.get()
                                                 : nullptr;
        if (x == band->low || x == band->high) {
            if (!single) {
                out = defaultSurfaceSample();
                return;
            }
            evaluateShaderAt(ctx, *single, at, sc, out);
            return;
        }
        const double t = (x - band->low) / (band->high - band->low);
        if (ctx.shadowTest) {
            ShadePoint memberAt;
            SurfaceSample a, b;
            evaluateMember(ctx, band->lowShader.get(), at, sc, memberAt, a);
            evaluateMember(ctx, band->highShader.get(), at, sc, memberAt, b);
            out =
                transmissionSample((1 - t) * a.ktScale + t * b.ktScale, a.ktColor * (1 - t) + b.ktColor * t);
            return;
        }
        const Color a = shadeMember(ctx, band->lowShader.get(), at, sc, nullptr);
        const Color b = shadeMember(ctx, band->highShader.get(), at, sc, nullptr);
        out = emittingSample(a * (1 - t) + b * t);
    }

    std::shared_ptr<Shader> clone() const override {
        auto copy = std::make_shared<IndexedShader>(index_, spectrum_);
        if (transform) copy->transform = std::make_unique<Transform>(*transform);
        return copy;
    }

  private:
    RequestPtr index_;
    std::shared_ptr<const ShaderSpectrum> spectrum_;
};

class CompositeShader final : public Shader {
  public:
    explicit CompositeShader(std::shared_ptr<const WeightedMembers> members)
        : Shader(ShaderKind::Composite), members_(std::move(members)) {}

    void evaluate(ShadingContext&, SurfaceSample& out) const override { out = defaultSurfaceSample(); }

    void evaluateHit(RenderContext& ctx, ShadePoint& at, ShadingContext& sc,
                     SurfaceSample& out) const override {
        const EvalContext ec = evalContextFor(ctx, sc);
        if (ctx.shadowTest) {
            double scale = 0;
            Color colour;
            ShadePoint memberAt;
            SurfaceSample sample;
            for (const auto& [member, weight] : *members_) {
                const double w = weightOf(ec, weight);
                if (w <= 0) continue;
                evaluateMember(ctx, member.get(), at, sc, memberAt, sample);
                scale += w * sample.ktScale;
                colour += sample.ktColor * w;
            }
            out = transmissionSample(scale, colour);
            return;
        }
        LightTableScope table(ctx, at);
        Color sum;
        for (const auto& [member, weight] : *members_) {
            const double w = weightOf(ec, weight);
            if (std::fabs(w) <= 1e-8) continue;
            sum += shadeMember(ctx, member.get(), at, sc, table.table()) * w;
        }
        out = emittingSample(sum);
    }

    std::shared_ptr<Shader> clone() const override {
        auto copy = std::make_shared<CompositeShader>(members_);
        if (transform) copy->transform = std::make_unique<Transform>(*transform);
        return copy;
    }

  private:
    static double weightOf(const EvalContext& ec, const RequestPtr& weight) {
        Value v = weight ? quorva::evaluate(ec, weight.get()) : Value::none();
        if (!v.isNumber()) fatal("Bad composite shader modifier");
        return v.number;
    }

    std::shared_ptr<const WeightedMembers> members_;
};

}  // namespace

std::shared_ptr<Shader> makeMultiLayerShader(std::vector<std::shared_ptr<const Shader>> members) {
    return std::make_shared<MultiLayerShader>(std::make_shared<const Members>(std::move(members)));
}

std::shared_ptr<Shader> makeIndexedShader(RequestPtr index, std::shared_ptr<const ShaderSpectrum> spectrum) {
    return std::make_shared<IndexedShader>(std::move(index), std::move(spectrum));
}

std::shared_ptr<Shader> makeCompositeShader(
    std::vector<std::pair<std::shared_ptr<const Shader>, RequestPtr>> members) {
    return std::make_shared<CompositeShader>(std::make_shared<const WeightedMembers>(std::move(members)));
}

}  // namespace quorva
