// Mesh triangles: the world-space ray test of one triangle of a subdivision mesh, with its normal and
// texture coordinates blended from the mesh's vertices.
#include "geometry/mesh_triangle.h"

#include <cmath>

#include "geometry/flat_shapes.h"
#include "geometry/intersect_context.h"

namespace quorva {

namespace {

// Every array the mesh has reaches the triangle's indices (normals and texture coordinates may be
// absent, but not short).
bool indicesFit(const SubdivisionMesh& mesh, const std::uint32_t (&index)[3]) {
    for (std::uint32_t i : index) {
        if (i >= mesh.vertices.size()) return false;
        if (!mesh.normals.empty() && i >= mesh.normals.size()) return false;
        if (!mesh.texcoords.empty() && i >= mesh.texcoords.size()) return false;
        if (!mesh.values.empty() && i >= mesh.values.size()) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<Shape> MeshTriangle::clone() const {
    return std::unique_ptr<Shape>(new MeshTriangle(*this));
}

bool MeshTriangle::prepare() {
    prepared = true;
    degenerate = true;
    const SubdivisionMesh* mesh = parent ? parent->mesh.get() : nullptr;
    if (!mesh || !indicesFit(*mesh, index)) return false;
    const Vec3& p0 = mesh->vertices[index[0]];
    const TriangleFrame frame = triangleFrame(p0, mesh->vertices[index[1]], mesh->vertices[index[2]]);
    origin = p0;
    faceNormal = frame.normal;
    axis1 = frame.axis1;
    axis2 = frame.axis2;
    degenerate = frame.degenerate;
    return !degenerate;
}

bool MeshTriangle::intersectWorldRay(IntersectContext&, const Ray& ray, double tmin, double tmax,
                                     Intersection& hit) const {
    const Shape* owner = parent;
    const SubdivisionMesh* mesh = owner ? owner->mesh.get() : nullptr;
    if (!mesh) return false;

    // The plane and barycentric basis: stored, or derived now for a triangle never prepared.
    Vec3 p0, normal, b1, b2;
    if (prepared) {
        if (degenerate) return false;
        p0 = origin;
        normal = faceNormal;
        b1 = axis1;
        b2 = axis2;
    } else {
        if (!indicesFit(*mesh, index)) return false;
        p0 = mesh->vertices[index[0]];
        const TriangleFrame frame = triangleFrame(p0, mesh->vertices[index[1]], mesh->vertices[index[2]]);
        if (frame.degenerate) return false;
        normal = frame.normal;
        b1 = frame.axis1;
        b2 = frame.axis2;
    }

    const double denom = dot(normal, ray.direction);
    if (std::fabs(denom) < 1e-8) return false;
    const double t = dot(normal, p0 - ray.origin) / denom;
    if (t < tmin || t > tmax) return false;
    const Vec3 p = ray.at(t);

    Vec3 shadingNormal = normal;
    Vec3 coords{0, 0, 0};
    const bool hasNormals = !mesh->normals.empty();
    const bool hasTexcoords = !mesh->texcoords.empty();
    if (hasNormals || hasTexcoords) {
        // Neighbouring triangles overlap a little here, so that rays do not slip through the seams.
        const Vec3 q = p - p0;
        const double r = dot(q, b1), s = dot(q, b2);
        if (r < -0.005 || s < -0.005 || r + s > 1.0001) return false;
        const double w = 1 - r - s;
        if (hasNormals) {
            const Vec3* n = mesh->normals.data();
            shadingNormal = normalized(n[index[0]] * w + n[index[1]] * r + n[index[2]] * s);
        }
        if (hasTexcoords) {
            const Vec3* c = mesh->texcoords.data();
            coords = c[index[0]] * w + c[index[1]] * r + c[index[2]] * s;
        }
    } else {
        // A bare mesh: the polygon's even-odd rule on the triangle, projected along its normal.
        const Vec3 corners[3] = {p0, mesh->vertices[index[1]], mesh->vertices[index[2]]};
        int a0, a1;
        projectionAxes(normal, a0, a1);
        if (!insideOutline(corners, 3, a0, a1, p[a0], p[a1])) return false;
        coords = {p[a0], p[a1], 0};
    }

    if (owner->parent && owner->solidTest && !owner->solidTest->accepts(p)) return false;
    // The cut shape's surface window always applies, borders included.
    const double* window = owner->uvWindow;
    if (coords.x < window[0] || coords.x > window[1] || coords.y < window[2] || coords.y > window[3])
        return false;

    hit.hit = 1;
    hit.distance = t;
    hit.local = coords;
    hit.localDeferred = false;
    hit.normal = owner->solidTest && owner->solidTest->reverseNormal ? -shadingNormal : shadingNormal;
    hit.point = p;
    if (!mesh->values.empty()) {
        const double* v = mesh->values.data();
        hit.auxiliary = 2 * (v[index[0]] + v[index[1]] + v[index[2]]) / 3;
    } else {
        hit.auxiliary = -1.0;
    }
    hit.shape = owner;
    hit.shaderOverride = shader.get();
    return true;
}

}  // namespace quorva
