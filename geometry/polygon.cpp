// The planar Polygon: constructor, the even-odd ray test, the inside test and the split into triangles.
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/flat_shapes.h"
#include "geometry/polygon_splitter.h"
#include "geometry/shapes.h"
#include "geometry/subdivision.h"
#include "geometry/world.h"

namespace quorva {

void projectionAxes(const Vec3& normal, int& axis0, int& axis1) {
    const double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    if (ax >= ay && ax >= az) {
        axis0 = 1;
        axis1 = 2;
    } else if (ay >= az) {
        axis0 = 0;
        axis1 = 2;
    } else {
        axis0 = 0;
        axis1 = 1;
    }
}

bool insideOutline(const Vec3* points, std::size_t count, int axis0, int axis1, double a, double b) {
    bool inside = false;
    for (std::size_t k = 0; k < count; ++k) {
        const Vec3& from = points[k];
        const Vec3& to = points[k + 1 == count ? 0 : k + 1];
        const double x0 = from[axis0], y0 = from[axis1];
        const double x1 = to[axis0], y1 = to[axis1];
        if (y0 == y1) continue;
        if ((y0 < b) == (y1 < b)) continue;
        const bool pastFrom = a > x0, pastTo = a > x1;
        if (pastFrom && pastTo) {
            inside = !inside;
        } else if (pastFrom || pastTo) {
            const double x = x1 - (y1 - b) * (x1 - x0) / (y1 - y0);
            if (x - a < 1e-10) inside = !inside;
        }
    }
    return inside;
}

Polygon::Polygon(const std::vector<Vec3>& v) : Shape(ShapeKind::Polygon), vertices(v), normal{1, 0, 0} {
    if (vertices.size() >= 3) {
        normal = cross(vertices[1] - vertices[0], vertices[2] - vertices[0]);
        normalize(normal);
    }
    int a0, a1;
    projectionAxes(normal, a0, a1);
    axis0 = static_cast<std::int16_t>(a0);
    axis1 = static_cast<std::int16_t>(a1);
    if (!vertices.empty()) planeConstant = -dot(normal, vertices[0]);

    // The box of the vertices, padded by 1e-8 so that a polygon in an axis plane still has volume.
    // Coordinates that are not finite are left out: they would poison the hierarchy's arithmetic.
    Vec3 lo{0, 0, 0}, hi{0, 0, 0};
    bool seen[3] = {false, false, false};
    for (const Vec3& p : vertices) {
        for (int axis = 0; axis < 3; ++axis) {
            const double c = p[axis];
            if (!std::isfinite(c)) continue;
            if (!seen[axis]) {
                lo[axis] = hi[axis] = c;
                seen[axis] = true;
            } else {
                lo[axis] = std::min(lo[axis], c);
                hi[axis] = std::max(hi[axis], c);
            }
        }
    }
    boundsMin = lo - Vec3{1e-8, 1e-8, 1e-8};
    boundsSize = hi - lo + Vec3{2e-8, 2e-8, 2e-8};
}

std::unique_ptr<Shape> makePolygon(const std::vector<Vec3>& vertices) {
    try {
        return std::make_unique<Polygon>(vertices);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Polygon");
    }
}

std::unique_ptr<Shape> Polygon::clone() const {
    return std::unique_ptr<Shape>(new Polygon(*this));
}

bool Polygon::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                        Intersection& hit) const {
    const double denom = dot(normal, ray.direction);
    if (std::fabs(denom) < 1e-8) return false;
    const double t = -(dot(normal, ray.origin) + planeConstant) / denom;
    if (t < tmin || t > tmax) return false;
    const Vec3 p = ray.at(t);
    const double a = p[axis0], b = p[axis1];
    if (!insideOutline(vertices.data(), vertices.size(), axis0, axis1, a, b)) return false;
    return recordHit(ctx, *this, normal, t, p, hit, {a, b, 0});
}

bool Polygon::inside(const Vec3& worldPoint) const {
    const Vec3 p = pointToObject(transform.get(), worldPoint);
    return dot(normal, p) + planeConstant < 0;
}

void Polygon::subdivide(World& target) {
    // The mesh keeps the polygon's own look: its plane normal at every corner and, as texture
    // coordinates, the projected coordinates a direct hit reports.
    std::vector<MeshFace> faces;
    auto mesh = std::make_shared<SubdivisionMesh>();
    try {
        faces = splitPolygon(vertices, axis0, axis1);
        const Transform* t = transform.get();
        const Vec3 worldNormal = normalized(normalToWorld(t, normal));
        const std::size_t n = vertices.size();
        mesh->vertices.reserve(n);
        mesh->normals.assign(n, worldNormal);
        mesh->texcoords.reserve(n);
        mesh->values.assign(n, 0.0);
        for (const Vec3& v : vertices) {
            mesh->vertices.push_back(pointToWorld(t, v));
            mesh->texcoords.push_back({v[axis0], v[axis1], 0});
        }
    } catch (const std::bad_alloc&) {
        fatal("Insufficient memory to split Polygon");
    }
    appendMeshTriangles(*this, std::move(mesh), faces, target);
}

}  // namespace quorva
