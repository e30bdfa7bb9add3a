// The sweep (ExtrudedSurface): a closed planar profile pushed along a sweep vector. In its canonical
// frame the profile lies in z = 0 and the sweep runs from z = 0 to z = 1; the ends are open.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/profile.h"
#include "geometry/profile_shapes.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"
#include "geometry/solvers.h"
#include "geometry/subdivision.h"
#include "geometry/world.h"

namespace quorva {

namespace {

constexpr double HeightLow = -1e-8;
constexpr double HeightHigh = 1.00000001;

struct SweepData {
    int type = 1;
    std::vector<Vec3> points;  // the profile, the first point repeated at the end
    std::vector<ProfileSegment> segments;
    Transform frame;  // forward: object space to the canonical frame
};

class Sweep final : public Shape {
  public:
    explicit Sweep(std::shared_ptr<const SweepData> data) : Shape(ShapeKind::Sweep), data_(std::move(data)) {}

    void subdivide(World& target) override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Sweep(*this)); }

  private:
    Sweep(const Sweep&) = default;
    bool intersectLinear(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double low,
                         double high, Intersection& hit) const;
    bool intersectCurved(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double low,
                         double high, Intersection& hit) const;
    bool record(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double t, double low,
                double high, const Vec3& canonicalNormal, Intersection& hit) const;

    std::shared_ptr<const SweepData> data_;
};

// Checks the height and the interval of a canonical parameter t and records it.
bool Sweep::record(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double t, double low,
                   double high, const Vec3& canonicalNormal, Intersection& hit) const {
    const double height = c.origin.z + t * c.direction.z;
    if (height < HeightLow || height > HeightHigh) return false;
    if (!(t > low && t <= high)) return false;
    const Vec3 normal = transformByTranspose(data_->frame.forward, canonicalNormal);
    const double distance = t / c.scale;
    const Vec3 point = ray.at(distance);
    return recordHit(ctx, *this, normal, distance, point, hit, point);
}

bool Sweep::intersectLinear(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double low,
                            double high, Intersection& hit) const {
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    const std::vector<Vec3>& p = data_->points;
    bool recorded = false;
    for (std::size_t k = 0; k + 1 < p.size(); ++k) {
        const double ex = p[k + 1].x - p[k].x, ey = p[k + 1].y - p[k].y;
        const double den = ey * d.x - ex * d.y;
        if (std::fabs(den) < 1e-8) continue;
        const double u = (d.x * (o.y - p[k].y) - d.y * (o.x - p[k].x)) / den;
        if (u < -1e-8 || u > 1.00000001) continue;
        const double t =
            std::fabs(d.x) >= 1e-8 ? (p[k].x + ex * u - o.x) / d.x : (p[k].y + ey * u - o.y) / d.y;
        if (record(ctx, ray, c, t, low, high, {ey, -ex, 0}, hit)) recorded = true;
    }
    return recorded;
}

// Quadratic pieces: the piece meets the ray's line in the profile plane where n . (p(s) - o) = 0 with n
// across the line, a quadratic in s.
bool Sweep::intersectCurved(IntersectContext& ctx, const Ray& ray, const CanonicalRay& c, double low,
                            double high, Intersection& hit) const {
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    const double nx = d.y, ny = -d.x;
    const bool alongX = std::fabs(d.x) >= std::fabs(d.y);
    bool recorded = false;
    for (const ProfileSegment& s : data_->segments) {
        const double coefficients[3] = {nx * (s.ax - 2 * s.cx + s.ex) + ny * (s.ay - 2 * s.cy + s.ey),
                                        2 * (nx * (s.cx - s.ax) + ny * (s.cy - s.ay)),
                                        nx * (s.ax - o.x) + ny * (s.ay - o.y)};
        double roots[2];
        const int count = solveQuadratic(coefficients, 0, 1, roots);
        for (int i = 0; i < count; ++i) {
            const double sigma = roots[i];
            const double t = alongX ? (s.x(sigma) - o.x) / d.x : (s.y(sigma) - o.y) / d.y;
            if (record(ctx, ray, c, t, low, high, {s.dy(sigma), -s.dx(sigma), 0}, hit)) recorded = true;
        }
    }
    return recorded;
}

bool Sweep::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                      Intersection& hit) const {
    const CanonicalRay c = toCanonical(data_->frame, ray);
    // A ray along the sweep never meets the sides.
    if (std::fabs(c.direction.x) < 1e-8 && std::fabs(c.direction.y) < 1e-8) return false;
    const double low = tmin * c.scale, high = tmax * c.scale;
    if (data_->type == 1) return intersectLinear(ctx, ray, c, low, high, hit);
    return intersectCurved(ctx, ray, c, low, high, hit);
}

bool Sweep::inside(const Vec3& worldPoint) const {
    const Vec3 p = transformPoint(data_->frame.forward, pointToObject(transform.get(), worldPoint));
    if (p.z < HeightLow || p.z > HeightHigh) return false;
    return profileContains(data_->segments, p.x, p.y);
}

// The sides as quadrilaterals: straight pieces whole, quadratic ones in `subdivisions[0]` steps; all of
// them together within MaxSubdivisionCells.
void Sweep::subdivide(World& target) {
    const SweepData& data = *data_;
    int curvedSteps = std::max(1, static_cast<int>(subdivisions[0]));
    if (std::any_of(data.segments.begin(), data.segments.end(),
                    [](const ProfileSegment& s) { return !s.straight; }))
        boundSubdivisionCounts(&curvedSteps, 1, MaxSubdivisionCells, data.segments.size());
    auto at = [&](double x, double y, double z) {
        return pointToWorld(transform.get(), transformPoint(data.frame.inverse, Vec3{x, y, z}));
    };
    for (const ProfileSegment& s : data.segments) {
        const int steps = s.straight ? 1 : curvedSteps;
        for (int i = 0; i < steps; ++i) {
            const double s0 = static_cast<double>(i) / steps, s1 = static_cast<double>(i + 1) / steps;
            const double x0 = s.x(s0), y0 = s.y(s0), x1 = s.x(s1), y1 = s.y(s1);
            if (std::hypot(x1 - x0, y1 - y0) < 1e-10) continue;
            auto polygon = makePolygon({at(x0, y0, 0), at(x1, y1, 0), at(x1, y1, 1), at(x0, y0, 1)});
            polygon->parent = parent;
            polygon->shader = shader;
            polygon->attributes = attributes;
            polygon->solidTest = solidTest;
            target.push(std::move(polygon));
        }
    }
}

}  // namespace

std::unique_ptr<Shape> makeSweep(int type, const Vec3& sweep, const std::vector<Vec3>& points) {
    if (type < 1 || type > 3) fatal("Only linear and quadratic sweeps allowed");
    if (points.size() < 2) fatal("At least two points must be in ExtrudedSurface");
    std::shared_ptr<SweepData> data;
    std::unique_ptr<Sweep> shape;
    try {
        data = std::make_shared<SweepData>();
        shape = std::make_unique<Sweep>(data);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate sweep data");
    }
    shape->subdivisions[0] = type == 1 ? 1 : 8;
    shape->subdivisions[1] = 1;
    const double len = length(sweep);
    if (len < 1e-8) fatal("Degenerate sweep");
    try {
        data->points = points;
        data->points.push_back(points.front());
        data->segments = closedProfile(points, type);
    } catch (const std::bad_alloc&) {
        fatal("Insufficient memory for sweep");
    }
    data->type = type;
    data->frame = makePlacementFrame(sweep, 1, len, {0, 0, 0});
    Vec3 lo = points[0], hi = points[0];
    for (const Vec3& p : points) {
        lo.x = std::min(lo.x, p.x);
        lo.y = std::min(lo.y, p.y);
        hi.x = std::max(hi.x, p.x);
        hi.y = std::max(hi.y, p.y);
    }
    const Box canonical{{lo.x, lo.y, 0}, {hi.x - lo.x, hi.y - lo.y, 1}};
    shape->setBounds(transformBox(canonical, data->frame.inverse));
    return shape;
}

}  // namespace quorva
