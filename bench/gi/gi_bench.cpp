// Times irradiance cache lookups on one thread: 100,000 records on the walls of a box, lookups at random
// points of those walls; prints lookups per second of the thread's processor time (fastest of five
// rounds), the mean number of records blended, and how many records a lookup examines (tests the distance
// of) against how many lie in the octree nodes around the point, which a walk without pruning examines.
#include <time.h>

#include <cstdio>
#include <random>
#include <vector>

#include "gi/irradiance_cache.h"

using namespace quorva;

namespace {

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// A point on one of the six walls of the cube -10..10 and the wall's inward normal.
void wallPoint(std::mt19937& rng, Vec3& P, Vec3& n) {
    std::uniform_real_distribution<double> u(-10, 10);
    const int wall = static_cast<int>(rng() % 6);
    P = {u(rng), u(rng), u(rng)};
    n = {0, 0, 0};
    const int axis = wall / 2;
    const double side = wall % 2 ? 10 : -10;
    P[axis] = side;
    n[axis] = -side / 10;
}

}  // namespace

int main() {
    IrradianceConfig config;
    IrradianceCache cache(config);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> radius(0.05, 0.6);
    IrradianceOctree tree;  // the cache's records again, to count what a lookup examines
    for (int i = 0; i < 100000; ++i) {
        IrradianceRecord r;
        wallPoint(rng, r.position, r.normal);
        r.irradiance = {0.5, 0.4, 0.3};
        r.radius = static_cast<float>(radius(rng));
        r.nearRadius = r.radius * 0.5f;
        r.nearDirection = r.normal;
        cache.insert(r);
        const double reach = config.maxError * r.radius;
        const Vec3 half{reach, reach, reach};
        tree.insert(std::make_unique<IrradianceRecord>(r), cellForCube(r.position - half, r.position + half));
    }
    std::vector<Vec3> points(100000), normals(100000);
    for (std::size_t i = 0; i < points.size(); ++i) wallPoint(rng, points[i], normals[i]);
    double best = 1e30;
    long used = 0;
    for (int round = 0; round < 5; ++round) {
        used = 0;
        const double start = threadSeconds();
        for (std::size_t i = 0; i < points.size(); ++i) {
            Color E;
            used += cache.lookup(points[i], normals[i], 1, 0.8, E);
        }
        const double t = threadSeconds() - start;
        if (t < best) best = t;
    }
    long examined = 0, around = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        examined +=
            tree.forEachWithin(points[i], normals[i], 1, 0.8, [](const IrradianceRecord&, double, double) {});
        tree.forEachNear(points[i], [&around](const IrradianceRecord&) { ++around; });
    }
    std::printf("%zu records, %zu lookups: %.0f lookups/s, %.2f records blended per lookup\n",
                cache.recordCount(), points.size(), points.size() / best,
                static_cast<double>(used) / points.size());
    std::printf("records examined per lookup: %.1f, of %.1f in the nodes around the point\n",
                static_cast<double>(examined) / points.size(), static_cast<double>(around) / points.size());
    return 0;
}
