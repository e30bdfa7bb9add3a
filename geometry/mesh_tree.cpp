// Building a mesh's bounding tree: surface-area cost over 16 bins of the triangles' centres on each
// axis, top down. The top of the tree is split a level at a time, the ranges of a level on all workers;
// ranges below a few thousand triangles then become subtrees of their own, also on all workers, joined
// in range order, so that the nodes are numbered the same for any number of workers.
#include "geometry/mesh_tree.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <cmath>
#include <limits>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"

namespace quorva {

namespace {

constexpr int Bins = 16;
constexpr std::uint32_t LeafSize = 4;
// Below this depth every split is by surface-area cost; from it on ranges are halved by count, which
// bounds the depth whatever the triangles.
constexpr int CostDepthLimit = MeshTreeMaxDepth - 34;
// Ranges at least this big are split on one thread before the workers take whole subtrees.
constexpr std::uint32_t SubtreeSize = 4096;

struct FloatBox {
    float lo[3], hi[3];
};

// A float at or below v - margin (and at or above v + margin for `up`): the node boxes hold the
// triangles' own boxes with room to spare for the rounding of any slab test.
float outward(double v, double margin, bool up) {
    const double target = up ? v + margin : v - margin;
    if (!(std::fabs(target) <= std::numeric_limits<float>::max()))
        return up ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    float f = static_cast<float>(target);
    if (up ? static_cast<double>(f) < target : static_cast<double>(f) > target)
        f = std::nextafter(f, up ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity());
    return f;
}

FloatBox floatBox(const Box& b) {
    FloatBox f;
    for (int a = 0; a < 3; ++a) {
        const double lo = b.min[a], hi = b.min[a] + b.size[a];
        const double margin = 2.5e-7 * std::max(std::fabs(lo), std::fabs(hi)) + 1e-30;
        f.lo[a] = outward(lo, margin, false);
        f.hi[a] = outward(hi, margin, true);
    }
    return f;
}

void grow(FloatBox& into, const FloatBox& b) {
    for (int a = 0; a < 3; ++a) {
        into.lo[a] = std::min(into.lo[a], b.lo[a]);
        into.hi[a] = std::max(into.hi[a], b.hi[a]);
    }
}

FloatBox emptyBox() {
    constexpr float Inf = std::numeric_limits<float>::infinity();
    return {{Inf, Inf, Inf}, {-Inf, -Inf, -Inf}};
}

float halfArea(const FloatBox& b) {
    const float x = b.hi[0] - b.lo[0], y = b.hi[1] - b.lo[1], z = b.hi[2] - b.lo[2];
    return x * y + y * z + z * x;
}

template <class Vector>
void ensureSize(Vector& v, std::size_t n) {
    try {
        v.resize(n);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Slabs");
    }
}

// What the build reads and reorders.
struct BuildData {
    std::vector<FloatBox> boxes;       // per triangle
    std::vector<float> centre;         // 3 per triangle: lo + hi (twice the centre)
    std::vector<std::uint32_t>& order;
};

struct Range {
    std::uint32_t first, count;
};

// The bins of a range's triangles on each axis: the box and the number of the triangles whose centres
// fall in each bin.
struct Binned {
    FloatBox box[3][Bins];
    std::uint32_t count[3][Bins];

    void clear() {
        for (int a = 0; a < 3; ++a)
            for (int k = 0; k < Bins; ++k) {
                box[a][k] = emptyBox();
                count[a][k] = 0;
            }
    }
    void add(const Binned& o) {
        for (int a = 0; a < 3; ++a)
            for (int k = 0; k < Bins; ++k) {
                grow(box[a][k], o.box[a][k]);
                count[a][k] += o.count[a][k];
            }
    }
};

// Ranges at least this big have their centres bounded and binned a piece at a time on all workers, the
// pieces joined by minimum, maximum and sum, which give the same bins in any order.
constexpr std::uint32_t SharedPassSize = 1u << 17;
constexpr std::uint32_t PieceSize = 1u << 15;

// Runs body(k) for every k < count, on the workers when there are any.
void forEach(std::size_t count, const HierarchyWorkers* workers, const std::function<void(std::size_t)>& body) {
    const int threads = workers && workers->run ? std::max(1, workers->count) : 1;
    if (threads <= 1 || count <= 1) {
        for (std::size_t k = 0; k < count; ++k) body(k);
        return;
    }
    std::atomic<std::size_t> next{0};
    workers->run([&](int) {
        for (std::size_t k; (k = next.fetch_add(1)) < count;) body(k);
    });
}

// Runs body(from, to) over the pieces of [0, count), on the workers when there are any (else in order).
void overPieces(std::uint32_t count, const HierarchyWorkers* workers,
                const std::function<void(std::size_t, std::uint32_t, std::uint32_t)>& body) {
    const std::size_t pieces = (count + PieceSize - 1) / PieceSize;
    forEach(pieces, workers, [&](std::size_t k) {
        const auto from = static_cast<std::uint32_t>(k * PieceSize);
        body(k, from, std::min(count, from + PieceSize));
    });
}

// The split of a range: where order[first .. first + count) is partitioned, or count / 2 by count.
// Returns the number of triangles on the left; the range is partitioned in place. `workers` share the
// passes over a big range (null: this thread alone); the split is the same either way.
std::uint32_t splitRange(BuildData& d, const Range& r, int depth, const HierarchyWorkers* workers = nullptr) {
    std::uint32_t* ids = d.order.data() + r.first;
    const bool shared = workers && r.count >= SharedPassSize;
    float clo[3], chi[3];
    for (int a = 0; a < 3; ++a) {
        clo[a] = std::numeric_limits<float>::infinity();
        chi[a] = -std::numeric_limits<float>::infinity();
    }
    auto bound = [&](std::uint32_t from, std::uint32_t to, float* lo, float* hi) {
        for (std::uint32_t i = from; i < to; ++i) {
            const float* c = &d.centre[3 * std::size_t{ids[i]}];
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], c[a]);
                hi[a] = std::max(hi[a], c[a]);
            }
        }
    };
    if (shared) {
        const std::size_t pieces = (r.count + PieceSize - 1) / PieceSize;
        std::vector<FloatBox> bounds(pieces, emptyBox());
        overPieces(r.count, workers, [&](std::size_t k, std::uint32_t from, std::uint32_t to) {
            bound(from, to, bounds[k].lo, bounds[k].hi);
        });
        for (const FloatBox& b : bounds)
            for (int a = 0; a < 3; ++a) {
                clo[a] = std::min(clo[a], b.lo[a]);
                chi[a] = std::max(chi[a], b.hi[a]);
            }
    } else {
        bound(0, r.count, clo, chi);
    }
    int bestAxis = -1, bestBin = 0;
    if (depth < CostDepthLimit) {
        // One pass over the range bins every triangle on all three axes.
        float scale[3];
        bool usable[3];
        for (int a = 0; a < 3; ++a) {
            const float extent = chi[a] - clo[a];
            usable[a] = extent > 0 && std::isfinite(extent);
            scale[a] = usable[a] ? Bins / extent : 0.0f;
        }
        auto binPiece = [&](std::uint32_t from, std::uint32_t to, Binned& bins) {
            bins.clear();
            for (std::uint32_t i = from; i < to; ++i) {
                const std::uint32_t t = ids[i];
                const float* c = &d.centre[3 * std::size_t{t}];
                const FloatBox& box = d.boxes[t];
                for (int a = 0; a < 3; ++a) {
                    const int bin = std::min(Bins - 1, static_cast<int>((c[a] - clo[a]) * scale[a]));
                    ++bins.count[a][bin];
                    grow(bins.box[a][bin], box);
                }
            }
        };
        Binned bins;
        if (shared) {
            std::vector<Binned> pieces((r.count + PieceSize - 1) / PieceSize);
            overPieces(r.count, workers, [&](std::size_t k, std::uint32_t from, std::uint32_t to) {
                binPiece(from, to, pieces[k]);
            });
            bins.clear();
            for (const Binned& piece : pieces) bins.add(piece);
        } else {
            binPiece(0, r.count, bins);
        }
        auto& binBox = bins.box;
        auto& binCount = bins.count;
        float bestCost = std::numeric_limits<float>::infinity();
        for (int a = 0; a < 3; ++a) {
            if (!usable[a]) continue;
            // Cost of each split after bin k: left bins 0..k, right k+1..Bins-1.
            float rightArea[Bins];
            std::uint32_t rightCount[Bins];
            FloatBox acc = emptyBox();
            std::uint32_t n = 0;
            for (int k = Bins - 1; k > 0; --k) {
                grow(acc, binBox[a][k]);
                n += binCount[a][k];
                rightArea[k] = halfArea(acc);
                rightCount[k] = n;
            }
            acc = emptyBox();
            n = 0;
            for (int k = 0; k < Bins - 1; ++k) {
                grow(acc, binBox[a][k]);
                n += binCount[a][k];
                if (n == 0 || rightCount[k + 1] == 0) continue;
                const float cost = halfArea(acc) * static_cast<float>(n) +
                                   rightArea[k + 1] * static_cast<float>(rightCount[k + 1]);
                if (cost < bestCost) {
                    bestCost = cost;
                    bestAxis = a;
                    bestBin = k;
                }
            }
        }
    }
    if (bestAxis < 0) return r.count / 2;  // centres that cannot be told apart, or too deep: by count
    const float extent = chi[bestAxis] - clo[bestAxis], scale = Bins / extent;
    const float base = clo[bestAxis];
    std::uint32_t* middle = std::partition(ids, ids + r.count, [&](std::uint32_t t) {
        const int bin = std::min(Bins - 1, static_cast<int>((d.centre[3 * std::size_t{t} + bestAxis] - base) * scale));
        return bin <= bestBin;
    });
    const auto left = static_cast<std::uint32_t>(middle - ids);
    if (left == 0 || left == r.count) return r.count / 2;
    return left;
}

FloatBox rangeBox(const BuildData& d, const Range& r, const HierarchyWorkers* workers = nullptr) {
    FloatBox b = emptyBox();
    if (workers && r.count >= SharedPassSize) {
        std::vector<FloatBox> pieces((r.count + PieceSize - 1) / PieceSize, emptyBox());
        overPieces(r.count, workers, [&](std::size_t k, std::uint32_t from, std::uint32_t to) {
            for (std::uint32_t i = from; i < to; ++i) grow(pieces[k], d.boxes[d.order[r.first + i]]);
        });
        for (const FloatBox& piece : pieces) grow(b, piece);
        return b;
    }
    for (std::uint32_t i = 0; i < r.count; ++i) grow(b, d.boxes[d.order[r.first + i]]);
    return b;
}

void setBox(MeshTreeNode& node, const FloatBox& b) {
    for (int a = 0; a < 3; ++a) {
        node.lo[a] = b.lo[a];
        node.hi[a] = b.hi[a];
    }
}

// A range left for a subtree of its own: the node it replaces and its depth there.
struct Pending {
    Range range;
    std::uint32_t node;
    int depth;
};

// Builds the subtree of `range` into `nodes` with its root at nodes[root] (already allocated), the root
// at `depth`. Returns the depth of the deepest node made.
template <class Nodes>
int buildInto(BuildData& d, Nodes& nodes, std::uint32_t root, Range range, int depth) {
    struct Work {
        std::uint32_t node;
        Range range;
        int depth;
    };
    std::vector<Work> stack{{root, range, depth}};
    int deepest = depth;
    while (!stack.empty()) {
        const Work w = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, w.depth);
        setBox(nodes[w.node], rangeBox(d, w.range));
        if (w.range.count <= LeafSize) {
            nodes[w.node].first = w.range.first;
            nodes[w.node].count = w.range.count;
            continue;
        }
        const std::uint32_t left = splitRange(d, w.range, w.depth);
        const auto children = static_cast<std::uint32_t>(nodes.size());
        try {
            nodes.resize(nodes.size() + 2);
            // The right child is pushed first so that the left one is built first.
            stack.push_back({children + 1, {w.range.first + left, w.range.count - left}, w.depth + 1});
            stack.push_back({children, {w.range.first, left}, w.depth + 1});
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate Slabs");
        }
        nodes[w.node].first = children;
        nodes[w.node].count = 0;
    }
    return deepest;
}

// The top of the tree, a level at a time: the ranges of one level are boxed and split at once (each
// partitions only its own slice), then their children are numbered in range order. Ranges below
// SubtreeSize are left pending. Returns the depth of the deepest node made.
template <class Nodes>
int buildTop(BuildData& d, Nodes& nodes, std::uint32_t n, const HierarchyWorkers* workers,
             std::vector<Pending>& pending) {
    struct Work {
        std::uint32_t node;
        Range range;
        int depth;
    };
    std::vector<Work> level{{0, {0, n}, 1}}, next;
    std::vector<std::uint32_t> lefts;
    int deepest = 1;
    while (!level.empty()) {
        ensureSize(lefts, level.size());
        const int threads = workers && workers->run ? workers->count : 1;
        if (threads > 1 && level.size() < 2 * static_cast<std::size_t>(threads)) {
            // Too few ranges to keep every worker busy (the first levels, whose ranges may differ in
            // size): each range's passes are shared instead.
            for (std::size_t k = 0; k < level.size(); ++k) {
                const Work& w = level[k];
                setBox(nodes[w.node], rangeBox(d, w.range, workers));
                if (w.range.count > LeafSize && w.range.count >= SubtreeSize)
                    lefts[k] = splitRange(d, w.range, w.depth, workers);
            }
        } else {
            forEach(level.size(), workers, [&](std::size_t k) {
                const Work& w = level[k];
                setBox(nodes[w.node], rangeBox(d, w.range));
                if (w.range.count > LeafSize && w.range.count >= SubtreeSize) lefts[k] = splitRange(d, w.range, w.depth);
            });
        }
        next.clear();
        for (std::size_t k = 0; k < level.size(); ++k) {
            const Work& w = level[k];
            deepest = std::max(deepest, w.depth);
            if (w.range.count <= LeafSize) {
                nodes[w.node].first = w.range.first;
                nodes[w.node].count = w.range.count;
                continue;
            }
            try {
                if (w.range.count < SubtreeSize) {
                    pending.push_back({w.range, w.node, w.depth});
                    continue;
                }
                const auto children = static_cast<std::uint32_t>(nodes.size());
                nodes.resize(nodes.size() + 2);
                nodes[w.node].first = children;
                nodes[w.node].count = 0;
                const std::uint32_t left = lefts[k];
                next.push_back({children, {w.range.first, left}, w.depth + 1});
                next.push_back({children + 1, {w.range.first + left, w.range.count - left}, w.depth + 1});
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate Slabs");
            }
        }
        level.swap(next);
    }
    return deepest;
}

}  // namespace

MeshTree buildMeshTree(std::size_t n, const std::function<Box(std::size_t)>& boxOf,
                       const HierarchyWorkers* workers) {
    MeshTree tree;
    if (n == 0) return tree;
    if (n > std::numeric_limits<std::uint32_t>::max() / 2) fatal("Failed to allocate Slabs");
    BuildData d{{}, {}, tree.order};
    ensureSize(d.boxes, n);
    ensureSize(d.centre, 3 * n);
    ensureSize(tree.order, n);
    constexpr std::size_t Chunk = 16384;
    forEach((n + Chunk - 1) / Chunk, workers, [&](std::size_t c) {
        for (std::size_t i = c * Chunk; i < std::min(n, (c + 1) * Chunk); ++i) {
            const Box box = boxOf(i);
            d.boxes[i] = floatBox(box);
            for (int a = 0; a < 3; ++a) {
                // Twice the centre, from the double box so that the float rounding does not merge centres.
                float centre = static_cast<float>(2.0 * box.min[a] + box.size[a]);
                d.centre[3 * i + a] = std::isfinite(centre) ? centre : 0.0f;
            }
            tree.order[i] = static_cast<std::uint32_t>(i);
        }
    });
    // The top a level at a time; then every range left pending becomes a subtree of its own, joined
    // after the top in range order: the same nodes for any number of workers.
    ensureSize(tree.nodes, 2);
    std::vector<Pending> pending;
    tree.depth = buildTop(d, tree.nodes, static_cast<std::uint32_t>(n), workers, pending);
    std::vector<std::vector<MeshTreeNode>> subtrees(pending.size());
    std::vector<int> depths(pending.size(), 0);
    forEach(pending.size(), workers, [&](std::size_t k) {
        ensureSize(subtrees[k], 2);
        depths[k] = buildInto(d, subtrees[k], 0, pending[k].range, pending[k].depth);
    });
    std::size_t total = tree.nodes.size();
    for (const auto& sub : subtrees) total += sub.size() - 2;
    try {
        tree.nodes.reserve(total);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Slabs");
    }
    // A subtree's root takes the place of its marked node; the rest (after its unused second node)
    // follow the nodes so far, their pairs still at even indices.
    for (std::size_t k = 0; k < pending.size(); ++k) {
        const std::vector<MeshTreeNode>& sub = subtrees[k];
        const auto offset = static_cast<std::uint32_t>(tree.nodes.size()) - 2;
        auto moved = [offset](MeshTreeNode node) {
            if (node.count == 0) node.first += offset;
            return node;
        };
        tree.nodes[pending[k].node] = moved(sub[0]);
        for (std::size_t i = 2; i < sub.size(); ++i) tree.nodes.push_back(moved(sub[i]));
        tree.depth = std::max(tree.depth, depths[k]);
        std::vector<MeshTreeNode>().swap(subtrees[k]);
    }
    return tree;
}

}  // namespace quorva
