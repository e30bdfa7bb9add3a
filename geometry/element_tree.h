// A bounding-box tree over the parts of one shape (Blobby elements, the triangles of a spherical height
// field), so that a ray or a point query visits only the parts whose boxes it meets. Built once when the
// shape is made; read-only afterwards.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "geometry/transform.h"
#include "geometry/vec3.h"

namespace quorva {

class ElementTree {
  public:
    // Items are the indices 0 .. boxes.size() - 1.
    void build(const std::vector<Box>& boxes);
    bool empty() const { return nodes_.empty(); }

    // Calls visit(item, tmax) once for every item whose box the segment [tmin, tmax] of the ray crosses
    // (and for the other few items sharing a leaf with one: callers test their items exactly); nearer
    // subtrees come first. visit returns the new tmax (smaller once a hit is known, which prunes what
    // lies beyond).
    template <typename Visit>
    void forEachOnRay(const Vec3& origin, const Vec3& direction, double tmin, double tmax,
                      Visit&& visit) const;

    // Calls visit(item) once for every item whose box holds the point (and for the items sharing a leaf
    // with one).
    template <typename Visit>
    void forEachAt(const Vec3& p, Visit&& visit) const;

  private:
    struct Node {
        double min[3], max[3];
        std::int32_t first;  // leaf: first index into items_; inner: index of the left child
        std::int32_t count;  // leaf: item count; inner: 0 (the right child follows the left subtree)
        std::int32_t right;
    };
    static constexpr int MaxDepth = 64;
    int buildNode(std::vector<int>& order, std::vector<Vec3>& centres, const std::vector<Box>& boxes,
                  int begin, int end, int depth);
    static bool slab(const Node& n, const Vec3& o, const Vec3& inv, double tmin, double tmax, double& entry);

    std::vector<Node> nodes_;
    std::vector<std::int32_t> items_;
};

inline bool ElementTree::slab(const Node& n, const Vec3& o, const Vec3& inv, double tmin, double tmax,
                              double& entry) {
    for (int a = 0; a < 3; ++a) {
        double t0 = (n.min[a] - o[a]) * inv[a];
        double t1 = (n.max[a] - o[a]) * inv[a];
        if (t0 > t1) std::swap(t0, t1);
        // A ray lying in a face plane gives 0 * inf; NaN comparisons keep the interval unchanged.
        if (t0 > tmin) tmin = t0;
        if (t1 < tmax) tmax = t1;
        if (tmin > tmax) return false;
    }
    entry = tmin;
    return true;
}

template <typename Visit>
void ElementTree::forEachOnRay(const Vec3& o, const Vec3& d, double tmin, double tmax, Visit&& visit) const {
    if (nodes_.empty()) return;
    const Vec3 inv{1.0 / d.x, 1.0 / d.y, 1.0 / d.z};
    std::int32_t stack[MaxDepth + 2];
    double entries[MaxDepth + 2];
    int top = 0;
    double entry;
    if (!slab(nodes_[0], o, inv, tmin, tmax, entry)) return;
    stack[top] = 0;
    entries[top++] = entry;
    while (top > 0) {
        --top;
        if (entries[top] > tmax) continue;
        const Node& n = nodes_[stack[top]];
        if (n.count > 0) {
            for (int i = 0; i < n.count; ++i) tmax = visit(items_[n.first + i], tmax);
            continue;
        }
        double e0 = 0, e1 = 0;  // set by slab() when it reports a hit
        const bool h0 = slab(nodes_[n.first], o, inv, tmin, tmax, e0);
        const bool h1 = slab(nodes_[n.right], o, inv, tmin, tmax, e1);
        // Push the farther child first so that the nearer one is visited next.
        if (h0 && h1) {
            const bool leftFirst = e0 <= e1;
            stack[top] = leftFirst ? n.right : n.first;
            entries[top++] = leftFirst ? e1 : e0;
            stack[top] = leftFirst ? n.first : n.right;
            entries[top++] = leftFirst ? e0 : e1;
        } else if (h0) {
            stack[top] = n.first;
            entries[top++] = e0;
        } else if (h1) {
            stack[top] = n.right;
            entries[top++] = e1;
        }
    }
}

template <typename Visit>
void ElementTree::forEachAt(const Vec3& p, Visit&& visit) const {
    if (nodes_.empty()) return;
    std::int32_t stack[MaxDepth + 2];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& n = nodes_[stack[--top]];
        if (p.x < n.min[0] || p.x > n.max[0] || p.y < n.min[1] || p.y > n.max[1] || p.z < n.min[2] ||
            p.z > n.max[2])
            continue;
        if (n.count > 0) {
            for (int i = 0; i < n.count; ++i) visit(items_[n.first + i]);
            continue;
        }
        stack[top++] = n.first;
        stack[top++] = n.right;
    }
}

}  // namespace quorva
