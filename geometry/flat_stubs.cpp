// Placeholder constructors of the flat shapes and mesh triangles until they land.
#include "diagnostics/diagnostics.h"
#include "geometry/mesh_triangle.h"
#include "geometry/shapes.h"

namespace quorva {
std::unique_ptr<Shape> makePolygon(const std::vector<Vec3>&) { fatal("Polygon is not available yet"); }
std::unique_ptr<Shape> makeTriangularPatch(const PatchCorner&, const PatchCorner&, const PatchCorner&) {
    fatal("TriangularPatch is not available yet");
}
std::unique_ptr<Shape> MeshTriangle::clone() const { return std::unique_ptr<Shape>(new MeshTriangle(*this)); }
bool MeshTriangle::intersectWorldRay(RenderContext&, const Ray&, double, double, Intersection&) const { return false; }
}  // namespace quorva
