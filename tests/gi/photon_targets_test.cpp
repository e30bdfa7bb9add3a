// Caustic targets and emitters: shapes marked by their shader (inside groups too), the attribute that
// keeps a shape out of the photon pass, photons stored on the target itself, and area lights that
// shoot from their sample positions with a point light's total power.
#include <gtest/gtest.h>

#include "../scene/parser_fixture.h"
#include "geometry/hierarchy.h"
#include "gi/photon_maps.h"
#include "render/render_rows.h"
#include "shading/light.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

const char* const Floor =
    "Shape [ Box ((-20, -1, -20), (20, 0, 20)) Shader [ PlainSurface [ Ka 0 Kd 1 ] ] ]\n";

struct Shot {
    SceneState scene;
    RenderContext ctx{&scene.frame};
    std::unique_ptr<PhotonMaps> maps;

    explicit Shot(const std::string& text) {
        testing::parseOk(scene,
                         "Photons (50, 3000, 0)\nPointLight [ (0, 10, 0) ]\n" + std::string(Floor) + text);
        buildSunLight(scene.frame);
        buildHierarchy(scene.frame.world);
        prepareRenderContext(ctx, scene.frame);
        maps = std::make_unique<PhotonMaps>(scene.frame);
        maps->build(ctx, {});
    }
    Color total() const {
        Color sum;
        for (int i = 0; i < maps->caustic.count(); ++i)
            sum += photonPower(maps->caustic[i], maps->caustic.scale());
        return sum;
    }
    int onBall() const {  // photons on the unit ball around (0, 2, 0)
        int n = 0;
        for (int i = 0; i < maps->caustic.count(); ++i)
            n += std::fabs(length(maps->caustic[i].point() - Vec3{0, 2, 0}) - 1) < 0.05;
        return n;
    }
};

std::string ball(const std::string& caustics, const std::string& extra = "") {
    return "Shape [ Sphere ((0, 2, 0), 1) DisplacementMapping 0 " + extra +
           " Shader [ PlainSurface [ Ka 0 Kd 0.3 Kt (1, 1.5) " + caustics + " ] ] ]\n";
}

TEST(CausticTargets, ShaderCausticsMarkShapesInsideGroupsWithTheirPower) {
    // The displaced ball is cut into triangles held by a group; its shader alone marks it.
    Shot full(ball("Caustics 1"));
    ASSERT_GT(full.maps->caustic.count(), 500);
    EXPECT_EQ(full.onBall(), 0);  // not stored on the target itself
    Shot half(ball("Caustics 0.5"));
    EXPECT_EQ(half.maps->caustic.count(), full.maps->caustic.count());
    EXPECT_NEAR(half.total().r, 0.5 * full.total().r, 0.01 * full.total().r);
    // A solid whose shader marks it: the target is the solid, found through its components, and its
    // diffuse components are the target too.
    Shot solid(
        "Solid [ Shape [ Sphere ((0, 2, 0), 1) ] * Shape [ Box ((-2, 0, -2), (2, 4, 2)) ]\n"
        "    Shader [ PlainSurface [ Ka 0 Kd 0.3 Kt (1, 1.5) Caustics 1 ] ] ]\n");
    EXPECT_GT(solid.maps->caustic.count(), 100);
    EXPECT_EQ(solid.onBall(), 0);
    // Attribute 0x080 off: no target.
    EXPECT_EQ(Shot(ball("Caustics 1", "ShadingAttributes 63")).maps->caustic.count(), 0);
    // InternalCaustics: the photons passing through the ball also land on it.
    EXPECT_GT(Shot(ball("Caustics (1, InternalCaustics)")).onBall(), 100);
}

TEST(CausticTargets, AreaLightsShootTheirColourFromEverySamplePosition) {
    auto caustic = [](std::unique_ptr<Light> light) {
        SceneState scene;
        testing::parseOk(scene,
                         std::string("Photons (50, 0, 0, 0.05)\n") +
                             "Shape [ Box ((-20, 10, -20), (20, 11, 20)) Shader [ PlainSurface [ Kd 1 ] ] ]\n"
                             "Shape [ Box ((-5, -1, -5), (5, 0, 5)) Caustics 1 "
                             "Shader [ PlainSurface [ Kd 0 Kr 1 ] ] ]\n");
        addLight(scene.frame, std::move(light));
        buildSunLight(scene.frame);
        RenderContext ctx(&scene.frame);
        prepareRenderContext(ctx, scene.frame);
        PhotonMaps maps(scene.frame);
        maps.build(ctx, {});
        maps.caustic.gatherRadius = 1;
        return std::make_pair(maps.caustic.count(), maps.causticIrradiance(ctx, {1, 10, 0}, {0, -1, 0}).r);
    };
    LightItems none;
    const auto point = caustic(makePointLight({0, 5, 0}, none));
    LightItems flat;
    flat.hasPlane = true;
    flat.plane[0] = flat.plane[1] = 3;
    flat.planeCount = 2;
    flat.transform = std::make_unique<Transform>(makeTranslate({0, 5, 0}));
    LightItems bulb;
    bulb.hasBulb = true;
    bulb.bulbCentre = {0, 5, 0};
    bulb.bulbRadius = 0.4;
    for (auto* items : {&flat, &bulb}) {
        const auto area = caustic(makeAreaLight(*items));
        // About as many photons in all, and the mirrored light as bright as the point light's.
        EXPECT_NEAR(area.first, point.first, 0.1 * point.first);
        EXPECT_NEAR(area.second, point.second, 0.1 * point.second);
    }
}

}  // namespace
}  // namespace quorva
