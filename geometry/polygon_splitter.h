// The polygon splitter: cuts a simple polygon, convex or concave, into triangles that cover it exactly.
#pragma once

#include <vector>

#include "geometry/subdivision.h"
#include "geometry/vec3.h"

namespace quorva {

// Triangulates the outline of `vertices` as seen in the plane of coordinates (axis0, axis1), by
// clipping ears. Either winding is accepted; each triangle keeps the outline's winding. A simple
// outline of n >= 3 vertices gives exactly n - 2 triangles covering it (collinear vertices give
// zero-area triangles); an outline that is not simple still gives n - 2 triangles, of its vertices,
// without any guarantee of coverage. Fewer than three vertices give none.
std::vector<MeshFace> splitPolygon(const std::vector<Vec3>& vertices, int axis0, int axis1);

}  // namespace quorva
