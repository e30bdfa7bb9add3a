// The implicit-surface polygoniser: cuts the surface value(p) = threshold inside a box into a closed
// triangle mesh, for the kinds defined by a field (Blobby and the other implicit surfaces).
#pragma once

#include <functional>
#include <vector>

#include "geometry/subdivision.h"

namespace quorva {

struct ImplicitSurfaceDescription {
    Box box;                      // object space
    int cells[3] = {32, 32, 32};  // cells along x, y, z (u, v, w)
    std::function<double(const Vec3&)> value;
    double threshold = 0;                     // the surface; the inside is where value > threshold
    std::function<Vec3(const Vec3&)> normal;  // object space, pointing out of the inside
};

// The mesh of the surface in object space: each cube of the grid is cut into six tetrahedra along its
// main diagonal (neighbouring cubes agree on their shared faces, so no cracks open), crossings are
// placed by linear interpolation refined with secant steps, and every triangle faces away from the
// inside. Vertices on one grid edge are shared, so a surface that stays inside the box comes out closed.
void polygonise(const ImplicitSurfaceDescription& surface, std::vector<Vec3>& vertices,
                std::vector<Vec3>& normals, std::vector<MeshFace>& faces);

// polygonise, then the vertices and normals go through the shape's transform and the mesh is handed to
// appendMeshTriangles.
void subdivideImplicit(Shape& shape, const ImplicitSurfaceDescription& surface, World& target);

}  // namespace quorva
