// Placed meshes: the hits of one shape over a mesh's own tree against those of its triangles as patches
// of their own in the hierarchy, bit for bit; trees of identical triangles; the same tree on workers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "geometry/hierarchy.h"
#include "geometry/intersect_context.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid.h"
#include "geometry/world.h"
#include "support/thread_workers.h"

namespace quorva {
namespace {

// A mesh with what big meshes have: a smooth grid of quads (edges shared, coplanar neighbours), random
// triangles of every size, duplicates and triangles without area.
std::shared_ptr<MeshParts> testMesh(std::mt19937& rng) {
    MeshCollector mesh;
    PatchCorner last[3];
    auto add = [&](Vec3 a, Vec3 b, Vec3 c) {
        last[0] = {a, normalized(a + Vec3{0, 3, 0})};
        last[1] = {b, normalized(b + Vec3{0, 3, 0})};
        last[2] = {c, normalized(c + Vec3{0, 3, 0})};
        mesh.add(last[0], last[1], last[2]);
    };
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j) {
            auto p = [&](int u, int v) { return Vec3{u * 0.25 - 1.5, 0.1 * std::sin(u + v), v * 0.25 - 1.5}; };
            add(p(i, j), p(i + 1, j), p(i + 1, j + 1));
            add(p(i, j), p(i + 1, j + 1), p(i, j + 1));
        }
    std::uniform_real_distribution<double> u(-2, 2), small(-0.05, 0.05);
    for (int k = 0; k < 400; ++k) {
        const Vec3 a{u(rng), u(rng) * 0.5 + 1, u(rng)};
        const double s = k % 10 == 0 ? 20 : 1;
        add(a, a + Vec3{small(rng), small(rng), small(rng)} * s, a + Vec3{small(rng), small(rng), small(rng)} * s);
        if (k % 50 == 0) mesh.add(last[0], last[1], last[2]);  // the same triangle twice
    }
    add({0, 2, 0}, {1, 2, 0}, {2, 2, 0});  // collinear
    add({0, 2, 1}, {0, 2, 1}, {0, 2, 1});  // a point
    return mesh.finish();
}

// The mesh's triangles as the patches a flat mesh was placed as: the Solid's transform after an
// identity of their own, each box cut to the Solid's.
void placeAsPatches(const Solid& solid, World& world) {
    const MeshParts& mesh = *solid.meshParts;
    PatchDataBlocks blocks;
    for (std::size_t i = 0; i < mesh.size(); ++i) {
        auto patch = std::make_unique<TriangularPatch>(mesh.sharedPatchData(i, blocks), mesh.bounds(i));
        if (solid.transform) {
            patch->transform = std::make_unique<Transform>();
            compose(*patch->transform, *solid.transform);
            patch->setBounds(transformBox(patch->bounds(), solid.transform->forward));
        }
        patch->setBounds(intersectBoxes(patch->bounds(), solid.bounds()));
        world.push(std::move(patch));
    }
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PlacedMesh, HitsAreThoseOfItsTrianglesAsShapesOfTheirOwn) {
    std::mt19937 rng(7);
    const std::shared_ptr<MeshParts> parts = testMesh(rng);
    for (const bool transformed : {false, true}) {
        auto solid = std::make_unique<Solid>(parts);
        if (transformed) {
            Transform t = makeRotate(0.3, 0.7, -0.2);
            compose(t, makeScale(1, 2, 0.5));
            compose(t, makeTranslate({0.3, -1, 0.2}));
            solid->applyTransform(t);
        }
        World patches, placed;
        placeAsPatches(*solid, patches);
        auto copy = copyShape(*solid);
        addToWorld(std::move(copy), placed, AddSettings{});
        ASSERT_EQ(placed.mainList.size(), 1u);
        ASSERT_EQ(placed.mainList[0]->kind, ShapeKind::PlacedMesh);
        ASSERT_EQ(buildHierarchy(patches), 1);
        ASSERT_EQ(buildHierarchy(placed), 1);

        IntersectContext ctx;
        std::uniform_real_distribution<double> u(-3, 3);
        int hits = 0, mismatches = 0;
        for (int k = 0; k < 20000; ++k) {
            Vec3 origin{u(rng), u(rng) + 1, u(rng)}, to{u(rng) * 0.6, u(rng) * 0.3 + 0.5, u(rng) * 0.6};
            if (k % 7 == 0) origin = {u(rng), 6, u(rng)};  // from above, down onto the grid
            const Ray ray{origin, normalized(to - origin)};
            const double tmin = k % 3 == 0 ? 0.5 : 1e-6;
            ctx.anyHit = k % 5 == 0;
            Intersection a, b;
            const bool ha = intersectWorld(a, ray, patches, ctx, tmin, 1e6);
            const bool hb = intersectWorld(b, ray, placed, ctx, tmin, 1e6);
            ASSERT_EQ(ha, hb) << k;
            if (!ha || ctx.anyHit) continue;
            ++hits;
            const bool same = sameBits(a.distance, b.distance) && a.point == b.point && a.normal == b.normal &&
                              a.local == b.local;
            mismatches += !same;
        }
        EXPECT_GT(hits, 5000);
        EXPECT_EQ(mismatches, 0) << "transformed " << transformed;
    }
}

TEST(PlacedMesh, IdenticalTrianglesBuildABalancedTree) {
    // Centres that cannot be told apart are halved by count: every level of the tree is one pass over
    // the triangles, and there are as many levels as halvings (a builder that peeled one triangle off
    // per level would be a million levels deep, and quadratic).
    std::vector<Box> boxes(1000000, Box{{0, 0, 0}, {1, 1, 0}});
    const MeshTree tree = buildMeshTree(boxes);
    EXPECT_LE(tree.depth, 20);
    EXPECT_EQ(tree.order.size(), boxes.size());
    for (const MeshTreeNode& node : tree.nodes) EXPECT_LE(node.count, 4u);
}

TEST(PlacedMesh, TreeIsTheSameOnWorkers) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-10, 10), s(0, 0.3);
    std::vector<Box> boxes;
    // Enough triangles that the first levels share their passes among the workers.
    for (int i = 0; i < 200000; ++i) boxes.push_back({{u(rng), u(rng), std::floor(u(rng))}, {s(rng), s(rng), 0}});
    const HierarchyWorkers workers = testing::threadWorkers(3);
    const MeshTree alone = buildMeshTree(boxes), shared = buildMeshTree(boxes, &workers);
    ASSERT_EQ(alone.nodes.size(), shared.nodes.size());
    EXPECT_EQ(std::memcmp(alone.nodes.data(), shared.nodes.data(), alone.nodes.size() * sizeof(MeshTreeNode)), 0);
    EXPECT_EQ(alone.order, shared.order);
    EXPECT_EQ(alone.depth, shared.depth);
}

}  // namespace
}  // namespace quorva
