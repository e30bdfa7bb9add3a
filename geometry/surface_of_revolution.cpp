// The SurfaceOfRevolution: a profile of (radius, height) points turned about an axis. In its canonical
// frame the axis is z; the points at the ray's own distance from the axis form a quadric in (r, z), so
// each straight piece gives a quadratic and each quadratic piece a quartic in the piece's parameter.
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

struct RevolutionData {
    int type = 1;
    std::vector<Vec3> points;
    std::vector<ProfileSegment> segments;
    std::vector<ProfileSegment> closed;  // the profile closed through the axis, for `inside`
    Transform frame;                     // forward: object space to the canonical frame
};

// The ray's quadric A r^2 + B z^2 + C z + D = 0 and what the candidates need.
struct RayQuadric {
    double a, b, c, d;
    double h;              // d_xy . o_xy
    double originRadius2;  // |o_xy|^2
};

class SurfaceOfRevolution final : public Shape {
  public:
    explicit SurfaceOfRevolution(std::shared_ptr<const RevolutionData> data)
        : Shape(ShapeKind::SurfaceOfRevolution), data_(std::move(data)) {}

    void subdivide(World& target) override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override {
        return std::unique_ptr<Shape>(new SurfaceOfRevolution(*this));
    }
    void setSolver(int code) override { solverCode_ = code; }

  private:
    SurfaceOfRevolution(const SurfaceOfRevolution&) = default;

    std::shared_ptr<const RevolutionData> data_;
    int solverCode_ = SolverCode::Vieta;
};

struct Candidates {
    IntersectContext& ctx;
    const Shape& shape;
    const Ray& ray;  // object space
    const Transform& frame;
    const CanonicalRay& c;
    double low, high;  // scaled interval
    Intersection& hit;
    bool recorded = false;

    // Records the canonical parameter t on piece s at parameter sigma.
    void take(const ProfileSegment& s, double sigma, double t) {
        if (!(t > low && t <= high)) return;
        const Vec3 p = c.origin + c.direction * t;
        const double rho = std::sqrt(p.x * p.x + p.y * p.y);
        const double ux = rho > 0 ? p.x / rho : 1, uy = rho > 0 ? p.y / rho : 0;
        const double dr = s.dx(sigma), dz = s.dy(sigma);
        const Vec3 normal = transformByTranspose(frame.forward, Vec3{ux * dz, uy * dz, -dr});
        const double distance = t / c.scale;
        const Vec3 point = ray.at(distance);
        if (recordHit(ctx, shape, normal, distance, point, hit, point)) recorded = true;
    }

    // A ray across the axis at the height of the piece's point of radius r: both crossings.
    // False when the ray never comes that close to the axis.
    bool takeRadial(const ProfileSegment& s, double sigma, double r, const RayQuadric& q) {
        const double m = -q.h;
        const double disc = m * m - q.originRadius2 + r * r;
        if (disc < 0) return false;
        const double root = std::sqrt(disc);
        take(s, sigma, m - root);
        take(s, sigma, m + root);
        return true;
    }
};

bool SurfaceOfRevolution::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                                    Intersection& hit) const {
    const RevolutionData& data = *data_;
    const CanonicalRay c = toCanonical(data.frame, ray);
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    RayQuadric q;
    q.h = d.x * o.x + d.y * o.y;
    q.originRadius2 = o.x * o.x + o.y * o.y;
    q.a = -d.z * d.z;
    q.b = d.x * d.x + d.y * d.y;
    q.c = 2 * (q.h * d.z - o.z * q.b);
    q.d = q.b * o.z * o.z - 2 * d.z * q.h * o.z + q.originRadius2 * d.z * d.z;
    const bool across = std::fabs(d.z) <= 1e-8;  // the ray keeps one height
    Candidates k{ctx, *this, ray, data.frame, c, tmin * c.scale, tmax * c.scale, hit};

    for (const ProfileSegment& s : data.segments) {
        if (s.straight) {
            const double dr = s.ex - s.ax, dz = s.ey - s.ay;
            const double length = std::sqrt(dr * dr + dz * dz);
            if (length < 1e-8) continue;
            const double u = dr / length, w = dz / length;
            if (across) {
                // The quadric degenerates to a double root the solver may lose: the height decides.
                if (std::fabs(w) < 1e-12) continue;
                const double sigma = (o.z - s.ay) / w;
                if (sigma < 0 || sigma > length) continue;
                k.takeRadial(s, sigma / length, s.ax + u * sigma, q);
                continue;
            }
            const double coefficients[3] = {q.a * u * u + q.b * w * w,
                                            2 * q.a * s.ax * u + 2 * q.b * s.ay * w + q.c * w,
                                            q.a * s.ax * s.ax + q.b * s.ay * s.ay + q.c * s.ay + q.d};
            double roots[2];
            const int count = solveQuadratic(coefficients, 0, length, roots);
            for (int i = 0; i < count; ++i) k.take(s, roots[i] / length, (s.ay + w * roots[i] - o.z) / d.z);
            continue;
        }
        const double r0 = s.ax, r1 = 2 * (s.cx - s.ax), r2 = s.ax - 2 * s.cx + s.ex;
        const double z0 = s.ay, z1 = 2 * (s.cy - s.ay), z2 = s.ay - 2 * s.cy + s.ey;
        if (across) {
            if (std::fabs(s.ey - s.ay) < 1e-8) continue;
            const double coefficients[3] = {z2, z1, z0 - o.z};
            double roots[2];
            const int count = solveQuadratic(coefficients, 0, 1, roots);
            for (int i = 0; i < count; ++i)
                if (!k.takeRadial(s, roots[i], s.x(roots[i]), q)) break;
            continue;
        }
        double coefficients[5] = {q.a * r2 * r2 + q.b * z2 * z2, 2 * (q.a * r1 * r2 + q.b * z1 * z2),
                                  q.a * (r1 * r1 + 2 * r0 * r2) + q.b * (z1 * z1 + 2 * z0 * z2) + q.c * z2,
                                  2 * (q.a * r0 * r1 + q.b * z0 * z1) + q.c * z1,
                                  q.a * r0 * r0 + q.b * z0 * z0 + q.c * z0 + q.d};
        double roots[4];
        double largest = 0;
        for (double v : coefficients) largest = std::max(largest, std::fabs(v));
        int count;
        // A piece whose control points are evenly spaced on a line has no quartic term.
        if (std::fabs(coefficients[0]) <= 1e-12 * largest)
            count = solveCubic(coefficients + 1, -1e-8, 1 + 1e-8, roots);
        else
            count = solveQuartic(solverCode_, coefficients, -1e-8, 1 + 1e-8, roots);
        for (int i = 0; i < count; ++i) k.take(s, roots[i], (s.y(roots[i]) - o.z) / d.z);
    }
    return k.recorded;
}

bool SurfaceOfRevolution::inside(const Vec3& worldPoint) const {
    const Vec3 p = transformPoint(data_->frame.forward, pointToObject(transform.get(), worldPoint));
    return profileContains(data_->closed, std::sqrt(p.x * p.x + p.y * p.y), p.z);
}

// Rings of quadrilaterals: each piece is cut into `subdivisions[1]` steps (one for straight pieces) and
// turned in `subdivisions[0]` x 4 steps; all of them together within MaxSubdivisionCells.
void SurfaceOfRevolution::subdivide(World& target) {
    const RevolutionData& data = *data_;
    const auto curved = static_cast<std::uint64_t>(std::count_if(
        data.segments.begin(), data.segments.end(), [](const ProfileSegment& s) { return !s.straight; }));
    int grid[2] = {std::max(3, 4 * static_cast<int>(subdivisions[0])),
                   std::max(1, static_cast<int>(subdivisions[1]))};
    boundSubdivisionCounts(grid, curved > 0 ? 2 : 1, MaxSubdivisionCells, data.segments.size());
    const int around = std::max(3, grid[0]);
    std::vector<Vec3> profile;  // (radius, height)
    for (const ProfileSegment& s : data.segments) {
        const int steps = s.straight ? 1 : grid[1];
        if (profile.empty()) profile.push_back({s.ax, s.ay, 0});
        for (int i = 1; i <= steps; ++i) {
            const double sigma = static_cast<double>(i) / steps;
            profile.push_back({s.x(sigma), s.y(sigma), 0});
        }
    }
    auto at = [&](const Vec3& p, int j) {
        const double angle = 2 * M_PI * j / around;
        const Vec3 canonical{p.x * std::cos(angle), p.x * std::sin(angle), p.y};
        return pointToWorld(transform.get(), transformPoint(data.frame.inverse, canonical));
    };
    for (std::size_t i = 0; i + 1 < profile.size(); ++i)
        for (int j = 0; j < around; ++j) {
            std::vector<Vec3> corners{at(profile[i], j), at(profile[i + 1], j), at(profile[i + 1], j + 1),
                                      at(profile[i], j + 1)};
            // A corner on the axis makes the quadrilateral a triangle.
            if (length(corners[0] - corners[3]) < 1e-10)
                corners.erase(corners.begin() + 3);
            else if (length(corners[1] - corners[2]) < 1e-10)
                corners.erase(corners.begin() + 2);
            if (corners.size() < 3 || length(corners[0] - corners[1]) < 1e-10) continue;
            auto polygon = makePolygon(corners);
            polygon->parent = parent;
            polygon->shader = shader;
            polygon->attributes = attributes;
            polygon->solidTest = solidTest;
            target.push(std::move(polygon));
        }
}

}  // namespace

std::unique_ptr<Shape> makeSurfaceOfRevolution(int type, const Vec3& axis, const std::vector<Vec3>& points) {
    const std::size_t n = points.size();
    if (n < 2) fatal("At least two points must be in SurfaceOfRevolution");
    if (type < 1 || type > 3) fatal("Only linear and quadratic sweeps allowed");
    if (n == 2) return makeCone({0, points[0].y, 0}, points[0].x, {0, points[1].y, 0}, points[1].x);
    std::shared_ptr<RevolutionData> data;
    std::unique_ptr<SurfaceOfRevolution> shape;
    try {
        data = std::make_shared<RevolutionData>();
        shape = std::make_unique<SurfaceOfRevolution>(data);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate SurfaceOfRevolution");
    }
    if (length(axis) < 1e-8) fatal("Degenerate SurfaceOfRevolution axis");
    data->type = type;
    data->points = points;
    data->segments = openProfile(points, type);
    data->closed = data->segments;
    const Vec3 first{0, points.front().y, 0}, last{0, points.back().y, 0};
    auto straight = [](const Vec3& p, const Vec3& q) {
        return ProfileSegment{p.x, p.y, (p.x + q.x) / 2, (p.y + q.y) / 2, q.x, q.y, true};
    };
    data->closed.push_back(straight(points.back(), last));
    data->closed.push_back(straight(last, first));
    data->closed.push_back(straight(first, points.front()));
    data->frame = makePlacementFrame(normalized(axis), 1, 1, {0, 0, 0});

    shape->subdivisions[0] = 8;
    shape->subdivisions[1] = type == 1 ? 1 : 8;
    double radius = 0, low = points[0].y, high = points[0].y;
    for (const Vec3& p : points) {
        radius = std::max(radius, std::fabs(p.x));
        low = std::min(low, p.y);
        high = std::max(high, p.y);
    }
    const Box canonical{{-radius, -radius, low}, {2 * radius, 2 * radius, high - low}};
    shape->setBounds(transformBox(canonical, data->frame.inverse));
    return shape;
}

}  // namespace quorva
