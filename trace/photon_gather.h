// The k-nearest heap a photon gather fills: a max-heap keyed by squared distance. Each render context
// owns one, so that gathering while pixels render touches no shared state.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quorva {

struct GatheredPhoton {
    double distance2;  // squared distance (weighted by the normal when one was given)
    std::uint32_t index;
};

class GatherHeap {
  public:
    // Empties the heap and sets its capacity. The storage grows to at most `storage` items at once (a
    // gather can find no more photons than its map holds, however large the capacity) and only the
    // first time a size is seen.
    void reset(int capacity, int storage) {
        capacity_ = capacity < 1 ? 1 : capacity;
        const int wanted = std::max(1, std::min(capacity_, storage));
        if (static_cast<int>(items_.size()) < wanted) items_.resize(wanted);
        size_ = 0;
    }
    void reset(int capacity) { reset(capacity, capacity); }
    bool full() const { return size_ >= capacity_; }
    int size() const { return size_; }
    double largest() const { return items_.front().distance2; }
    const GatheredPhoton& operator[](int i) const { return items_[i]; }

    // Sifts the new item up from the end (moving parents down into the hole instead of swapping).
    void push(double d2, std::uint32_t index) {
        if (size_ == static_cast<int>(items_.size())) items_.emplace_back();  // pushed beyond the capacity
        GatheredPhoton* h = items_.data();
        int i = size_++;
        while (i > 0) {
            const int parent = (i - 1) / 2;
            if (h[parent].distance2 >= d2) break;
            h[i] = h[parent];
            i = parent;
        }
        h[i] = {d2, index};
    }
    // Removes the largest item: the last one takes its place.
    void popLargest() {
        if (size_ == 0) return;
        --size_;
        if (size_ > 0) siftDown(items_[size_]);
    }
    // A candidate below `bound`: takes the largest item's place when full (one sift instead of a
    // removal and an insertion), and tightens `bound` to the largest key once the heap is full.
    void offer(double d2, std::uint32_t index, double& bound) {
        if (size_ >= capacity_)
            siftDown({d2, index});
        else
            push(d2, index);
        if (size_ >= capacity_) bound = items_.front().distance2;
    }

  private:
    // Puts `item` at the root and moves it down below every larger child.
    void siftDown(GatheredPhoton item) {
        GatheredPhoton* h = items_.data();
        const int n = size_;
        int i = 0;
        for (;;) {
            int child = 2 * i + 1;
            if (child >= n) break;
            if (child + 1 < n && h[child + 1].distance2 > h[child].distance2) ++child;
            if (!(h[child].distance2 > item.distance2)) break;
            h[i] = h[child];
            i = child;
        }
        h[i] = item;
    }

    std::vector<GatheredPhoton> items_;
    int size_ = 0;
    int capacity_ = 1;
};

}  // namespace quorva
