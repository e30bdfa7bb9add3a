// The loose octree the irradiance records live in. A node is the cell (ix, iy, iz) at level L, an IEEE
// single-precision exponent: the cell size is S = 2^(L - 127) and the nominal cube starts at
// ix * S - 10000000 on each axis. A node's loose box reaches from start - S/2 to start + 1.5 S, twice the
// cell and centred on it, so a record sits in the smallest cell whose loose box holds its whole cube of
// influence. The root grows upward as records arrive outside it.
//
// Each bounce level keeps its own tree of those cells (a lookup asks for one level only), every one rooted
// at the cell of the common root, so that a lookup walks the nodes the common tree would and skips the
// rest: a node holds its records in flat arrays for the test that rejects most of them (the distance to P
// against the radius, two records at a time), and bounds the positions and radii of its subtree so that a
// subtree no record of which can reach P is not entered. The records found are handed over in batches, so
// that the caller weighs several at once.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// A batch of the records a lookup found, in the order found, with their offset P - position, its squared
// length and n . normal (the bend of the normal is 2 sqrt(|1 - facing|)).
struct IrradianceHits {
    static constexpr int Capacity = 64;
    int count = 0;
    const IrradianceRecord* record[Capacity];
    double dx[Capacity], dy[Capacity], dz[Capacity];
    double dist2[Capacity];
    double facing[Capacity];
};

// Where a record stands in the order the records were made: a record made earlier has a smaller key. A
// lookup sees only the records whose keys lie below the key it asks with; a withdrawn record has the key
// no lookup reaches.
using RecordKey = std::uint64_t;
inline constexpr RecordKey EveryRecord = ~RecordKey{0};

class IrradianceOctree {
  public:
    // Keeps the record in the node of `cell`, creating the nodes on the way. Inside its node the record
    // goes after every record of a smaller or equal key, so that a node's records stay in the order they
    // were made however they arrive.
    void insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell, RecordKey key = 0);
    // Withdraws the record of `key` kept in the node of `cell` (made at `position`): no lookup sees it
    // again. False when there is none.
    bool withdraw(const OctreeCell& cell, int level, RecordKey key);
    void clear();
    std::size_t size() const { return size_ - withdrawn_; }

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
        IrradianceHits hits;
        const bool bendTest = reach > 0;
        return forEachBatchWithin(P, n, level, reach, hits, [&](const IrradianceHits& h) {
            for (int i = 0; i < h.count; ++i) {
                const double bend = 2 * std::sqrt(std::fabs(1 - h.facing[i]));
                if (!bendTest || bend < reach) visit(*h.record[i], h.dist2[i], bend);
            }
        });
    }
    // The same records in the same order and a few more, handed over in batches without the bend test:
    // what a batch holds beyond them bends by at least reach (and only those that bend so far that the
    // test cannot pass are left out). flush(hits) is called whenever `hits` is full and once at the end
    // (when it holds any), and the batch is emptied after each call.
    // Only records whose keys lie below `below` are handed over.
    template <typename Flush>
    long forEachBatchWithin(const Vec3& P, const Vec3& n, int level, double reach, IrradianceHits& hits,
                            Flush&& flush, RecordKey below = EveryRecord) const {
        hits.count = 0;
        Query<Flush> q{P, n, reach, reach > 0, bendLimit(reach), below, hits, flush, 0};
        for (const LevelTree& tree : trees_)
            if (tree.level == level && tree.root->skip->admits(P, reach)) walkWithin(*tree.root->skip, q);
        if (hits.count > 0) {
            flush(hits);
            hits.count = 0;
        }
        return q.examined;
    }

    // The largest |1 - n . normal| a record within `reach` may have (the bend test, made without the
    // square root and with a margin).
    static double bendLimit(double reach) { return 0.25 * reach * reach * (1 + 1e-9) + 1e-12; }

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
        // The boxes and bounds of entry[i], kept here so that testing a child does not touch its memory.
        struct Bounds {
            Vec3 lo, hi, first, last;
            double maxRadius = 0;
        } entryBounds[8];
        // Where the loose boxes of the upper children (odd index on the axis) start and those of the lower
        // ones end: P below the one or above the other is in no child of that half.
        Vec3 upperStart, lowerEnd;

        // The children whose loose boxes may hold P, as a mask of indices.
        unsigned childrenAround(const Vec3& P) const {
            unsigned m = childMask;
            m &= 0x0Fu | (0xF0u * !(P.x < upperStart.x));
            m &= 0xF0u | (0x0Fu * !(P.x > lowerEnd.x));
            m &= 0x33u | (0xCCu * !(P.y < upperStart.y));
            m &= 0xCCu | (0x33u * !(P.y > lowerEnd.y));
            m &= 0x55u | (0xAAu * !(P.z < upperStart.z));
            m &= 0xAAu | (0x55u * !(P.z > lowerEnd.z));
            return m;
        }
        // The node's own records, oldest first.
        std::vector<double> x, y, z, radius, nx, ny, nz;
        std::vector<IrradianceRecord> record;  // by value: a node's records lie together
        std::vector<RecordKey> made;     // the keys the records were made with, ascending
        std::vector<RecordKey> visible;  // the same, or EveryRecord for a withdrawn record
        OctreeCell cell;

        bool holds(const Vec3& P) const { return IrradianceOctree::holds(lo, hi, P); }
        bool admits(const Vec3& P, double reach) const {
            return IrradianceOctree::admits({lo, hi, first, last, maxRadius}, P, reach);
        }
    };
    static bool holds(const Vec3& lo, const Vec3& hi, const Vec3& P) {
        // Every comparison made (a NaN coordinate is held, as by the chain of ors).
        return !((P.x < lo.x) | (P.x > hi.x) | (P.y < lo.y) | (P.y > hi.y) | (P.z < lo.z) | (P.z > hi.z));
    }
    // False when the loose box does not hold P or no record of the subtree can lie within reach of it.
    // The gap to the box of positions bounds the distance of every position from below, computed by the
    // same operations rounded the same way; the margin keeps that true should the arithmetic be
    // contracted differently.
    static bool admits(const Node::Bounds& b, const Vec3& P, double reach) {
        const double gx = gap(P.x, b.first.x, b.last.x), gy = gap(P.y, b.first.y, b.last.y),
                     gz = gap(P.z, b.first.z, b.last.z);
        const double r = b.maxRadius * reach;
        if (!holds(b.lo, b.hi, P)) return false;
        return !(gx * gx + gy * gy + gz * gz > r * r * (1 + 1e-9));
    }
    // How far p lies outside from..to, 0 inside (and for a NaN).
    static double gap(double p, double from, double to) {
        return larger(larger(from - p, p - to), 0.0);
    }
    // a > b ? a : b, without a branch.
    static double larger(double a, double b) {
#ifdef __SSE2__
        return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
        return a > b ? a : b;
#endif
    }
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
        for (std::size_t i = node.record.size(); i-- > 0;)
            if (node.visible[i] != EveryRecord) visit(node.record[i]);
    }

    template <typename Flush>
    struct Query {
        Vec3 P, n;
        double reach;
        bool bendTest;
        double bendLimit;
        RecordKey below;
        IrradianceHits& hits;
        Flush& flush;
        long examined;
    };

    template <typename Flush>
    static void walkWithin(const Node& node, Query<Flush>& q) {
        for (unsigned m = node.childrenAround(q.P); m; m &= m - 1) {
            const int i = std::countr_zero(m);
            if (admits(node.entryBounds[i], q.P, q.reach)) walkWithin(*node.entry[i], q);
        }
        scanRecords(node, q);
    }

    // Tests the records of a node, newest first: the distance of every record, two at a time, then how
    // far the normals of those near enough bend, and appends those that pass to the hits. The bend itself
    // is left to the caller: a record stays unless |1 - n . normal| exceeds bendLimit, past which 2 sqrt
    // of it is surely not below reach.
    template <typename Flush>
    static void scanRecords(const Node& node, Query<Flush>& q) {
        std::size_t i = node.record.size();
        q.examined += static_cast<long>(i);
        const Vec3 P = q.P;
#ifdef __SSE2__
        const __m128d px = _mm_set1_pd(P.x), py = _mm_set1_pd(P.y), pz = _mm_set1_pd(P.z);
        const __m128d reach = _mm_set1_pd(q.reach);
        // Pairs i - 2, i - 1 from the newest down.
        for (; i >= 2; i -= 2) {
            const __m128d dx = _mm_sub_pd(px, _mm_loadu_pd(&node.x[i - 2]));
            const __m128d dy = _mm_sub_pd(py, _mm_loadu_pd(&node.y[i - 2]));
            const __m128d dz = _mm_sub_pd(pz, _mm_loadu_pd(&node.z[i - 2]));
            const __m128d dist2 =
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz));
            const __m128d r = _mm_mul_pd(_mm_loadu_pd(&node.radius[i - 2]), reach);
            const int near = _mm_movemask_pd(_mm_cmpnge_pd(dist2, _mm_mul_pd(r, r)));
            if (near == 0) continue;
            double d2[2];
            _mm_storeu_pd(d2, dist2);
            if (near & 2) addHit(node, i - 1, d2[1], q);
            if (near & 1) addHit(node, i - 2, d2[0], q);
        }
#endif
        for (; i-- > 0;) {
            const double dx = P.x - node.x[i], dy = P.y - node.y[i], dz = P.z - node.z[i];
            const double dist2 = dx * dx + dy * dy + dz * dz;
            const double r = node.radius[i] * q.reach;
            if (!(dist2 >= r * r)) addHit(node, i, dist2, q);
        }
    }

    template <typename Flush>
    static void addHit(const Node& node, std::size_t i, double dist2, Query<Flush>& q) {
        const Vec3 P = q.P, n = q.n;
        if (!(node.visible[i] < q.below)) return;
        const double facing = n.x * node.nx[i] + n.y * node.ny[i] + n.z * node.nz[i];
        if (q.bendTest && std::fabs(1 - facing) > q.bendLimit) return;
        IrradianceHits& hits = q.hits;
        const int h = hits.count;
        hits.record[h] = &node.record[i];
        hits.dx[h] = P.x - node.x[i];
        hits.dy[h] = P.y - node.y[i];
        hits.dz[h] = P.z - node.z[i];
        hits.dist2[h] = dist2;
        hits.facing[h] = facing;
        if (++hits.count == IrradianceHits::Capacity) {
            q.flush(hits);
            hits.count = 0;
        }
    }

    bool hasRoot_ = false;
    OctreeCell rootCell_;
    std::vector<LevelTree> trees_;
    std::size_t size_ = 0;
    std::size_t withdrawn_ = 0;
};

}  // namespace quorva
