// The tracked allocator: a doubly linked list of headers in front of the callers' blocks.
#include <algorithm>
#include "diagnostics/allocation.h"

#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"

namespace quorva {
namespace {

// The header is padded so that the caller's block keeps the strictest fundamental alignment.
constexpr std::size_t HeaderSize = (sizeof(TrackedBlock) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);

struct Tracker {
    TrackedBlock* newest = nullptr;
    AllocationCounters counters;
    std::size_t blocks = 0;
    std::uint64_t generation = 1;
};

Tracker& tracker() {
    static Tracker t;
    return t;
}

void* link(TrackedBlock* header, std::size_t size, std::uint8_t tag) {
    Tracker& t = tracker();
    header->size = static_cast<std::int32_t>(size);
    header->tag = tag;
    header->next = nullptr;
    header->previous = t.newest;
    if (t.newest) t.newest->next = header;
    t.newest = header;
    ++t.blocks;
    return reinterpret_cast<unsigned char*>(header) + HeaderSize;
}

const char* orEmpty(const char* s) {
    return s ? s : "";
}

}  // namespace

void* trackedAllocate(std::size_t size, const char* file, int line, std::uint8_t tag) {
    if (size == 0) warning("NULL size allocation at %s, line %d", orEmpty(file), line);
    auto* header = static_cast<TrackedBlock*>(std::malloc(size + HeaderSize));
    if (!header) fatal("Failed memory allocation (size: %ld)", static_cast<long>(size));
    Tracker& t = tracker();
    ++t.counters.allocations;
    t.counters.allocatedBytes += static_cast<std::uint32_t>(size);
    return link(header, size, tag);
}

void* trackedAllocateZeroed(std::size_t count, std::size_t size, const char* file, int line,
                            std::uint8_t tag) {
    if (size == 0 || count == 0) warning("NULL size c_allocation at %s, line %d", orEmpty(file), line);
    // The zeroed routine asks the system for count x (size + header); at least one header is needed.
    std::size_t bytes = count * (size + HeaderSize);
    if (bytes < HeaderSize) bytes = HeaderSize;
    auto* header = static_cast<TrackedBlock*>(std::calloc(1, bytes));
    if (!header) fatal("Failed memory allocation (size: %ld)", static_cast<long>(count * size));
    Tracker& t = tracker();
    ++t.counters.zeroedAllocations;
    t.counters.zeroedBytes += static_cast<std::uint32_t>(count * size);
    return link(header, count * size, tag);
}

void trackedRelease(const char* file, int line, void* block) {
    if (!block)
        internalFailure(InternalFailure::DeallocateNull, "Attempt to deallocate NULL pointer at %s, line %d",
                        orEmpty(file), line);
    Tracker& t = tracker();
    auto* header = reinterpret_cast<TrackedBlock*>(static_cast<unsigned char*>(block) - HeaderSize);
    if (header->previous) header->previous->next = header->next;
    if (header->next) {
        header->next->previous = header->previous;
    } else {
        t.newest = header->previous;
        if (t.newest) t.newest->next = nullptr;
    }
    t.counters.releasedBytes += static_cast<std::uint32_t>(header->size);
    ++t.counters.releases;
    --t.blocks;
    std::free(header);
}

void trackedReleaseAll() {
    Tracker& t = tracker();
    TrackedBlock* block = t.newest;
    while (block) {
        TrackedBlock* previous = block->previous;
        std::free(block);
        block = previous;
    }
    t.newest = nullptr;
    t.counters = AllocationCounters{};
    t.blocks = 0;
    ++t.generation;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUORVA_SANITIZED 1
#endif
#endif

void boundAddressSpaceToMachine() {
#ifndef QUORVA_SANITIZED
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return;
    // RAM, plus swap as the kernel counts it, plus room for the mappings that are address space but not
    // memory (program, libraries, thread stacks, allocator arenas, what a GL driver reserves): a quarter
    // of the RAM, at least 4 GB.
    const rlim_t ram = static_cast<rlim_t>(pages) * static_cast<rlim_t>(pageSize);
    rlim_t bytes = ram + std::max<rlim_t>(ram / 4, rlim_t(1) << 32);
    long swapKb = 0;
    if (std::FILE* info = std::fopen("/proc/meminfo", "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, info))
            if (std::sscanf(line, "SwapTotal: %ld kB", &swapKb) == 1) break;
        std::fclose(info);
    }
    bytes += static_cast<rlim_t>(swapKb > 0 ? swapKb : 0) * 1024;
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) != 0) return;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bytes) return;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < bytes) bytes = limit.rlim_max;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

AllocationCounters allocationCounters() {
    return tracker().counters;
}

std::size_t trackedBlockCount() {
    return tracker().blocks;
}

std::uint64_t allocationGeneration() {
    return tracker().generation;
}

}  // namespace quorva
