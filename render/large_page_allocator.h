// An allocator for the large buffers that live through one frame: blocks of 2 MB and more are aligned to
// 2 MB and offered to the kernel for huge pages, so that touching them for the first time costs a fault
// per 2 MB instead of one per 4 KB page. Smaller blocks come from operator new.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace quorva {

template <class T>
struct LargePageAllocator {
    using value_type = T;
    static constexpr std::size_t HugePage = std::size_t{2} << 20;

    LargePageAllocator() = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < HugePage) return static_cast<T*>(::operator new(bytes));
        const std::size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
        void* p = std::aligned_alloc(HugePage, rounded);
        if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without huge pages the block works the same
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) < HugePage)
            ::operator delete(p);
        else
            std::free(p);
    }
    template <class U>
    bool operator==(const LargePageAllocator<U>&) const {
        return true;
    }
};

}  // namespace quorva
