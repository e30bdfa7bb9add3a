// Photon maps: encoding, kd-tree invariants, k-nearest gathering against brute force, the ".qpm" file
// with its rejections, and caustics shot in small scenes (a flat mirror, a glass ball).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "../shading/shading_test_support.h"
#include "geometry/shapes.h"
#include "gi/photon_file.h"
#include "gi/photon_maps.h"
#include "render/render_rows.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::glass;
using testing::matte;
using testing::mirror;
using testing::num;
using testing::vec;

Vec3 randomPoint(std::mt19937& g, double scale = 10) {
    std::uniform_real_distribution<double> u(-scale, scale);
    return {u(g), u(g), u(g)};
}

void fill(PhotonMap& map, int n, std::mt19937& g) {
    for (int i = 0; i < n; ++i) {
        Vec3 p = randomPoint(g);
        map.store({0.5, 0.25, 0.1}, p, p + Vec3{0, 1, 0});
    }
}

TEST(PhotonEncoding, DirectionAndPowerRoundTrip) {
    PhotonDirections table;
    std::mt19937 g(7);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 d = normalized(randomPoint(g, 1));
        Photon p;
        encodePhoton(p, {1, 0.5, 0.25}, 2, {0, 0, 0}, d * 3);
        const Vec3 back = table.direction(p);
        // Two truncated angles: each off by less than one index step.
        EXPECT_LT(std::acos(std::clamp(dot(back, d), -1.0, 1.0)), 2 * M_PI / 127) << d;
    }
    // The first photon of a map sets S = 2 / largest: m = 127 and the largest byte clamps to 255.
    PhotonMap map;
    map.store({4, 2, 1}, {}, {0, 1, 0});
    EXPECT_DOUBLE_EQ(map.scale(), 0.5);
    EXPECT_EQ(map[0].multiplier, 127);
    EXPECT_EQ(map[0].power[0], 255);
    EXPECT_EQ(map[0].power[1], 128);
    // A photon 128 times stronger: m = 0, still no wrap to zero.
    map.store({512, 0, 0}, {}, {0, 1, 0});
    EXPECT_EQ(map[1].multiplier, 0);
    EXPECT_EQ(map[1].power[0], 255);
    // A weaker photon keeps its power to within one byte step, 1 / ((m + 1) S) = 1 / 128 here.
    map.store({0.3, 0.2, 0.1}, {}, {0, 1, 0});
    const Color c = photonPower(map[2], map.scale());
    EXPECT_EQ(map[2].multiplier, 255);
    EXPECT_NEAR(c.r, 0.3, 1.0 / 128);
    // No positive channel: not stored.
    EXPECT_FALSE(map.store({0, -1, 0}, {}, {0, 1, 0}));
    EXPECT_EQ(map.count(), 3);
}

// Photons far stronger than the first lower the map's scale instead of clamping: each keeps its power,
// and the map keeps the power it was given (the strong photons dominate it).
TEST(PhotonEncoding, StrongerPhotonsRescaleTheMap) {
    PhotonMap map;
    const Color powers[] = {{1, 0.5, 0.25}, {1000, 10, 1}, {300, 200, 100}, {1e5, 0, 0}};
    double fed = 0;
    for (const Color& c : powers) {
        ASSERT_TRUE(map.store(c, {}, {0, 1, 0}));
        fed += c.r;
    }
    double decoded = 0;
    for (int i = 0; i < map.count(); ++i) decoded += photonPower(map[i], map.scale()).r;
    EXPECT_NEAR(decoded, fed, 0.005 * fed);
    EXPECT_NEAR(photonPower(map[1], map.scale()).r, 1000, 10);
    EXPECT_NEAR(photonPower(map[3], map.scale()).r, 1e5, 1e3);
    // A photon 300 times weaker than the strongest keeps its power to a few byte steps.
    EXPECT_NEAR(photonPower(map[2], map.scale()).r, 300, 15);
}

// Every node splits its range: left <= split <= right along its axis, and the axis is the range's
// largest extent (ties keep the earlier axis).
void checkTree(const PhotonMap& map, int lo, int hi) {
    if (lo >= hi) return;
    const int mid = (lo + hi) / 2;
    Vec3 a = map[lo].point(), b = a;
    for (int i = lo; i <= hi; ++i)
        for (int k = 0; k < 3; ++k) {
            a[k] = std::min(a[k], map[i].position[k]);
            b[k] = std::max(b[k], map[i].position[k]);
        }
    const Vec3 e = b - a;
    int axis = 0;
    if (e.y > e.x) axis = 1;
    if (e.z > e[axis]) axis = 2;
    ASSERT_EQ(map[mid].splitAxis(), axis);
    const double split = map[mid].position[axis];
    for (int i = lo; i < mid; ++i) ASSERT_LE(map[i].position[axis], split);
    for (int i = mid + 1; i <= hi; ++i) ASSERT_GE(map[i].position[axis], split);
    checkTree(map, lo, mid - 1);
    checkTree(map, mid + 1, hi);
}

TEST(PhotonBalance, KdInvariantsOnRandomAndEqualSets) {
    std::mt19937 g(3);
    PhotonMap random;
    fill(random, 20000, g);  // spans two blocks
    random.balance();
    checkTree(random, 0, random.count() - 1);

    PhotonMap same;
    for (int i = 0; i < 500; ++i) same.store({1, 1, 1}, {1, 2, 3}, {1, 3, 3});
    same.balance();
    checkTree(same, 0, same.count() - 1);
    for (int i = 0; i < same.count(); ++i) EXPECT_EQ(same[i].axis, 0);
    // No density can be measured on a single spot: the automatic radius still comes out usable.
    GatherHeap heap;
    same.estimateRadius(heap, false);
    EXPECT_TRUE(std::isfinite(same.gatherRadius) && same.gatherRadius > 0) << same.gatherRadius;
}

TEST(PhotonGather, KNearestEqualsBruteForce) {
    std::mt19937 g(11);
    PhotonMap map;
    fill(map, 3000, g);
    map.balance();
    GatherHeap heap;
    for (int k : {1, 7, 50}) {
        map.gatherCount = k;
        for (int q = 0; q < 50; ++q) {
            const Vec3 P = randomPoint(g, 12);
            std::vector<double> brute;
            for (int i = 0; i < map.count(); ++i) {
                Vec3 d = map[i].point() - P;
                if (dot(d, d) < 9) brute.push_back(dot(d, d));
            }
            std::sort(brute.begin(), brute.end());
            double r = 0;
            const int n = map.gather(heap, P, 3, nullptr, r);
            ASSERT_EQ(n, std::min<int>(k, brute.size()));
            std::vector<double> found;
            for (int i = 0; i < n; ++i) found.push_back(heap[i].distance2);
            std::sort(found.begin(), found.end());
            for (int i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(found[i], brute[i]);
            if (n == k) {
                EXPECT_DOUBLE_EQ(r * r, brute[k - 1]);
            }
        }
    }
    // With a normal, distances along it weigh 1 + 16 |n . d| times more.
    const Vec3 n = normalized(Vec3{1, 2, 3});
    for (int q = 0; q < 20; ++q) {
        const Vec3 P = randomPoint(g, 12);
        std::vector<double> brute;
        for (int i = 0; i < map.count(); ++i) {
            const Vec3 d = map[i].point() - P;
            const double w = dot(d, d) * (1 + 16 * std::fabs(dot(n, d)));
            if (w < 9) brute.push_back(w);
        }
        std::sort(brute.begin(), brute.end());
        double r = 0;
        const int found = map.gather(heap, P, 3, &n, r);
        ASSERT_EQ(found, std::min<int>(50, brute.size()));
        if (found == 50) {
            EXPECT_DOUBLE_EQ(r * r, brute[49]);
        }
    }
    // k above the count: every photon within the radius, and the radius itself comes back.
    PhotonMap few;
    for (int i = 0; i < 5; ++i) few.store({1, 1, 1}, {double(i), 0, 0}, {double(i), 1, 0});
    few.balance();
    few.gatherCount = 50;
    double r = 0;
    EXPECT_EQ(few.gather(heap, {0, 0, 0}, 10, nullptr, r), 5);
    EXPECT_DOUBLE_EQ(r, 10);
    EXPECT_EQ(few.gather(heap, {0, 0, 0}, 2.5, nullptr, r), 3);
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(PhotonFile, RoundTripIsByteExactAndBadFilesAreRefused) {
    testing::TemporaryFolder dir;
    std::mt19937 g(5);
    PhotonMap caustic, media, irradiance;
    fill(caustic, 300, g);
    fill(irradiance, 40, g);
    caustic.balance();
    irradiance.balance();
    const std::string a = dir.file("a.qpm"), b = dir.file("b.qpm");
    ASSERT_TRUE(savePhotonFile(a, caustic, media, irradiance));
    const std::string saved = bytesOf(a);
    ASSERT_EQ(saved.size(), 36u + 32 * 340);
    // An existing file is never replaced.
    EXPECT_FALSE(savePhotonFile(a, media, media, media));
    EXPECT_EQ(bytesOf(a), saved);

    PhotonMap c2, m2, i2;
    ASSERT_TRUE(loadPhotonFile(a, c2, m2, i2));
    EXPECT_EQ(c2.count(), 300);
    EXPECT_EQ(m2.count(), 0);
    EXPECT_EQ(i2.count(), 40);
    ASSERT_TRUE(savePhotonFile(b, c2, m2, i2));
    EXPECT_EQ(bytesOf(b), saved);

    auto refused = [&](std::string bytes, const char* what) {
        writeBytes(b, bytes);
        PhotonMap x, y, z;
        EXPECT_FALSE(loadPhotonFile(b, x, y, z)) << what;
        EXPECT_EQ(x.count() + y.count() + z.count(), 0) << what;
    };
    std::string bad = saved;
    bad[3] = '\x80';  // negative caustic count
    refused(bad, "negative count");
    bad = saved;
    bad[2] = '\x7f';  // far beyond the file size
    refused(bad, "oversized count");
    bad = saved;
    std::fill(bad.begin() + 4, bad.begin() + 12, '\0');  // S = 0 for a non-empty map
    refused(bad, "bad scale");
    bad = saved;
    bad[36 + 28] = 3;
    refused(bad, "axis above 2");
    bad = saved;
    bad[36 + 32 + 29] = '\x80';
    refused(bad, "index -128");
    refused(saved.substr(0, saved.size() - 1), "short file");
    refused(saved.substr(0, 20), "short header");
}

struct CausticScene : ::testing::Test {
    SceneState scene;
    RenderContext ctx{&scene.frame};

    Shape& add(std::unique_ptr<Shape> shape, const SurfaceDescription& d) {
        shape->shader = makeSurfaceShader(d);
        return *scene.frame.world.push(std::move(shape));
    }
    std::unique_ptr<PhotonMaps> shoot(const Vec3& lightAt, double spacing) {
        LightItems items;
        return shoot(makePointLight(lightAt, items), spacing);
    }
    std::unique_ptr<PhotonMaps> shoot(std::unique_ptr<Light> light, double spacing) {
        addLight(scene.frame, std::move(light));
        PhotonSettings& p = scene.frame.options.photons;
        p.requested = true;
        p.parameters[0] = 50;
        p.parameters[3] = spacing;
        p.parameterCount = 4;
        buildSunLight(scene.frame);
        prepareRenderContext(ctx, scene.frame);
        auto maps = std::make_unique<PhotonMaps>(scene.frame);
        maps->build(ctx, {});
        return maps;
    }
};

TEST_F(CausticScene, FlatMirrorLightsTheCeilingLikeTheMirroredLight) {
    add(makeBox({-20, 10, -20}, {20, 11, 20}), matte());
    add(makeBox({-5, -1, -5}, {5, 0, 5}), mirror()).caustics = 1;
    auto maps = shoot({0, 5, 0}, 0.03);
    ASSERT_GT(maps->caustic.count(), 1000);
    maps->caustic.gatherRadius = 1;  // the 50 nearest decide, not the automatic radius
    // The mirrored light stands at (0, -5, 0); without decay the direct light is colour x cos.
    for (double x : {0.0, 3.0}) {
        const Vec3 P{x, 10, 0};
        const double expected = 15 / length(P - Vec3{0, -5, 0});
        const Color E = maps->causticIrradiance(ctx, P, {0, -1, 0});
        EXPECT_NEAR(E.r, expected, 0.1 * expected) << x;
        // Photons arrive from below only.
        EXPECT_EQ(maps->causticIrradiance(ctx, P, {0, 1, 0}).r, 0);
    }
}

TEST_F(CausticScene, GlassBallFocusesLightOntoTheFloor) {
    add(makeBox({-20, -1, -20}, {20, 0, 20}), matte());
    add(makeSphere({0, 2, 0}, 1), glass()).caustics = 1;
    auto maps = shoot({0, 10, 0}, 0.02);
    ASSERT_GT(maps->caustic.count(), 100);
    const double litFloor = 10 / std::sqrt(109.0);  // direct light at (3, 0, 0)
    const double spot = maps->causticIrradiance(ctx, {0, 0, 0}, {0, 1, 0}).r;
    EXPECT_GT(spot, 2 * litFloor);
    EXPECT_LT(maps->causticIrradiance(ctx, {10, 0, 0}, {0, 1, 0}).r, 0.05 * spot);
}

// Parallel light over a clear ball: each photon carries the light over its grid cell, and all that
// enters the ball leaves it for the floor. The map holds the light the ball intercepts, pi R^2 times
// the colour, and the caustic gathered over the floor gives it back.
TEST_F(CausticScene, GlassBallCarriesTheLightItIntercepts) {
    add(makeBox({-20, -1, -20}, {20, 0, 20}), matte());
    add(makeSphere({0, 2, 0}, 1), glass()).caustics = 1;
    LightItems items;
    auto maps = shoot(makeDirectionalLight({0, 1, 0}, items), 0.01);
    double stored = 0;
    for (int i = 0; i < maps->caustic.count(); ++i)
        stored += photonPower(maps->caustic[i], maps->caustic.scale()).r;
    EXPECT_NEAR(stored, M_PI, 0.02 * M_PI);
    const double step = 0.05;
    double gathered = 0;
    for (double x = -3; x < 3; x += step)
        for (double z = -3; z < 3; z += step)
            gathered +=
                maps->causticIrradiance(ctx, {x + step / 2, 0, z + step / 2}, {0, 1, 0}).r * step * step;
    EXPECT_NEAR(gathered, M_PI, 0.1 * M_PI);
}

}  // namespace
}  // namespace quorva
