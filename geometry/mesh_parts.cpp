// Indexed flat meshes: the corner table that merges equal corners while a declaration is read.
#include "geometry/mesh_parts.h"

#include <cstring>
#include <limits>
#include <new>

namespace quorva {

namespace {

constexpr std::uint32_t Empty = std::numeric_limits<std::uint32_t>::max();

static_assert(sizeof(MeshCorner) == 8 * sizeof(std::uint64_t), "a corner is eight doubles, no padding");

std::uint64_t hashCorner(const MeshCorner& corner) {
    std::uint64_t words[8];
    std::memcpy(words, &corner, sizeof words);
    std::uint64_t h = 0x9e3779b97f4a7c15ull;
    for (std::uint64_t w : words) {
        h ^= w;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    return h;
}

bool sameCorner(const MeshCorner& a, const MeshCorner& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

std::shared_ptr<const PatchData> MeshParts::sharedPatchData(std::size_t i, PatchDataBlocks& blocks) const {
    std::shared_ptr<PatchData> data = blocks.next();
    patchData(i, *data);
    return data;
}

void MeshCollector::grow() {
    const std::size_t size = slots_.empty() ? 64 : 2 * slots_.size();
    std::vector<std::uint32_t> slots(size, Empty);
    const std::size_t mask = size - 1;
    const std::vector<MeshCorner>& corners = mesh_->corners;
    for (std::uint32_t k = 0; k < corners.size(); ++k) {
        std::size_t s = hashCorner(corners[k]) & mask;
        while (slots[s] != Empty) s = (s + 1) & mask;
        slots[s] = k;
    }
    slots_.swap(slots);
}

std::uint32_t MeshCollector::cornerIndex(const MeshCorner& corner, std::uint64_t hash) {
    std::vector<MeshCorner>& corners = mesh_->corners;
    const std::size_t mask = slots_.size() - 1;
    std::size_t s = hash & mask;
    for (; slots_[s] != Empty; s = (s + 1) & mask)
        if (sameCorner(corners[slots_[s]], corner)) return slots_[s];
    if (corners.size() >= Empty) throw std::bad_alloc();
    const auto k = static_cast<std::uint32_t>(corners.size());
    corners.push_back(corner);
    slots_[s] = k;
    return k;
}

void MeshCollector::add(const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2) {
    if (!mesh_) mesh_ = std::make_shared<MeshParts>();
    // At most half full once the three corners are in.
    if (2 * (mesh_->corners.size() + 3) > slots_.size()) grow();
    const PatchCorner* c[3] = {&c0, &c1, &c2};
    MeshCorner corner[3];
    std::uint64_t hash[3];
    const std::size_t mask = slots_.size() - 1;
    for (int i = 0; i < 3; ++i) {
        corner[i] = *c[i];
        corner[i].u = patchTexcoord(corner[i].u, PatchDefaultU[i]);
        corner[i].v = patchTexcoord(corner[i].v, PatchDefaultV[i]);
        hash[i] = hashCorner(corner[i]);
        // The table is far larger than the caches: the three slots are fetched at once.
        __builtin_prefetch(&slots_[hash[i] & mask]);
    }
    std::uint32_t k[3];
    for (int i = 0; i < 3; ++i) k[i] = cornerIndex(corner[i], hash[i]);
    mesh_->indices.insert(mesh_->indices.end(), k, k + 3);
}

std::shared_ptr<MeshParts> MeshCollector::finish() {
    std::vector<std::uint32_t>().swap(slots_);
    // The storage is kept as it grew: what lies beyond the end was never written, so it takes no
    // memory, while trimming it would copy everything at the moment the reader's input is largest.
    std::shared_ptr<MeshParts> mesh = std::move(mesh_);
    mesh_.reset();
    return mesh;
}

}  // namespace quorva
