// The loose octree the irradiance records live in. A node is the cell (ix, iy, iz) at level L, an IEEE
// single-precision exponent: the cell size is S = 2^(L - 127) and the nominal cube starts at
// ix * S - 10000000 on each axis. A node's loose box reaches from start - S/2 to start + 1.5 S, twice the
// cell and centred on it, so a record sits in the smallest cell whose loose box holds its whole cube of
// influence. The root grows upward as records arrive outside it.
//
// Each bounce level keeps its own tree of those cells (a lookup asks for one level only), every one rooted
// at the cell of the common root, so that a lookup walks the nodes the common tree would and skips the
// rest: a node holds its records in flat arrays for the test that rejects most of them (the distance to P
// against the radius), and bounds the positions and radii of its subtree so that a subtree no record of
// which can reach P is not entered.
#pragma once

#include <bit>
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
    // The loose box, twice the cell and centred on it.
    void looseBox(Vec3& lo, Vec3& hi) const;
    bool contains(const Vec3& lo, const Vec3& hi) const;
    OctreeCell parent() const;
    int childIndex() const { return static_cast<int>((ix & 1) * 4 + (iy & 1) * 2 + (iz & 1)); }
};

// The cell a record influencing the cube lo..hi is kept in.
OctreeCell cellForCube(const Vec3& lo, const Vec3& hi);

class IrradianceOctree {
  public:
    // Takes ownership of the record and links it into the node of `cell`, creating the nodes on the way.
    void insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell);
    void clear();
    std::size_t size() const { return records_.size(); }

    // Calls visit(record) for the records of every node whose loose box holds P: level by level in the
    // order of their first record, children first, each node's records newest first.
    template <typename Visit>
    void forEachNear(const Vec3& P, Visit&& visit) const {
        for (const LevelTree& tree : trees_)
            if (tree.root->holds(P)) walk(*tree.root, P, visit);
    }

    // Calls visit(record, dist2) for the records of bounce `level` of the nodes whose loose box holds P
    // (children first, each node's records newest first) that lie nearer to P than radius * reach, that
    // is dist2 = |P - position|^2 < (radius * reach)^2, both evaluated as written. Returns the number of
    // records whose distance it computed.
    template <typename Visit>
    long forEachWithin(const Vec3& P, int level, double reach, Visit&& visit) const {
        long examined = 0;
        for (const LevelTree& tree : trees_)
            if (tree.level == level && tree.root->holds(P) && !tree.root->outOfReach(P, reach))
                walkWithin(*tree.root, P, reach, visit, examined);
        return examined;
    }

  private:
    struct Node {
        Vec3 lo, hi;                          // the cell's loose box
        Vec3 first, last;                     // box of the positions of the subtree's records
        double maxRadius = 0;                 // largest radius of the subtree's records
        unsigned childMask = 0;               // bit i: children[i] exists
        std::unique_ptr<Node> children[8];
        // The node's own records, oldest first.
        std::vector<double> x, y, z;
        std::vector<float> radius;
        std::vector<const IrradianceRecord*> record;
        OctreeCell cell;

        bool holds(const Vec3& P) const {
            return !(P.x < lo.x || P.x > hi.x || P.y < lo.y || P.y > hi.y || P.z < lo.z || P.z > hi.z);
        }
        // True when no record of the subtree can lie within reach of P. The gap to the box bounds the
        // distance of every position from below, computed by the same operations rounded the same way;
        // the margin keeps that true should the arithmetic be contracted differently.
        bool outOfReach(const Vec3& P, double reach) const {
            const double gx = P.x < first.x ? first.x - P.x : (P.x > last.x ? P.x - last.x : 0.0);
            const double gy = P.y < first.y ? first.y - P.y : (P.y > last.y ? P.y - last.y : 0.0);
            const double gz = P.z < first.z ? first.z - P.z : (P.z > last.z ? P.z - last.z : 0.0);
            const double r = maxRadius * reach;
            return gx * gx + gy * gy + gz * gz > r * r * (1 + 1e-9);
        }
    };
    struct LevelTree {
        int level = 0;
        std::unique_ptr<Node> root;
    };

    static std::unique_ptr<Node> makeNode(const OctreeCell& cell);
    static void growTo(LevelTree& tree, const OctreeCell& rootCell);

    template <typename Visit>
    static void walk(const Node& node, const Vec3& P, Visit& visit) {
        for (unsigned m = node.childMask; m; m &= m - 1) {
            const Node& child = *node.children[std::countr_zero(m)];
            if (child.holds(P)) walk(child, P, visit);
        }
        for (std::size_t i = node.record.size(); i-- > 0;) visit(*node.record[i]);
    }

    template <typename Visit>
    static void walkWithin(const Node& node, const Vec3& P, double reach, Visit& visit, long& examined) {
        for (unsigned m = node.childMask; m; m &= m - 1) {
            const Node& child = *node.children[std::countr_zero(m)];
            if (child.holds(P) && !child.outOfReach(P, reach)) walkWithin(child, P, reach, visit, examined);
        }
        const std::size_t n = node.x.size();
        examined += static_cast<long>(n);
        for (std::size_t i = n; i-- > 0;) {
            const double dx = P.x - node.x[i], dy = P.y - node.y[i], dz = P.z - node.z[i];
            const double dist2 = dx * dx + dy * dy + dz * dz;
            const double r = node.radius[i] * reach;
            if (!(dist2 >= r * r)) visit(*node.record[i], dist2);
        }
    }

    bool hasRoot_ = false;
    OctreeCell rootCell_;
    std::vector<LevelTree> trees_;
    std::vector<std::unique_ptr<IrradianceRecord>> records_;
};

}  // namespace quorva
