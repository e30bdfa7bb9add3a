// A photon map: photons in fixed blocks (growth never moves a stored photon), balanced in place into an
// implicit kd-tree (the median of every range at its middle index, the split axis in the photon), and
// the k-nearest gather over it. Beside the blocks the map keeps a compact copy of the positions and
// split axes in the same order (not part of the file), which the gather walks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gi/photon.h"
#include "trace/photon_gather.h"

namespace quorva {

class RenderWorkers;

class PhotonMap {
  public:
    static constexpr int BlockSize = 16384;
    // A map holds at most this many photons (4 GB of them); later photons are not stored, so counts
    // and indices stay within 32 bits whatever the scene asks for.
    static constexpr int MaxPhotons = 1 << 27;

    PhotonMap();

    int count() const { return count_; }
    double scale() const { return scale_; }  // S; 0 until the first photon
    const Photon& operator[](std::uint32_t i) const { return blocks_[i / BlockSize][i % BlockSize]; }

    // Stores a photon of `power` at `position` coming from `previous`. A photon with no positive channel
    // is not stored, nor one beyond MaxPhotons. Returns false when not stored. S is set by the first
    // photon (its largest channel times S is 2); a photon too strong for the bytes at the current S
    // divides S by a power of two, and the stored photons are re-expressed for the new S, so that no
    // photon loses its power to the clamp (the weakest lose precision instead).
    bool store(const Color& power, const Vec3& position, const Vec3& previous);
    // Appends an already encoded photon (loading); S is set by the caller.
    void append(const Photon& p);
    void setScale(double S) { scale_ = S; }
    void clear();

    // Builds the kd-tree in place. `spinner` advances the console spinner on large ranges. With a pool
    // the top levels are split here and the subtrees below them balanced on the workers: the tree is
    // the same.
    void balance(bool spinner = false, RenderWorkers* workers = nullptr);

    // The k nearest photons to `point` within `radius` (k = gatherCount; the heap's storage never
    // exceeds the map's photons, so a huge k allocates nothing): returns their number
    // and sets `foundRadius` to the bound reached. With a normal, distances along it weigh 17 times more.
    int gather(GatherHeap& heap, const Vec3& point, double radius, const Vec3* normal,
               double& foundRadius) const;

    // Automatic gather radius (two sampling passes from a fixed seed), times the range factor.
    void estimateRadius(GatherHeap& heap, bool volume);

    double gatherRadius = -1;  // <= 0: automatic
    double rangeFactor = 0.25;
    double doubledRadius = 0;
    int gatherCount = 50;

  private:
    // Ranges of fewer photons than this are scanned rather than split further when gathering.
    static constexpr int ScanBelow = 16;
    // Position and usable split axis of photon i, kept in step with the blocks by append and balance.
    struct KdPoint {
        double position[3];
        std::uint32_t axis;
        std::uint32_t unused;
    };
    static_assert(sizeof(KdPoint) == 32);

    Photon& at(std::uint32_t i) { return blocks_[i / BlockSize][i % BlockSize]; }
    void index();
    template <bool WithNormal>
    void search(const Vec3& point, const Vec3& normal, GatherHeap& heap, double& bound) const;
    struct Range {
        int lo, hi;
    };
    // Balances lo..hi; `depth` levels below, the ranges go to `deferred` instead when it is given.
    void balanceRange(int lo, int hi, bool spinner, int& spin, int depth = -1,
                      std::vector<Range>* deferred = nullptr);
    void select(int lo, int hi, int k, int axis);

    std::vector<std::unique_ptr<Photon[]>> blocks_;  // the block table: starts with 100 entries, doubles
    std::vector<KdPoint> points_;
    int count_ = 0;
    double scale_ = 0;
};

}  // namespace quorva
