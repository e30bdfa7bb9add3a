// The Slabs bounding hierarchy: bottom-up build by a surface-area cost rule, the camera frontier, and
// the front-to-back traversal with a binary-heap priority queue.
#pragma once

#include <functional>
#include <vector>

#include "geometry/shape.h"
#include "geometry/world.h"

namespace quorva {

// The boxes of up to four members as the traversal reads them: coordinate by coordinate, member k of
// the quad in lane k, so that they are tested together without visiting the members' records. Lanes
// past the group's last member have no node.
struct alignas(32) MemberQuad {
    double min[3][4];
    double size[3][4];
    const Shape* node[4];
};

// A node of the hierarchy (kind 23). Members are shapes, mesh triangles or other groups; the World
// owns them.
class BoundingGroup final : public Shape {
  public:
    BoundingGroup() : Shape(ShapeKind::BoundingGroup) {}
    std::vector<Shape*> members;
    // Copies of the members' boxes in member order, four to a quad; made by the build. A group put
    // together by hand may leave them empty (the traversal then reads the members' own boxes); after
    // changing the members or their bounds, call refreshMemberBoxes.
    std::vector<MemberQuad> memberBoxes;
    void refreshMemberBoxes();
    std::unique_ptr<Shape> clone() const override;
};

// Threads a build may share its work with: run(body) calls body(worker) for every worker 0 .. count - 1
// at once and returns when all have returned.
struct HierarchyWorkers {
    int count = 1;
    std::function<void(const std::function<void(int)>&)> run;
};

// Builds the hierarchy over the main list (light entries left out); sets world.root. Returns 1 when a
// root was built, 0 for an empty main list. The tree is the same with or without workers.
int buildHierarchy(World& world, const HierarchyWorkers* workers = nullptr);

// Records every kind-10 entry of the main list in world.lightEntries, in list order.
void prepareLightEntries(World& world);

// Fills world.cameraFrontier with the cut of the tree seen from the eye point.
void buildCameraFrontier(World& world, const Vec3& eye);

// Traversal used by intersectWorld when world.root is set.
bool traverse(IntersectContext& ctx, const Ray& ray, Intersection& hit, double tmin, double tmax,
              const World& world);

// Padded bounds of a mesh triangle; false (0) for a degenerate triangle.
bool meshTriangleBounds(const class MeshTriangle& triangle, Box& out);

}  // namespace quorva
