// The bounding hierarchy: build edge cases and invariants, the priority queue, the box test, and the
// traversal checked against a brute-force search.
#include "geometry/hierarchy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "geometry/mesh_triangle.h"
#include "geometry/priority_queue.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// A sphere with exact bounds (or wider ones when asked), recorded through the common hit step.
class TestBall final : public Shape {
  public:
    TestBall(Vec3 centre, double radius, ShapeKind kind = ShapeKind::Sphere)
        : Shape(kind), centre(centre), radius(radius) {
        boundsMin = centre - Vec3{radius, radius, radius};
        boundsSize = Vec3{2 * radius, 2 * radius, 2 * radius};
    }
    Vec3 centre;
    double radius;

    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override {
        Vec3 oc = ray.origin - centre;
        double b = dot(oc, ray.direction);
        double c = dot(oc, oc) - radius * radius;
        double disc = b * b - c;
        if (disc < 0) return false;
        double s = std::sqrt(disc);
        for (double t : {-b - s, -b + s}) {
            if (t < tmin || t > tmax) continue;
            Vec3 p = ray.at(t);
            return recordHit(ctx, *this, p - centre, t, p, hit, p);
        }
        return false;
    }
    std::unique_ptr<Shape> clone() const override { return std::make_unique<TestBall>(*this); }
};

TestBall* addBall(World& world, Vec3 centre, double radius) {
    return static_cast<TestBall*>(world.push(std::make_unique<TestBall>(centre, radius)));
}

// Every shape reached from the root, with the number of times it is reached.
void collectLeaves(const Shape* node, std::map<const Shape*, int>& leaves, int& groups) {
    if (node->kind != ShapeKind::BoundingGroup) {
        ++leaves[node];
        return;
    }
    ++groups;
    const auto* g = static_cast<const BoundingGroup*>(node);
    EXPECT_FALSE(g->members.empty());
    for (const Shape* m : g->members) {
        // A group's box holds each member's box.
        for (int a = 0; a < 3; ++a) {
            EXPECT_LE(g->boundsMin[a], m->boundsMin[a]);
            EXPECT_GE(g->boundsMin[a] + g->boundsSize[a], m->boundsMin[a] + m->boundsSize[a] - 1e-9);
        }
        collectLeaves(m, leaves, groups);
    }
}

TEST(HierarchyBuild, SmallWorlds) {
    World empty;
    EXPECT_EQ(buildHierarchy(empty), 0);
    EXPECT_EQ(empty.root, nullptr);

    World lightsOnly;
    lightsOnly.push(std::make_unique<TestBall>(Vec3{0, 0, 0}, 1, ShapeKind::LightEntry));
    EXPECT_EQ(buildHierarchy(lightsOnly), 0);
    EXPECT_EQ(lightsOnly.root, nullptr);

    World one;
    TestBall* ball = addBall(one, {1, 2, 3}, 1);
    one.push(std::make_unique<TestBall>(Vec3{9, 9, 9}, 1, ShapeKind::LightEntry));
    ASSERT_EQ(buildHierarchy(one), 1);
    ASSERT_EQ(one.root->kind, ShapeKind::BoundingGroup);
    const auto* group = static_cast<const BoundingGroup*>(one.root);
    ASSERT_EQ(group->members.size(), 1u);
    EXPECT_EQ(group->members[0], ball);
    EXPECT_EQ(group->boundsMin, (Vec3{0, 1, 2}));

    // Every split of five identical boxes costs at least as much as keeping them together.
    World five;
    for (int i = 0; i < 5; ++i) addBall(five, {0, 0, 0}, 1)->headerWords[0] = i;
    ASSERT_EQ(buildHierarchy(five), 1);
    const auto* root = static_cast<const BoundingGroup*>(five.root);
    EXPECT_EQ(root->members.size(), 5u);
    // The header words are carried up from the members, the last member's winning.
    EXPECT_EQ(root->headerWords[0], root->members.back()->headerWords[0]);
}

TEST(HierarchyBuild, LargeWorldCoversEveryShapeOnceWithSmallGroups) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> pos(-50, 50), size(0.1, 3);
    World world;
    std::vector<Shape*> balls;
    for (int i = 0; i < 2000; ++i)
        balls.push_back(addBall(world, {pos(rng), pos(rng) / 5, pos(rng)}, size(rng)));
    world.push(std::make_unique<TestBall>(Vec3{0, 0, 0}, 1, ShapeKind::LightEntry));
    ASSERT_EQ(buildHierarchy(world), 1);

    std::map<const Shape*, int> leaves;
    int groups = 0;
    collectLeaves(world.root, leaves, groups);
    ASSERT_EQ(leaves.size(), balls.size());
    for (const Shape* b : balls) EXPECT_EQ(leaves[b], 1);
    EXPECT_GT(groups, 2000 / 4);

    // The cut seen from an eye inside the scene covers every shape exactly once, too.
    buildCameraFrontier(world, {0.5, 0.2, 0.1});
    std::map<const Shape*, int> cut;
    int unused = 0;
    for (const Shape* node : world.cameraFrontier) collectLeaves(node, cut, unused);
    EXPECT_EQ(cut.size(), balls.size());
    for (const auto& [shape, count] : cut) EXPECT_EQ(count, 1);
    EXPECT_GE(world.cameraFrontier.size(), 2u);

    // From outside the root box the cut is the root itself.
    buildCameraFrontier(world, {0, 1000, 0});
    ASSERT_EQ(world.cameraFrontier.size(), 1u);
    EXPECT_EQ(world.cameraFrontier[0], world.root);
}

TEST(HierarchyBuild, MeshTriangleBoundsArePaddedAndDegenerateTrianglesDropped) {
    TestBall owner({0, 0, 0}, 1);
    owner.mesh = std::make_shared<SubdivisionMesh>();
    owner.mesh->vertices = {{1, -2, 0}, {3, 0, 0}, {2, 1, 0}, {2, 1, 5e-9}};
    MeshTriangle triangle;
    triangle.parent = &owner;
    triangle.index[0] = 0, triangle.index[1] = 1, triangle.index[2] = 2;
    Box box;
    ASSERT_TRUE(meshTriangleBounds(triangle, box));
    // Each axis grows by 2e-6 of its largest magnitude, or by 1e-8 where the coordinates are 0, so a
    // triangle lying in a coordinate plane still has a box with volume.
    EXPECT_DOUBLE_EQ(box.min.x, 1 - 6e-6);
    EXPECT_DOUBLE_EQ(box.size.x, 2 + 12e-6);
    EXPECT_DOUBLE_EQ(box.min.y, -2 - 4e-6);
    EXPECT_DOUBLE_EQ(box.size.y, 3 + 8e-6);
    EXPECT_DOUBLE_EQ(box.min.z, -1e-8);
    EXPECT_DOUBLE_EQ(box.size.z, 2e-8);

    triangle.index[1] = 3;  // vertices 2 and 3 lie closer than 1e-8
    EXPECT_FALSE(meshTriangleBounds(triangle, box));
    triangle.index[1] = 7;  // no such vertex
    EXPECT_FALSE(meshTriangleBounds(triangle, box));
}

TEST(PriorityQueue, PopsInKeyOrderAndGrowsByDoubling) {
    RenderStatistics stats;
    auto queue = std::make_unique<PriorityQueue>(stats);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> key(-20, 20);  // many equal keys
    std::vector<double> keys;
    for (int i = 1; i <= 600; ++i) {
        keys.push_back(key(rng));
        queue->push(keys.back(), nullptr);
        // 127 entries fit the local array (slot 0 is unused); the 128th push moves to 256 slots.
        if (i == 127) {
            EXPECT_FALSE(queue->onHeap());
        } else if (i == 128) {
            EXPECT_TRUE(queue->onHeap());
            EXPECT_EQ(queue->capacity(), 256);
        } else if (i == 255) {
            EXPECT_EQ(queue->capacity(), 256);
        } else if (i == 256) {
            EXPECT_EQ(queue->capacity(), 512);
        }
    }
    std::sort(keys.begin(), keys.end());
    for (double k : keys) EXPECT_EQ(queue->pop().key, k);
    EXPECT_TRUE(queue->empty());
    // The queue's pushes and peak size reach the statistics when it is done.
    queue.reset();
    EXPECT_EQ(stats.queuePushes, 600u);
    EXPECT_EQ(stats.queuePeak, 600u);
}

Ray rayFrom(Vec3 origin, Vec3 direction) {
    normalize(direction);
    return {origin, direction};
}

TEST(HierarchyTraversal, BoxTestRules) {
    World world;
    for (int i = 0; i < 8; ++i) addBall(world, {3.0 * i, 0, 0}, 1);
    ASSERT_EQ(buildHierarchy(world), 1);
    RenderContext ctx;
    Intersection hit;

    // Parallel to x, outside the slab in y: the root box is tested and rejected, nothing is queued.
    EXPECT_FALSE(traverse(ctx, rayFrom({-10, 5, 0}, {1, 0, 0}), hit, 0.001, 1000000, world));
    EXPECT_EQ(ctx.stats.boundsChecked, 1u);
    EXPECT_EQ(ctx.stats.queuePushes, 0u);

    // Parallel but inside the slabs: found, nearest first.
    EXPECT_TRUE(traverse(ctx, rayFrom({-10, 0.5, 0}, {1, 0, 0}), hit, 0.001, 1000000, world));
    EXPECT_NEAR(hit.distance, 10 - std::sqrt(0.75), 1e-12);
    EXPECT_EQ(ctx.stats.traversals, 2u);

    // From inside the last ball looking back: that ball's box has a negative key and comes first.
    EXPECT_TRUE(traverse(ctx, rayFrom({21, 0, 0}, {-1, 0, 0}), hit, 0.001, 1000000, world));
    EXPECT_NEAR(hit.distance, 1, 1e-12);
    EXPECT_EQ(hit.point, (Vec3{20, 0, 0}));
}

TEST(HierarchyTraversal, AnyHitPassesTransmissiveShapes) {
    // A wide box whose shape lies at its far end is entered first; the opaque ball behind its entry
    // point is hit nearer.
    World world;
    auto far = std::make_unique<TestBall>(Vec3{0, 0, 10}, 1);
    far->boundsMin = {-3, -3, 1};
    far->boundsSize = {6, 6, 10};
    far->attributes |= ShapeAttr::Refracts;
    const Shape* glass = world.push(std::move(far));
    const Shape* opaque = addBall(world, {0, 0, 4}, 1);
    for (int i = 0; i < 6; ++i) addBall(world, {10.0 + 3 * i, 0, 0}, 1);
    ASSERT_EQ(buildHierarchy(world), 1);

    RenderContext ctx;
    ctx.anyHit = true;
    Intersection hit;
    const Ray ray = rayFrom({0, 0, 0}, {0, 0, 1});
    ctx.settings.featureMask = ShapeAttr::Refracts;
    ASSERT_TRUE(traverse(ctx, ray, hit, 0.001, 1000000, world));
    EXPECT_EQ(hit.shape, opaque);

    // Without transmission in the feature mask the glass ends the search.
    ctx.settings.featureMask = 0;
    ASSERT_TRUE(traverse(ctx, ray, hit, 0.001, 1000000, world));
    EXPECT_EQ(hit.shape, glass);
}

// Drops the copies of the member boxes, as in a group put together by hand.
void forgetMemberBoxes(Shape* node) {
    if (node->kind != ShapeKind::BoundingGroup) return;
    auto* group = static_cast<BoundingGroup*>(node);
    group->memberBoxes.clear();
    for (Shape* m : group->members) forgetMemberBoxes(m);
}

// Nearest hit over every shape, in list order, as a World without a hierarchy finds it.
bool bruteForce(RenderContext& ctx, const Ray& ray, Intersection& hit, double tmin, double tmax,
                const std::vector<Shape*>& shapes) {
    hit.hit = 0;
    for (auto it = shapes.rbegin(); it != shapes.rend(); ++it)
        intersectShape(ctx, ray, tmin, tmax, hit, **it);
    return hit.hit != 0;
}

TEST(HierarchyTraversal, NearestHitMatchesBruteForce) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(-1, 1), radius(0.05, 2);
    int hits = 0;
    for (int scene = 0; scene < 6; ++scene) {
        World world;
        std::vector<Shape*> shapes;
        const int count = 50 + 300 * scene;
        for (int i = 0; i < count; ++i) {
            Shape* s = addBall(world, {20 * unit(rng), 5 * unit(rng), 20 * unit(rng)}, radius(rng));
            if (i % 7 == 0) {
                // Some are scaled or moved by transformations, so their boxes are not tight.
                s->applyTransform(makeScale(1 + unit(rng) * 0.5, 1.5, 1));
                s->applyTransform(makeRotate(unit(rng), unit(rng), 0));
            }
            shapes.push_back(s);
        }
        ASSERT_EQ(buildHierarchy(world), 1);
        if (scene == 1) forgetMemberBoxes(world.root);
        RenderContext ctx;
        ctx.eye = {0, 2, -30};
        ctx.hasEye = true;
        buildCameraFrontier(world, ctx.eye);
        for (int r = 0; r < 1500; ++r) {
            Vec3 origin = r % 3 == 0 ? ctx.eye : Vec3{25 * unit(rng), 6 * unit(rng), 25 * unit(rng)};
            Vec3 dir{unit(rng), unit(rng) * 0.3, unit(rng)};
            if (r % 5 == 0) dir[r % 3] = 0;  // rays parallel to one axis
            if (r % 11 == 0) dir = r % 2 ? Vec3{1, 0, 0} : Vec3{0, -1, 0};
            const Ray ray = rayFrom(origin, dir);
            const double tmin = r % 4 == 0 ? 0.5 : 0.001;
            const double tmax = r % 9 == 0 ? 15 : 1000000;
            Intersection expected, actual;
            bool want = bruteForce(ctx, ray, expected, tmin, tmax, shapes);
            ASSERT_EQ(traverse(ctx, ray, actual, tmin, tmax, world), want) << ray;
            if (!want) continue;
            ++hits;
            EXPECT_EQ(actual.shape, expected.shape) << ray;
            EXPECT_NEAR(actual.distance, expected.distance, 1e-9 * (1 + expected.distance)) << ray;
        }
    }
    EXPECT_GT(hits, 2000);
}

}  // namespace
}  // namespace quorva
