// The Sphere: constructor, ray intersection, inside test and parametric form.
#include <cmath>

#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"

namespace quorva {

Sphere::Sphere(const Vec3& c, double r)
    : Shape(ShapeKind::Sphere), centre(c), radius(r), radiusSquared(r * r) {
    subdivisions[0] = 32;
    subdivisions[1] = 16;
    boundsMin = c - Vec3{r, r, r};
    boundsSize = {2 * r, 2 * r, 2 * r};
}

std::unique_ptr<Shape> makeSphere(const Vec3& centre, double radius) {
    // Any radius is accepted as given: a zero or negative one simply never shows.
    return std::make_unique<Sphere>(centre, radius);
}

std::unique_ptr<Shape> Sphere::clone() const {
    return std::unique_ptr<Shape>(new Sphere(*this));
}

bool Sphere::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                       Intersection& hit) const {
    // The direction is unit length, so the quadratic reduces to t^2 - 2bt + (|c - o|^2 - r^2) = 0.
    const Vec3 oc = centre - ray.origin;
    const double b = dot(oc, ray.direction);
    const double disc = b * b - dot(oc, oc) + radiusSquared;
    if (disc < 0) return false;
    const double root = std::sqrt(disc);

    // Near root first. Once it is recorded the far one could not displace it, so it is only tried
    // when the near root is out of range or rejected.
    for (double t : {b - root, b + root}) {
        if (!(t > tmin && t < tmax)) continue;
        const Vec3 p = ray.origin + ray.direction * t;
        const Vec3 coords = uvWindowActive(ctx, *this) ? surfaceCoordinates(p) : p;
        if (recordHit(ctx, *this, p - centre, t, p, hit, coords)) return true;
    }
    return false;
}

Vec3 Sphere::surfaceCoordinates(const Vec3& p) const {
    Vec3 e = p - centre;
    const double len = length(e);
    if (len < 1e-8) return {0, 0, 0};
    e = e / len;
    const double u = 1 - (std::atan2(e.z, e.x) + M_PI) / (2 * M_PI);
    const double v = std::asin(e.y > 1 ? 1 : (e.y < -1 ? -1 : e.y)) / M_PI + 0.5;
    return {u, v, 0};
}

bool Sphere::inside(const Vec3& worldPoint) const {
    const Vec3 p = pointToObject(transform.get(), worldPoint);
    return lengthSquared(p - centre) < radiusSquared;
}

void Sphere::evaluate(double u, double v, SurfacePoint& out) const {
    const double latitude = M_PI * v - M_PI / 2;
    const double longitude = 2 * M_PI * (1 - u);
    const Vec3 n{std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                 std::cos(latitude) * std::sin(longitude)};
    finishSurfacePoint(*this, centre + n * radius, n, u, v, out);
}

}  // namespace quorva
