// The traversal's priority queue: a 1-based binary min-heap of (entry distance, node) pairs that lives
// in a local array until it outgrows it, so that a traversal allocates nothing in the common case and
// nested traversals (a shadow ray cast while shading) never share a queue.
#pragma once

#include <cstring>
#include <new>

#include "diagnostics/internal_failure.h"
#include "geometry/intersect_context.h"

namespace quorva {

class Shape;

struct QueueEntry {
    double key;         // distance at which the ray enters the node's box
    const Shape* node;  // a shape or a bounding group
};

class PriorityQueue {
  public:
    // Slot 0 is unused, so the local array holds 127 entries before the queue moves to the heap.
    static constexpr int LocalCapacity = 128;

    explicit PriorityQueue(RenderStatistics& stats) : stats_(stats) {}
    // Adds this queue's pushes and peak size to the statistics.
    ~PriorityQueue() {
        stats_.queuePushes += pushes_;
        if (peak_ > stats_.queuePeak) stats_.queuePeak = peak_;
        if (entries_ != local_) delete[] entries_;
    }
    PriorityQueue(const PriorityQueue&) = delete;
    PriorityQueue& operator=(const PriorityQueue&) = delete;

    bool empty() const { return size_ == 0; }
    int size() const { return size_; }
    int capacity() const { return capacity_; }
    bool onHeap() const { return entries_ != local_; }
    double topKey() const { return entries_[1].key; }

    // Counts the push and the peak size; doubles the storage when the new size reaches the capacity.
    void push(double key, const Shape* node) {
        int n = ++size_;
        // Counted locally; the destructor adds them to the statistics once.
        if (static_cast<std::uint32_t>(n) > peak_) peak_ = static_cast<std::uint32_t>(n);
        ++pushes_;
        if (n >= capacity_) grow(n);
        QueueEntry* q = entries_;
        // Sift up: a parent moves down only when the new key is strictly smaller.
        while (n > 1 && key < q[n / 2].key) {
            q[n] = q[n / 2];
            n /= 2;
        }
        q[n] = {key, node};
    }

    // Removes and returns the entry with the smallest key; the queue must not be empty.
    QueueEntry pop() {
        QueueEntry* q = entries_;
        QueueEntry top = q[1];
        int before = size_;
        q[1] = q[before];
        int size = --size_;
        if (before >= 3) {
            int index = 1;
            int child = 2;
            while (child <= size) {
                // On equal keys the right child is taken.
                if (child < size && q[child].key >= q[child + 1].key) ++child;
                if (!(q[index].key > q[child].key)) break;
                QueueEntry t = q[index];
                q[index] = q[child];
                q[child] = t;
                index = child;
                child = 2 * index;
            }
        }
        return top;
    }

  private:
    void grow(int n) {
        auto* bigger = new (std::nothrow) QueueEntry[2 * static_cast<std::size_t>(n)];
        if (!bigger) internalFailure(InternalFailure::PriorityQueueSpace, "Out of priority queue space");
        std::memcpy(bigger, entries_, sizeof(QueueEntry) * static_cast<std::size_t>(n));
        if (entries_ != local_) delete[] entries_;
        entries_ = bigger;
        capacity_ = 2 * n;
    }

    RenderStatistics& stats_;
    QueueEntry* entries_ = local_;
    int size_ = 0;
    int capacity_ = LocalCapacity;
    std::uint32_t pushes_ = 0;
    std::uint32_t peak_ = 0;
    QueueEntry local_[LocalCapacity];  // deliberately left uninitialised
};

}  // namespace quorva
