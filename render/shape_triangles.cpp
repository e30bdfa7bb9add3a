#include "render/shape_triangles.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "geometry/hierarchy.h"
#include "geometry/mesh_triangle.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid.h"
#include "geometry/subdivision.h"
#include "geometry/world.h"

namespace quorva {
namespace {

constexpr int MaxGroupDepth = 64;
constexpr std::size_t GridStripVertices = 1 << 16;

// The membership test a hit on the shape must pass (components of a CSG Solid).
const SolidMembership* clipOf(const Shape& shape) {
    return shape.parent && shape.solidTest ? shape.solidTest : nullptr;
}

// The same grid of triangles the generic cut makes, evaluated straight into the sink.
void cutParametric(const Shape& shape, TriangleSink& sink, std::vector<PreviewVertex>& grid) {
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
    // The grid goes in strips of rows that share their border row, so that the finest subdivision
    // needs no more than a few rows of vertices at a time.
    const int stripRows = static_cast<int>(std::max<std::size_t>(1, GridStripVertices / row));
    SurfacePoint point;
    for (int first = 0; first < vCount; first += stripRows) {
        const int last = std::min(vCount, first + stripRows);
        grid.resize(row * static_cast<std::size_t>(last - first + 1));
        for (int j = first; j <= last; ++j) {
            const double v = j == vCount ? v1 : v0 + (v1 - v0) * j / vCount;
            for (int i = 0; i <= uCount; ++i) {
                const double u = i == uCount ? u1 : u0 + (u1 - u0) * i / uCount;
                point = SurfacePoint{};
                shape.evaluate(u, v, point);
                PreviewVertex& g =
                    grid[static_cast<std::size_t>(j - first) * row + static_cast<std::size_t>(i)];
                g.point = point.worldPoint;
                g.normal = point.normal;
                g.texcoord = Vec3{point.u, point.v, 0};
                g.hasTexcoord = true;
            }
        }
        sink.grid(grid.data(), uCount, last - first, last == vCount);
    }
}

// The edges of a triangle that lie on an outline whose corners are the mesh's vertices in order (a
// polygon's): the diagonals the split of the polygon made are not outlined.
unsigned outlineEdges(const SubdivisionMesh& mesh, const std::uint32_t* index) {
    const std::size_t n = mesh.vertices.size();
    auto onOutline = [n](std::uint32_t a, std::uint32_t b) {
        const std::size_t d = a > b ? a - b : b - a;
        return d == 1 || d + 1 == n;
    };
    return (onOutline(index[0], index[1]) ? EdgeAB : 0) | (onOutline(index[1], index[2]) ? EdgeBC : 0) |
           (onOutline(index[2], index[0]) ? EdgeCA : 0);
}

// One triangle of a cut mesh, with the mesh's normals and texture coordinates where it has them.
// `outline`: the mesh is a split polygon (see outlineEdges).
void emitMeshTriangle(const SubdivisionMesh& mesh, const std::uint32_t* index, TriangleSink& sink,
                      bool outline) {
    const std::vector<Vec3>& v = mesh.vertices;
    PreviewVertex corner[3];
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t i = index[k];
        if (i >= v.size()) return;
        corner[k].point = v[i];
        if (i < mesh.normals.size()) corner[k].normal = normalized(mesh.normals[i]);
        if (i < mesh.texcoords.size()) {
            corner[k].texcoord = mesh.texcoords[i];
            corner[k].hasTexcoord = true;
        }
    }
    sink.triangle(corner[0], corner[1], corner[2], outline ? outlineEdges(mesh, index) : AllEdges);
}

void cutMeshTriangle(const MeshTriangle& t, TriangleSink& sink, TriangleScratch& scratch, bool ownSurface,
                     bool outline) {
    if (!t.parent || !t.parent->mesh) return;
    const SubdivisionMesh& mesh = *t.parent->mesh;
    if (scratch.recording) {
        if (scratch.meshes.empty() || scratch.meshes.back().get() != &mesh)
            scratch.meshes.push_back(t.parent->mesh);
        scratch.triangles.push_back({&mesh, {t.index[0], t.index[1], t.index[2]}, outline});
    }
    // A hit on a mesh triangle records the mesh's shape and the triangle's own shader.
    if (ownSurface) sink.beginSurface(PreviewSurface{t.parent, t.shader.get(), clipOf(*t.parent)});
    emitMeshTriangle(mesh, t.index, sink, outline);
}

void cutAtDepth(const Shape& shape, TriangleSink& sink, TriangleScratch& scratch, int level, bool temporary,
                bool outline = false);

// A placed mesh is cut as its triangles would be as patches of their own, each announced as a surface
// of the placement (which shades as they would).
void cutPlacedMesh(const PlacedMesh& mesh, TriangleSink& sink, TriangleScratch& scratch, int level,
                   bool temporary) {
    const MeshParts& parts = *mesh.parts;
    PatchDataBlocks blocks;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        TriangularPatch patch(parts.sharedPatchData(i, blocks), parts.bounds(i));
        patch.parent = mesh.parent;
        patch.attributes = mesh.attributes;
        if (mesh.transform) patch.transform = std::make_unique<Transform>(*mesh.transform);
        if (!temporary) sink.beginSurface(PreviewSurface{&mesh, nullptr, nullptr});
        cutAtDepth(patch, sink, scratch, level + 1, true);
    }
}

// `temporary`: the shape lives only while it is cut, its surface was announced by its source; `outline`:
// it comes from the cut of a polygon.
void cutAtDepth(const Shape& shape, TriangleSink& sink, TriangleScratch& scratch, int level, bool temporary,
                bool outline) {
    if (level > MaxGroupDepth) return;
    if (shape.kind == ShapeKind::BoundingGroup) {
        for (const Shape* member : static_cast<const BoundingGroup&>(shape).members)
            if (member) cutAtDepth(*member, sink, scratch, level + 1, temporary, outline);
        return;
    }
    if (shape.kind == ShapeKind::MeshTriangle) {
        cutMeshTriangle(static_cast<const MeshTriangle&>(shape), sink, scratch, !temporary, outline);
        return;
    }
    if (shape.kind == ShapeKind::LightEntry) return;
    if (shape.kind == ShapeKind::PlacedMesh) {
        cutPlacedMesh(static_cast<const PlacedMesh&>(shape), sink, scratch, level, temporary);
        return;
    }
    if (!temporary) sink.beginSurface(PreviewSurface{&shape, nullptr, clipOf(shape)});
    if (shape.hasEvaluate() && !displacementFor(shape)) {
        // Inside a recorded cut only mesh triangles go on the tape: the replay cuts this shape again.
        if (scratch.recording) scratch.cuts.back().complete = false;
        cutParametric(shape, sink, scratch.grid);
        return;
    }
    // A cut recorded in the previous pass is replayed.
    const bool taped = !temporary && scratch.tape != TriangleScratch::Tape::Off;
    if (taped && scratch.tape == TriangleScratch::Tape::Replay && scratch.nextCut < scratch.cuts.size()) {
        const TriangleScratch::TapeCut& cut = scratch.cuts[scratch.nextCut++];
        if (cut.complete) {
            for (std::size_t i = cut.begin; i < cut.end; ++i)
                emitMeshTriangle(*scratch.triangles[i].mesh, scratch.triangles[i].index, sink,
                                 scratch.triangles[i].outline);
            return;
        }
    }
    // Other kinds are cut into triangles in a World of their own; a copy is cut so that the scene's
    // shape keeps its own mesh. Kinds without a cut draw nothing.
    const bool record = taped && scratch.tape == TriangleScratch::Tape::Record;
    if (record) {
        scratch.cuts.push_back({scratch.triangles.size(), scratch.triangles.size(), true});
        scratch.recording = true;
    }
    struct StopRecording {
        TriangleScratch& scratch;
        bool on;
        ~StopRecording() {
            if (!on) return;
            scratch.recording = false;
            scratch.cuts.back().end = scratch.triangles.size();
        }
    } stop{scratch, record};
    std::unique_ptr<Shape> copy = shape.clone();
    if (!copy) return;
    World pieces;
    pieces.temporaryA = 64;
    pieces.temporaryB = 4;
    copy->subdivide(pieces);
    for (const Shape* piece : pieces.mainList)
        if (piece && piece != copy.get() && piece->kind != shape.kind)
            cutAtDepth(*piece, sink, scratch, level + 1, true, shape.kind == ShapeKind::Polygon);
}

}  // namespace

void TriangleSink::grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges) {
    const std::size_t row = static_cast<std::size_t>(uCount) + 1;
    for (std::size_t j = 0; j < static_cast<std::size_t>(vCount); ++j) {
        const bool lastRow = topEdges && j + 1 == static_cast<std::size_t>(vCount);
        for (std::size_t i = 0; i < static_cast<std::size_t>(uCount); ++i) {
            const bool lastColumn = i + 1 == static_cast<std::size_t>(uCount);
            const std::size_t a = j * row + i, b = a + 1, c = b + row, d = a + row;
            triangle(vertices[a], vertices[b], vertices[c], EdgeAB | EdgeCA | (lastColumn ? EdgeBC : 0));
            triangle(vertices[a], vertices[c], vertices[d], EdgeCA | (lastRow ? EdgeBC : 0));
        }
    }
}

void cutIntoTriangles(const Shape& shape, TriangleSink& sink, TriangleScratch& scratch) {
    cutAtDepth(shape, sink, scratch, 0, false);
}

Vec3 faceNormal(const Vec3& a, const Vec3& b, const Vec3& c) {
    Vec3 n = cross(b - a, c - a);
    const double l = length(n);
    if (!(l >= 1e-8)) return Vec3{0, 0, 0};
    return n / l;
}

}  // namespace quorva
