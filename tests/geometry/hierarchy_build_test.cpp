// The hierarchy build against the plain build that sorts every range on its own: the trees must match
// node for node, with and without workers, on scenes full of equal centres and degenerate boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

#include "geometry/hierarchy.h"
#include "geometry/hierarchy_reference.h"
#include "support/thread_workers.h"

namespace quorva {
namespace {

class BoxShape final : public Shape {
  public:
    BoxShape(Vec3 lo, Vec3 size) : Shape(ShapeKind::Sphere) {
        boundsMin = lo;
        boundsSize = size;
    }
    bool intersect(IntersectContext&, const Ray&, double, double, Intersection&) const override { return false; }
    std::unique_ptr<Shape> clone() const override { return std::make_unique<BoxShape>(*this); }
};

// Node for node: kind, box, header words, member order and the members' box copies.
void expectSameTree(const Shape* a, const Shape* b, int& groups) {
    ASSERT_EQ(a->kind, b->kind);
    if (a->kind != ShapeKind::BoundingGroup) {
        ASSERT_EQ(a, b);
        return;
    }
    ++groups;
    const auto* ga = static_cast<const BoundingGroup*>(a);
    const auto* gb = static_cast<const BoundingGroup*>(b);
    ASSERT_EQ(ga->boundsMin, gb->boundsMin);
    ASSERT_EQ(ga->boundsSize, gb->boundsSize);
    ASSERT_EQ(ga->headerWords[0], gb->headerWords[0]);
    ASSERT_EQ(ga->members.size(), gb->members.size());
    for (std::size_t i = 0; i < ga->members.size(); ++i)
        expectSameTree(ga->members[i], gb->members[i], groups);
}

HierarchyWorkers threeThreads() { return testing::threadWorkers(3); }

// Builds the world with the reference, alone and with workers; all three trees must be the same.
void expectReferenceTree(World& world) {
    const Shape* reference = buildHierarchyBySortPerRange(world);
    ASSERT_TRUE(reference);
    ASSERT_EQ(buildHierarchy(world), 1);
    int groups = 0;
    expectSameTree(reference, world.root, groups);
    const HierarchyWorkers workers = threeThreads();
    ASSERT_EQ(buildHierarchy(world, &workers), 1);
    int again = 0;
    expectSameTree(reference, world.root, again);
    EXPECT_EQ(groups, again);
}

// Boxes on a coarse lattice (so that many centres are equal on every axis), some flat or empty in one
// or more axes, some repeated exactly.
void fillLattice(World& world, int count, unsigned seed, int lattice) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> cell(0, lattice), extent(0, 3), pick(0, 9);
    std::vector<Shape*> made;
    for (int i = 0; i < count; ++i) {
        Shape* s;
        if (!made.empty() && pick(rng) == 0) {
            s = world.push(std::make_unique<BoxShape>(made[rng() % made.size()]->boundsMin,
                                                      made[rng() % made.size()]->boundsSize));
        } else {
            Vec3 lo{cell(rng) * 0.5, cell(rng) * 0.25, cell(rng) * 0.5};
            Vec3 size{extent(rng) * 0.5, extent(rng) * 0.5, extent(rng) * 0.5};
            s = world.push(std::make_unique<BoxShape>(lo, size));
        }
        s->headerWords[0] = i;
        made.push_back(s);
    }
}

TEST(HierarchyFastBuild, MatchesTheSortPerRangeOnRandomScenes) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> pos(-40, 40), size(0, 2);
    World scattered;
    // Centres all different but for a few repeated boxes (one in a hundred), some boxes flat.
    std::vector<Shape*> made;
    for (int i = 0; i < 6000; ++i) {
        Vec3 lo{pos(rng), pos(rng) / 4, pos(rng)};
        Vec3 extent{size(rng), size(rng) * (i % 7 != 0), size(rng)};
        if (i % 100 == 99) lo = made[rng() % made.size()]->boundsMin, extent = made.back()->boundsSize;
        made.push_back(scattered.push(std::make_unique<BoxShape>(lo, extent)));
        made.back()->headerWords[0] = i;
    }
    expectReferenceTree(scattered);

    for (unsigned seed : {1u, 2u, 3u}) {
        World lattice;
        fillLattice(lattice, 5000 + 1000 * static_cast<int>(seed), seed, seed == 3 ? 8 : 60);
        expectReferenceTree(lattice);
    }
}

TEST(HierarchyFastBuild, IdenticalBoxesMakeOneGroupQuickly) {
    // Every split of equal boxes costs more than none: one group, with the members in the order the
    // reference's sort leaves them, and no time spent on splits that never come.
    World world;
    for (int i = 0; i < 200000; ++i)
        world.push(std::make_unique<BoxShape>(Vec3{1, 2, 3}, Vec3{0.5, 0, 0.5}))->headerWords[0] = i;
    expectReferenceTree(world);
    EXPECT_EQ(static_cast<const BoundingGroup*>(world.root)->members.size(), 200000u);
}

}  // namespace
}  // namespace quorva
