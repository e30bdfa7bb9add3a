// Particle generators over a few frames: births, counts, deaths that hand over to another generator,
// motion under a constant acceleration, and a bounce off a plane.
#include <gtest/gtest.h>

#include "scene/parser_fixture.h"
#include "scene/particles.h"
#include "scene/symbol_table.h"

namespace quorva {
namespace {

using testing::parseOk;

// Re-parses the scene for every frame as the frame loop does, then updates the generators.
struct Animation {
    SceneState scene;
    std::string text;

    explicit Animation(std::string body)
        : text("Declare ball = Solid [ Sphere ((0, 0, 0), 0.1) ]\n" + std::move(body)) {}
    void frame(int n) {
        if (n > scene.frame.frames.firstFrame) {
            scene.frame.world.clear();
            scene.symbols->keepStaticEntries();
            scene.resetFrame();
        }
        scene.frame.frames.currentFrame = n;
        parseOk(scene, text);
        particlesNewFrame(scene);
    }
    const std::vector<Particle>& particles() const { return scene.particles->particles; }
};

TEST(Particles, BirthsAndCounts) {
    // Without Birth a generator emits in the first frame only; its particle lives on.
    Animation once("ParticleGenerator [ Particles 2 Shape \"ball\" ]");
    for (int f = 0; f < 3; ++f) once.frame(f);
    EXPECT_EQ(once.particles().size(), 2u);
    EXPECT_EQ(once.scene.frame.world.mainCount(), 2u);  // this frame's shapes
    EXPECT_DOUBLE_EQ(once.particles()[0].age, 3);

    Animation each("ParticleGenerator [ Birth CurrentFrame < 2 Shape \"ball\" ]");
    for (int f = 0; f < 4; ++f) each.frame(f);
    EXPECT_EQ(each.particles().size(), 2u);

    Animation none("ParticleGenerator [ Birth 1 Particles 0 Shape \"ball\" ]");
    none.frame(0);
    EXPECT_TRUE(none.particles().empty());

    try {
        Animation text("ParticleGenerator [ Particles \"many\" Shape \"ball\" ]");
        text.frame(0);
        ADD_FAILURE();
    } catch (const FatalError& e) {
        EXPECT_NE(std::string(e.what()).find("Invalid Particle number"), std::string::npos);
    }
}

TEST(Particles, NamedDeathReplacesInTheSameFrame) {
    Animation a(
        "Declare spark = ParticleGenerator [ Particles 3 Location P + (0, 1, 0) Velocity (1, 0, 0) Shape "
        "\"ball\" ]\n"
        "ParticleGenerator [ Location (5, 0, 0) Death \"spark\" Shape \"ball\" ]");
    a.frame(0);
    ASSERT_EQ(a.particles().size(), 3u);
    for (const Particle& p : a.particles()) {
        EXPECT_EQ(p.generator->key, "spark");
        // Born at the dying particle's place and moved once.
        EXPECT_NEAR(p.position.x, 6, 1e-12);
        EXPECT_NEAR(p.position.y, 1, 1e-12);
    }
    try {
        Animation b("ParticleGenerator [ Death \"nobody\" Shape \"ball\" ]");
        b.frame(0);
        ADD_FAILURE();
    } catch (const FatalError& e) {
        EXPECT_NE(std::string(e.what()).find("Can't find ParticleGenerator \"nobody\""), std::string::npos);
    }
}

TEST(Particles, ConstantAccelerationAndBounce) {
    Animation a("ParticleGenerator [ Velocity (1, 2, 0) Acceleration (0, -1, 0) Aging 0.5 Shape \"ball\" ]");
    for (int f = 0; f < 3; ++f) a.frame(f);
    ASSERT_EQ(a.particles().size(), 1u);
    // v_k = v0 + a k dt, and each step moves by the new velocity: x_k = v0 k dt + a dt^2 k (k + 1) / 2.
    const double dt = 0.5, k = 3;
    EXPECT_NEAR(a.particles()[0].position.x, k * dt, 1e-12);
    EXPECT_NEAR(a.particles()[0].position.y, 2 * k * dt - dt * dt * k * (k + 1) / 2, 1e-12);
    EXPECT_NEAR(a.particles()[0].velocity.y, 2 - k * dt, 1e-12);

    Animation b(
        "Shape [ Disk ((0, 0, 0), (0, 1, 0), 100) ]\n"
        "ParticleGenerator [ Location (0, 1, 0) Velocity (1, -2, 0) CollisionDetection 1 Shape \"ball\" ]");
    b.frame(0);
    ASSERT_EQ(b.particles().size(), 1u);
    EXPECT_NEAR(b.particles()[0].position.x, 1, 1e-9);
    EXPECT_NEAR(b.particles()[0].position.y, 1, 1e-9);
    EXPECT_NEAR(b.particles()[0].velocity.y, 2, 1e-9);
}

}  // namespace
}  // namespace quorva
