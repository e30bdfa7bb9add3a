// Specular lobes: the angle parameter must put the half-power point exactly at the angle.
#include "shading/brdf.h"

#include <gtest/gtest.h>

#include <cmath>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

// Light and view placed symmetrically about N so that the half vector is tilted by `tilt` from N.
double lobeAtHalfVectorTilt(SpecularBrdf kind, double angle, double tilt) {
    const double p = brdfParameter(kind, angle);
    const Vec3 H{std::sin(tilt), std::cos(tilt), 0};
    const Vec3 N{0, 1, 0};
    // Rotate H by +/-0.3 rad about z to get L and V with H as their bisector.
    auto rotate = [](const Vec3& v, double a) {
        return Vec3{v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a), 0};
    };
    if (kind == SpecularBrdf::Phong) {
        // Phong looks at the mirror direction: put V on N and L at twice the tilt.
        return brdfValue(kind, N, rotate(N, -2 * tilt), N, p);
    }
    return brdfValue(kind, N, rotate(H, 0.3), rotate(H, -0.3), p);
}

TEST(Brdf, FirstFourLobesFallToHalfAtTheirAngle) {
    const double angle = 0.2;
    for (SpecularBrdf kind :
         {SpecularBrdf::Phong, SpecularBrdf::Blinn, SpecularBrdf::Gaussian, SpecularBrdf::Reitz}) {
        SCOPED_TRACE(static_cast<int>(kind));
        EXPECT_NEAR(lobeAtHalfVectorTilt(kind, angle, 0), 1.0, 1e-9);
        EXPECT_NEAR(lobeAtHalfVectorTilt(kind, angle, angle), 0.5, 1e-9);
    }
}

TEST(Brdf, ParameterLimits) {
    EXPECT_EQ(brdfParameter(SpecularBrdf::Phong, 0), SharpestLobe);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Phong, 0.8), 0);  // beyond pi/4
    EXPECT_EQ(brdfParameter(SpecularBrdf::Blinn, -1), SharpestLobe);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Blinn, 1.6), 0);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Gaussian, 0), SharpestLobe);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Reitz, 0), 0);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Cook, 0), 0);
    EXPECT_EQ(brdfParameter(SpecularBrdf::Cook, 1.6), SharpestLobe);
    const double a = 0.3, c = std::cos(a), t = std::tan(a);
    EXPECT_DOUBLE_EQ(brdfParameter(SpecularBrdf::Cook, a), -t * t / std::log(c * c * c * c / 2));
}

TEST(Brdf, LobesVanishBelowTheSurfaceAndStayFinite) {
    const Vec3 N{0, 1, 0};
    const Vec3 L = normalized(Vec3{1, -0.2, 0}), V = normalized(Vec3{1, -0.1, 0});
    for (SpecularBrdf kind :
         {SpecularBrdf::Blinn, SpecularBrdf::Gaussian, SpecularBrdf::Reitz, SpecularBrdf::Cook})
        EXPECT_EQ(brdfValue(kind, N, L, V, brdfParameter(kind, 0.2)), 0) << static_cast<int>(kind);
    // Zero-angle Reitz and Cook lobes would divide 0 by 0 on the mirror direction.
    for (SpecularBrdf kind : {SpecularBrdf::Reitz, SpecularBrdf::Cook}) {
        const double v = brdfValue(kind, N, N, N, brdfParameter(kind, 0));
        EXPECT_TRUE(std::isfinite(v)) << static_cast<int>(kind);
    }
}

TEST(Brdf, NullHalfVectorIsAnInternalFailure) {
    const Vec3 N{0, 1, 0}, L = normalized(Vec3{0.3, 1, 0});
    try {
        brdfValue(SpecularBrdf::Blinn, N, L, -L, 10);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x2d) Half vector is null");
    }
}

}  // namespace
}  // namespace quorva
