// The bounding tree of one mesh: built once over the boxes of its triangles (object space) and shared by
// every placement of the mesh. Nodes keep single-precision boxes rounded outwards with a margin, so a ray
// that enters a triangle's own box always enters every node above it; the exact test on the triangle's
// box is left to the leaf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <vector>

#include "geometry/transform.h"

namespace quorva {

struct HierarchyWorkers;

struct MeshTreeNode {
    float lo[3], hi[3];
    // Inner node (count 0): the children are nodes `first` and `first + 1`. Leaf: the triangles
    // order[first] .. order[first + count - 1].
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// Storage on 64-byte boundaries: the two children of a node start at an even index, so that both lie
// in one cache line.
template <class T>
struct LineAligned {
    using value_type = T;
    static constexpr std::align_val_t Alignment{64};
    LineAligned() = default;
    template <class U>
    LineAligned(const LineAligned<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), Alignment)); }
    void deallocate(T* p, std::size_t) { ::operator delete(p, Alignment); }
    template <class U>
    bool operator==(const LineAligned<U>&) const {
        return true;
    }
};

struct MeshTree {
    // nodes[0] is the root (absent for a mesh without triangles); nodes[1] is unused, so that every
    // pair of children starts at an even index.
    std::vector<MeshTreeNode, LineAligned<MeshTreeNode>> nodes;
    std::vector<std::uint32_t> order;  // triangle indices in leaf order
    int depth = 0;                     // the longest path from the root to a leaf, in nodes
};

// The deepest tree a build makes: the traversal's stack holds one entry per level.
inline constexpr int MeshTreeMaxDepth = 64;

// Builds the tree over the boxes of `count` triangles: surface-area cost over binned centres, at most
// four triangles a leaf, a split by count where the centres cannot be told apart (identical triangles)
// or the tree would grow too deep. Subtrees are built on the workers when there are any; the tree is the
// same for any number of them. "Failed to allocate Slabs" when memory runs out.
// `boxOf(i)` gives triangle i's box; it is asked once per triangle, from the workers too.
MeshTree buildMeshTree(std::size_t count, const std::function<Box(std::size_t)>& boxOf,
                       const HierarchyWorkers* workers = nullptr);
inline MeshTree buildMeshTree(const std::vector<Box>& boxes, const HierarchyWorkers* workers = nullptr) {
    return buildMeshTree(
        boxes.size(), [&boxes](std::size_t i) { return boxes[i]; }, workers);
}

}  // namespace quorva
