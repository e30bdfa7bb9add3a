// Cells of the loose octree, the rule that picks a record's cell, and growing the tree.
#include "gi/irradiance_octree.h"

#include <cmath>

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
    return std::ldexp(1.0, level - 127);
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

void IrradianceOctree::insert(std::unique_ptr<IrradianceRecord> record, const OctreeCell& cell) {
    if (!root_) {
        root_ = std::make_unique<Node>();
        root_->cell = cell;
    }
    // Grow the root until the new cell lies inside it.
    while (!isAncestorOrSelf(root_->cell, cell) && root_->cell.level < 254) {
        auto grown = std::make_unique<Node>();
        grown->cell = root_->cell.parent();
        const int index = root_->cell.childIndex();
        grown->children[index] = std::move(root_);
        root_ = std::move(grown);
    }
    Node* node = root_.get();
    if (isAncestorOrSelf(node->cell, cell)) {
        for (int level = node->cell.level - 1; level >= cell.level; --level) {
            const int shift = level - cell.level;
            OctreeCell step{cell.ix >> shift, cell.iy >> shift, cell.iz >> shift, level};
            std::unique_ptr<Node>& child = node->children[step.childIndex()];
            if (!child) {
                child = std::make_unique<Node>();
                child->cell = step;
            }
            node = child.get();
        }
    }
    record->next = node->records;
    node->records = record.get();
    records_.push_back(std::move(record));
}

void IrradianceOctree::clear() {
    root_.reset();
    records_.clear();
}

}  // namespace quorva
