// Cutting shapes into triangles: the pieces every subdivision hands over, and the common last step
// that turns a finished mesh into mesh triangles.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

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
