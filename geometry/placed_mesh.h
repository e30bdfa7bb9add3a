// A flat mesh placed in the World by reference: one shape on the main list for all its triangles, over
// the parts and the bounding tree every placement of the mesh shares. The placement itself is a
// transform, the box its triangles are cut to, and the attributes its Solid gives it.
//
// Its hits are those the triangles would give as patches of their own on the main list: each triangle
// the ray reaches is tested with the same arithmetic from the same start (the one-shape step's
// transform of the ray, and the hierarchy's rule that starts the search where the ray enters the
// triangle's own box), so only the order in which triangles are tried differs. The hits are recorded on
// the placement (its parent is the Solid, so shaders and photon targets resolve as for the patches).
#pragma once

#include <memory>

#include "geometry/mesh_tree.h"
#include "geometry/shape.h"

namespace quorva {

struct HierarchyWorkers;
struct MeshParts;
class World;

class PlacedMesh final : public Shape {
  public:
    // Over the parts and their tree (null until buildMeshTrees); `cut` is the box every triangle's world
    // box is cut to (the Solid's bounds). The transform, parent and attributes are set by the caller,
    // then placed() works out the box of the placement.
    PlacedMesh(std::shared_ptr<const MeshParts> parts, std::shared_ptr<const MeshTree> tree, const Box& cut);

    std::shared_ptr<const MeshParts> parts;
    std::shared_ptr<const MeshTree> tree;
    Box cut;

    // The world box triangle i has as a patch of its own: its box through the transform, cut to `cut`.
    Box partBox(std::size_t i) const;
    // Sets the bounds to the union of every triangle's world box (after the transform is set).
    void placed();

    // The nearest hit on [tmin, tmax] of the world ray (distances in world units), into `hit` as the
    // one-shape step fills a kind's record. Called by that step in place of intersect().
    bool intersectWorldRay(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax,
                           Intersection& hit) const;

    std::unique_ptr<Shape> clone() const override;
};

// Gives every placed mesh on the World's main list its tree, building each mesh's once (on the
// workers when there are any). The hierarchy build calls it; a placement without a tree yet is searched
// triangle by triangle.
void buildMeshTrees(World& world, const HierarchyWorkers* workers = nullptr);

}  // namespace quorva
