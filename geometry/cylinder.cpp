// The open Cylinder: constructor, canonical-frame intersection, inside test and parametric form.
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"

namespace quorva {

Cylinder::Cylinder(const Vec3& b, const Vec3& t, double r)
    : Shape(ShapeKind::Cylinder), base(b), top(t), radius(r) {
    subdivisions[0] = 16;
    subdivisions[1] = 2;
    if (r < 1e-8) fatal("Degenerate Cylinder");
    const Vec3 axis = t - b;
    const double h = length(axis);
    if (h < 1e-8) fatal("Degenerate Cylinder");
    frame = makePlacementFrame(axis / h, r, h, -b);
    setBounds(transformBox({{-1, -1, 0}, {2, 2, 1}}, frame.inverse));
}

std::unique_ptr<Shape> makeCylinder(const Vec3& base, const Vec3& top, double radius) {
    return std::make_unique<Cylinder>(base, top, radius);
}

std::unique_ptr<Shape> Cylinder::clone() const {
    return std::unique_ptr<Shape>(new Cylinder(*this));
}

bool Cylinder::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                         Intersection& hit) const {
    const CanonicalRay c = toCanonical(frame, ray);
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    // Beyond an end cap and leaving, or outside the tube and moving away from the axis.
    if ((o.z > 1 && d.z > 0) || (o.z < 0 && d.z < 0)) return false;
    const double b = d.x * o.x + d.y * o.y;
    const double cc = o.x * o.x + o.y * o.y - 1;
    if (cc > 0 && b > 0) return false;
    const double a = d.x * d.x + d.y * d.y;
    if (a < 1e-8) return false;  // along the axis
    const double disc = b * b - a * cc;
    if (disc < 0) return false;
    const double root = std::sqrt(disc);
    const double lo = tmin * c.scale, hi = tmax * c.scale;

    bool recorded = false;
    for (double t : {(root - b) / a, (-b - root) / a}) {
        const double z = o.z + t * d.z;
        if (z < 0 || z > 1 || t < lo || t > hi) continue;
        const Vec3 q = o + d * t;
        const double tObject = t / c.scale;
        const Vec3 p = ray.at(tObject);
        const Vec3 coords =
            uvWindowActive(ctx, *this) ? Vec3{surfaceAngle(q.x, q.y) / (2 * M_PI), q.z, 0} : p;
        const Vec3 n = transformByTranspose(frame.forward, {q.x, q.y, 0});
        recorded = recordHit(ctx, *this, n, tObject, p, hit, coords) || recorded;
    }
    return recorded;
}

bool Cylinder::inside(const Vec3& worldPoint) const {
    const Vec3 q = transformPoint(frame.forward, pointToObject(transform.get(), worldPoint));
    return q.x * q.x + q.y * q.y < 1 && q.z > 0 && q.z < 1;
}

void Cylinder::evaluate(double u, double v, SurfacePoint& out) const {
    const double c = std::cos(2 * M_PI * u), s = std::sin(2 * M_PI * u);
    finishSurfacePoint(*this, transformPoint(frame.inverse, {c, s, v}),
                       transformByTranspose(frame.forward, {c, s, 0}), u, v, out);
}

}  // namespace quorva
