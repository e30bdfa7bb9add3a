// A box around the zero set of a polynomial in x, y, z, proven with interval arithmetic, so that rays
// that miss it need no root solving.
#pragma once

#include <algorithm>
#include <utility>

#include "geometry/vec3.h"

namespace quorva {

struct ZeroSetBox {
    bool bounded = false;  // false: no finite box was proven; every ray must be solved
    bool empty = false;    // bounded, and the polynomial has no zero at all
    Vec3 min, max;         // when bounded and not empty: every zero lies inside (closed, padded)
};

// `coefficients` in the PolynomialSurface layout for `order` (x^order first, the constant last). A box is
// proven when the polynomial's highest-order part keeps one sign away from the origin (the surface is
// then closed); it is then narrowed around the zeros by subdividing it. Bounded work, no fatal errors.
ZeroSetBox boundZeroSet(const double* coefficients, int order);

// Does the ray origin + t direction meet the box for some t in [tmin, tmax]? Faces count as inside;
// anything not a number counts as a meeting.
inline bool rayMeetsBox(const Vec3& origin, const Vec3& direction, double tmin, double tmax, const Vec3& min,
                        const Vec3& max) {
    double lo = tmin, hi = tmax;
    auto slab = [&](double o, double d, double a, double b) {
        if (d == 0) return !(o < a || o > b);
        const double inverse = 1 / d;
        double t0 = (a - o) * inverse, t1 = (b - o) * inverse;
        if (t0 > t1) std::swap(t0, t1);
        lo = std::max(lo, t0);
        hi = std::min(hi, t1);
        return !(lo > hi);
    };
    return slab(origin.x, direction.x, min.x, max.x) && slab(origin.y, direction.y, min.y, max.y) &&
           slab(origin.z, direction.z, min.z, max.z);
}

}  // namespace quorva
