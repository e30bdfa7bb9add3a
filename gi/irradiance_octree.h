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
#include <cmath>
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
    // Keeps the record in the node of `cell`, creating the nodes on the way.
    void insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell);
    void clear();
    std::size_t size() const { return size_; }

    // Calls visit(record) for the records of every node whose loose box holds P: level by level in the
    // order of their first record, children first, each node's records newest first. The references
    // handed to visit (here and below) stay valid until the next insert.
    template <typename Visit>
    void forEachNear(const Vec3& P, Visit&& visit) const {
        for (const LevelTree& tree : trees_)
            if (tree.root->holds(P)) walk(*tree.root, P, visit);
    }

    // Calls visit(record, dist2, bend) for the records of bounce `level` in the nodes whose loose box
    // holds P (children first, each node's records newest first) that lie nearer to P than radius * reach,
    // dist2 = |P - position|^2 < (radius * reach)^2, and, when reach > 0, whose normal bends from n by
    // less than reach, bend = 2 sqrt(|1 - n . normal|) < reach; every value evaluated as written. Returns
    // the number of records whose distance it computed.
    template <typename Visit>
    long forEachWithin(const Vec3& P, const Vec3& n, int level, double reach, Visit&& visit) const {
        Query<Visit> q{P, n, reach, reach > 0, visit, 0};
        for (const LevelTree& tree : trees_)
            if (tree.level == level && tree.root->skip->admits(P, reach)) walkWithin(*tree.root->skip, q);
        return q.examined;
    }

  private:
    struct Node {
        Vec3 lo, hi;             // the cell's loose box
        Vec3 first, last;        // box of the positions of the subtree's records
        double maxRadius = 0;    // largest radius of the subtree's records
        unsigned childMask = 0;  // bit i: children[i] exists
        std::unique_ptr<Node> children[8];
        // The node a walk tests and enters in this one's place: itself, or, for a node without records of
        // its own whose only child's loose box lies inside its own, what that child names - the same
        // records below, the same bounds, and P in the child's box is in this one's.
        const Node* skip = this;
        const Node* entry[8] = {};  // children[i]->skip
        // Where the loose boxes of the upper children (odd index on the axis) start and those of the lower
        // ones end: P below the one or above the other is in no child of that half.
        Vec3 upperStart, lowerEnd;

        // The children whose loose boxes may hold P, as a mask of indices.
        unsigned childrenAround(const Vec3& P) const {
            unsigned m = childMask;
            m &= P.x < upperStart.x ? 0x0Fu : 0xFFu;
            m &= P.x > lowerEnd.x ? 0xF0u : 0xFFu;
            m &= P.y < upperStart.y ? 0x33u : 0xFFu;
            m &= P.y > lowerEnd.y ? 0xCCu : 0xFFu;
            m &= P.z < upperStart.z ? 0x55u : 0xFFu;
            m &= P.z > lowerEnd.z ? 0xAAu : 0xFFu;
            return m;
        }
        // The node's own records, oldest first.
        std::vector<double> x, y, z, radius, nx, ny, nz;
        std::vector<IrradianceRecord> record;  // by value: a node's records lie together
        OctreeCell cell;

        bool holds(const Vec3& P) const {
            return !(P.x < lo.x || P.x > hi.x || P.y < lo.y || P.y > hi.y || P.z < lo.z || P.z > hi.z);
        }
        // False when the loose box does not hold P or no record of the subtree can lie within reach of
        // it. The gap to the box of positions bounds the distance of every position from below, computed
        // by the same operations rounded the same way; the margin keeps that true should the arithmetic be
        // contracted differently.
        bool admits(const Vec3& P, double reach) const {
            if (!holds(P)) return false;
            const double gx = gap(P.x, first.x, last.x), gy = gap(P.y, first.y, last.y),
                         gz = gap(P.z, first.z, last.z);
            const double r = maxRadius * reach;
            return !(gx * gx + gy * gy + gz * gz > r * r * (1 + 1e-9));
        }
        static double gap(double p, double from, double to) {
            const double below = from - p, above = p - to;
            const double g = below > above ? below : above;
            return g > 0 ? g : 0.0;
        }
    };
    struct LevelTree {
        int level = 0;
        std::unique_ptr<Node> root;
    };

    static std::unique_ptr<Node> makeNode(const OctreeCell& cell);
    static void growTo(LevelTree& tree, const OctreeCell& rootCell);
    static void relink(Node& node);

    template <typename Visit>
    static void walk(const Node& node, const Vec3& P, Visit& visit) {
        for (unsigned m = node.childMask; m; m &= m - 1) {
            const Node& child = *node.children[std::countr_zero(m)];
            if (child.holds(P)) walk(child, P, visit);
        }
        for (std::size_t i = node.record.size(); i-- > 0;) visit(node.record[i]);
    }

    template <typename Visit>
    struct Query {
        Vec3 P, n;
        double reach;
        bool bendTest;
        Visit& visit;
        long examined;
    };

    template <typename Visit>
    static void walkWithin(const Node& node, Query<Visit>& q) {
        for (unsigned m = node.childrenAround(q.P); m; m &= m - 1) {
            const Node& child = *node.entry[std::countr_zero(m)];
            if (child.admits(q.P, q.reach)) walkWithin(child, q);
        }
        const std::size_t count = node.x.size();
        q.examined += static_cast<long>(count);
        const Vec3 P = q.P;
        const double reach = q.reach;
        for (std::size_t i = count; i-- > 0;) {
            const double dx = P.x - node.x[i], dy = P.y - node.y[i], dz = P.z - node.z[i];
            const double dist2 = dx * dx + dy * dy + dz * dz;
            const double r = node.radius[i] * reach;
            if (dist2 >= r * r) continue;
            const double bend =
                2 * std::sqrt(std::fabs(1 - (q.n.x * node.nx[i] + q.n.y * node.ny[i] + q.n.z * node.nz[i])));
            if (q.bendTest && !(bend < reach)) continue;
            q.visit(node.record[i], dist2, bend);
        }
    }

    bool hasRoot_ = false;
    OctreeCell rootCell_;
    std::vector<LevelTree> trees_;
    std::size_t size_ = 0;
};

}  // namespace quorva
