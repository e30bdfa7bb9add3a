// The Paraboloid: constructor, canonical-frame intersection, inside test and parametric form.
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"

namespace quorva {

Paraboloid::Paraboloid(const Vec3& v, const Vec3& t, double r)
    : Shape(ShapeKind::Paraboloid), top(t), vertex(v), radius(r) {
    subdivisions[0] = 32;
    subdivisions[1] = 16;
    if (r < 1e-8) fatal("Degenerate Paraboloid");
    const Vec3 axis = t - v;
    const double h = length(axis);
    if (h < 1e-8) fatal("Degenerate Paraboloid");
    frame = makePlacementFrame(axis / h, r, h, -v);
    setBounds(transformBox({{-1, -1, 0}, {2, 2, 1}}, frame.inverse));
}

std::unique_ptr<Shape> makeParaboloid(const Vec3& vertex, const Vec3& top, double radius) {
    return std::make_unique<Paraboloid>(vertex, top, radius);
}

std::unique_ptr<Shape> Paraboloid::clone() const {
    return std::unique_ptr<Shape>(new Paraboloid(*this));
}

bool Paraboloid::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                           Intersection& hit) const {
    const CanonicalRay c = toCanonical(frame, ray);
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    // x^2 + y^2 - z = 0 along the ray: A t^2 + 2B t + C = 0.
    const double a = d.x * d.x + d.y * d.y;
    const double b = d.x * o.x + d.y * o.y - d.z / 2;
    const double cc = o.x * o.x + o.y * o.y - o.z;
    double roots[2];
    const int count = canonicalRoots(a, b, cc, 1e-8, roots);
    if (count == 0) return false;
    const double lo = tmin * c.scale, hi = tmax * c.scale;

    bool recorded = false;
    for (int i = 0; i < count; ++i) {
        const double t = roots[i];
        if (t < lo || t > hi) continue;
        const double z = o.z + t * d.z;
        if (z < 0 || z > 1) continue;
        const Vec3 q = o + d * t;
        const double tObject = t / c.scale;
        const Vec3 n = transformByTranspose(frame.forward, {q.x, q.y, -0.5});
        recorded = recordHitDeferred(ctx, *this, n, tObject, ray.at(tObject), hit) || recorded;
    }
    return recorded;
}

Vec3 Paraboloid::surfaceCoordinatesAt(const Vec3& objectPoint) const {
    const Vec3 q = transformPoint(frame.forward, objectPoint);
    return {surfaceAngle(q.x, q.y) / (2 * M_PI), 1 - std::sqrt(std::fabs(q.z)), 0};
}

bool Paraboloid::inside(const Vec3& worldPoint) const {
    const Vec3 q = transformPoint(frame.forward, pointToObject(transform.get(), worldPoint));
    return q.x * q.x + q.y * q.y < q.z && q.z < 1;
}

void Paraboloid::evaluate(double u, double v, SurfacePoint& out) const {
    const double r = 1 - v;
    const double c = std::cos(2 * M_PI * u), s = std::sin(2 * M_PI * u);
    const Vec3 point{r * c, r * s, r * r};
    const Vec3 normal = r <= 1e-8 ? Vec3{0, 0, -1} : Vec3{2 * r * r * c, 2 * r * r * s, -r};
    finishSurfacePoint(*this, transformPoint(frame.inverse, point),
                       transformByTranspose(frame.forward, normal), u, v, out);
}

}  // namespace quorva
