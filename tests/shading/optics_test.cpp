// Fresnel weight, refraction, dispersion weights and the gradient noise.
#include "shading/optics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "shading/noise.h"

namespace quorva {
namespace {

TEST(Optics, FresnelAtNormalIncidence) {
    EXPECT_NEAR(fresnelReflectance(1.5, 1.0), 0.04, 1e-12);
    // Meeting the back of the surface reflects more, and grazing reflects everything.
    EXPECT_GT(fresnelReflectance(1.5, -0.9), 0.04);
    EXPECT_NEAR(fresnelReflectance(1.5, 1e-9), 1.0, 1e-6);
    for (double q = -1; q <= 1; q += 0.01) {
        const double f = fresnelReflectance(1.33, q);
        EXPECT_GE(f, 0);
        EXPECT_LE(f, 1);
    }
}

TEST(Optics, RefractionFollowsSnellAndReportsTotalInternalReflection) {
    const Vec3 N{0, 1, 0};
    const Vec3 D = normalized(Vec3{1, -1, 0});  // 45 degrees
    Vec3 T;
    ASSERT_TRUE(refractDirection(D, N, 1 / 1.5, T));
    EXPECT_NEAR(std::sqrt(T.x * T.x + T.z * T.z), std::sin(M_PI / 4) / 1.5, 1e-12);
    EXPECT_LT(T.y, 0);
    // From glass into air past the critical angle (41.8 degrees).
    EXPECT_FALSE(refractDirection(D, N, 1.5, T));
    ASSERT_TRUE(refractDirection(D, N, 1.0, T));
    EXPECT_NEAR(length(T - D), 0, 1e-12);
}

TEST(Optics, SpectralWeightsRunFromRedToBlue) {
    // Sample k of 8 sits at c = 0.964 - 0.934 (k - 1) / 7.
    auto c = [](int k) { return 0.964 - 0.934 * (k - 1) / 7; };
    const Color red = spectralWeights(2, 8), green = spectralWeights(4, 8), blue = spectralWeights(6, 8);
    EXPECT_NEAR(red.r, 1.15 - std::pow(5 * (c(2) - 0.75), 2), 1e-12);
    EXPECT_GT(red.r, red.b);
    EXPECT_GT(green.g, green.r);
    EXPECT_GT(green.g, green.b);
    EXPECT_NEAR(blue.b, 0.98 * (1 - std::pow(4 * (c(6) - 0.28), 2)), 1e-12);
    EXPECT_GT(blue.b, blue.r);
    // Far past blue the first red branch is negative and the second one takes over, clamped at 0.
    const Color violet = spectralWeights(8, 8);  // c = 0.03
    EXPECT_NEAR(violet.r, std::max(0.0, 0.12 - std::pow(4 * (0.03 - 0.12), 2)), 1e-12);
    const Color deepViolet = spectralWeights(7, 8);  // c ~ 0.163: second branch positive
    EXPECT_NEAR(deepViolet.r, 0.12 - std::pow(4 * (c(7) - 0.12), 2), 1e-12);
    EXPECT_GT(deepViolet.r, 0);
}

TEST(Optics, TransmissionColourActsPerUnitDistance) {
    EXPECT_EQ(transmissionOverDistance({0.5, 0.5, 0.5}, 1), Color(0.5, 0.5, 0.5));
    EXPECT_EQ(transmissionOverDistance({0.5, 1, 0.25}, 2), Color(0.25, 1, 0.0625));
    EXPECT_EQ(transmissionOverDistance({1, 1, 1}, 1e6), Color(1, 1, 1));
}

TEST(Noise, TablesAreUnitGradientsAndAPermutation) {
    const GradientTable& t = gradientTable();
    std::set<int> seen;
    for (int i = 0; i < GradientTable::Size; ++i) {
        EXPECT_NEAR(length(t.gradient[i]), 1.0, 1e-12);
        seen.insert(t.permutation[i]);
    }
    EXPECT_EQ(seen.size(), 256u);
    for (int i = 0; i < GradientTable::Size + 2; ++i) {
        EXPECT_EQ(t.permutation[256 + i], t.permutation[i]);
        EXPECT_EQ(t.gradient[256 + i], t.gradient[i]);
    }
}

TEST(Noise, GradientNoiseIsCentredOnLatticePointsAndSmooth) {
    // At a lattice point every corner offset but one is a whole cell and the interpolation picks the
    // corner whose offset is zero: n = 0, so the noise is 0.5.
    EXPECT_NEAR(gradientNoise({-0.0231, -0.0231, -0.0231}), 0.5, 1e-9);
    const Vec3 p{1.3, 2.7, -0.4};
    EXPECT_NEAR(gradientNoise(p), gradientNoise(p + Vec3{1e-7, 0, 0}), 1e-5);
}

TEST(Noise, TurbulenceIsNonNegativeAndOneOctaveDoublesTheDeviation) {
    for (int i = 0; i < 50; ++i) {
        const Vec3 p{i * 0.37, i * -0.21, i * 0.13 + 0.5};
        EXPECT_GE(fnoise(p), 0);
        EXPECT_NEAR(fnoise(p, 1), 2 * std::fabs(gradientNoise(p) - 0.5), 1e-12);
    }
}

}  // namespace
}  // namespace quorva
