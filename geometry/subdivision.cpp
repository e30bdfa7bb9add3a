// The generic parametric subdivision every kind with a parametric form inherits, and the common step
// that turns a finished mesh into mesh triangles.
#include "geometry/subdivision.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/displacement.h"
#include "geometry/hierarchy.h"
#include "geometry/mesh_triangle.h"
#include "geometry/world.h"

namespace quorva {

const Request* displacementFor(const Shape& shape) {
    for (const Shape* s = &shape; s; s = s->parent)
        if (s->displacement) return s->displacement.get();
    return nullptr;
}

namespace {

std::uint64_t cellCount(const int* counts, int axes) {
    std::uint64_t cells = 1;
    for (int a = 0; a < axes; ++a) cells *= static_cast<std::uint64_t>(counts[a]);
    return cells;
}

}  // namespace

bool boundSubdivisionCounts(int* counts, int axes, std::uint64_t limit, std::uint64_t pieces) {
    pieces = std::max<std::uint64_t>(pieces, 1);
    const std::uint64_t asked = pieces * cellCount(counts, axes);
    if (asked <= limit) return false;
    limit = std::max<std::uint64_t>(limit / pieces, 1);
    // Scale every axis alike, then take single steps off the largest axis for what rounding left over.
    const double scale =
        std::pow(static_cast<double>(limit) / static_cast<double>(cellCount(counts, axes)), 1.0 / axes);
    for (int a = 0; a < axes; ++a) counts[a] = std::max(1, static_cast<int>(counts[a] * scale));
    while (cellCount(counts, axes) > limit) {
        int* largest = std::max_element(counts, counts + axes);
        if (*largest == 1) break;
        --*largest;
    }
    warning("Subdivision of %llu cells is too fine (reduced to %llu)", static_cast<unsigned long long>(asked),
            static_cast<unsigned long long>(pieces * cellCount(counts, axes)));
    return true;
}

void boundShapeSubdivisions(Shape& shape, int axes) {
    int counts[3];
    for (int a = 0; a < 3; ++a) counts[a] = std::max<int>(1, shape.subdivisions[a]);
    // The volume first: a grid reduced to it seldom needs the second bound, so one warning says it all.
    bool reduced = axes == 3 && boundSubdivisionCounts(counts, 3, MaxSubdivisionVolume);
    reduced = boundSubdivisionCounts(counts, 2, MaxSubdivisionCells) || reduced;
    if (!reduced) return;
    for (int a = 0; a < 3; ++a) shape.subdivisions[a] = static_cast<std::uint16_t>(counts[a]);
}

void appendMeshTriangles(Shape& shape, std::shared_ptr<SubdivisionMesh> mesh,
                         const std::vector<MeshFace>& faces, World& target) {
    if (const Request* displacement = displacementFor(shape))
        displaceMesh(shape, *displacement, *mesh, faces, target.frames);
    shape.mesh = std::move(mesh);
    for (const MeshFace& face : faces) {
        auto triangle = std::make_unique<MeshTriangle>();
        triangle->parent = &shape;
        triangle->attributes = shape.attributes;
        for (int i = 0; i < 3; ++i) triangle->index[i] = face[i];
        Box box;
        if (!triangle->prepare() || !meshTriangleBounds(*triangle, box)) continue;
        triangle->setBounds(box);
        target.push(std::move(triangle));
    }
}

// Samples the surface on a grid of u count x v count cells across the uv window (the unit square
// while the window is the default) and cuts every cell into two triangles. Each vertex keeps the
// surface's normal and its (u, v, 0) as texture coordinates.
void Shape::subdivide(World& target) {
    if (!hasEvaluate()) return;
    const int uCount = std::max<int>(1, subdivisions[0]);
    const int vCount = std::max<int>(1, subdivisions[1]);
    double u0 = 0, u1 = 1, v0 = 0, v1 = 1;
    if (!hasDefaultUvWindow()) {
        u0 = uvWindow[0];
        u1 = uvWindow[1];
        v0 = uvWindow[2];
        v1 = uvWindow[3];
    }

    auto mesh = std::make_shared<SubdivisionMesh>();
    const std::size_t vertexCount =
        static_cast<std::size_t>(uCount + 1) * static_cast<std::size_t>(vCount + 1);
    mesh->vertices.reserve(vertexCount);
    mesh->normals.reserve(vertexCount);
    mesh->texcoords.reserve(vertexCount);
    mesh->values.reserve(vertexCount);
    SurfacePoint point;
    for (int j = 0; j <= vCount; ++j) {
        // The last row and column take the window's ends exactly.
        const double v = j == vCount ? v1 : v0 + (v1 - v0) * j / vCount;
        for (int i = 0; i <= uCount; ++i) {
            const double u = i == uCount ? u1 : u0 + (u1 - u0) * i / uCount;
            point = SurfacePoint{};
            evaluate(u, v, point);
            mesh->vertices.push_back(point.worldPoint);
            mesh->normals.push_back(point.normal);
            mesh->texcoords.push_back({u, v, 0});
            mesh->values.push_back(point.extra);
        }
    }

    std::vector<MeshFace> faces;
    faces.reserve(static_cast<std::size_t>(uCount) * static_cast<std::size_t>(vCount) * 2);
    const std::uint32_t row = static_cast<std::uint32_t>(uCount + 1);
    for (std::uint32_t j = 0; j < static_cast<std::uint32_t>(vCount); ++j) {
        for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(uCount); ++i) {
            const std::uint32_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
            faces.push_back({a, b, c});
            faces.push_back({a, c, d});
        }
    }
    appendMeshTriangles(*this, std::move(mesh), faces, target);
}

}  // namespace quorva
