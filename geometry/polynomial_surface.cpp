// The PolynomialSurface: the zero set of a polynomial in x, y, z of order up to 32, solved along the ray
// as a polynomial in the ray parameter.
//
// Coefficient layout: for order n, the monomial x^i y^j z^k sits at
//   C(n-i+2, 3) + C(n-i-j+1, 2) + (n-i-j-k),
// which lists the terms by falling power of x, then of y, then of z (x^n first, the constant last).
// Walking the array in that order is exactly a nested Horner scheme in x, y and z.
#include <algorithm>
#include <new>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "geometry/polynomial_bounds.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"

namespace quorva {

namespace {

constexpr int MaxPolynomialOrder = 32;

// p <- p * (o + d t) for ascending coefficients p[0..degree]; the degree grows by one.
inline void multiplyByLinear(double* p, int& degree, double o, double d) {
    p[degree + 1] = d * p[degree];
    for (int m = degree; m >= 1; --m) p[m] = o * p[m] + d * p[m - 1];
    p[0] = o * p[0];
    ++degree;
}

class PolynomialSurface final : public Shape {
  public:
    PolynomialSurface(int order, std::shared_ptr<const std::vector<double>> coefficients)
        : Shape(ShapeKind::PolynomialSurface), order_(order), coefficients_(std::move(coefficients)) {
        // Above the Sturm limit every ray must reach the solver, which stops the run.
        if (order_ <= MaxSturmOrder) zeroSet_ = boundZeroSet(coefficients_->data(), order_);
    }

    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override {
        return std::unique_ptr<Shape>(new PolynomialSurface(*this));
    }
    void setSolver(int code) override { solverCode_ = code; }

  private:
    PolynomialSurface(const PolynomialSurface&) = default;

    // The polynomial restricted to origin + t direction, highest power of t first (order_ + 1 values).
    void expandAlongRay(const Ray& ray, double* out) const;
    double value(const Vec3& p) const;
    Vec3 gradient(const Vec3& p) const;

    int order_;
    std::shared_ptr<const std::vector<double>> coefficients_;
    // Object-space box around the surface when it is closed: rays that miss it have no root. The
    // shape's bounds stay unbounded; this only spares the expansion and the solver.
    ZeroSetBox zeroSet_;
    // Sturm sequences handle every order; Ferrari or the depressed-quartic method apply to quartics when
    // chosen. Kept per instance like the torus's.
    int solverCode_ = SolverCode::Sturm;
};

// The expansion for an order known at compile time (Fixed > 0), where every loop has a fixed length and
// unrolls, or for any order (Fixed = 0). The same operations in the same order either way.
template <int Fixed>
void expand(int order, const double* c, const Vec3& o, const Vec3& d, double* out) {
    const int n = Fixed > 0 ? Fixed : order;
    // Horner in x over polynomials in y, z, each of those Horner in y over polynomials in z; every
    // variable is replaced by its linear function of t, so each step multiplies by (o + d t). The sum
    // being built always has the degree of the part added to it, so only the first entry starts at 0.
    double px[MaxPolynomialOrder + 2];
    double py[MaxPolynomialOrder + 2];
    double pz[MaxPolynomialOrder + 2];
    px[0] = 0;
    int degreeX = 0;
    for (int i = n; i >= 0; --i) {
        py[0] = 0;
        int degreeY = 0;
        for (int j = n - i; j >= 0; --j) {
            int degreeZ = 0;
            pz[0] = *c++;
            for (int k = n - i - j - 1; k >= 0; --k) {
                multiplyByLinear(pz, degreeZ, o.z, d.z);
                pz[0] += *c++;
            }
            if (j != n - i) multiplyByLinear(py, degreeY, o.y, d.y);
            for (int m = 0; m <= degreeZ; ++m) py[m] += pz[m];
        }
        if (i != n) multiplyByLinear(px, degreeX, o.x, d.x);
        for (int m = 0; m <= degreeY; ++m) px[m] += py[m];
    }
    for (int m = 0; m <= n; ++m) out[m] = px[n - m];
}

void PolynomialSurface::expandAlongRay(const Ray& ray, double* out) const {
    const double* c = coefficients_->data();
    switch (order_) {
        case 2:
            return expand<2>(order_, c, ray.origin, ray.direction, out);
        case 3:
            return expand<3>(order_, c, ray.origin, ray.direction, out);
        case 4:
            return expand<4>(order_, c, ray.origin, ray.direction, out);
        case 6:
            return expand<6>(order_, c, ray.origin, ray.direction, out);
        default:
            return expand<0>(order_, c, ray.origin, ray.direction, out);
    }
}

double PolynomialSurface::value(const Vec3& p) const {
    const double* c = coefficients_->data();
    const int n = order_;
    double vx = 0;
    for (int i = n; i >= 0; --i) {
        double vy = 0;
        for (int j = n - i; j >= 0; --j) {
            double vz = 0;
            for (int k = n - i - j; k >= 0; --k) vz = vz * p.z + *c++;
            vy = vy * p.y + vz;
        }
        vx = vx * p.x + vy;
    }
    return vx;
}

Vec3 PolynomialSurface::gradient(const Vec3& p) const {
    const int n = order_;
    double powX[MaxPolynomialOrder + 1], powY[MaxPolynomialOrder + 1], powZ[MaxPolynomialOrder + 1];
    powX[0] = powY[0] = powZ[0] = 1;
    for (int m = 1; m <= n; ++m) {
        powX[m] = powX[m - 1] * p.x;
        powY[m] = powY[m - 1] * p.y;
        powZ[m] = powZ[m - 1] * p.z;
    }
    const double* c = coefficients_->data();
    Vec3 g;
    for (int i = n; i >= 0; --i)
        for (int j = n - i; j >= 0; --j)
            for (int k = n - i - j; k >= 0; --k) {
                const double a = *c++;
                if (a == 0) continue;
                if (i > 0) g.x += a * i * powX[i - 1] * powY[j] * powZ[k];
                if (j > 0) g.y += a * j * powX[i] * powY[j - 1] * powZ[k];
                if (k > 0) g.z += a * k * powX[i] * powY[j] * powZ[k - 1];
            }
    return g;
}

bool PolynomialSurface::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                                  Intersection& hit) const {
    if (zeroSet_.bounded &&
        (zeroSet_.empty || !rayMeetsBox(ray.origin, ray.direction, tmin, tmax, zeroSet_.min, zeroSet_.max)))
        return false;
    double polynomial[MaxPolynomialOrder + 1];
    expandAlongRay(ray, polynomial);
    double roots[MaxPolynomialOrder];
    int count;
    if (order_ == 4 && (solverCode_ == SolverCode::Ferrari || solverCode_ == SolverCode::Vieta))
        count = solveQuartic(solverCode_, polynomial, tmin, tmax, roots);
    else
        count = solveSturm(polynomial, order_, tmin, tmax, roots);
    bool recorded = false;
    for (int i = 0; i < count; ++i) {
        // A root no nearer than the one recorded changes nothing but counts as handled, as recordHit
        // would say; its normal is not worth working out.
        if (hit.hit && !(roots[i] < hit.distance)) {
            recorded = true;
            continue;
        }
        const Vec3 point = ray.at(roots[i]);
        if (recordHit(ctx, *this, gradient(point), roots[i], point, hit, point)) recorded = true;
    }
    return recorded;
}

bool PolynomialSurface::inside(const Vec3& worldPoint) const {
    return value(pointToObject(transform.get(), worldPoint)) < 0;
}

}  // namespace

std::unique_ptr<Shape> makePolynomialSurface(const std::vector<PolynomialTerm>& terms) {
    int order = 0;
    for (const PolynomialTerm& term : terms) order = std::max(order, term.i + term.j + term.k);
    if (order > MaxPolynomialOrder) fatal("Maximum Polynomial order reached");

    std::shared_ptr<std::vector<double>> coefficients;
    try {
        coefficients =
            std::make_shared<std::vector<double>>((order + 1) * (order + 2) * (order + 3) / 6, 0.0);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate PolynomialSurface coefficients");
    }
    for (const PolynomialTerm& term : terms) {
        // A negative power is no monomial; the array has no place for it.
        if (term.i < 0 || term.j < 0 || term.k < 0) continue;
        const int n = order;
        const auto index = binomial(n - term.i + 2, 3) + binomial(n - term.i - term.j + 1, 2) +
                           (n - term.i - term.j - term.k);
        (*coefficients)[index] += term.coefficient;
    }

    std::unique_ptr<PolynomialSurface> surface;
    try {
        surface = std::make_unique<PolynomialSurface>(order, std::move(coefficients));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate PolynomialSurface");
    }
    surface->subdivisions[0] = surface->subdivisions[1] = surface->subdivisions[2] = 32;
    return surface;
}

}  // namespace quorva
