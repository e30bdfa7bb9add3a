// The axis-aligned Box: constructor, slab intersection, face normals, inside test and its six faces.
#include <algorithm>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/quadrics.h"
#include "geometry/shapes.h"
#include "geometry/world.h"

namespace quorva {

BoxShape::BoxShape(const Vec3& lo, const Vec3& hi) : Shape(ShapeKind::Box), minimum(lo), maximum(hi) {
    boundsMin = lo;
    boundsSize = hi - lo;
}

std::unique_ptr<Shape> makeBox(const Vec3& a, const Vec3& b) {
    if (a.x == b.x || a.y == b.y || a.z == b.z) fatal("Degenerate Box");
    const Vec3 lo{std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
    const Vec3 hi{std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
    return std::make_unique<BoxShape>(lo, hi);
}

std::unique_ptr<Shape> BoxShape::clone() const {
    return std::unique_ptr<Shape>(new BoxShape(*this));
}

namespace {

// Clips [tmin, tmax] to the box's slabs; false when nothing is left. Directions within 1e-8 of
// parallel to a slab only check that the origin lies between its planes.
bool clipToSlabs(const Vec3& lo, const Vec3& hi, const Ray& ray, double& tmin, double& tmax) {
    for (int axis = 0; axis < 3; ++axis) {
        const double d = ray.direction[axis];
        const double o = ray.origin[axis];
        double nearPlane, farPlane;
        if (d < -1e-8) {
            nearPlane = hi[axis];
            farPlane = lo[axis];
        } else if (d > 1e-8) {
            nearPlane = lo[axis];
            farPlane = hi[axis];
        } else {
            if (o < lo[axis] || o > hi[axis]) return false;
            continue;
        }
        const double far = (farPlane - o) / d;
        if (far < tmin) return false;
        tmax = std::min(tmax, far);
        const double near = (nearPlane - o) / d;
        if (near >= tmin) {
            tmin = near;
            if (tmin > tmax) return false;
        }
    }
    return true;
}

}  // namespace

bool BoxShape::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                         Intersection& hit) const {
    double entry = tmin, exit = tmax;
    if (!clipToSlabs(minimum, maximum, ray, entry, exit)) return false;
    // An entry or exit still equal to the caller's bound was not cut by a face: a ray starting inside
    // the box records only its exit.
    bool recorded = false;
    if (entry > tmin) {
        const Vec3 p = ray.at(entry);
        recorded = recordHit(ctx, *this, faceNormal(p), entry, p, hit, p);
    }
    if (exit < tmax) {
        const Vec3 p = ray.at(exit);
        recorded = recordHit(ctx, *this, faceNormal(p), exit, p, hit, p) || recorded;
    }
    return recorded;
}

Vec3 BoxShape::faceNormal(const Vec3& p) const {
    if (std::fabs(p.x - maximum.x) < 1e-8) return {1, 0, 0};
    if (std::fabs(p.x - minimum.x) < 1e-8) return {-1, 0, 0};
    if (std::fabs(p.y - maximum.y) < 1e-8) return {0, 1, 0};
    if (std::fabs(p.y - minimum.y) < 1e-8) return {0, -1, 0};
    if (std::fabs(p.z - maximum.z) < 1e-8) return {0, 0, 1};
    if (std::fabs(p.z - minimum.z) < 1e-8) return {0, 0, -1};
    return {0, 1, 0};
}

bool BoxShape::inside(const Vec3& worldPoint) const {
    const Vec3 p = pointToObject(transform.get(), worldPoint);
    return p.x >= minimum.x && p.x <= maximum.x && p.y >= minimum.y && p.y <= maximum.y && p.z >= minimum.z &&
           p.z <= maximum.z;
}

void BoxShape::subdivide(World& target) {
    // Corner i has x from bit 0, y from bit 1, z from bit 2 (set = maximum).
    Vec3 corners[8];
    for (int i = 0; i < 8; ++i) {
        const Vec3 c{(i & 1) ? maximum.x : minimum.x, (i & 2) ? maximum.y : minimum.y,
                     (i & 4) ? maximum.z : minimum.z};
        corners[i] = pointToWorld(transform.get(), c);
    }
    // Each face counter-clockwise seen from outside: +x, -x, +y, -y, +z, -z.
    static constexpr int Faces[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                                        {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
    for (const auto& face : Faces) {
        auto polygon = makePolygon({corners[face[0]], corners[face[1]], corners[face[2]], corners[face[3]]});
        // The faces are already in world space; they look and behave like the box.
        polygon->parent = parent;
        polygon->shader = shader;
        polygon->attributes = attributes;
        polygon->solidTest = solidTest;
        for (int i = 0; i < 4; ++i) polygon->uvWindow[i] = uvWindow[i];
        target.push(std::move(polygon));
    }
}

}  // namespace quorva
