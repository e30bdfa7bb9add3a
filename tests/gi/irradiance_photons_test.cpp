// Irradiance photons and the samples they guide: where the photons land, the guided irradiance of a
// room lit by a small bright patch, and the dispersion and absorption of photons in glass.
#include <gtest/gtest.h>

#include <cmath>

#include "../shading/shading_test_support.h"
#include "geometry/shapes.h"
#include "gi/irradiance_cache.h"
#include "gi/photon_maps.h"
#include "render/render_rows.h"

namespace quorva {
namespace {

using testing::glass;
using testing::matte;
using testing::mirror;
using testing::vec;

struct PhotonScene : ::testing::Test {
    SceneState scene;
    RenderContext ctx{&scene.frame};

    PhotonScene() { ctx.settings.featureMask = 127; }
    Shape& add(std::unique_ptr<Shape> shape, const SurfaceDescription& d) {
        shape->shader = makeSurfaceShader(d);
        return *scene.frame.world.push(std::move(shape));
    }
    std::unique_ptr<PhotonMaps> build() {
        buildSunLight(scene.frame);
        prepareRenderContext(ctx, scene.frame);
        auto maps = std::make_unique<PhotonMaps>(scene.frame);
        maps->build(ctx, {});
        return maps;
    }
    std::unique_ptr<PhotonMaps> irradiancePhotons(int n, int m) {
        scene.frame.options.irradiance.photons[0] = n;
        scene.frame.options.irradiance.photons[1] = m;
        return build();
    }
};

TEST_F(PhotonScene, IrradiancePhotonsLandOnDiffuseSurfacesAfterOneBounce) {
    LightItems items;
    addLight(scene.frame, makePointLight({0, 3, 0}, items));
    add(makeBox({-20, -1, -20}, {20, 0, 20}), matte(0.8));
    // Alone, the floor sends every bounce into the void: the direct light is never stored.
    EXPECT_EQ(irradiancePhotons(5000, 20)->irradianceMap.count(), 0);

    // Under a mirror ceiling the bounces come back down: they land on the floor only (never on the
    // mirror), each from the ceiling above.
    add(makeBox({-20, 5, -20}, {20, 6, 20}), mirror());
    auto maps = irradiancePhotons(5000, 20);
    const PhotonMap& map = maps->irradianceMap;
    ASSERT_GT(map.count(), 1000);
    for (int i = 0; i < map.count(); ++i) {
        const Photon& p = map[i];
        ASSERT_NEAR(p.position[1], 0, 1e-6) << i;
        ASSERT_GT(maps->directions().direction(p).y, 0) << i;
    }
}

// A closed room lit only through a small patch of its floor under a narrow spot: the irradiance at a
// ceiling point comes almost all from the patch, which few uniform samples find.
TEST_F(PhotonScene, GuidedSamplesAgreeWithUniformOnesWithLessNoise) {
    LightItems items;
    items.intensity = vec(2, 2, 2);
    items.hasIntensity = true;
    addLight(scene.frame, makeSpotLight({0, 4.8, 0}, {0, 0, 0}, 12, 16, 1, items));
    add(makeBox({-2.5, -0.1, -2.5}, {2.5, 0, 2.5}), matte(0.8));
    add(makeBox({-2.5, 5, -2.5}, {2.5, 5.1, 2.5}), matte(0.8));
    add(makeBox({-2.6, 0, -2.5}, {-2.5, 5, 2.5}), matte(0.8));
    add(makeBox({2.5, 0, -2.5}, {2.6, 5, 2.5}), matte(0.8));
    add(makeBox({-2.5, 0, -2.6}, {2.5, 5, -2.5}), matte(0.8));
    add(makeBox({-2.5, 0, 2.5}, {2.5, 5, 2.6}), matte(0.8));
    scene.frame.camera.location = {0, 2.5, -2};
    scene.frame.options.irradiance.enabled = true;
    scene.frame.options.irradiance.bounceLevel = 1;
    scene.frame.options.irradiance.maxDistance = 10;
    auto maps = irradiancePhotons(40000, 40);
    ASSERT_GT(maps->irradianceMap.count(), 5000);

    auto estimate = [&](const Vec3& P, const Vec3& n, int samples, bool guided) {
        IrradianceCache cache(irradianceConfig(scene.frame));
        if (guided) cache.guideWith(&maps->irradianceMap, &maps->directions());
        ctx.globalIllumination = &cache;
        EXPECT_TRUE(cache.computeRecord(ctx, P, n, samples, 1, 0, 1));
        Color E;
        EXPECT_EQ(cache.lookup(P, n, 1, 0.8, E), 1);
        ctx.globalIllumination = nullptr;
        return E.g;
    };
    // Points on the ceiling and the walls. Many samples: both estimate the same irradiance. Few
    // samples: the guided estimate lies nearer to it.
    const Vec3 points[][2] = {{{1.5, 5, 1.2}, {0, -1, 0}}, {{-1, 5, -2}, {0, -1, 0}},
                              {{2.5, 2, 0.5}, {-1, 0, 0}}, {{-2.5, 4, -1}, {1, 0, 0}},
                              {{0.5, 3, 2.5}, {0, 0, -1}}, {{-1.5, 1, -2.5}, {0, 0, 1}}};
    double uniformError = 0, guidedError = 0;
    for (const auto& p : points) {
        const double reference = estimate(p[0], p[1], 4000, false);
        ASSERT_GT(reference, 0.005);
        EXPECT_NEAR(estimate(p[0], p[1], 4000, true), reference, 0.03 * reference);
        uniformError += std::fabs(estimate(p[0], p[1], 30, false) - reference) / reference;
        guidedError += std::fabs(estimate(p[0], p[1], 30, true) - reference) / reference;
    }
    EXPECT_LT(guidedError, 0.6 * uniformError);
}

TEST_F(PhotonScene, GlassDispersesAndAbsorbsCausticPhotons) {
    LightItems items;
    addLight(scene.frame, makePointLight({0, 10, 0}, items));
    add(makeBox({-20, -1, -20}, {20, 0, 20}), matte(0.8));
    Shape& ball = add(makeSphere({0, 2, 0}, 1), glass(0, 0));
    ball.caustics = 1;
    PhotonSettings& p = scene.frame.options.photons;
    p.requested = true;
    p.parameters[0] = 50;
    p.parameters[3] = 0.03;
    p.parameterCount = 4;
    auto spotOf = [&](const SurfaceDescription& d, unsigned& dispersed) {
        ball.shader = makeSurfaceShader(d);
        ctx.stats = {};
        auto maps = build();
        dispersed = ctx.stats.photonDispersion;
        return maps->causticIrradiance(ctx, {0, 0, 0}, {0, 1, 0});
    };
    unsigned dispersed = 0;
    const Color clear = spotOf(glass(0, 0), dispersed);
    EXPECT_EQ(dispersed, 0u);
    // Dispersion splits each photon into its wavelengths; the spot stays.
    const Color spread = spotOf(glass(1.05, 0), dispersed);
    EXPECT_GT(dispersed, 1000u);
    EXPECT_GT(spread.g, 0.3 * clear.g);
    // Absorption dims the light over the path inside (about 2 units through the middle).
    const Color absorbed = spotOf(glass(0, 1), dispersed);
    EXPECT_LT(absorbed.r, 0.6 * clear.r);
    EXPECT_GT(absorbed.r, 0.1 * clear.r);
}

}  // namespace
}  // namespace quorva
