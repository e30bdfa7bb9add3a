// The Torus: a quartic surface solved in a canonical frame where it lies around the z axis at the origin.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"

namespace quorva {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double TwoPi = 2 * Pi;

// Shared between instances of one definition; never changes after construction.
struct TorusData {
    Vec3 centre;
    Vec3 axis;  // unit length
    double major = 0, minor = 0;
    double majorSquared = 0, minorSquared = 0;
    // A slightly padded sphere and slab around the canonical torus: rays that miss either need no solve.
    double reachSquared = 0, tubeHalf = 0;
    Transform frame;  // forward: object space to the canonical frame
};

class Torus final : public Shape {
  public:
    explicit Torus(std::shared_ptr<const TorusData> data) : Shape(ShapeKind::Torus), data_(std::move(data)) {}

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Torus(*this)); }
    void setSolver(int code) override { solverCode_ = code; }

  private:
    Torus(const Torus&) = default;

    // Does the canonical ray (unit d, od = o.d) pass through the bounding sphere and the tube's slab
    // somewhere in [low, high]? Undecided (not a number) counts as yes.
    bool mayMeet(const Vec3& o, const Vec3& d, double od, double low, double high) const;

    // (u, v) of a canonical surface point: u around the axis, v around the tube, v = 0 on the inner
    // equator.
    Vec3 surfaceCoordinates(const Vec3& p) const;

    std::shared_ptr<const TorusData> data_;
    // Kept per instance, so a solver modifier on one copy of a declared torus leaves the others alone.
    int solverCode_ = SolverCode::Vieta;
};

Vec3 Torus::surfaceCoordinates(const Vec3& p) const {
    const double rho = std::sqrt(p.x * p.x + p.y * p.y);
    const double u = surfaceAngle(p.x, p.y) / TwoPi;
    const double radial = rho - data_->major;
    const double length = std::sqrt(p.z * p.z + radial * radial);
    const double f = length > 0 ? std::acos(std::clamp(radial / length, -1.0, 1.0)) : 0;
    double v = (p.z < 0 ? TwoPi - f : f) / TwoPi - 0.5;
    if (v < 0) v += 1;
    return {u, v, 0};
}

bool Torus::mayMeet(const Vec3& o, const Vec3& d, double od, double low, double high) const {
    const TorusData& t = *data_;
    // The point of closest approach to the centre is computed directly, without the cancellation of
    // |o|^2 - (o.d)^2 for far origins.
    const Vec3 closest = o - d * od;
    const double chordSquared = t.reachSquared - dot(closest, closest);
    if (chordSquared < 0) return false;
    const double halfChord = std::sqrt(chordSquared);
    low = std::max(low, -od - halfChord);
    high = std::min(high, -od + halfChord);
    if (low > high) return false;
    if (d.z == 0) return !(std::fabs(o.z) > t.tubeHalf);
    double enter = (-t.tubeHalf - o.z) / d.z, leave = (t.tubeHalf - o.z) / d.z;
    if (enter > leave) std::swap(enter, leave);
    return !(std::max(low, enter) > std::min(high, leave));
}

bool Torus::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                      Intersection& hit) const {
    const TorusData& t = *data_;
    const Vec3 o = transformPoint(t.frame.forward, ray.origin);
    Vec3 d = transformVector(t.frame.forward, ray.direction);
    const double s = normalize(d);
    const double od = dot(o, d);
    if (!mayMeet(o, d, od, tmin * s, tmax * s)) return false;
    const double k = dot(o, o) - (t.majorSquared + t.minorSquared);
    const double coefficients[5] = {1.0, 4 * od, 4 * (t.majorSquared * d.z * d.z + od * od) + 2 * k,
                                    8 * t.majorSquared * o.z * d.z + 4 * od * k,
                                    k * k - 4 * t.majorSquared * (t.minorSquared - o.z * o.z)};
    double roots[4];
    const int count = solveQuartic(solverCode_, coefficients, tmin * s, tmax * s, roots);
    const bool uvActive = uvWindowActive(ctx, *this);
    bool recorded = false;
    for (int i = 0; i < count; ++i) {
        const Vec3 p = o + d * roots[i];
        const double g = dot(p, p) - (t.majorSquared + t.minorSquared);
        const Vec3 canonicalNormal{p.x * g, p.y * g, p.z * (g + 2 * t.majorSquared)};
        const Vec3 normal = transformByTranspose(t.frame.forward, canonicalNormal);
        const double distance = roots[i] / s;
        const Vec3 point = ray.at(distance);
        const Vec3 coords = uvActive ? surfaceCoordinates(p) : point;
        if (recordHit(ctx, *this, normal, distance, point, hit, coords)) recorded = true;
    }
    return recorded;
}

bool Torus::inside(const Vec3& worldPoint) const {
    const TorusData& t = *data_;
    const Vec3 p = transformPoint(t.frame.forward, pointToObject(transform.get(), worldPoint));
    const double g = dot(p, p) - t.majorSquared - t.minorSquared;
    return g * g - 4 * t.majorSquared * (t.minorSquared - p.z * p.z) < 1e-8;
}

// The inverse of surfaceCoordinates: u turns around the axis, v around the tube starting on the inner
// equator.
void Torus::evaluate(double u, double v, SurfacePoint& out) const {
    const TorusData& t = *data_;
    const double theta = TwoPi * u;
    const double phi = TwoPi * (v + 0.5);
    const double ring = t.major + t.minor * std::cos(phi);
    const Vec3 canonicalPoint{ring * std::cos(theta), ring * std::sin(theta), t.minor * std::sin(phi)};
    const Vec3 canonicalNormal{std::cos(phi) * std::cos(theta), std::cos(phi) * std::sin(theta),
                               std::sin(phi)};
    out.objectPoint = transformPoint(t.frame.inverse, canonicalPoint);
    out.worldPoint = pointToWorld(transform.get(), out.objectPoint);
    out.normal =
        normalized(normalToWorld(transform.get(), transformByTranspose(t.frame.forward, canonicalNormal)));
    out.u = u;
    out.v = v;
    out.extra = 0;
}

}  // namespace

std::unique_ptr<Shape> makeTorus(const Vec3& centre, const Vec3& axis, double majorRadius,
                                 double minorRadius) {
    std::shared_ptr<TorusData> data;
    std::unique_ptr<Torus> torus;
    try {
        data = std::make_shared<TorusData>();
        torus = std::make_unique<Torus>(data);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Torus");
    }
    // The length is checked before normalising, which would turn a vanishing axis into (1, 0, 0).
    if (length(axis) < 1e-8) fatal("Degenerate Torus");
    data->centre = centre;
    data->axis = normalized(axis);
    data->major = majorRadius;
    data->minor = minorRadius;
    data->majorSquared = majorRadius * majorRadius;
    data->minorSquared = minorRadius * minorRadius;
    const double reach = (std::fabs(majorRadius) + std::fabs(minorRadius)) * (1 + 1e-6) + 1e-9;
    data->reachSquared = reach * reach;
    data->tubeHalf = std::fabs(minorRadius) * (1 + 1e-6) + 1e-9;
    data->frame = makePlacementFrame(data->axis, 1, 1, -centre);

    torus->subdivisions[0] = 32;
    torus->subdivisions[1] = 16;
    // The surface depends on the squared radii only; the box uses their magnitudes so that negative
    // radii still give a box of positive extent.
    const double outer = std::fabs(majorRadius) + std::fabs(minorRadius);
    const double tube = std::fabs(minorRadius);
    const Box canonical{{-outer, -outer, -tube}, {2 * outer, 2 * outer, 2 * tube}};
    torus->setBounds(transformBox(canonical, data->frame.inverse));
    return torus;
}

}  // namespace quorva
