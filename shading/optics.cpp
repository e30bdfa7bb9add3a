// Fresnel weight, refraction and dispersion weights.
#include "shading/optics.h"

#include <algorithm>
#include <cmath>

namespace quorva {

double fresnelReflectance(double ior, double q) {
    const double g = std::sqrt(ior * ior + q * q - 1);
    const double a = (g - q) * (g - q) / ((g + q) * (g + q));
    const double b = q * (g + q) - 1, c = q * (g - q) + 1;
    const double f = 0.5 * a * (1 + b * b / (c * c));
    return std::clamp(f, 0.0, 1.0);
}

bool refractDirection(const Vec3& D, const Vec3& N, double eta, Vec3& T) {
    const double dn = dot(D, N);
    const double k = 1 - eta * eta * (1 - dn * dn);
    if (k < 0) return false;
    T = eta * D + (eta * -dn - std::sqrt(k)) * N;
    normalize(T);
    return true;
}

Color spectralWeights(int k, int S) {
    const double c = 0.964 - 0.934 * (k - 1) / (S - 1);
    auto sq = [](double x) { return x * x; };
    const double blue = std::max(0.0, 0.98 * (1 - sq(4 * (c - 0.28))));
    const double green = std::max(0.0, 0.97 * (1.1 - sq(4.5 * (c - 0.57))));
    double red = 1.15 - sq(5 * (c - 0.75));
    if (red < 0) red = std::max(0.0, 0.12 - sq(4 * (c - 0.12)));
    return {red, green, blue};
}

Color transmissionOverDistance(const Color& kt, double distance) {
    return {std::pow(kt.r, distance), std::pow(kt.g, distance), std::pow(kt.b, distance)};
}

}  // namespace quorva
