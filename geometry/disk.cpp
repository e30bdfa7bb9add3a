// Disk and Ring: constructor, plane intersection with the annulus test, inside test and parametric
// form.
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"

namespace quorva {

Disk::Disk(const Vec3& c, const Vec3& n, double ri, double ro)
    : Shape(ShapeKind::Disk),
      centre(c),
      normal(n),
      innerRadius(ri),
      outerRadius(ro),
      innerSquared(ri * ri),
      outerSquared(ro * ro),
      planeConstant(-dot(n, c)) {
    subdivisions[0] = 32;
    subdivisions[1] = 4;
    boundsMin = c - Vec3{ro, ro, ro};
    boundsSize = {2 * ro, 2 * ro, 2 * ro};
    axisU = n.x == 0 ? Vec3{0, -n.z, n.y} : Vec3{-n.y, n.x, 0};
    normalize(axisU);
    axisV = normalized(cross(n, axisU));
}

std::unique_ptr<Shape> makeRing(const Vec3& centre, const Vec3& normal, double innerRadius,
                                double outerRadius) {
    const double normalLength = length(normal);
    if (innerRadius != 0) {
        if (outerRadius < 1e-8 || innerRadius < 0 || normalLength < 1e-8) fatal("Degenerate Ring");
    } else if (outerRadius < 1e-8 || normalLength < 1e-8) {
        fatal("Degenerate Disk");
    }
    return std::make_unique<Disk>(centre, normal / normalLength, innerRadius, outerRadius);
}

std::unique_ptr<Shape> makeDisk(const Vec3& centre, const Vec3& normal, double radius) {
    return makeRing(centre, normal, 0, radius);
}

std::unique_ptr<Shape> Disk::clone() const {
    return std::unique_ptr<Shape>(new Disk(*this));
}

bool Disk::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                     Intersection& hit) const {
    const double denom = dot(normal, ray.direction);
    if (std::fabs(denom) < 1e-8) return false;
    const double t = -(dot(normal, ray.origin) + planeConstant) / denom;
    if (t < tmin || t > tmax) return false;
    const Vec3 p = ray.at(t);
    const double q = lengthSquared(p - centre);
    // Both edges belong to the surface.
    if (q < innerSquared || q > outerSquared) return false;
    return recordHitDeferred(ctx, *this, normal, t, p, hit);
}

Vec3 Disk::surfaceCoordinates(const Vec3& p) const {
    const Vec3 offset = p - centre;
    const double a = dot(axisU, offset), b = dot(axisV, offset);
    const double r = std::sqrt(a * a + b * b);
    const double width = outerRadius - innerRadius;
    // A ring of no width has only its rim: v = 0 there rather than 0/0.
    const double v = width > 0 ? (r - innerRadius) / width : 0;
    return {surfaceAngle(a, b, 0) / (2 * M_PI), v, 0};
}

bool Disk::inside(const Vec3& worldPoint) const {
    const Vec3 p = pointToObject(transform.get(), worldPoint);
    return dot(normal, p) + planeConstant < 0;
}

void Disk::evaluate(double u, double v, SurfacePoint& out) const {
    const double angle = 2 * M_PI * u;
    const double r = innerRadius + (outerRadius - innerRadius) * v;
    const Vec3 point = centre + (axisU * std::cos(angle) + axisV * std::sin(angle)) * r;
    finishSurfacePoint(*this, point, normal, u, v, out);
}

}  // namespace quorva
