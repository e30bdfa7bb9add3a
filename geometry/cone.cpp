// The Cone: constructor (which turns nearly equal radii into a Cylinder), canonical-frame
// intersection, inside test and parametric form.
#include <cmath>
#include <utility>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"

namespace quorva {

Cone::Cone(const Vec3& large, const Vec3& small, double rs, double rl)
    : Shape(ShapeKind::Cone), largeEnd(large), smallEnd(small), smallRadius(rs), largeRadius(rl) {
    subdivisions[0] = 32;
    subdivisions[1] = 4;
    Vec3 axis = large - small;
    const double e = length(axis);
    if (e < 1e-8) fatal("Degenerate Cone");
    axis = axis / e;
    // The sides meet at the apex, f beyond the small end; f is 0 for a pointed cone.
    const double f = rs * e / (rl - rs);
    const Vec3 apex = small - axis * f;
    ratio = f / (f + e);
    frame = makePlacementFrame(axis, rl, f + e, -apex);
    setBounds(transformBox({{-1, -1, ratio}, {2, 2, 1 - ratio}}, frame.inverse));
}

std::unique_ptr<Shape> makeCone(const Vec3& point1, double radius1, const Vec3& point2, double radius2) {
    Vec3 p1 = point1, p2 = point2;
    double r1 = radius1, r2 = radius2;
    // Sort so that p1 is the small end, r1 the large radius and r2 the small one.
    if (r1 > r2) {
        std::swap(p1, p2);
    } else if (std::fabs(r2 - r1) < 1e-8) {
        return makeCylinder(point1, point2, radius2);
    } else {
        std::swap(r1, r2);
    }
    return std::make_unique<Cone>(p2, p1, r2, r1);
}

std::unique_ptr<Shape> Cone::clone() const {
    return std::unique_ptr<Shape>(new Cone(*this));
}

bool Cone::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                     Intersection& hit) const {
    const CanonicalRay c = toCanonical(frame, ray);
    const Vec3& o = c.origin;
    const Vec3& d = c.direction;
    const double lo = tmin * c.scale, hi = tmax * c.scale;

    // x^2 + y^2 - z^2 = 0 along the ray: A t^2 + 2B t + C = 0.
    const double a = d.x * d.x + d.y * d.y - d.z * d.z;
    const double b = d.x * o.x + d.y * o.y - d.z * o.z;
    const double cc = o.x * o.x + o.y * o.y - o.z * o.z;
    double roots[2];
    const int count = canonicalRoots(a, b, cc, 1e-20, roots);
    if (count == 0) return false;

    bool recorded = false;
    for (int i = 0; i < count; ++i) {
        const double t = roots[i];
        const double z = o.z + t * d.z;
        if (z < ratio || z > 1 || t < lo || t > hi) continue;
        const Vec3 q = o + d * t;
        const double tObject = t / c.scale;
        const Vec3 p = ray.at(tObject);
        const Vec3 coords = uvWindowActive(ctx, *this) ? Vec3{1 - surfaceAngle(q.x, q.y) / (2 * M_PI),
                                                              1 - (q.z - ratio) / (1 - ratio), 0}
                                                       : p;
        const Vec3 n = transformByTranspose(frame.forward, {q.x, q.y, -q.z});
        recorded = recordHit(ctx, *this, n, tObject, p, hit, coords) || recorded;
    }
    return recorded;
}

bool Cone::inside(const Vec3& worldPoint) const {
    const Vec3 q = transformPoint(frame.forward, pointToObject(transform.get(), worldPoint));
    return q.z * q.z > q.x * q.x + q.y * q.y && q.z > ratio && q.z < 1;
}

void Cone::evaluate(double u, double v, SurfacePoint& out) const {
    const double angle = 2 * M_PI * (1 - u);
    const double r = ratio + (1 - ratio) * (1 - v);
    const double c = std::cos(angle), s = std::sin(angle);
    const Vec3 point{r * c, r * s, r};
    const Vec3 normal = r <= 1e-8 ? Vec3{0, 0, -1} : Vec3{r * c, r * s, -r};
    finishSurfacePoint(*this, transformPoint(frame.inverse, point),
                       transformByTranspose(frame.forward, normal), u, v, out);
}

}  // namespace quorva
