// The Superquadric: the unit superellipsoid
//   F(x, y, z) = (|x|^(2/e2) + |y|^(2/e2))^(e2/e1) + |z|^(2/e1) - 1 = 0
// with e1 (the first exponent) shaping the profile along z and e2 (the second) the cross-section in the
// xy plane; e1 = e2 = 1 is the unit sphere, small exponents approach the cube [-1, 1]^3, exponents above 2
// give pinched, star-like shapes. F < 0 inside.
//
// F is evaluated in logarithms so that exponents down to 1e-8 neither overflow nor flush small terms to
// zero. A ray is cut into pieces at its crossings with the coordinate planes, the planes x, y, z = +-1 and
// the six diagonal planes. In a span with at most one turning point of F, a root lies either between ends
// of opposite sign or on both sides of a turning point that crosses zero; the slopes at the ends tell
// whether such a turning point exists.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/intersect_context.h"
#include "geometry/shapes.h"

namespace quorva {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double MinExponent = 1e-8;
// Beyond this the shape has collapsed onto its axes; an infinite exponent would make F undefined.
constexpr double MaxExponent = 1e8;
constexpr double Convergence = 1e-10;
constexpr int MaxRefinements = 400;

struct CuttingPlane {
    Vec3 normal;
    double offset;
};
constexpr CuttingPlane CuttingPlanes[15] = {{{1, 0, 0}, -1}, {{1, 0, 0}, 0}, {{1, 0, 0}, 1},  {{0, 1, 0}, -1},
                                            {{0, 1, 0}, 0},  {{0, 1, 0}, 1}, {{0, 0, 1}, -1}, {{0, 0, 1}, 0},
                                            {{0, 0, 1}, 1},  {{1, 1, 0}, 0}, {{1, -1, 0}, 0}, {{1, 0, 1}, 0},
                                            {{1, 0, -1}, 0}, {{0, 1, 1}, 0}, {{0, 1, -1}, 0}};

double signOf(double v) {
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

// sign(c) |c|^e, the signed power of the parametric form.
double signedPower(double c, double e) {
    return c == 0 ? 0 : std::copysign(std::pow(std::fabs(c), e), c);
}

bool finiteVector(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

class Superquadric final : public Shape {
  public:
    Superquadric(double e1, double e2)
        : Shape(ShapeKind::Superquadric),
          e1_(e1),
          e2_(e2),
          xyPower_(2 / e2),
          zPower_(2 / e1),
          outerPower_(e2 / e1),
          spansPerPiece_(e1 <= 2 && e2 <= 2 ? 1 : 4) {}

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Superquadric(*this)); }

  private:
    Superquadric(const Superquadric&) = default;

    double value(const Vec3& p) const;
    // The direction of grad F, scaled so that its largest component has magnitude 1 (0 at the origin).
    Vec3 gradient(const Vec3& p) const;
    double slope(const Ray& ray, double t) const { return dot(gradient(ray.at(t)), ray.direction); }
    // A point of the ray with F there and, once needed, the sign-bearing slope of F along the ray (NaN
    // until computed); neighbouring spans share their common end.
    struct Sample {
        double t;
        double f;
        double slope = NAN;
    };
    double slopeAt(const Ray& ray, Sample& s) const {
        if (std::isnan(s.slope)) s.slope = slope(ray, s.t);
        return s.slope;
    }
    // The root of F along the ray in [lo, hi], whose ends have values of opposite signs.
    double refineRoot(const Ray& ray, double lo, double hi, double flo, double fhi) const;
    // Roots in [a, b], ascending, assuming F has at most one turning point there; at most 4.
    int searchSpan(const Ray& ray, Sample& a, Sample& b, double* roots) const;

    double e1_, e2_;
    double xyPower_;     // 2 / e2
    double zPower_;      // 2 / e1
    double outerPower_;  // e2 / e1
    // With both exponents at most 2, F is a power (at least 1) of a norm, hence convex along every line.
    // Above 2 the shape pinches and a piece can hold a dip and a bump; each piece is then searched in
    // several spans.
    int spansPerPiece_;
};

double Superquadric::value(const Vec3& p) const {
    const double ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
    const double larger = std::max(ax, ay), smaller = std::min(ax, ay);
    double xy;
    if (larger == 0) {
        xy = 0;
    } else if (std::isinf(larger)) {
        xy = INFINITY;
    } else {
        // log(|x|^a + |y|^a) = a log(larger) + log(1 + (smaller/larger)^a)
        const double logLarger = std::log(larger);
        const double logSum =
            xyPower_ * logLarger + std::log1p(std::exp(xyPower_ * (std::log(smaller) - logLarger)));
        xy = std::exp(outerPower_ * logSum);
    }
    const double zTerm = az == 0 ? 0 : std::exp(zPower_ * std::log(az));
    return xy + zTerm - 1;
}

Vec3 Superquadric::gradient(const Vec3& p) const {
    // dF/dx = (2/e1) S^(e2/e1 - 1) |x|^(2/e2 - 1) sign(x), S = |x|^(2/e2) + |y|^(2/e2);
    // dF/dz = (2/e1) |z|^(2/e1 - 1) sign(z). Logarithms of the magnitudes, less the common factor.
    const double ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
    double logs[3] = {-INFINITY, -INFINITY, -INFINITY};
    if (ax > 0 || ay > 0) {
        const double larger = std::max(ax, ay), smaller = std::min(ax, ay);
        const double logLarger = std::log(larger);
        const double logSum =
            xyPower_ * logLarger + std::log1p(std::exp(xyPower_ * (std::log(smaller) - logLarger)));
        const double common = (outerPower_ - 1) * logSum;
        if (ax > 0) logs[0] = common + (xyPower_ - 1) * std::log(ax);
        if (ay > 0) logs[1] = common + (xyPower_ - 1) * std::log(ay);
    }
    if (az > 0) logs[2] = (zPower_ - 1) * std::log(az);
    const double top = std::max({logs[0], logs[1], logs[2]});
    if (!std::isfinite(top)) {
        // The origin, or a component without bound at a cusp: point along the unbounded ones.
        if (top < 0) return {};
        return {logs[0] == top ? signOf(p.x) : 0, logs[1] == top ? signOf(p.y) : 0,
                logs[2] == top ? signOf(p.z) : 0};
    }
    return {signOf(p.x) * std::exp(logs[0] - top), signOf(p.y) * std::exp(logs[1] - top),
            signOf(p.z) * std::exp(logs[2] - top)};
}

double Superquadric::refineRoot(const Ray& ray, double lo, double hi, double flo, double fhi) const {
    // Illinois regula falsi; every second step checks that the bracket has at least halved since the last
    // check and bisects if not (steep, box-like exponents make the secant crawl).
    int kept = 0;  // which end survived the last step: -1 low, +1 high
    double checkpoint = hi - lo;
    for (int its = 0; its < MaxRefinements; ++its) {
        const double mid = 0.5 * (lo + hi);
        if (hi - lo <= Convergence * std::max(1.0, std::fabs(mid))) return mid;
        bool bisect = false;
        if (its % 2 == 1) {
            bisect = hi - lo > 0.5 * checkpoint;
            checkpoint = hi - lo;
        }
        double x = bisect ? mid : (lo * fhi - hi * flo) / (fhi - flo);
        if (!(x > lo && x < hi)) x = mid;
        if (!(x > lo && x < hi)) return mid;  // neighbouring doubles: as close as it gets
        const double fx = value(ray.at(x));
        if (std::isnan(fx)) break;
        if (fx == 0) return x;
        if ((fx < 0) == (flo < 0)) {
            lo = x;
            flo = fx;
            if (kept == 1) fhi *= 0.5;
            kept = 1;
        } else {
            hi = x;
            fhi = fx;
            if (kept == -1) flo *= 0.5;
            kept = -1;
        }
    }
    internalFailure(InternalFailure::SuperquadricRoot, "Unable to solve Superquadric root");
}

int Superquadric::searchSpan(const Ray& ray, Sample& a, Sample& b, double* roots) const {
    int count = 0;
    // A zero at an end is a root there; inside the span, that end takes the sign F has just beyond it.
    double sa = signOf(a.f), sb = signOf(b.f);
    if (sa == 0) {
        roots[count++] = a.t;
        sa = signOf(slopeAt(ray, a));
    }
    if (sb == 0) sb = -signOf(slopeAt(ray, b));
    // End values for the secant, never exactly 0.
    const double fa = sa * std::max(std::fabs(a.f), DBL_MIN);
    const double fb = sb * std::max(std::fabs(b.f), DBL_MIN);
    if (sa != 0 && sb != 0 && sa != sb) {
        roots[count++] = refineRoot(ray, a.t, b.t, fa, fb);
    } else if (sa != 0 && sa == sb) {
        // Same sign at both ends: a crossing needs a turning point heading for zero, which shows as F
        // moving towards zero at both ends.
        const double ga = slopeAt(ray, a);
        const bool leavesA = sa > 0 ? ga < 0 : ga > 0;
        double gb = 0;
        if (leavesA) gb = slopeAt(ray, b);
        double lo = a.t, hi = b.t;
        for (int its = 0; leavesA && (sa > 0 ? gb > 0 : gb < 0) && its < MaxRefinements; ++its) {
            const double mid = 0.5 * (lo + hi);
            if (!(mid > lo && mid < hi) || hi - lo <= Convergence * std::max(1.0, std::fabs(mid))) break;
            const double fm = value(ray.at(mid));
            if (fm == 0) {
                roots[count++] = mid;  // grazing exactly
                break;
            }
            if (signOf(fm) != sa) {
                roots[count++] = refineRoot(ray, a.t, mid, fa, fm);
                roots[count++] = refineRoot(ray, mid, b.t, fm, fb);
                break;
            }
            // Move towards the turning point: keep the half where the slope still changes sign.
            const double gm = slope(ray, mid);
            if (gm == 0) break;
            if ((gm < 0) == (ga < 0))
                lo = mid;
            else
                hi = mid;
        }
    }
    if (b.f == 0) roots[count++] = b.t;
    return count;
}

bool Superquadric::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                             Intersection& hit) const {
    if (!finiteVector(ray.origin) || !finiteVector(ray.direction) || !std::isfinite(tmin) ||
        !std::isfinite(tmax) || !(tmin < tmax))
        return false;
    double cuts[17];
    int n = 0;
    cuts[n++] = tmin;
    const double margin = 1e-8 * (tmax - tmin);
    for (const CuttingPlane& plane : CuttingPlanes) {
        const double nd = dot(plane.normal, ray.direction);
        if (std::fabs(nd) < 1e-8) continue;
        const double t = (plane.offset - dot(plane.normal, ray.origin)) / nd;
        // Crossings just outside the interval are pulled onto its ends: roots stay within [tmin, tmax].
        if (t >= tmin - margin && t <= tmax + margin) cuts[n++] = std::clamp(t, tmin, tmax);
    }
    cuts[n++] = tmax;
    std::sort(cuts, cuts + n);
    n = static_cast<int>(std::unique(cuts, cuts + n) - cuts);

    // Outside the unit cube F is positive, so pieces there hold no root and F is not even evaluated at
    // their ends - except next to a piece inside, where a root on a face of the cube can round to either
    // side of the cut.
    const double reach = 1 + 1e-6;
    bool inCube[16];
    Sample samples[17];
    for (int i = 0; i < n; ++i) samples[i] = {cuts[i], NAN};
    for (int i = 0; i + 1 < n; ++i) {
        const Vec3 mid = ray.at(0.5 * (cuts[i] + cuts[i + 1]));
        inCube[i] = std::fabs(mid.x) <= reach && std::fabs(mid.y) <= reach && std::fabs(mid.z) <= reach;
    }
    auto valueAt = [&](int j) {
        if (std::isnan(samples[j].f)) samples[j].f = value(ray.at(samples[j].t));
        return samples[j].f;
    };

    double lastRoot = -INFINITY;
    for (int i = 0; i + 1 < n; ++i) {
        bool search = inCube[i];
        if (!search) {
            const bool insideBefore = i > 0 && inCube[i - 1];
            const bool insideAfter = i + 2 < n && inCube[i + 1];
            search = (insideBefore && valueAt(i) <= 0) || (insideAfter && valueAt(i + 1) <= 0);
        }
        if (!search) continue;
        valueAt(i);
        valueAt(i + 1);
        // Convex shapes have at most one turning point per piece; pinched ones are sampled finer.
        const int spans = inCube[i] ? spansPerPiece_ : 1;
        const double a = cuts[i], b = cuts[i + 1];
        Sample left = samples[i];
        for (int k = 1; k <= spans; ++k) {
            Sample right = samples[i + 1];
            if (k < spans) {
                right.t = a + (b - a) * k / spans;
                right.f = value(ray.at(right.t));
                right.slope = NAN;
            }
            double roots[4];
            const int count = searchSpan(ray, left, right, roots);
            if (k == spans) samples[i + 1] = right;  // keeps its slope for the next piece
            for (int r = 0; r < count; ++r) {
                if (!(roots[r] > lastRoot)) continue;  // a root on a cut is seen from both sides
                lastRoot = roots[r];
                const Vec3 point = ray.at(roots[r]);
                // Roots come in ascending order: the first one recorded is the nearest.
                if (recordHit(ctx, *this, gradient(point), roots[r], point, hit, point)) return true;
            }
            left = right;
        }
    }
    return false;
}

bool Superquadric::inside(const Vec3& worldPoint) const {
    return value(pointToObject(transform.get(), worldPoint)) < 0;
}

// u turns around z (angle 2 pi u from +x), v runs from the south pole (0) to the north pole (1).
void Superquadric::evaluate(double u, double v, SurfacePoint& out) const {
    const double longitude = 2 * Pi * u;
    const double latitude = Pi * v - Pi / 2;
    const double ring = signedPower(std::cos(latitude), e1_);
    const Vec3 p{ring * signedPower(std::cos(longitude), e2_), ring * signedPower(std::sin(longitude), e2_),
                 signedPower(std::sin(latitude), e1_)};
    out.objectPoint = p;
    out.worldPoint = pointToWorld(transform.get(), p);
    out.normal = normalized(normalToWorld(transform.get(), gradient(p)));
    out.u = u;
    out.v = v;
    out.extra = 0;
}

}  // namespace

std::unique_ptr<Shape> makeSuperquadric(double exponent1, double exponent2) {
    // NaN exponents fail the comparison too and take the smallest value.
    const double e1 = exponent1 >= MinExponent ? std::min(exponent1, MaxExponent) : MinExponent;
    const double e2 = exponent2 >= MinExponent ? std::min(exponent2, MaxExponent) : MinExponent;
    std::unique_ptr<Superquadric> shape;
    try {
        shape = std::make_unique<Superquadric>(e1, e2);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Superquadric");
    }
    shape->subdivisions[0] = 64;
    shape->subdivisions[1] = 32;
    shape->setBounds({{-1.0001, -1.0001, -1.0001}, {2.0002, 2.0002, 2.0002}});
    return shape;
}

}  // namespace quorva
