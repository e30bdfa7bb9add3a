// The box tests of the traversal agree exactly: one box at a time, and four boxes at once in portable
// vector code and with the wide vector instructions.
#include "geometry/ray_box.h"

#include <gtest/gtest.h>

#include <random>

namespace quorva {
namespace {

TEST(BoxTests, QuadTestAgreesWithTheSingleBoxTest) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-10, 10), extent(0, 12), unit(-1, 1);
    int entered = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        MemberQuad quad{};
        const int members = 1 + trial % 4;
        for (int l = 0; l < 4; ++l)
            for (int a = 0; a < 3; ++a) {
                quad.min[a][l] = l < members ? coordinate(random) : 1e300;
                quad.size[a][l] = l < members ? extent(random) : 0;
            }
        for (int l = 0; l < members; ++l) quad.node[l] = reinterpret_cast<const Shape*>(&quad);
        Vec3 direction{unit(random), unit(random), unit(random)};
        if (trial % 7 == 0) direction[trial % 3] *= 1e-6;  // nearly parallel to a slab
        normalize(direction);
        const RaySlabs ray(Ray{{coordinate(random), coordinate(random), coordinate(random)}, direction});
        if (ray.anyParallel) continue;
        const double tmax = trial % 3 == 0 ? 5.0 : 1000000.0;

        unsigned single = 0;
        double singleKeys[4] = {};
        for (int l = 0; l < members; ++l) {
            const double lo[3] = {quad.min[0][l], quad.min[1][l], quad.min[2][l]};
            const double size[3] = {quad.size[0][l], quad.size[1][l], quad.size[2][l]};
            if (enterBox(lo, size, ray, tmax, singleKeys[l])) single |= 1u << l;
        }
        double keys[4];
        unsigned quadMask = enterQuad(quad, ray, tmax, keys) & ((1u << members) - 1);
        ASSERT_EQ(quadMask, single) << trial;
        for (int l = 0; l < members; ++l) {
            if (single & (1u << l)) {
                EXPECT_EQ(keys[l], singleKeys[l]);
            }
        }
#if defined(__x86_64__)
        if (wideBoxTests()) {
            double wideKeys[4];
            const unsigned wide = enterQuadWide(quad, ray, tmax, wideKeys) & ((1u << members) - 1);
            ASSERT_EQ(wide, single) << trial;
            for (int l = 0; l < members; ++l) {
                if (single & (1u << l)) {
                    EXPECT_EQ(wideKeys[l], singleKeys[l]);
                }
            }
        }
#endif
        entered += __builtin_popcount(single);
    }
    EXPECT_GT(entered, 1000);  // the trials exercised accepted boxes, not only misses
}

}  // namespace
}  // namespace quorva
