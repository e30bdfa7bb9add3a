// Specular BRDF parameters and values.
#include "shading/brdf.h"

#include <cmath>
#include <numbers>

#include "diagnostics/internal_failure.h"

namespace quorva {

double brdfParameter(SpecularBrdf kind, double a) {
    constexpr double Pi = std::numbers::pi;
    const double ln2 = std::log(2.0);
    switch (kind) {
        case SpecularBrdf::Phong:
            if (a <= 0) return SharpestLobe;
            if (a >= Pi / 4) return 0;
            return -ln2 / std::log(std::cos(2 * a));
        case SpecularBrdf::Blinn:
            if (a <= 0) return SharpestLobe;
            if (a >= Pi / 2) return 0;
            return -ln2 / std::log(std::cos(a));
        case SpecularBrdf::Gaussian:
            if (a <= 0) return SharpestLobe;
            return std::sqrt(ln2) / a;
        case SpecularBrdf::Reitz: {
            if (a <= 0) return 0;
            const double c2 = std::cos(a) * std::cos(a);
            return (c2 - 1) / (c2 - std::numbers::sqrt2);
        }
        case SpecularBrdf::Cook: {
            if (a <= 0) return 0;
            if (a >= Pi / 2) return SharpestLobe;
            const double c = std::cos(a), t = std::tan(a);
            return -t * t / std::log(c * c * c * c / 2);
        }
        case SpecularBrdf::None:
            break;
    }
    return 0;
}

double brdfValue(SpecularBrdf kind, const Vec3& N, const Vec3& L, const Vec3& V, double p) {
    if (kind == SpecularBrdf::None) return 0;
    if (kind == SpecularBrdf::Phong) {
        Vec3 R = 2 * dot(N, L) * N - L;
        normalize(R);
        const double rv = dot(R, V);
        return rv < 0 ? 0 : std::pow(rv, p);
    }
    Vec3 H = L + V;
    if (lengthSquared(H) < 1e-20) internalFailure(InternalFailure::HalfVectorNull, "Half vector is null");
    normalize(H);
    const double c = dot(N, H);
    if (c < 0) return 0;
    switch (kind) {
        case SpecularBrdf::Blinn:
            return std::pow(c, p);
        case SpecularBrdf::Gaussian: {
            const double x = std::acos(c > 1 ? 1 : c) * p;
            return std::exp(-x * x);
        }
        case SpecularBrdf::Reitz: {
            // A zero parameter (angle 0) is an infinitely narrow lobe: nothing to see, and 0/0 at its top.
            if (p == 0) return 0;
            const double r = p / (c * c * (p - 1) + 1);
            return r * r;
        }
        case SpecularBrdf::Cook: {
            if (p == 0 || c == 0) return 0;
            const double c2 = c * c;
            return std::exp(-(1 - c2) / (c2 * p)) / (4 * std::numbers::pi * p * c2 * c2);
        }
        default:
            return 0;
    }
}

}  // namespace quorva
