// The specular BRDFs: the shape parameter each derives from its angle, and the lobe value.
#pragma once

#include "geometry/vec3.h"
#include "shading/shader.h"

namespace quorva {

// The largest float, which the sharpest lobes use as their exponent.
constexpr double SharpestLobe = 3.4028234663852886e38;

// Shape parameter of a lobe from its angle (radians). The Phong, Blinn, Gaussian and Reitz lobes fall
// to one half at that angle.
double brdfParameter(SpecularBrdf kind, double angle);

// Lobe value for unit normal N, unit light direction L and unit view direction V. A null half vector
// (L = -V) is an internal failure.
double brdfValue(SpecularBrdf kind, const Vec3& N, const Vec3& L, const Vec3& V, double p);

}  // namespace quorva
