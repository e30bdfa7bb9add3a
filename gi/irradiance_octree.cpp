// Cells of the loose octree, the rule that picks a record's cell, and growing the tree.
#include "gi/irradiance_octree.h"

#include <cmath>
#include <cstring>

namespace quorva {
namespace {

// The cell coordinate of `value` for cells of `size`. A cube too large for any cell (a huge error bound
// or radius) saturates instead of overflowing the conversion; the record then lies in the coarsest cells.
std::int64_t floorDiv(double value, double size) {
    constexpr double Limit = 4611686018427387904.0;  // 2^62
    const double cell = std::floor(value / size);
    if (!(cell > -Limit)) return static_cast<std::int64_t>(-Limit);
    if (cell > Limit) return static_cast<std::int64_t>(Limit);
    return static_cast<std::int64_t>(cell);
}

bool isAncestorOrSelf(const OctreeCell& a, const OctreeCell& c) {
    if (a.level < c.level) return false;
    const int shift = a.level - c.level;
    if (shift > 62) return false;
    return (c.ix >> shift) == a.ix && (c.iy >> shift) == a.iy && (c.iz >> shift) == a.iz;
}

}  // namespace

double OctreeCell::size() const {
    // 2^(level - 127) built from its exponent bits (every level 0..255 is a normal double).
    const std::uint64_t bits = static_cast<std::uint64_t>(level - 127 + 1023) << 52;
    double S;
    std::memcpy(&S, &bits, sizeof S);
    return S;
}

void OctreeCell::looseBox(Vec3& lo, Vec3& hi) const {
    const double S = size();
    const Vec3 start{ix * S - CellOffset, iy * S - CellOffset, iz * S - CellOffset};
    lo = start - Vec3{S / 2, S / 2, S / 2};
    hi = start + Vec3{1.5 * S, 1.5 * S, 1.5 * S};
}

bool OctreeCell::contains(const Vec3& lo, const Vec3& hi) const {
    Vec3 boxLo, boxHi;
    looseBox(boxLo, boxHi);
    for (int k = 0; k < 3; ++k)
        if (lo[k] < boxLo[k] || hi[k] > boxHi[k]) return false;
    return true;
}

OctreeCell OctreeCell::parent() const {
    return {ix >> 1, iy >> 1, iz >> 1, level + 1};
}

OctreeCell cellForCube(const Vec3& lo, const Vec3& hi) {
    double extent = 0, largest = 0;
    for (int k = 0; k < 3; ++k) {
        extent = std::fmax(extent, hi[k] - lo[k]);
        largest = std::fmax(largest, std::fmax(std::fabs(lo[k]), std::fabs(hi[k])));
    }
    // The power of two at or below the extent; an empty or broken cube starts from the smallest size the
    // coordinate range allows (the loop below raises it).
    int exponent = -126;
    if (extent > 0 && std::isfinite(extent)) {
        std::frexp(extent, &exponent);
        exponent -= 1;
        if (exponent < -126) exponent = -126;
        if (exponent > 127) exponent = 127;
    }
    while (exponent < 127 && (largest + CellOffset) / std::ldexp(1.0, exponent) > 1e9) ++exponent;
    OctreeCell base;
    base.level = exponent + 127;
    const double S = base.size();
    base.ix = floorDiv(lo.x + CellOffset, S);
    base.iy = floorDiv(lo.y + CellOffset, S);
    base.iz = floorDiv(lo.z + CellOffset, S);
    for (OctreeCell start = base; start.level < 255; start = start.parent()) {
        for (int c = 0; c < 8; ++c) {
            OctreeCell cell{start.ix + ((c >> 2) & 1), start.iy + ((c >> 1) & 1), start.iz + (c & 1),
                            start.level};
            if (cell.contains(lo, hi)) return cell;
        }
    }
    return base;  // unreachable for finite cubes: the coarsest cell holds every coordinate in range
}

std::unique_ptr<IrradianceOctree::Node> IrradianceOctree::makeNode(const OctreeCell& cell) {
    auto node = std::make_unique<Node>();
    node->cell = cell;
    cell.looseBox(node->lo, node->hi);
    if (cell.level > 0) {
        Vec3 lo, hi;
        OctreeCell{2 * cell.ix + 1, 2 * cell.iy + 1, 2 * cell.iz + 1, cell.level - 1}.looseBox(
            node->upperStart, hi);
        OctreeCell{2 * cell.ix, 2 * cell.iy, 2 * cell.iz, cell.level - 1}.looseBox(lo, node->lowerEnd);
    }
    node->first = {INFINITY, INFINITY, INFINITY};
    node->last = {-INFINITY, -INFINITY, -INFINITY};
    return node;
}

void IrradianceOctree::relink(Node& node) {
    for (unsigned m = node.childMask; m; m &= m - 1) {
        const int i = std::countr_zero(m);
        const Node& entry = *node.children[i]->skip;
        node.entry[i] = &entry;
        node.entryBounds[i] = {entry.lo, entry.hi, entry.first, entry.last, entry.maxRadius};
    }
    node.skip = &node;
    if (!node.record.empty() || std::popcount(node.childMask) != 1) return;
    const Node& child = *node.children[std::countr_zero(node.childMask)];
    for (int k = 0; k < 3; ++k)
        if (child.lo[k] < node.lo[k] || child.hi[k] > node.hi[k]) return;
    node.skip = child.skip;
}

void IrradianceOctree::growTo(LevelTree& tree, const OctreeCell& rootCell) {
    while (tree.root->cell.level < rootCell.level) {
        std::unique_ptr<Node> grown = makeNode(tree.root->cell.parent());
        grown->first = tree.root->first;
        grown->last = tree.root->last;
        grown->maxRadius = tree.root->maxRadius;
        const int index = tree.root->cell.childIndex();
        grown->childMask = 1u << index;
        grown->children[index] = std::move(tree.root);
        relink(*grown);
        tree.root = std::move(grown);
    }
}

void IrradianceOctree::insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell, RecordKey key) {
    // Grow the common root until the new cell lies inside it, and every level's root with it.
    if (!hasRoot_) {
        rootCell_ = cell;
        hasRoot_ = true;
    }
    const int before = rootCell_.level;
    while (!isAncestorOrSelf(rootCell_, cell) && rootCell_.level < 254) rootCell_ = rootCell_.parent();
    if (rootCell_.level != before)
        for (LevelTree& tree : trees_) growTo(tree, rootCell_);
    LevelTree* tree = nullptr;
    for (LevelTree& t : trees_)
        if (t.level == record->level) tree = &t;
    if (!tree) {
        tree = &trees_.emplace_back();
        tree->level = record->level;
        tree->root = makeNode(rootCell_);
    }

    // Down to the record's cell (or, past the coarsest level, the root), widening every bound on the way.
    auto widen = [&record](Node& n) {
        for (int k = 0; k < 3; ++k) {
            n.first[k] = std::fmin(n.first[k], record->position[k]);
            n.last[k] = std::fmax(n.last[k], record->position[k]);
        }
        n.maxRadius = std::fmax(n.maxRadius, static_cast<double>(record->radius));
    };
    Node* path[256];  // root to the record's node, at most one node per level
    int depth = 0;
    Node* node = tree->root.get();
    path[depth++] = node;
    widen(*node);
    if (isAncestorOrSelf(node->cell, cell)) {
        for (int level = node->cell.level - 1; level >= cell.level; --level) {
            const int shift = level - cell.level;
            OctreeCell step{cell.ix >> shift, cell.iy >> shift, cell.iz >> shift, level};
            const int index = step.childIndex();
            std::unique_ptr<Node>& child = node->children[index];
            if (!child) {
                child = makeNode(step);
                node->childMask |= 1u << index;
            }
            node = child.get();
            path[depth++] = node;
            widen(*node);
        }
    }
    // Mostly the newest record: the search from the end stops at once.
    std::size_t at = node->made.size();
    while (at > 0 && node->made[at - 1] > key) --at;
    const auto place = [at](auto& values, auto value) { values.insert(values.begin() + at, value); };
    place(node->x, record->position.x);
    place(node->y, record->position.y);
    place(node->z, record->position.z);
    place(node->radius, static_cast<double>(record->radius));
    place(node->nx, record->normal.x);
    place(node->ny, record->normal.y);
    place(node->nz, record->normal.z);
    place(node->record, *record);
    place(node->made, key);
    place(node->visible, key);
    ++size_;
    while (depth > 0) relink(*path[--depth]);
}

bool IrradianceOctree::withdraw(const OctreeCell& cell, int level, RecordKey key) {
    const LevelTree* tree = nullptr;
    for (const LevelTree& t : trees_)
        if (t.level == level) tree = &t;
    if (!tree) return false;
    // The record went to its own cell when the root held it, and to the root otherwise.
    Node* node = tree->root.get();
    if (isAncestorOrSelf(node->cell, cell)) {
        for (int l = node->cell.level - 1; l >= cell.level && node; --l) {
            const int shift = l - cell.level;
            const OctreeCell step{cell.ix >> shift, cell.iy >> shift, cell.iz >> shift, l};
            node = node->children[step.childIndex()].get();
        }
    }
    const auto take = [this, key](Node& n) {
        for (std::size_t i = 0; i < n.made.size(); ++i)
            if (n.made[i] == key && n.visible[i] == key) {
                n.visible[i] = EveryRecord;
                ++withdrawn_;
                return true;
            }
        return false;
    };
    if (node && take(*node)) return true;
    // A record kept above its cell (a root that reached the coarsest level, and grew later): search.
    std::vector<Node*> pending{tree->root.get()};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        if (take(*n)) return true;
        for (unsigned m = n->childMask; m; m &= m - 1) pending.push_back(n->children[std::countr_zero(m)].get());
    }
    return false;
}

void IrradianceOctree::clear() {
    hasRoot_ = false;
    trees_.clear();
    size_ = 0;
    withdrawn_ = 0;
}

}  // namespace quorva
