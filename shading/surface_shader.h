// Shaders built from a surface's attribute table: constant (evaluated once when built), per-hit
// (evaluated at every hit), and the attribute part of the pattern shader.
#pragma once

#include <memory>

#include "shading/shader.h"

namespace quorva {

struct EvalContext;

class SurfaceShader final : public Shader {
  public:
    struct Data {
        SurfaceDescription description;
        SurfaceSample constant;  // the evaluated table when every slot is constant
        bool hasConstant = false;
    };

    SurfaceShader(ShaderKind kind, std::shared_ptr<const Data> data) : Shader(kind), data_(std::move(data)) {}

    void evaluate(ShadingContext& sc, SurfaceSample& out) const override;
    std::shared_ptr<Shader> clone() const override;
    void pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const override;

    const Data& data() const { return *data_; }

  private:
    std::shared_ptr<const Data> data_;
};

// Evaluates the attribute table at the point of `sc` into `out`: the IntersectionPointModifier first,
// then the NormalModifier, then the attributes in slot order, with every check of the table. The base
// colour becomes the context's current colour for the slots after it.
void evaluateSurfaceAttributes(const SurfaceDescription& surface, const EvalContext& ec, ShadingContext& sc,
                               SurfaceSample& out);

// True when the table can be evaluated once: every slot a constant tree and no point or normal modifier.
bool isConstantSurface(const SurfaceDescription& surface);

}  // namespace quorva
