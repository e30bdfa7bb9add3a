// The pruned irradiance lookup against brute force: on random record sets (walls and open space, radii
// over four decades, three bounce levels) it finds the records a scan of every record finds, in the order
// of the unpruned walk, and blends them to the same bits as the plain weighted sum in that order.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "gi/irradiance_cache.h"

namespace quorva {
namespace {

Vec3 unitVector(std::mt19937& rng) {
    std::normal_distribution<double> g;
    for (;;) {
        const Vec3 v{g(rng), g(rng), g(rng)};
        if (length(v) > 1e-3) return normalized(v);
    }
}

std::vector<IrradianceRecord> randomRecords(std::mt19937& rng, int count) {
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<IrradianceRecord> all;
    for (int i = 0; i < count; ++i) {
        IrradianceRecord r;
        const int kind = static_cast<int>(rng() % 3);
        r.position = {40 * u(rng) - 20, 40 * u(rng) - 20, 40 * u(rng) - 20};
        r.normal = unitVector(rng);
        if (kind < 2) {  // on one of two walls, facing the room, with some normals bent
            r.position[kind] = kind ? 3.0 : -7.5;
            Vec3 n{0, 0, 0};
            n[kind] = kind ? -1 : 1;
            if (u(rng) < 0.7) r.normal = n;
        }
        r.radius = static_cast<float>(std::pow(10.0, 4 * u(rng) - 2.5));
        r.nearRadius = static_cast<float>(r.radius * u(rng));
        r.nearDirection = unitVector(rng);
        r.irradiance = {u(rng), u(rng), 1.2 * u(rng)};
        for (auto& axis : r.gradient)
            for (float& g : axis) g = static_cast<float>(0.4 * u(rng) - 0.2);
        r.level = static_cast<std::int16_t>(1 + rng() % 3);
        all.push_back(r);
    }
    return all;
}

// The blend of records, each weighed by its error, summed in the order given: the rule the lookup keeps.
int referenceBlend(const std::vector<const IrradianceRecord*>& order, const Vec3& P, const Vec3& n, int level,
                   double a, Color& result) {
    const double bound = a * std::ldexp(1.0, level - 1);
    Color sum;
    double weights = 0;
    int count = 0;
    for (const IrradianceRecord* p : order) {
        const IrradianceRecord& r = *p;
        if (r.level != level) continue;
        const Vec3 d = P - r.position;
        const double dist2 = dot(d, d);
        const double reach = r.radius * bound;
        if (dist2 >= reach * reach) continue;
        const double dist = std::sqrt(dist2);
        double Re = r.radius;
        Vec3 u;
        if (dist > 1e-6) {
            u = d / dist;
            const double cs = dot(u, r.nearDirection);
            if (cs > 0) Re = r.nearRadius * cs + (1 - cs) * r.radius;
        }
        if (dist >= Re * bound) continue;
        const double eps = dist / Re + 2 * std::sqrt(std::fabs(1 - dot(n, r.normal)));
        if (!(eps < bound)) continue;
        if (dist > 1e-6 && dot(normalized((n + r.normal) / 2), u) <= -0.05) continue;
        const double w = std::sqrt(1 - eps / bound);
        if (w <= 0.001) continue;
        const float df[3] = {static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z)};
        for (int ch = 0; ch < 3; ++ch) {
            float g = r.gradient[0][ch] * df[0] + r.gradient[1][ch] * df[1] + r.gradient[2][ch] * df[2];
            g = g < -0.1f ? -0.1f : (g > 0.1f ? 0.1f : g);
            double value = r.irradiance[ch] + g;
            value = value < 0 ? 0 : (value > 1 ? 1 : value);
            sum[ch] += w * value;
        }
        weights += w;
        ++count;
    }
    if (count > 0) result = sum / weights;
    return count;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(IrradianceLookupPruning, SameRecordsOrderAndBitsAsBruteForce) {
    std::mt19937 rng(29);
    std::uniform_real_distribution<double> u(0, 1);
    long found = 0, blended = 0;
    for (int set = 0; set < 6; ++set) {
        IrradianceConfig config;
        config.maxError = 0.2 + 0.8 * u(rng);
        IrradianceCache cache(config);
        IrradianceOctree tree;  // the cache's tree, rebuilt here to walk it without pruning
        const std::vector<IrradianceRecord> all = randomRecords(rng, 300 + 500 * set);
        std::vector<OctreeCell> cells;
        for (const IrradianceRecord& r : all) {
            const double reach = config.maxError * r.radius;
            const Vec3 half{reach, reach, reach};
            cells.push_back(cellForCube(r.position - half, r.position + half));
            tree.insert(std::make_unique<IrradianceRecord>(r), cells.back());
            cache.insert(r);
        }
        for (int probe = 0; probe < 400; ++probe) {
            const IrradianceRecord& near = all[rng() % all.size()];
            Vec3 P = near.position + unitVector(rng) * (2.0 * near.radius * u(rng));
            if (probe % 5 == 0) P = {40 * u(rng) - 20, 40 * u(rng) - 20, 40 * u(rng) - 20};
            const Vec3 n =
                probe % 3 ? normalized(near.normal + unitVector(rng) * (0.3 * u(rng))) : unitVector(rng);
            const int level = 1 + static_cast<int>(rng() % 3);
            const double reach = probe % 17 == 0 ? -0.5 * u(rng) : 2.5 * u(rng);

            using Hit = std::tuple<const IrradianceRecord*, double, double>;
            std::vector<Hit> pruned, walked;
            tree.forEachWithin(P, n, level, reach, [&](const IrradianceRecord& r, double dist2, double bend) {
                pruned.emplace_back(&r, dist2, bend);
            });
            std::vector<const IrradianceRecord*> order;
            tree.forEachNear(P, [&](const IrradianceRecord& r) {
                order.push_back(&r);
                if (r.level != level) return;
                const Vec3 d = P - r.position;
                const double dist2 = dot(d, d), within = r.radius * reach;
                const double bend = 2 * std::sqrt(std::fabs(1 - dot(n, r.normal)));
                if (!(dist2 >= within * within) && (reach <= 0 || bend < reach))
                    walked.emplace_back(&r, dist2, bend);
            });
            ASSERT_EQ(pruned.size(), walked.size());
            for (std::size_t i = 0; i < pruned.size(); ++i) {
                EXPECT_EQ(std::get<0>(pruned[i]), std::get<0>(walked[i]));
                EXPECT_TRUE(sameBits(std::get<1>(pruned[i]), std::get<1>(walked[i])));
                EXPECT_TRUE(sameBits(std::get<2>(pruned[i]), std::get<2>(walked[i])));
            }
            // The unpruned walk itself misses nothing a scan of every record with its cell finds.
            std::size_t scanned = 0;
            for (std::size_t i = 0; i < all.size(); ++i) {
                const IrradianceRecord& r = all[i];
                const Vec3 d = P - r.position;
                const double within = r.radius * reach;
                scanned += r.level == level && cells[i].contains(P, P) && dot(d, d) < within * within &&
                           (reach <= 0 || 2 * std::sqrt(std::fabs(1 - dot(n, r.normal))) < reach);
            }
            EXPECT_EQ(scanned, pruned.size());
            found += static_cast<long>(pruned.size());

            // The cache's blend equals the plain sum over the unpruned walk, bit for bit.
            const double a = std::fabs(reach) + 0.05;
            Color E{-1, -1, -1}, expected{-1, -1, -1};
            const int used = cache.lookup(P, n, level, a, E);
            ASSERT_EQ(used, referenceBlend(order, P, n, level, a, expected));
            for (int ch = 0; ch < 3; ++ch) EXPECT_TRUE(sameBits(E[ch], expected[ch])) << ch;
            blended += used;
        }
    }
    // The sets are dense enough that the property is tested on real hits.
    EXPECT_GT(found, 2000);
    EXPECT_GT(blended, 1000);
}

// Crowds of records on the boundaries of cells (coordinates on multiples of the cell sizes), so many of
// them within reach that a lookup hands them over in several batches, with radii from tiny to huge and
// normals that face every way: the blend still equals the plain sum over the unpruned walk, bit for bit.
TEST(IrradianceLookupPruning, CrowdsOnCellBoundariesBlendInOrder) {
    std::mt19937 rng(2929);
    std::uniform_real_distribution<double> u(0, 1);
    IrradianceConfig config;
    IrradianceCache cache(config);
    IrradianceOctree tree;
    for (int i = 0; i < 3000; ++i) {
        IrradianceRecord r;
        const double step = std::ldexp(1.0, static_cast<int>(rng() % 6) - 3);  // 1/8 .. 4
        for (int k = 0; k < 3; ++k) r.position[k] = step * static_cast<int>(rng() % 9) - 2 * step;
        r.normal = i % 4 ? Vec3{0, 1, 0} : unitVector(rng);
        r.radius = static_cast<float>(i % 50 == 0 ? 1e6 : std::pow(10.0, 3 * u(rng) - 1.5));
        r.nearRadius = static_cast<float>(r.radius * u(rng));
        r.nearDirection = unitVector(rng);
        r.irradiance = {u(rng), u(rng), u(rng)};
        r.gradient[1][2] = static_cast<float>(u(rng) - 0.5);
        r.level = static_cast<std::int16_t>(1 + i % 2);
        cache.insert(r);
        const double reach = config.maxError * r.radius;
        const Vec3 half{reach, reach, reach};
        tree.insert(std::make_unique<IrradianceRecord>(r), cellForCube(r.position - half, r.position + half));
    }
    long most = 0;
    for (int probe = 0; probe < 300; ++probe) {
        const double step = std::ldexp(1.0, static_cast<int>(rng() % 6) - 3);
        Vec3 P;
        for (int k = 0; k < 3; ++k) P[k] = step * static_cast<int>(rng() % 9) - 2 * step;
        if (probe % 2) P = P + unitVector(rng) * (0.01 * u(rng));
        const Vec3 n = probe % 3 ? Vec3{0, 1, 0} : unitVector(rng);
        const int level = 1 + probe % 2;
        const double a = 0.1 + 2 * u(rng);
        std::vector<const IrradianceRecord*> order;
        tree.forEachNear(P, [&order](const IrradianceRecord& r) { order.push_back(&r); });
        Color E{-1, -1, -1}, expected{-1, -1, -1};
        const int used = cache.lookup(P, n, level, a, E);
        ASSERT_EQ(used, referenceBlend(order, P, n, level, a, expected)) << probe;
        for (int ch = 0; ch < 3; ++ch) EXPECT_TRUE(sameBits(E[ch], expected[ch])) << probe << " " << ch;
        most = std::max<long>(most, used);
    }
    EXPECT_GT(most, 3 * IrradianceHits::Capacity);
}

}  // namespace
}  // namespace quorva
