// Times the photon maps on one thread (processor time of the thread): a caustic scene shot and stored
// (a glass ball and a mirror over a floor), balancing 1,000,000 photons, and gathering the 50 nearest
// photons among 100,000 with the kd-tree against a brute-force scan of the same queries (the best
// of five rounds each).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "eval/request.h"
#include "geometry/shapes.h"
#include "gi/photon_maps.h"
#include "render/render_rows.h"
#include "scene/scene_state.h"
#include "shading/light.h"
#include "shading/shader.h"
#include "trace/render_context.h"

using namespace quorva;

namespace {

double seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

std::uint64_t state = 12345;
double draw() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
}

void fill(PhotonMap& map, int n) {
    for (int i = 0; i < n; ++i) {
        const Vec3 p{draw() * 100, draw() * 100, draw() * 100};
        map.store({draw() + 0.01, draw(), draw()}, p, p + Vec3{0, 1, 0});
    }
}

void causticScene() {
    SceneState scene;
    auto surface = [](double kd, double kr, double kt, double ior) {
        SurfaceDescription d;
        d.slots[13] = makeFloatRequest(0);
        d.slots[17] = makeFloatRequest(kd);
        d.slots[20] = makeVectorRequest({1, 1, 1}, 0, false);
        d.slots[21] = makeFloatRequest(kr);
        d.slots[23] = makeVectorRequest({1, 1, 1}, 0, false);
        d.slots[24] = makeFloatRequest(kt);
        d.slots[29] = makeFloatRequest(ior);
        return makeSurfaceShader(d);
    };
    scene.frame.world.push(makeBox({-20, -1, -20}, {20, 0, 20}))->shader = surface(0.8, 0, 0, 1);
    Shape* ball = scene.frame.world.push(makeSphere({0, 2, 0}, 1));
    ball->shader = surface(0, 0.05, 1, 1.5);
    ball->caustics = 1;
    Shape* mirror = scene.frame.world.push(makeBox({2, 0, -1}, {4, 2, -0.8}));
    mirror->shader = surface(0, 0.95, 0, 1);
    mirror->caustics = 1;
    LightItems items;
    addLight(scene.frame, makePointLight({0, 10, -3}, items));
    PhotonSettings& p = scene.frame.options.photons;
    p.requested = true;
    p.parameters[0] = 50;
    p.parameters[1] = 200000;
    p.parameters[2] = 50;
    p.parameterCount = 3;
    buildSunLight(scene.frame);
    RenderContext ctx(&scene.frame);
    prepareRenderContext(ctx, scene.frame);
    PhotonMaps maps(scene.frame);
    double t = seconds();
    maps.build(ctx, {});
    t = seconds() - t;
    std::printf("caustic scene: %u photon rays, %d photons stored, shoot+balance+radius %.3f s\n",
                ctx.stats.photonRays, maps.caustic.count(), t);
    double r = 0;
    t = seconds();
    int found = 0;
    for (int i = 0; i < 10000; ++i)
        found += maps.caustic.gather(ctx.photonHeap, {draw() * 4 - 2, 0, draw() * 4 - 2},
                                     maps.caustic.gatherRadius, nullptr, r);
    t = seconds() - t;
    std::printf("caustic scene: 10000 gathers (k 50, radius %.4f) %.3f s, %.1f photons each\n",
                maps.caustic.gatherRadius, t, found / 10000.0);
}

}  // namespace

int main() {
    diagnostics().console = [](const std::string&) {};
    causticScene();

    PhotonMap big;
    fill(big, 1000000);
    double t = seconds();
    big.balance();
    std::printf("balance 1,000,000 photons: %.3f s\n", seconds() - t);

    PhotonMap map;
    fill(map, 100000);
    map.balance();
    map.gatherCount = 50;
    GatherHeap heap;
    const int queries = 2000;
    std::vector<Vec3> points;
    for (int i = 0; i < queries; ++i) points.push_back({draw() * 100, draw() * 100, draw() * 100});
    double r = 0, sink = 0, found = 0;
    // As shading gathers: within the map's automatic radius (volume form, range factor 0.5 x 2).
    map.rangeFactor = 0.5;
    map.estimateRadius(heap, true);
    // The best of five rounds of each: other work on the machine slows single rounds at random.
    double unbounded = 1e30, tree = 1e30, brute = 1e30;
    std::vector<double> d2(map.count());
    for (int round = 0; round < 5; ++round) {
        t = seconds();
        for (const Vec3& P : points) sink += map.gather(heap, P, 1e7, nullptr, r) + r;
        unbounded = std::min(unbounded, seconds() - t);
        found = 0;
        t = seconds();
        for (const Vec3& P : points) found += map.gather(heap, P, map.gatherRadius, nullptr, r);
        tree = std::min(tree, seconds() - t);
        t = seconds();
        for (const Vec3& P : points) {
            for (int i = 0; i < map.count(); ++i) {
                const Vec3 d = map[i].point() - P;
                d2[i] = dot(d, d);
            }
            std::nth_element(d2.begin(), d2.begin() + 49, d2.end());
            sink += d2[49];
        }
        brute = std::min(brute, seconds() - t);
    }
    std::printf("gather k 50 of 100,000: brute force %.2f us per query\n", brute / queries * 1e6);
    std::printf("  kd-tree, unbounded: %.2f us per query, %.0fx faster\n", unbounded / queries * 1e6,
                brute / unbounded);
    std::printf(
        "  kd-tree, radius %.3f: %.2f us per query, %.0fx faster (%.1f photons each, checksum %.4g)\n",
        map.gatherRadius, tree / queries * 1e6, brute / tree, found / queries, sink);
    return 0;
}
