// Displacement mapping of subdivision meshes and the normals of the displaced surface.
#include "geometry/displacement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "eval/value.h"

namespace quorva {

namespace {

// Groups of vertices that lie within a hair of each other (a billionth of the mesh's size): the
// copies a parametric grid makes along its seam and at its poles. Returns one representative per
// vertex. Vertices that are not finite stay alone.
std::vector<std::uint32_t> coincidentGroups(const std::vector<Vec3>& points) {
    const std::size_t n = points.size();
    std::vector<std::uint32_t> group(n);
    std::iota(group.begin(), group.end(), 0u);

    Vec3 lo{0, 0, 0}, hi{0, 0, 0};
    bool any = false;
    for (const Vec3& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = any ? std::min(lo[axis], p[axis]) : p[axis];
            hi[axis] = any ? std::max(hi[axis], p[axis]) : p[axis];
        }
        any = true;
    }
    if (!any) return group;
    const double size = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
    const double tolerance = size > 0 ? size * 1e-9 : 1.0;

    // Sort the vertices into cells as large as the tolerance; vertices close enough to merge are then in
    // the same or a neighbouring cell.
    struct Cell {
        std::int64_t x, y, z;
        std::uint32_t vertex;
        bool operator<(const Cell& o) const {
            if (x != o.x) return x < o.x;
            if (y != o.y) return y < o.y;
            return z < o.z;
        }
    };
    std::vector<Cell> cells;
    cells.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3& p = points[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
        cells.push_back({static_cast<std::int64_t>(std::floor((p.x - lo.x) / tolerance)),
                         static_cast<std::int64_t>(std::floor((p.y - lo.y) / tolerance)),
                         static_cast<std::int64_t>(std::floor((p.z - lo.z) / tolerance)),
                         static_cast<std::uint32_t>(i)});
    }
    std::sort(cells.begin(), cells.end());

    auto find = [&](std::uint32_t i) {
        while (group[i] != i) i = group[i] = group[group[i]];
        return i;
    };
    const double tolerance2 = tolerance * tolerance;
    for (const Cell& c : cells) {
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz) {
                    const Cell key{c.x + dx, c.y + dy, c.z + dz, 0};
                    for (auto it = std::lower_bound(cells.begin(), cells.end(), key);
                         it != cells.end() && !(key < *it); ++it) {
                        if (it->vertex <= c.vertex) continue;
                        if (lengthSquared(points[it->vertex] - points[c.vertex]) > tolerance2) continue;
                        const std::uint32_t a = find(c.vertex), b = find(it->vertex);
                        if (a != b) group[std::max(a, b)] = std::min(a, b);
                    }
                }
    }
    for (std::size_t i = 0; i < n; ++i) group[i] = find(static_cast<std::uint32_t>(i));
    return group;
}

// Vertex normals of the displaced faces: each face adds its area-weighted normal to the groups of its
// three corners, turned to agree with the normals the undisplaced mesh had there.
void recomputeNormals(SubdivisionMesh& mesh, const std::vector<Vec3>& undisplaced,
                      const std::vector<MeshFace>& faces) {
    const std::size_t n = mesh.vertices.size();
    const std::vector<std::uint32_t> group = coincidentGroups(undisplaced);
    std::vector<Vec3> sum(n, Vec3{0, 0, 0});
    for (const MeshFace& f : faces) {
        if (f[0] >= n || f[1] >= n || f[2] >= n) continue;
        const Vec3* v = mesh.vertices.data();
        const Vec3* u = undisplaced.data();
        Vec3 faceNormal = cross(v[f[1]] - v[f[0]], v[f[2]] - v[f[0]]);
        if (!std::isfinite(faceNormal.x) || !std::isfinite(faceNormal.y) || !std::isfinite(faceNormal.z))
            continue;
        const Vec3 expected = mesh.normals[f[0]] + mesh.normals[f[1]] + mesh.normals[f[2]];
        const Vec3 before = cross(u[f[1]] - u[f[0]], u[f[2]] - u[f[0]]);
        const double agreement =
            lengthSquared(before) > 0 ? dot(before, expected) : dot(faceNormal, expected);
        if (agreement < 0) faceNormal = -faceNormal;
        for (std::uint32_t i : f) sum[group[i]] += faceNormal;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3& s = sum[group[i]];
        const double len2 = lengthSquared(s);
        // A vertex no face with area touches keeps the normal it had.
        if (len2 > 0 && std::isfinite(len2)) mesh.normals[i] = s / std::sqrt(len2);
    }
}

// Vertex normals from the faces alone, for a mesh that came without any.
void faceNormalsOnly(SubdivisionMesh& mesh, const std::vector<MeshFace>& faces) {
    const std::size_t n = mesh.vertices.size();
    mesh.normals.assign(n, Vec3{0, 0, 0});
    for (const MeshFace& f : faces) {
        if (f[0] >= n || f[1] >= n || f[2] >= n) continue;
        const Vec3* v = mesh.vertices.data();
        const Vec3 faceNormal = cross(v[f[1]] - v[f[0]], v[f[2]] - v[f[0]]);
        for (std::uint32_t i : f) mesh.normals[i] += faceNormal;
    }
    for (Vec3& normal : mesh.normals) normalize(normal);
}

}  // namespace

void displaceMesh(const Shape& shape, const Request& expression, SubdivisionMesh& mesh,
                  const std::vector<MeshFace>& faces, const AnimationCounters* frames) {
    const std::size_t n = mesh.vertices.size();
    if (mesh.normals.size() != n) faceNormalsOnly(mesh, faces);
    const bool hasTexcoords = mesh.texcoords.size() == n;
    const std::vector<Vec3> undisplaced = mesh.vertices;

    const Transform* transform = shape.transform.get();
    ShadingContext shading;
    EvalContext context;
    context.frames = frames;
    context.shading = &shading;
    bool moved = false;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3 objectPoint = pointToObject(transform, undisplaced[i]);
        const Vec3 objectNormal = normalized(normalToObject(transform, mesh.normals[i]));
        const Vec3 uv = hasTexcoords ? mesh.texcoords[i] : Vec3{0, 0, 0};
        shading.P = objectPoint;
        shading.Po = objectPoint;
        shading.N = objectNormal;
        shading.Puv = uv;
        shading.u = uv.x;
        shading.v = uv.y;
        shading.w = uv.z;
        const Value value = evaluate(context, &expression);
        if (!value.isNumber() || !std::isfinite(value.number) || value.number == 0) continue;
        // Moving in object space and mapping the result keeps the displacement in proportion with the
        // shape's own scaling.
        mesh.vertices[i] = undisplaced[i] + vectorToWorld(transform, objectNormal) * value.number;
        moved = true;
    }
    // An undisplaced mesh keeps the surface's own normals.
    if (moved) recomputeNormals(mesh, undisplaced, faces);
}

}  // namespace quorva
