// Cutting shapes into triangles: the pieces every subdivision hands over, and the common last step
// that turns a finished mesh into mesh triangles.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

// The finest subdivision a shape is cut into: at most this many cells (two triangles or one
// quadrilateral each; 512 x 256, about 170 MB of triangles with their bounding tree) for the u x v
// grid of the generic subdivision and the preview triangulation, and for the rings of a surface of
// revolution or the sides of a sweep.
inline constexpr std::uint64_t MaxSubdivisionCells = 1 << 17;
// The most cells of the u x v x w grid of a polygonised volume (blobby, implicit and polynomial
// surfaces): 128 x 128 x 128.
inline constexpr std::uint64_t MaxSubdivisionVolume = 1 << 21;

// Reduces the first `axes` counts of `counts` (each at least 1) in the same proportion until
// `pieces` x their product is within `limit`, with the warning "Subdivision of N cells is too fine
// (reduced to M)". Returns whether it reduced them.
bool boundSubdivisionCounts(int* counts, int axes, std::uint64_t limit, std::uint64_t pieces = 1);
// The same for the shape's own counts: u x v within MaxSubdivisionCells and, when `axes` is 3 (a
// statement gave all three), u x v x w within MaxSubdivisionVolume.
void boundShapeSubdivisions(Shape& shape, int axes);

// One triangle of a subdivision mesh: three vertex indices.
using MeshFace = std::array<std::uint32_t, 3>;

// The displacement expression that applies to a shape: its own, else the nearest one on its parent
// chain; null when there is none.
const Request* displacementFor(const Shape& shape);

// Finishes the subdivision of `shape`: displaces the mesh when a displacement applies, stores it as the
// shape's mesh, and appends to `target` one MeshTriangle per face, parented to the shape. Faces that
// cannot be hit (coincident, collinear or non-finite corners) are dropped.
void appendMeshTriangles(Shape& shape, std::shared_ptr<SubdivisionMesh> mesh,
                         const std::vector<MeshFace>& faces, World& target);

}  // namespace quorva
