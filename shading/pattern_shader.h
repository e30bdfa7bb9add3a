// The pattern shader (kind 102): the attribute table of a PatternSurface, then per hit an input value
// from the point, an optional bump of the normal, scale and turbulence, a wave form and a colour
// spectrum that recolours the ambient and diffuse terms.
#pragma once

#include <memory>

#include "shading/shader.h"

namespace quorva {

struct ColorSpectrum;
struct EvalContext;
class SurfaceShader;

// The pattern items, checked and evaluated once when the shader is built.
struct PatternParameters {
    double scale = 1.0;
    int waveForm = 0;  // 0 none, 1 sine, 2 cosine, 3 kernel of |sine|, 4 1-D noise, 5 fraction, 6 sawtooth
    int input = 0;     // 0 none, 1-3 x y z, 4-6 u v w, 7 |P|, 8 sqrt(x^2 + y^2), 9 angle around y
    int bump = 0;      // 0 none, 1 value noise, 2 value noise times turbulence, 3 gradient noise, 4 waves
    int octaves = 1;
    double bumpAmplitude = 1.0;
    double bumpFrequency = 1.0;
    double phase = 0;
    double turbulence = 0;
};

// Checks every pattern item of `surface` (messages carry the position being parsed) and returns them.
PatternParameters patternParameters(const SurfaceDescription& surface, const EvalContext& ec);

class PatternShader final : public Shader {
  public:
    PatternShader(std::shared_ptr<const SurfaceShader> attributes, const PatternParameters& parameters,
                  std::shared_ptr<const ColorSpectrum> spectrum);

    void evaluate(ShadingContext& sc, SurfaceSample& out) const override;
    std::shared_ptr<Shader> clone() const override;
    void pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const override;

    const PatternParameters& parameters() const { return parameters_; }

  private:
    std::shared_ptr<const SurfaceShader> attributes_;
    PatternParameters parameters_;
    std::shared_ptr<const ColorSpectrum> spectrum_;  // null: the pattern only bumps
};

// The pattern value at point p (shader frame) before the colour step: input, scale and turbulence, wave
// form. `sc` gives the surface coordinates for inputs 4-6.
double patternValue(const PatternParameters& parameters, const Vec3& p, const ShadingContext& sc);
// The bumped normal at p (n unit): unchanged for bump kind 0 or amplitude 0.
Vec3 patternBump(const PatternParameters& parameters, const Vec3& p, const Vec3& n);

}  // namespace quorva
