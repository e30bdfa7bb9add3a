// The loose octree the irradiance records live in. A node is the cell (ix, iy, iz) at level L, an IEEE
// single-precision exponent: the cell size is S = 2^(L - 127) and the nominal cube starts at
// ix * S - 10000000 on each axis. A node's loose box reaches from start - S/2 to start + 1.5 S, twice the
// cell and centred on it, so a record sits in the smallest cell whose loose box holds its whole cube of
// influence. The root grows upward as records arrive outside it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/vec3.h"
#include "gi/irradiance_record.h"

namespace quorva {

struct OctreeCell {
    std::int64_t ix = 0, iy = 0, iz = 0;
    int level = 0;  // exponent byte, cell size 2^(level - 127)

    double size() const;
    // The loose box on one axis.
    void looseBox(Vec3& lo, Vec3& hi) const;
    bool contains(const Vec3& lo, const Vec3& hi) const;
    OctreeCell parent() const;
    int childIndex() const { return static_cast<int>((ix & 1) * 4 + (iy & 1) * 2 + (iz & 1)); }
};

// The cell a record influencing the cube lo..hi is kept in.
OctreeCell cellForCube(const Vec3& lo, const Vec3& hi);

class IrradianceOctree {
  public:
    struct Node {
        OctreeCell cell;
        IrradianceRecord* records = nullptr;  // newest first
        std::unique_ptr<Node> children[8];
    };

    // Takes ownership of the record and links it into the node of `cell`, creating the nodes on the way.
    void insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell);
    void clear();
    std::size_t size() const { return records_.size(); }

    // Calls visit(record) for the records of every node whose loose box holds P, children first.
    template <typename Visit>
    void forEachNear(const Vec3& P, Visit&& visit) const {
        if (root_) walk(*root_, P, visit);
    }

  private:
    template <typename Visit>
    static void walk(const Node& node, const Vec3& P, Visit& visit) {
        if (!node.cell.contains(P, P)) return;
        for (const auto& child : node.children)
            if (child) walk(*child, P, visit);
        for (const IrradianceRecord* r = node.records; r; r = r->next) visit(*r);
    }

    std::unique_ptr<Node> root_;
    std::vector<std::unique_ptr<IrradianceRecord>> records_;
};

}  // namespace quorva
