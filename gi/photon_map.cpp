// Photon map storage, kd balancing, k-nearest gathering and the automatic gather radius.
#include "gi/photon_map.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "diagnostics/diagnostics.h"
#include "render/render_workers.h"
#include "trace/random.h"

namespace quorva {

PhotonMap::PhotonMap() {
    blocks_.reserve(100);
}

void PhotonMap::clear() {
    blocks_.clear();
    points_.clear();
    count_ = 0;
    scale_ = 0;
    doubledRadius = 0;
}

void PhotonMap::append(const Photon& p) {
    if (count_ / BlockSize >= static_cast<int>(blocks_.size())) {
        if (blocks_.size() == blocks_.capacity()) blocks_.reserve(blocks_.capacity() * 2);
        blocks_.push_back(std::make_unique<Photon[]>(BlockSize));
    }
    at(count_++) = p;
    const int axis = p.splitAxis() > 2 ? 0 : p.splitAxis();
    points_.push_back({{p.position[0], p.position[1], p.position[2]}, static_cast<std::uint32_t>(axis), 0});
}

void PhotonMap::index() {
    points_.resize(count_);
    for (int i = 0; i < count_; ++i) {
        const Photon& p = (*this)[i];
        const int axis = p.splitAxis() > 2 ? 0 : p.splitAxis();
        points_[i] = {{p.position[0], p.position[1], p.position[2]}, static_cast<std::uint32_t>(axis), 0};
    }
}

bool PhotonMap::store(const Color& power, const Vec3& position, const Vec3& previous) {
    const double largest = power.maxChannel();
    if (!(largest > 0) || !std::isfinite(largest) || count_ >= MaxPhotons) return false;
    if (scale_ == 0) scale_ = 2 / largest;
    if (largest * scale_ > 256) {
        // Too strong for the bytes: the scale drops by a power of two, leaving this photon room to be
        // outgrown four times before the next rescale.
        double factor = 1;
        while (largest * scale_ / factor > 64) factor *= 2;
        scale_ /= factor;
        for (int i = 0; i < count_; ++i) rescalePhotonPower(at(static_cast<std::uint32_t>(i)), factor);
    }
    Photon p;
    encodePhoton(p, power, scale_, position, previous);
    append(p);
    return true;
}

// Quickselect with median-of-three pivots: afterwards photon k holds the value of rank k along `axis`,
// with nothing larger before it and nothing smaller after it.
void PhotonMap::select(int lo, int hi, int k, int axis) {
    auto key = [&](int i) { return (*this)[i].position[axis]; };
    auto swapAt = [&](int a, int b) { std::swap(at(a), at(b)); };
    while (hi > lo) {
        int m = lo + (hi - lo) / 2;
        if (key(m) < key(lo)) swapAt(m, lo);
        if (key(hi) < key(lo)) swapAt(hi, lo);
        if (key(hi) < key(m)) swapAt(hi, m);
        const double pivot = key(m);
        int i = lo, j = hi;
        while (i <= j) {
            while (key(i) < pivot) ++i;
            while (key(j) > pivot) --j;
            if (i <= j) swapAt(i++, j--);
        }
        if (k <= j)
            hi = j;
        else if (k >= i)
            lo = i;
        else
            return;
    }
}

void PhotonMap::balanceRange(int lo, int hi, bool spinner, int& spin, int depth,
                             std::vector<Range>* deferred) {
    if (lo > hi) return;
    if (deferred && depth == 0) {
        deferred->push_back({lo, hi});
        return;
    }
    if (lo == hi) {
        at(lo).axis = 0;
        return;
    }
    if (spinner && hi - lo > 100) {
        static const char spinChars[] = "-\\|/-\\|/";
        progressMessage("%c\b", spinChars[spin++ & 7]);
    }
    Vec3 lowest = (*this)[lo].point(), highest = lowest;
    for (int i = lo + 1; i <= hi; ++i) {
        const Vec3 p = (*this)[i].point();
        lowest = {std::min(lowest.x, p.x), std::min(lowest.y, p.y), std::min(lowest.z, p.z)};
        highest = {std::max(highest.x, p.x), std::max(highest.y, p.y), std::max(highest.z, p.z)};
    }
    const Vec3 extent = highest - lowest;
    int axis = 0;
    if (extent.y > extent.x) axis = 1;
    if (extent.z > extent[axis]) axis = 2;
    const int mid = (lo + hi) / 2;
    select(lo, hi, mid, axis);
    at(mid).axis = static_cast<std::uint8_t>(axis);
    balanceRange(lo, mid - 1, spinner, spin, depth - 1, deferred);
    balanceRange(mid + 1, hi, spinner, spin, depth - 1, deferred);
}

void PhotonMap::balance(bool spinner, RenderWorkers* workers) {
    int spin = 0;
    // Below this many photons the pool costs more than it saves.
    constexpr int ParallelFrom = 4 * BlockSize;
    if (!workers || workers->count() < 2 || count_ < ParallelFrom) {
        balanceRange(0, count_ - 1, spinner, spin);
        index();
        return;
    }
    // The subtrees of one level are disjoint ranges: split until there are about eight per worker.
    int depth = 0;
    while ((1 << depth) < 8 * workers->count() && depth < 20) ++depth;
    std::vector<Range> ranges;
    balanceRange(0, count_ - 1, spinner, spin, depth, &ranges);
    std::atomic<std::size_t> next{0};
    workers->run([&](int) {
        for (std::size_t i; (i = next.fetch_add(1)) < ranges.size();) {
            int ownSpin = 0;
            balanceRange(ranges[i].lo, ranges[i].hi, false, ownSpin);
        }
    });
    index();
}

// Visits the tree as a recursive descent would, without recursion: ranges of fewer than nine photons
// are scanned in index order; a larger range goes to the side of its split holding the point first,
// then considers its middle photon, then the far side while the split plane lies within the bound
// (the bound shrinks meanwhile, so the plane test waits until the near side is done).
template <bool WithNormal>
void PhotonMap::search(const Vec3& point, const Vec3& normal, GatherHeap& heap, double& bound) const {
    const KdPoint* pts = points_.data();
    const double P[3] = {point.x, point.y, point.z};
    auto consider = [&](const KdPoint& q, int i) {
        const double dx = q.position[0] - P[0];
        const double dy = q.position[1] - P[1];
        const double dz = q.position[2] - P[2];
        double d2 = dx * dx + dy * dy + dz * dz;
        if constexpr (WithNormal) d2 *= 1 + 16 * std::fabs(normal.x * dx + normal.y * dy + normal.z * dz);
        if (d2 < bound) heap.offer(d2, static_cast<std::uint32_t>(i), bound);
    };
    struct Pending {
        int mid, lo, hi;  // the split photon, then the far range lo..hi
        double plane2;    // squared distance of the point to the split plane
    };
    Pending stack[64];  // each level halves the range: 31 levels at most
    int top = 0;
    int lo = 0, hi = count_ - 1;
    for (;;) {
        while (hi - lo + 1 >= ScanBelow) {
            const int mid = (lo + hi) / 2;
            const KdPoint& s = pts[mid];
            const double delta = P[s.axis] - s.position[s.axis];
            if (delta < 0) {
                stack[top++] = {mid, mid + 1, hi, delta * delta};
                hi = mid - 1;
            } else {
                stack[top++] = {mid, lo, mid - 1, delta * delta};
                lo = mid + 1;
            }
        }
        for (int i = lo; i <= hi; ++i) consider(pts[i], i);
        for (;;) {
            if (top == 0) return;
            const Pending& p = stack[--top];
            consider(pts[p.mid], p.mid);
            if (p.plane2 < bound) {
                lo = p.lo;
                hi = p.hi;
                break;
            }
        }
    }
}

int PhotonMap::gather(GatherHeap& heap, const Vec3& point, double radius, const Vec3* normal,
                      double& foundRadius) const {
    heap.reset(gatherCount, count_);
    double bound = radius * radius;
    if (normal)
        search<true>(point, *normal, heap, bound);
    else
        search<false>(point, point, heap, bound);
    foundRadius = std::sqrt(bound);
    return heap.size();
}

void PhotonMap::estimateRadius(GatherHeap& heap, bool volume) {
    if (count_ == 0) return;
    if (gatherRadius > 0) {
        doubledRadius = 2 * gatherRadius;
        return;
    }
    const int samples = std::clamp(count_ / 20, 100, 1000);
    const double k = gatherCount;
    auto density = [&](int n, double r) {
        return volume ? 3 * n / (4 * M_PI * r * r * r) : n / (M_PI * r * r);
    };
    RandomGenerator random(20011);
    double sum = 0, largestFound = 0;
    int used = 0;
    for (int i = 0; i < samples; ++i) {
        const Photon& p = (*this)[random.next() % static_cast<std::uint32_t>(count_)];
        double r = 0;
        const int n = gather(heap, p.point(), 1e7, nullptr, r);
        largestFound = std::max(largestFound, r);
        if (r > 0 && std::isfinite(r)) {
            sum += density(n, r);
            ++used;
        }
    }
    const double mean = used ? sum / used : 0;
    double r0 = 0;
    if (mean > 0) r0 = volume ? std::pow(3 * k / (4 * M_PI * mean), 0.3333) : std::sqrt(k / (M_PI * mean));
    double r = r0;
    if (r0 > 0 && std::isfinite(r0)) {
        int sparse = 0;
        for (int i = 0; i < samples; ++i) {
            const Photon& p = (*this)[random.next() % static_cast<std::uint32_t>(count_)];
            double found = 0;
            const int n = gather(heap, p.point(), r0, nullptr, found);
            const double rho = found > 0 ? density(n, found) : 0;
            if (rho >= 0.05 * mean && rho <= 0.7 * mean) ++sparse;
        }
        r = (static_cast<double>(sparse) / samples * 20 + 1) * r0;
    }
    // All photons on one spot (or too few to estimate) give no usable density: fall back to the
    // widest k-th neighbour distance seen while sampling.
    if (!(r > 0) || !std::isfinite(r)) r = largestFound > 0 && largestFound < 1e7 ? largestFound : 1;
    r *= rangeFactor;
    if (volume) r *= 2;
    gatherRadius = r;
    doubledRadius = 2 * r;
}

}  // namespace quorva
