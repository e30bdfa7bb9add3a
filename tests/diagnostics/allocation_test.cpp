// The tracked allocator: counters, list unlinking, release-all and owners that outlive it.
#include "diagnostics/allocation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

class Allocation : public ::testing::Test {
  protected:
    void SetUp() override { trackedReleaseAll(); }
    void TearDown() override { trackedReleaseAll(); }
};

TEST_F(Allocation, CountersFollowTheTraffic) {
    void* a = trackedAllocate(100, "a.cpp", 1, 1);
    auto* z = static_cast<unsigned char*>(trackedAllocateZeroed(4, 8, "a.cpp", 2, 2));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(z[i], 0);
    AllocationCounters c = allocationCounters();
    EXPECT_EQ(c.allocations, 1u);
    EXPECT_EQ(c.allocatedBytes, 100u);
    EXPECT_EQ(c.zeroedAllocations, 1u);
    EXPECT_EQ(c.zeroedBytes, 32u);
    EXPECT_EQ(trackedBlockCount(), 2u);
    trackedRelease("a.cpp", 3, a);
    c = allocationCounters();
    EXPECT_EQ(c.releases, 1u);
    EXPECT_EQ(c.releasedBytes, 100u);
    EXPECT_EQ(trackedBlockCount(), 1u);
}

TEST_F(Allocation, ReleasingInAnyOrderKeepsTheListIntact) {
    void* blocks[5];
    for (int i = 0; i < 5; ++i) {
        blocks[i] = trackedAllocate(16, "", 0, 0);
        std::memset(blocks[i], i, 16);
    }
    trackedRelease("", 0, blocks[2]);  // middle
    trackedRelease("", 0, blocks[4]);  // newest
    trackedRelease("", 0, blocks[0]);  // oldest
    EXPECT_EQ(trackedBlockCount(), 2u);
    EXPECT_EQ(static_cast<unsigned char*>(blocks[1])[15], 1);
    EXPECT_EQ(static_cast<unsigned char*>(blocks[3])[0], 3);
    trackedReleaseAll();
    AllocationCounters c = allocationCounters();
    EXPECT_EQ(
        c.allocations + c.allocatedBytes + c.zeroedAllocations + c.zeroedBytes + c.releases + c.releasedBytes,
        0u);
    EXPECT_EQ(trackedBlockCount(), 0u);
}

TEST_F(Allocation, ZeroSizeWarnsAndNullReleaseIsFatal) {
    ConsoleCapture capture;
    void* p = trackedAllocate(0, "shape.cpp", 42, 0);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(capture.text(), "WARNING : NULL size allocation at shape.cpp, line 42!\n");
    capture.clear();
    trackedAllocateZeroed(0, 8, "mesh.cpp", 7, 0);
    EXPECT_EQ(capture.text(), "WARNING : NULL size c_allocation at mesh.cpp, line 7!\n");
    try {
        trackedRelease("world.cpp", 9, nullptr);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(),
                     "(internal failure 0x22) Attempt to deallocate NULL pointer at world.cpp, line 9");
    }
}

TEST_F(Allocation, OwnersDoNotReleaseTwiceAfterReleaseAll) {
    TrackedArray<double> kept(10, true);
    {
        TrackedArray<int> gone(8, false);
        trackedReleaseAll();  // the scene ended while `gone` still held its block
    }                         // its destructor must not touch the freed block
    EXPECT_EQ(trackedBlockCount(), 0u);
    TrackedArray<int> fresh(4, true);
    EXPECT_EQ(trackedBlockCount(), 1u);
    TrackedArray<int> moved = std::move(fresh);
    EXPECT_TRUE(fresh.empty());
    EXPECT_EQ(moved.size(), 4u);
}

}  // namespace
}  // namespace quorva
