// The quadric shape kinds: Sphere, Box, Cone, Cylinder, Paraboloid, and Disk (which also makes Rings).
//
// Sphere, Box and Disk are solved directly in the shape's object space. Cone, Cylinder and
// Paraboloid are solved in a canonical frame of their own, reached through a private placement
// frame whose forward matrix maps object points into the frame.
#pragma once

#include <cmath>

#include "geometry/shape.h"

namespace quorva {

class Sphere final : public Shape {
  public:
    Sphere(const Vec3& centre, double radius);

    Vec3 centre;
    double radius;
    double radiusSquared;

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override;

    // (u, v, 0) of an object-space point: u runs once around the y axis, v from the south pole (0)
    // to the north pole (1).
    Vec3 surfaceCoordinates(const Vec3& p) const;
};

// The axis-aligned box (named apart from the Box bounds type).
class BoxShape final : public Shape {
  public:
    BoxShape(const Vec3& minimum, const Vec3& maximum);

    Vec3 minimum;
    Vec3 maximum;

    void subdivide(World& target) override;  // its six faces as polygons
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;  // faces count as inside
    std::unique_ptr<Shape> clone() const override;

    // Outward normal of the first face the point lies on, in the order +x, -x, +y, -y, +z, -z.
    Vec3 faceNormal(const Vec3& p) const;
};

// Open cone between two radii. Canonical frame: x^2 + y^2 = z^2 for ratio <= z <= 1, apex at the
// origin, the large end at z = 1 with radius 1.
class Cone final : public Shape {
  public:
    Cone(const Vec3& largeEnd, const Vec3& smallEnd, double smallRadius, double largeRadius);

    int caps = 0;  // open surface; nothing sets it yet
    Vec3 largeEnd;
    Vec3 smallEnd;
    double smallRadius;
    double largeRadius;
    double ratio = 0;  // canonical z of the small end
    Transform frame;

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override;
};

// Open cylinder. Canonical frame: x^2 + y^2 = 1 for 0 <= z <= 1.
class Cylinder final : public Shape {
  public:
    Cylinder(const Vec3& base, const Vec3& top, double radius);

    int caps = 0;  // open surface; nothing sets it yet
    Vec3 base;
    Vec3 top;
    double radius;
    Transform frame;

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override;
};

// Paraboloid open at the top. Canonical frame: z = x^2 + y^2 for 0 <= z <= 1, vertex at the origin.
class Paraboloid final : public Shape {
  public:
    Paraboloid(const Vec3& vertex, const Vec3& top, double radius);

    Vec3 top;
    Vec3 vertex;
    double radius;
    Transform frame;

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    Vec3 surfaceCoordinatesAt(const Vec3& objectPoint) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override;
};

// Flat disk or ring (inner radius 0 for a disk) around `centre`, facing `normal`.
class Disk final : public Shape {
  public:
    Disk(const Vec3& centre, const Vec3& unitNormal, double innerRadius, double outerRadius);

    Vec3 centre;
    Vec3 normal;  // unit length
    double innerRadius;
    double outerRadius;
    double innerSquared;
    double outerSquared;
    double planeConstant;  // -(normal . centre)
    Vec3 axisU;            // in-plane direction where the surface angle is 0
    Vec3 axisV;            // normal x axisU

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    Vec3 surfaceCoordinatesAt(const Vec3& objectPoint) const override {
        return surfaceCoordinates(objectPoint);
    }
    bool inside(const Vec3& worldPoint) const override;  // strictly behind the plane
    std::unique_ptr<Shape> clone() const override;

    // (u, v, 0) of an object-space point in the plane.
    Vec3 surfaceCoordinates(const Vec3& p) const;
};

// Angle of the planar offset (a, b) in [0, 2 pi): 0 at the origin (r below `originRadius`; the Disk
// uses 0 so only the exact origin counts), pi on the negative a axis.
inline double surfaceAngle(double a, double b, double originRadius = 1e-8) {
    const double r = std::sqrt(a * a + b * b);
    if (r < originRadius || r == 0) return 0;
    const double c = a / r;
    if (b != 0) {
        const double angle = std::acos(c > 1 ? 1 : (c < -1 ? -1 : c));
        return b < 0 ? 2 * M_PI - angle : angle;
    }
    return c > 0 ? 0 : M_PI;
}

// A ray carried into a placement frame: unit direction, distances scaled by `scale`.
struct CanonicalRay {
    Vec3 origin;
    Vec3 direction;
    double scale;
};
inline CanonicalRay toCanonical(const Transform& frame, const Ray& ray) {
    CanonicalRay c{transformPoint(frame.forward, ray.origin), transformVector(frame.forward, ray.direction),
                   1};
    c.scale = normalize(c.direction);
    return c;
}

// Roots of A t^2 + 2B t + C = 0 in the order the canonical-frame kinds record them: (sqrt(B^2 - AC) - B)/A
// first, then (-B - sqrt(B^2 - AC))/A. When |A| is below `flat` the equation is linear and gives
// -C/(2B), or nothing when |B| is below `flat` too. Returns how many roots were written.
inline int canonicalRoots(double a, double b, double c, double flat, double roots[2]) {
    if (std::fabs(a) < flat) {
        if (std::fabs(b) < flat) return 0;
        roots[0] = -c / (2 * b);
        return 1;
    }
    const double disc = b * b - a * c;
    if (disc < 0) return 0;
    const double root = std::sqrt(disc);
    roots[0] = (root - b) / a;
    roots[1] = (-b - root) / a;
    return 2;
}

}  // namespace quorva
