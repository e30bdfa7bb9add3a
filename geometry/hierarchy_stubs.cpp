// Placeholder bodies of the bounding hierarchy until it lands.
#include "geometry/hierarchy.h"
#include "geometry/mesh_triangle.h"

namespace quorva {
std::unique_ptr<Shape> BoundingGroup::clone() const { return std::unique_ptr<Shape>(new BoundingGroup(*this)); }
int buildHierarchy(World&) { return 0; }
void prepareLightEntries(World&, SceneState&) {}
void buildCameraFrontier(World&, const Vec3&) {}
bool traverse(RenderContext&, const Ray&, Intersection& hit, double, double, const World&) {
    hit.hit = 0;
    return false;
}
bool meshTriangleBounds(const MeshTriangle&, Box&) { return false; }
}  // namespace quorva
