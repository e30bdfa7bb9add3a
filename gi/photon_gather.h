// The k-nearest heap a photon gather fills: a max-heap keyed by squared distance. Each render context
// owns one, so that gathering while pixels render touches no shared state.
#pragma once

#include <cstdint>
#include <vector>

namespace quorva {

struct GatheredPhoton {
    double distance2;  // squared distance (weighted by the normal when one was given)
    std::uint32_t index;
};

class GatherHeap {
  public:
    // Empties the heap and sets its capacity (grows the storage only the first time a size is seen).
    void reset(int capacity) {
        capacity_ = capacity < 1 ? 1 : capacity;
        if (static_cast<int>(items_.capacity()) < capacity_) items_.reserve(capacity_);
        items_.clear();
    }
    bool full() const { return static_cast<int>(items_.size()) >= capacity_; }
    int size() const { return static_cast<int>(items_.size()); }
    double largest() const { return items_.front().distance2; }
    const GatheredPhoton& operator[](int i) const { return items_[i]; }

    void push(double d2, std::uint32_t index) {
        items_.push_back({d2, index});
        std::size_t i = items_.size() - 1;
        while (i > 0) {
            std::size_t parent = (i - 1) / 2;
            if (items_[parent].distance2 >= items_[i].distance2) break;
            std::swap(items_[parent], items_[i]);
            i = parent;
        }
    }
    void popLargest() {
        items_.front() = items_.back();
        items_.pop_back();
        std::size_t i = 0, n = items_.size();
        for (;;) {
            std::size_t l = 2 * i + 1, r = l + 1, big = i;
            if (l < n && items_[l].distance2 > items_[big].distance2) big = l;
            if (r < n && items_[r].distance2 > items_[big].distance2) big = r;
            if (big == i) break;
            std::swap(items_[big], items_[i]);
            i = big;
        }
    }

  private:
    std::vector<GatheredPhoton> items_;
    int capacity_ = 1;
};

}  // namespace quorva
