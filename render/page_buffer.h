// A large buffer that lives through one frame, taken straight from the kernel as fresh pages: it reads
// as zeros until written, so making it costs no pass over memory, and a page is only cleared (by the
// kernel) when it is first touched. Blocks of 2 MB and more are aligned to 2 MB and offered for huge
// pages, so that the first touch costs a fault per 2 MB instead of one per 4 KB page.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace quorva {

template <class T>
class PageBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "the buffer starts as zero bytes");

  public:
    static constexpr std::size_t HugePage = std::size_t{2} << 20;

    PageBuffer() = default;
    PageBuffer(const PageBuffer& other) {
        allocate(other.size_);
        if (size_) std::memcpy(data_, other.data_, size_ * sizeof(T));
    }
    PageBuffer& operator=(const PageBuffer& other) {
        if (this != &other) PageBuffer(other).swap(*this);
        return *this;
    }
    PageBuffer(PageBuffer&& other) noexcept { swap(other); }
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        PageBuffer(std::move(other)).swap(*this);
        return *this;
    }
    ~PageBuffer() { release(); }

    // `count` elements, all zero; what the buffer held before is given up. std::bad_alloc when the
    // kernel refuses the pages.
    void allocate(std::size_t count) {
        release();
        if (count == 0) return;
        if (count > (SIZE_MAX - 2 * HugePage) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = (count * sizeof(T) + HugePage - 1) / HugePage * HugePage;
        const bool huge = count * sizeof(T) >= HugePage;
        // The mapping is made a huge page larger than asked and trimmed to a 2 MB boundary.
        const std::size_t mapped = huge ? bytes + HugePage : bytes;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        auto* start = static_cast<char*>(p);
        if (huge) {
            const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(start);
            const std::size_t head = (HugePage - at % HugePage) % HugePage;
            if (head) munmap(start, head);
            if (HugePage - head) munmap(start + head + bytes, HugePage - head);
            start += head;
#ifdef MADV_HUGEPAGE
            madvise(start, bytes, MADV_HUGEPAGE);  // advice only: without huge pages the block works the same
#endif
        }
        data_ = reinterpret_cast<T*>(start);
        size_ = count;
        mapped_ = bytes;
    }
    void release() {
        if (data_) munmap(data_, mapped_);
        data_ = nullptr;
        size_ = mapped_ = 0;
    }

    bool empty() const {
        return size_ == 0;
    }
    std::size_t size() const {
        return size_;
    }
    T* data() {
        return data_;
    }
    const T* data() const {
        return data_;
    }
    T& operator[](std::size_t i) {
        return data_[i];
    }
    const T& operator[](std::size_t i) const {
        return data_[i];
    }

  private:
    void swap(PageBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(mapped_, other.mapped_);
    }

    T* data_ = nullptr;
    std::size_t size_ = 0, mapped_ = 0;
};

}  // namespace quorva
