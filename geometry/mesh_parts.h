// The triangles of a flat mesh, stored indexed: every distinct corner once, three corner numbers per
// triangle. What a patch of the mesh needs (its data, its box) is worked out from the corners each time
// it is asked for, with the very arithmetic a patch of its own uses, so it is the same to the last bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/flat_shapes.h"

namespace quorva {

struct MeshTree;

// A corner of a mesh: its point and normal as given (normalised only when patch data is made, as a
// patch of its own does), its texture coordinates resolved for the place in the triangle it was given
// at (so never TexcoordNotGiven).
using MeshCorner = PatchCorner;

// The triangles of a mesh kept flat: a union keeping inner surfaces of patches only, in the order they
// were declared. A declared mesh and every copy of it share one; nothing is made per triangle and copy
// until a copy is placed, and no operation tree is built unless the mesh becomes a CSG operand.
struct MeshParts {
    std::vector<MeshCorner> corners;     // distinct corners, bit for bit
    std::vector<std::uint32_t> indices;  // three corners per triangle, in order
    // The bounding tree over the triangles' boxes, made when the mesh is first placed (on the thread
    // that builds the World) and shared by every placement.
    mutable std::shared_ptr<const MeshTree> tree;

    std::size_t size() const { return indices.size() / 3; }
    bool empty() const { return indices.empty(); }

    // Triangle i's box as a patch of its own (object space).
    Box bounds(std::size_t i) const {
        const std::uint32_t* k = &indices[3 * i];
        return patchBox(corners[k[0]].point, corners[k[1]].point, corners[k[2]].point);
    }
    // Triangle i's data as a patch of its own.
    void patchData(std::size_t i, PatchData& data) const {
        const std::uint32_t* k = &indices[3 * i];
        fillPatchData(data, corners[k[0]], corners[k[1]], corners[k[2]]);
    }
    // The two parts of that data (fillPatchFrame, fillPatchShading): a ray test needs only the first.
    void patchFrame(std::size_t i, PatchData& data) const {
        const std::uint32_t* k = &indices[3 * i];
        fillPatchFrame(data, corners[k[0]], corners[k[1]], corners[k[2]]);
    }
    void patchShading(std::size_t i, PatchData& data) const {
        const std::uint32_t* k = &indices[3 * i];
        fillPatchShading(data, corners[k[0]], corners[k[1]], corners[k[2]]);
    }
    // The same data in an entry of `blocks`, for a patch that outlives the call. Throws bad_alloc.
    std::shared_ptr<const PatchData> sharedPatchData(std::size_t i, PatchDataBlocks& blocks) const;
};

// Collects the triangles of one declaration into a MeshParts, merging corners equal bit for bit by a
// table that lives only as long as the collector (or until finish()).
class MeshCollector {
  public:
    // Appends a triangle. Throws bad_alloc.
    void add(const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
    // The mesh so far (null before the first triangle).
    const std::shared_ptr<MeshParts>& mesh() const { return mesh_; }
    std::size_t size() const { return mesh_ ? mesh_->size() : 0; }
    bool empty() const { return size() == 0; }
    // Hands over the mesh, and forgets it and frees the table.
    std::shared_ptr<MeshParts> finish();

  private:
    // The corner's number, adding it when it is new (the table has room; `hash` is hashCorner's).
    std::uint32_t cornerIndex(const MeshCorner& corner, std::uint64_t hash);
    void grow();

    std::shared_ptr<MeshParts> mesh_;
    std::vector<std::uint32_t> slots_;  // open addressing over the corners; Empty where free
};

}  // namespace quorva
