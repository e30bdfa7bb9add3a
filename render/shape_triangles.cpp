#include "render/shape_triangles.h"

#include <algorithm>
#include <memory>

#include "geometry/hierarchy.h"
#include "geometry/mesh_triangle.h"
#include "geometry/subdivision.h"
#include "geometry/world.h"

namespace quorva {
namespace {

constexpr int MaxGroupDepth = 64;

// The same grid of triangles the generic cut makes, evaluated straight into the rasterizer.
void cutParametric(const Shape& shape, TriangleSink& sink, std::vector<Vec3>& grid) {
    const int uCount = std::max<int>(1, shape.subdivisions[0]);
    const int vCount = std::max<int>(1, shape.subdivisions[1]);
    double u0 = 0, u1 = 1, v0 = 0, v1 = 1;
    if (!shape.hasDefaultUvWindow()) {
        u0 = shape.uvWindow[0];
        u1 = shape.uvWindow[1];
        v0 = shape.uvWindow[2];
        v1 = shape.uvWindow[3];
    }
    const std::size_t row = static_cast<std::size_t>(uCount) + 1;
    grid.resize(row * (static_cast<std::size_t>(vCount) + 1));
    SurfacePoint point;
    for (int j = 0; j <= vCount; ++j) {
        const double v = j == vCount ? v1 : v0 + (v1 - v0) * j / vCount;
        for (int i = 0; i <= uCount; ++i) {
            const double u = i == uCount ? u1 : u0 + (u1 - u0) * i / uCount;
            point = SurfacePoint{};
            shape.evaluate(u, v, point);
            grid[j * row + i] = point.worldPoint;
        }
    }
    for (std::size_t j = 0; j < static_cast<std::size_t>(vCount); ++j) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(uCount); ++i) {
            const std::size_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
            sink.triangle(grid[a], grid[b], grid[c]);
            sink.triangle(grid[a], grid[c], grid[d]);
        }
    }
}

void cutAtDepth(const Shape& shape, TriangleSink& sink, std::vector<Vec3>& grid, int level) {
    if (level > MaxGroupDepth) return;
    if (shape.kind == ShapeKind::BoundingGroup) {
        for (const Shape* member : static_cast<const BoundingGroup&>(shape).members)
            if (member) cutAtDepth(*member, sink, grid, level + 1);
        return;
    }
    if (shape.kind == ShapeKind::MeshTriangle) {
        const auto& t = static_cast<const MeshTriangle&>(shape);
        if (!t.parent || !t.parent->mesh) return;
        const std::vector<Vec3>& v = t.parent->mesh->vertices;
        if (t.index[0] >= v.size() || t.index[1] >= v.size() || t.index[2] >= v.size()) return;
        sink.triangle(v[t.index[0]], v[t.index[1]], v[t.index[2]]);
        return;
    }
    if (shape.kind == ShapeKind::LightEntry) return;
    if (shape.hasEvaluate() && !displacementFor(shape)) {
        cutParametric(shape, sink, grid);
        return;
    }
    // Other kinds are cut into triangles in a World of their own; a copy is cut so that the scene's
    // shape keeps its own mesh. Kinds without a cut draw nothing.
    std::unique_ptr<Shape> copy = shape.clone();
    if (!copy) return;
    World pieces;
    pieces.temporaryA = 64;
    pieces.temporaryB = 4;
    copy->subdivide(pieces);
    for (const Shape* piece : pieces.mainList)
        if (piece && piece != copy.get() && piece->kind != shape.kind)
            cutAtDepth(*piece, sink, grid, level + 1);
}

}  // namespace

void cutIntoTriangles(const Shape& shape, TriangleSink& sink, std::vector<Vec3>& scratch) {
    cutAtDepth(shape, sink, scratch, 0);
}

}  // namespace quorva
