// Balancing a photon map on a pool of workers builds the tree one thread builds.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "gi/photon_map.h"
#include "render/render_workers.h"

namespace quorva {
namespace {

TEST(PhotonParallel, BalancedTreeIsTheSameOnEveryWorkerCount) {
    // Clustered positions with many equal coordinates (photons on a floor): ties must split alike.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-5, 5);
    const int n = 150000;
    PhotonMap one, two, five;
    for (int i = 0; i < n; ++i) {
        const Vec3 p{u(rng), i % 3 == 0 ? 0.0 : u(rng), std::floor(u(rng) * 4) / 4};
        const Color power{1.0 + i % 7, 1, 0.5};
        for (PhotonMap* m : {&one, &two, &five}) m->store(power, p, p + Vec3{0, 1, 0});
    }
    RenderWorkers pool2(2), pool5(5);
    one.balance();
    two.balance(false, &pool2);
    five.balance(false, &pool5);
    GatherHeap heap;
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(std::memcmp(&one[i], &two[i], sizeof(Photon)), 0) << i;
        ASSERT_EQ(std::memcmp(&one[i], &five[i], sizeof(Photon)), 0) << i;
    }
    double r1 = 0, r5 = 0;
    EXPECT_EQ(one.gather(heap, {1, 0, 1}, 1, nullptr, r1), five.gather(heap, {1, 0, 1}, 1, nullptr, r5));
    EXPECT_EQ(r1, r5);
}

}  // namespace
}  // namespace quorva
