// The irradiance cache: the furnace, the lookup rules, the octree against brute force, record radii and
// sample counts, and the ".qic" file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "geometry/shapes.h"
#include "gi/hemisphere_directions.h"
#include "gi/irradiance_cache.h"
#include "gi/irradiance_file.h"
#include "render/primary_grid.h"
#include "shading/shading_test_support.h"
#include "support/fatal_text.h"
#include "support/run_program.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

using testing::num;

IrradianceRecord record(const Vec3& P, const Vec3& n, const Color& E, float R, int level = 1) {
    IrradianceRecord r;
    r.position = P;
    r.normal = n;
    r.irradiance = E;
    r.radius = R;
    r.nearRadius = R;
    r.nearDirection = n;
    r.level = static_cast<std::int16_t>(level);
    return r;
}

// Inside a closed sphere whose wall has ambient A and diffuse d, with no light, every hemisphere ray sees
// the same radiance.
struct Furnace : ::testing::Test {
    static constexpr double A = 0.2, d = 0.5;
    SceneState scene;
    RenderContext ctx{&scene.frame};

    Furnace() {
        ctx.settings.featureMask = 127;
        scene.frame.camera.location = {0, 0, 0};
        scene.frame.camera.pointOfInterest = {0, 0, 1};
        SurfaceDescription wall;
        wall.slots[13] = num(A);
        wall.slots[17] = num(d);
        auto sphere = makeSphere({0, 0, 0}, 5);
        sphere->shader = makeSurfaceShader(wall);
        scene.frame.world.push(std::move(sphere));
        scene.frame.options.irradiance.enabled = true;
        scene.frame.options.irradiance.samples = 40;
    }
    Color pixel(int bounceLevel) {
        scene.frame.options.irradiance.bounceLevel = bounceLevel;
        IrradianceCache cache(irradianceConfig(scene.frame));
        ctx.globalIllumination = &cache;
        Color c;
        double alpha = 0;
        traceRay(ctx, 0, Ray{{0, 0, 0}, normalized(Vec3{0.3, 0.2, 1})}, c, alpha, &ctx.stats.primaryRays);
        ctx.globalIllumination = nullptr;
        return c;
    }
};

TEST_F(Furnace, PixelsFollowTheBounceLevel) {
    const double s = IrradianceScale;
    const double one = A + s * d * A;
    Color c = pixel(1);
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(c[ch], one, 3.0 / 255);
    EXPECT_GT(ctx.stats.irradianceRays, 0u);
    c = pixel(2);
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(c[ch], A + s * d * one, 3.0 / 255);
}

TEST(IrradianceLookup, WeightsAndRejections) {
    IrradianceConfig config;
    IrradianceCache cache(config);
    const Vec3 up{0, 1, 0};
    cache.insert(record({0, 0, 0}, up, {0.5, 0.25, 0.125}, 1));
    Color E;
    // Same point and normal: weight 1, the record's value.
    EXPECT_EQ(cache.lookup({0, 0, 0}, up, 1, 0.8, E), 1);
    EXPECT_DOUBLE_EQ(E.r, 0.5);
    EXPECT_DOUBLE_EQ(E.b, 0.125);
    // Normals 90 degrees apart, another level, a point the record lies in front of: nothing qualifies.
    E = {9, 9, 9};
    EXPECT_EQ(cache.lookup({0, 0, 0}, {1, 0, 0}, 1, 0.8, E), 0);
    EXPECT_EQ(cache.lookup({0, 0, 0}, up, 2, 0.8, E), 0);
    EXPECT_EQ(cache.lookup({0, -0.2, 0}, up, 1, 0.8, E), 0);
    EXPECT_EQ(E.r, 9);
    // Behind the record (along its normal) it still counts.
    EXPECT_EQ(cache.lookup({0.1, 0.05, 0}, up, 1, 0.8, E), 1);
}

TEST(IrradianceLookup, GradientIsClampedAndValuesStayInRange) {
    IrradianceCache cache(IrradianceConfig{});
    IrradianceRecord r = record({0, 0, 0}, {0, 1, 0}, {0.95, 0.5, 0.05}, 1);
    for (int ch = 0; ch < 3; ++ch) r.gradient[0][ch] = 10;  // +1 per 0.1 along x
    r.gradient[0][2] = -10;
    cache.insert(r);
    Color E;
    ASSERT_EQ(cache.lookup({0.05, 0, 0}, {0, 1, 0}, 1, 0.8, E), 1);
    EXPECT_DOUBLE_EQ(E.r, 1.0);   // 0.95 + 0.1, clamped to 1
    EXPECT_NEAR(E.g, 0.6, 1e-6);  // 0.5 + 0.5 clamped to 0.1
    EXPECT_DOUBLE_EQ(E.b, 0.0);   // 0.05 - 0.1, clamped to 0
}

// The octree visits every record whose sphere of influence holds the point, wherever the records are.
TEST(IrradianceOctreeTest, FindsWhatBruteForceFinds) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> position(-50, 50), radius(0.01, 8);
    const double a = 0.8;
    std::vector<IrradianceRecord> all;
    IrradianceOctree tree;
    for (int i = 0; i < 2000; ++i) {
        IrradianceRecord r =
            record({position(rng), position(rng), position(rng)}, {0, 1, 0}, {}, radius(rng));
        all.push_back(r);
        const Vec3 half{a * r.radius, a * r.radius, a * r.radius};
        tree.insert(std::make_unique<IrradianceRecord>(r), cellForCube(r.position - half, r.position + half));
    }
    for (int probe = 0; probe < 500; ++probe) {
        const Vec3 P{position(rng), position(rng), position(rng)};
        int visited = 0, expected = 0;
        tree.forEachNear(
            P, [&](const IrradianceRecord& r) { visited += length(P - r.position) < a * r.radius; });
        for (const IrradianceRecord& r : all) expected += length(P - r.position) < a * r.radius;
        EXPECT_EQ(visited, expected);
    }
    // A degenerate cube (a = 0) still gets a cell.
    const OctreeCell cell = cellForCube({1, 2, 3}, {1, 2, 3});
    EXPECT_TRUE(cell.contains({1, 2, 3}, {1, 2, 3}));
}

TEST_F(Furnace, RecordAtTheCentreAndSampleCounts) {
    scene.frame.options.irradiance.maxDistance = 10;
    scene.frame.options.irradiance.bounceLevel = 1;
    testing::TemporaryFolder dir;
    IrradianceCache cache(irradianceConfig(scene.frame));
    ASSERT_TRUE(cache.openSaveFile(dir.file("centre.qic")));
    ctx.globalIllumination = &cache;
    // Level 3: 12 / 3 / 2 = 2 samples, raised to 5.
    ASSERT_TRUE(cache.computeRecord(ctx, {0, 0, 0}, {0, 1, 0}, 12, 3, 0, 1));
    EXPECT_EQ(ctx.stats.irradianceRays, 5u);
    ASSERT_TRUE(cache.computeRecord(ctx, {0, 0, 0}, {0, 0, 1}, -1, 1, 0, 1));
    ctx.globalIllumination = nullptr;
    // Every sample travels 5 from the centre: R = Rmin = 5 (the floats at the end of each record item).
    const std::string bytes = testing::readFile(dir.file("centre.qic"));
    ASSERT_EQ(bytes.size(), 2u * 83);
    for (std::size_t item : {0u, 83u}) {
        float R = 0, Rmin = 0;
        std::memcpy(&R, &bytes[item + 75], 4);
        std::memcpy(&Rmin, &bytes[item + 79], 4);
        EXPECT_FLOAT_EQ(R, 5);
        EXPECT_FLOAT_EQ(Rmin, 5);
    }
}

std::string bytesOf(const std::string& path) {
    return testing::readFile(path);
}

TEST(QicFile, KnownRecordBytesRoundTripAndRejections) {
    testing::TemporaryFolder dir;
    const std::string path = dir.file("c.qic");
    {
        IrradianceCache cache(IrradianceConfig{});
        ASSERT_TRUE(cache.openSaveFile(path));
        cache.writeScaleItem();
        cache.insert(record({1, 2, 3}, {0, 0, 1}, {0.5, 0.25, 1}, 2));
        cache.insert(record({0, 0, 0}, {0, 0, 1}, {1, 1, 1}, 1, 0));  // level 0: not written
        cache.writeGridCompleteItem();
    }
    const std::string bytes = bytesOf(path);
    ASSERT_EQ(bytes.size(), 9u + 1 + 2 + 24 + 48 + 8 + 1);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 253);
    EXPECT_EQ(static_cast<unsigned char>(bytes[9]), 254);
    EXPECT_EQ(bytes.substr(10, 2), std::string("\x01\x00", 2));
    // Normal (0, 0, 1): 127, 127, 254 as little-endian int32.
    EXPECT_EQ(bytes.substr(12, 12), std::string("\x7f\0\0\0\x7f\0\0\0\xfe\0\0\0", 12));
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 255);

    // A second save never overwrites the file.
    IrradianceCache again(IrradianceConfig{});
    EXPECT_FALSE(again.openSaveFile(path));
    EXPECT_EQ(bytesOf(path), bytes);

    // Reloaded: the record answers, the grid is complete, the scale is read.
    IrradianceConfig other;
    other.scale = 3;
    IrradianceCache loaded(other);
    ASSERT_TRUE(loaded.loadFile(path));
    EXPECT_TRUE(loaded.gridComplete());
    EXPECT_DOUBLE_EQ(loaded.config().scale, IrradianceScale);
    Color E;
    ASSERT_EQ(loaded.lookup({1, 2, 3}, {0, 0, 1}, 1, 0.8, E), 1);
    EXPECT_NEAR(E.g, 0.25, 1e-12);

    // Cut after a tag, cut inside a record, a bad tag: what came before stays.
    auto countFrom = [&](const std::string& text) {
        const std::string p = dir.write("bad.qic", text);
        IrradianceCache c(IrradianceConfig{});
        std::FILE* f = std::fopen(p.c_str(), "rb");
        long n = ReadIrradianceFile(f, c);
        std::fclose(f);
        EXPECT_EQ(c.recordCount(), static_cast<std::size_t>(n));
        return n;
    };
    const std::string item = bytes.substr(9, 83);
    EXPECT_EQ(countFrom(item + item + "\xfe"), 2);
    EXPECT_EQ(countFrom(item + item.substr(0, 40)), 1);
    EXPECT_EQ(countFrom(item + "\x07" + item), 1);
    std::string farAway = item;
    const double huge = 2e7;
    std::memcpy(&farAway[35], &huge, 8);
    EXPECT_EQ(countFrom(item + farAway + item), 1);
}

// Saved by one run, reloaded by the next: every record is reused, no irradiance ray is traced, and a
// second save leaves the file as it was.
TEST(QicFile, SavedCacheIsReusedByTheNextRun) {
    testing::TemporaryFolder dir;
    dir.write("box.qsb",
              "Version : 1.3\n"
              "Camera [ (0, 1, -4), (0, 1, 0), (0, 1, 0) Format (24, 18) ]\n"
              "Options [ IrradianceSamples 12 IrradianceBounceLevel 1 ]\n"
              "ComputeIrradiance 4\n"
              "PointLight [ (1, 2, -2) ]\n"
              "Declare wall = Shader [ PlainSurface [ Color '0.8, 0.7, 0.6' Ka 0.05 Kd 0.8 ] ]\n"
              "Shape [ Box ((-3, -0.1, -3), (3, 0, 3)) wall ]\n"
              "Shape [ Box ((-3, 0, 2), (3, 3, 2.1)) wall ]\n");
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.timeoutSeconds = 120;
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"box", "-d"};
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::runProgram(QUORVA_BINARY, args, o);
    };
    testing::ProgramResult first = run({"-s", "2"});
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("Computing primary global illumination grid...\n"), std::string::npos);
    EXPECT_NE(first.output.find("Monte Carlo irradiance rays"), std::string::npos);
    const std::string saved = testing::readFile(dir.file("box.qic"));
    ASSERT_GT(saved.size(), 83u);

    std::filesystem::remove(dir.file("box.tga"));
    testing::ProgramResult second = run({"-l", "2"});
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("values read with success from irradiance data cache file."),
              std::string::npos);
    EXPECT_EQ(second.output.find("Computing primary global illumination grid"), std::string::npos);
    EXPECT_EQ(second.output.find("Monte Carlo irradiance rays"), std::string::npos) << second.output;

    std::filesystem::remove(dir.file("box.tga"));
    ASSERT_EQ(run({"-s", "2"}).status, 0);
    EXPECT_EQ(testing::readFile(dir.file("box.qic")), saved);
}

TEST(NRooks, TablesArePermutationsAndImpossibleSizesAreRefused) {
    for (int n : {1, 5, 97, 1000}) {
        std::vector<int> table = makeNRooksTable(n);
        std::sort(table.begin(), table.end());
        for (int i = 0; i < n; ++i) ASSERT_EQ(table[i], i) << n;
    }
    EXPECT_EQ(testing::fatalText([] { makeNRooksTable(0); }), "unable to initialize N-Rooks");
    EXPECT_EQ(testing::fatalText([] { makeNRooksTable(2000000000); }), "unable to allocate N-Rooks table");
}

TEST(PrimaryGrid, StepsAndSizeCheck) {
    int first = 0, finest = 0;
    primaryGridSteps(320, 0, false, first, finest);
    EXPECT_EQ(first, 25);
    EXPECT_EQ(finest, 6);
    primaryGridSteps(40, 20, true, first, finest);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(finest, 2);
    SceneState scene;
    scene.frame.camera.width = 32;
    scene.frame.camera.height = 24;
    scene.frame.options.irradiance.gridSize = 20;
    EXPECT_EQ(testing::fatalText([&] { checkGridSize(scene.frame); }),
              "Grid size must be less than 50% of max image resolution");
    scene.frame.options.irradiance.gridSize = 16;
    EXPECT_EQ(testing::fatalText([&] { checkGridSize(scene.frame); }), "(no error)");
}

}  // namespace
}  // namespace quorva
