// The allocation tracker: every tracked block carries a header linking it into one process-wide
// list, so that the driver can release whatever a scene left behind (release-all at the end of every
// scene and on a fatal error). Six counters record the traffic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace quorva {

struct AllocationCounters {
    std::uint32_t allocations = 0;
    std::uint32_t allocatedBytes = 0;
    std::uint32_t zeroedAllocations = 0;
    std::uint32_t zeroedBytes = 0;
    std::uint32_t releases = 0;
    std::uint32_t releasedBytes = 0;
};

// The header in front of every tracked block.
struct TrackedBlock {
    std::int32_t size;  // bytes requested by the caller (count x size for zeroed blocks)
    std::uint8_t tag;
    TrackedBlock* next;      // newer neighbour
    TrackedBlock* previous;  // older neighbour
};

// A size of 0 warns ("NULL size allocation at %s, line %d") and continues; a failing system
// allocation is the fatal error "Failed memory allocation (size: %ld)".
void* trackedAllocate(std::size_t size, const char* file, int line, std::uint8_t tag);
void* trackedAllocateZeroed(std::size_t count, std::size_t size, const char* file, int line,
                            std::uint8_t tag);
// Releasing null is "(internal failure 0x22) Attempt to deallocate NULL pointer at %s, line %d".
void trackedRelease(const char* file, int line, void* block);
// Returns every tracked block to the system and zeroes the counters.
void trackedReleaseAll();

// Lowers the process's address-space limit to the machine's memory (RAM and swap) unless a lower limit
// is set already, so that a run needing more than the machine has fails an allocation ("Failed memory
// allocation", status 1) instead of being killed by the system when memory runs out. No effect under
// the sanitizers, whose shadow memory needs the whole address space.
void boundAddressSpaceToMachine();

AllocationCounters allocationCounters();
std::size_t trackedBlockCount();
// Increases by one at every release-all; owners use it to know their block is already gone.
std::uint64_t allocationGeneration();

// An owning handle for a tracked array of trivially copyable T. It releases its block on destruction
// unless a release-all has already taken it.
template <typename T>
class TrackedArray {
  public:
    TrackedArray() = default;
    TrackedArray(std::size_t count, bool zeroed, const char* file = "", int line = 0, std::uint8_t tag = 0)
        : count_(count), generation_(allocationGeneration()) {
        data_ = static_cast<T*>(zeroed ? trackedAllocateZeroed(count, sizeof(T), file, line, tag)
                                       : trackedAllocate(count * sizeof(T), file, line, tag));
    }
    TrackedArray(const TrackedArray&) = delete;
    TrackedArray& operator=(const TrackedArray&) = delete;
    TrackedArray(TrackedArray&& other) noexcept { swap(other); }
    TrackedArray& operator=(TrackedArray&& other) noexcept {
        if (this != &other) {
            reset();
            swap(other);
        }
        return *this;
    }
    ~TrackedArray() { reset(); }

    void reset() {
        if (data_ && generation_ == allocationGeneration()) trackedRelease("", 0, data_);
        data_ = nullptr;
        count_ = 0;
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return count_; }
    bool empty() const { return data_ == nullptr; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    void swap(TrackedArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(count_, other.count_);
        std::swap(generation_, other.generation_);
    }
    T* data_ = nullptr;
    std::size_t count_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace quorva
