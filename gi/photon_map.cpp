// Photon map storage, kd balancing, k-nearest gathering and the automatic gather radius.
#include "gi/photon_map.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "diagnostics/diagnostics.h"
#include "scene/random.h"

namespace quorva {

PhotonMap::PhotonMap() {
    blocks_.reserve(100);
}

void PhotonMap::clear() {
    blocks_.clear();
    count_ = 0;
    scale_ = 0;
    doubledRadius = 0;
}

void PhotonMap::append(const Photon& p) {
    if (count_ / BlockSize >= static_cast<int>(blocks_.size())) {
        if (blocks_.size() == blocks_.capacity()) blocks_.reserve(blocks_.capacity() * 2);
        blocks_.push_back(std::make_unique<Photon[]>(BlockSize));
    }
    (*this)[count_++] = p;
}

bool PhotonMap::store(const Color& power, const Vec3& position, const Vec3& previous) {
    const double largest = power.maxChannel();
    if (!(largest > 0) || !std::isfinite(largest)) return false;
    if (scale_ == 0) scale_ = 2 / largest;
    Photon p;
    encodePhoton(p, power, scale_, position, previous);
    append(p);
    return true;
}

// Quickselect with median-of-three pivots: afterwards photon k holds the value of rank k along `axis`,
// with nothing larger before it and nothing smaller after it.
void PhotonMap::select(int lo, int hi, int k, int axis) {
    auto key = [&](int i) { return (*this)[i].position[axis]; };
    auto swapAt = [&](int a, int b) { std::swap((*this)[a], (*this)[b]); };
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

void PhotonMap::balanceRange(int lo, int hi, bool spinner, int& spin) {
    if (lo > hi) return;
    if (lo == hi) {
        (*this)[lo].axis = 0;
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
    (*this)[mid].axis = static_cast<std::uint8_t>(axis);
    balanceRange(lo, mid - 1, spinner, spin);
    balanceRange(mid + 1, hi, spinner, spin);
}

void PhotonMap::balance(bool spinner) {
    int spin = 0;
    balanceRange(0, count_ - 1, spinner, spin);
}

void PhotonMap::search(int lo, int hi, const Vec3& point, const Vec3* normal, GatherHeap& heap,
                       double& bound) const {
    auto consider = [&](int i) {
        const Photon& p = (*this)[i];
        const Vec3 d = p.point() - point;
        double d2 = dot(d, d);
        if (normal) d2 *= 1 + 16 * std::fabs(dot(*normal, d));
        if (d2 < bound) {
            if (heap.full()) heap.popLargest();
            heap.push(d2, static_cast<std::uint32_t>(i));
            if (heap.full()) bound = heap.largest();
        }
    };
    while (lo <= hi) {
        // Small ranges are scanned: cheaper than descending to their single photons.
        if (hi - lo < 8) {
            for (int i = lo; i <= hi; ++i) consider(i);
            return;
        }
        const int mid = (lo + hi) / 2;
        const Photon& p = (*this)[mid];
        // The near side first, then the photon itself, then the far side while the split plane lies
        // within the bound (the far side continues the loop instead of recursing).
        double delta = 0;
        int farLo = 0, farHi = -1;
        if (lo < hi) {
            const int axis = p.splitAxis() > 2 ? 0 : p.splitAxis();
            delta = point[axis] - p.position[axis];
            if (delta < 0) {
                search(lo, mid - 1, point, normal, heap, bound);
                farLo = mid + 1;
                farHi = hi;
            } else {
                search(mid + 1, hi, point, normal, heap, bound);
                farLo = lo;
                farHi = mid - 1;
            }
        }
        consider(mid);
        if (!(delta * delta < bound)) return;
        lo = farLo;
        hi = farHi;
    }
}

int PhotonMap::gather(GatherHeap& heap, const Vec3& point, double radius, const Vec3* normal,
                      double& foundRadius) const {
    heap.reset(gatherCount);
    double bound = radius * radius;
    search(0, count_ - 1, point, normal, heap, bound);
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
