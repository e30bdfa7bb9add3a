// Shaders: the surface descriptions built by the shader statements, and the SurfaceSample a shader
// gives for one hit.
#pragma once

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "eval/request.h"
#include "geometry/transform.h"
#include "geometry/vec3.h"

namespace quorva {

class Shape;
struct ShadingContext;
struct EvalContext;
class RenderContext;
struct ShadePoint;

enum class ShaderKind : int {
    Indexed = 100,
    MultiLayer = 101,
    Pattern = 102,
    Constant = 103,
    PerHit = 104,
    Composite = 105,
};

enum class SpecularBrdf : int { None = 0, Phong, Blinn, Gaussian, Reitz, Cook };

// All optical attributes of one hit.
struct SurfaceSample {
    Color kaColor{0, 0, 0};
    double kaScale = 0.001;
    double kb = 1.0;
    double metal = 0;
    Color kdColor{0, 0, 0};
    double kdScale = 0.8;
    Color ksColor{0, 0, 0};
    double ksScale = 0;
    Color krColor{0, 0, 0};
    double krScale = 0;
    double krBlur = 0;
    Color ktColor{0, 0, 0};
    double ktScale = 0;
    double ktBlur = 0;
    double ktAbsorption = 0;
    SpecularBrdf brdf = SpecularBrdf::None;
    double brdfParameter = 0;
    double ior = 1.0;
    double dispersion = 0;
    int dispersionSamples = 8;
    double iridescence[3] = {0, 0, 0};
    Color iridescenceColor{0.247059, 0.176471, 0.137255};
    double caustics = 0;
    bool internalCaustics = false;  // with Caustics: photons are stored on the shape itself too
    int irradianceSamples = -1;
    bool emitting = false;        // combination shaders: the colour is in kaColor, nothing else applies
    bool normalModified = false;  // a NormalModifier replaced the context's normal (shader frame)
};

// The sample of a surface that has nothing to give (no shader at all, no matching indexed band).
const SurfaceSample& defaultSurfaceSample();

// The attribute table of PlainSurface, FunctionalSurface and PatternSurface as the statements wrote
// it: one expression per slot (null = empty), slots numbered as the shader model numbers them
// (9 base Color, 10 NormalModifier, 11 IntersectionPointModifier, 12 Ka colour, 13 Ka scale, 14 Kb,
// 15 MetalAttribute, 16 Kd colour, 17 Kd scale, 18 Ks colour, 19 Ks scale, 20 Kr colour, 21 Kr scale,
// 22 Kr blur, 23 Kt colour, 24 Kt scale, 25 Kt blur, 26 Kt absorption, 28 BRDF angle, 29 index of
// refraction, 30 Dispersion amount, 31 dispersion samples, 32-35 Iridescence, 36 Caustics,
// 38 IrradianceSamples).
enum class SurfaceKind : int { Plain, Functional, Pattern };
struct SurfaceDescription {
    SurfaceKind kind = SurfaceKind::Plain;
    std::array<RequestPtr, 40> slots{};
    SpecularBrdf brdf = SpecularBrdf::None;  // slot 27
    bool internalCaustics = false;
    // PatternSurface items.
    RequestPtr bumpiness[2], patternModifiers[3], octaves, phase, patternScale, turbulence;
    // SpectrumOfColors ( entries , e ) given inside the surface.
    RequestPtr colorSpectrum, spectrumIndex;
};

class Shader {
  public:
    explicit Shader(ShaderKind kind) : kind(kind) {}
    virtual ~Shader();
    ShaderKind kind;
    std::unique_ptr<Transform> transform;  // hit point and normal go through its inverse

    // Fills `out` for the hit described by `sc` (point and normal already in the shader's frame).
    virtual void evaluate(ShadingContext& sc, SurfaceSample& out) const = 0;
    // The same during rendering, with the hit being shaded: combination shaders shade their members
    // from `at` (or, while a shadow test runs, report their combined transmission). Other kinds just
    // evaluate.
    virtual void evaluateHit(RenderContext& ctx, ShadePoint& at, ShadingContext& sc,
                             SurfaceSample& out) const;
    // A copy that shares the kind's data (used when transformation items follow a declared shader).
    virtual std::shared_ptr<Shader> clone() const = 0;
    // Attribute pruning when a shape enters the World: may clear Reflects (0x004), Refracts (0x008)
    // and UvWindow (0x010) of `attributes` as the kind's terms allow.
    virtual void pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const;
};

// A band of a SpectrumOfShaders: [position, shader, position, shader].
struct ShaderSpectrumEntry {
    double low = 0, high = 0;
    std::shared_ptr<const Shader> lowShader, highShader;  // either may be null
};
using ShaderSpectrum = std::vector<ShaderSpectrumEntry>;

// Builders used by the shader statements.
// `ec` evaluates the items checked once when the shader is built (the pattern items); without it they
// are evaluated with no frame counters.
std::shared_ptr<Shader> makeSurfaceShader(const SurfaceDescription& surface);
std::shared_ptr<Shader> makeSurfaceShader(const SurfaceDescription& surface, const EvalContext& ec);
std::shared_ptr<Shader> makeMultiLayerShader(std::vector<std::shared_ptr<const Shader>> members);
std::shared_ptr<Shader> makeIndexedShader(RequestPtr index, std::shared_ptr<const ShaderSpectrum> spectrum);
std::shared_ptr<Shader> makeCompositeShader(
    std::vector<std::pair<std::shared_ptr<const Shader>, RequestPtr>> members);

}  // namespace quorva
