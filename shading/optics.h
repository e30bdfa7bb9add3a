// The optics of reflection and refraction at a surface: Fresnel weight, refracted and mirror
// directions, and the spectral weights of chromatic dispersion.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

// Fresnel reflectance for a dielectric of index `ior` (> 1) met with q = -(N.D), the cosine taken
// against the surface's own normal (negative when the ray meets the back); clamped to [0, 1].
double fresnelReflectance(double ior, double q);

// Mirror direction of the ray direction D about the unit normal N.
inline Vec3 mirrorDirection(const Vec3& D, const Vec3& N) {
    return D - 2 * dot(D, N) * N;
}

// Refracts D at the unit normal N (facing against D) with index ratio eta. Returns false on total
// internal reflection (T untouched).
bool refractDirection(const Vec3& D, const Vec3& N, double eta, Vec3& T);

// Weights of the k-th (1-based) of S dispersion samples, running from blue (k = 1) through green to
// red (k = S).
Color spectralWeights(int k, int S);

// The Kt colour applied over a path of `distance` (each channel raised to the distance).
Color transmissionOverDistance(const Color& ktColour, double distance);

}  // namespace quorva
