// The Slabs bounding hierarchy: the camera frontier, the front-to-back traversal, and the padded bounds
// of mesh triangles (the build is in hierarchy_build.cpp).
#include "geometry/hierarchy.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/intersect_context.h"
#include "geometry/mesh_triangle.h"
#include "geometry/priority_queue.h"
#include "geometry/ray_box.h"

namespace quorva {

std::unique_ptr<Shape> BoundingGroup::clone() const {
    return std::unique_ptr<Shape>(new BoundingGroup(*this));
}

void BoundingGroup::refreshMemberBoxes() {
    memberBoxes.assign((members.size() + 3) / 4, MemberQuad{});
    for (MemberQuad& quad : memberBoxes)
        for (int a = 0; a < 3; ++a)
            for (int lane = 0; lane < 4; ++lane) quad.min[a][lane] = 1e300;  // empty lanes are never entered
    for (std::size_t i = 0; i < members.size(); ++i) {
        MemberQuad& quad = memberBoxes[i / 4];
        const int lane = static_cast<int>(i % 4);
        for (int a = 0; a < 3; ++a) {
            quad.min[a][lane] = members[i]->boundsMin[a];
            quad.size[a][lane] = members[i]->boundsSize[a];
        }
        quad.node[lane] = members[i];
    }
}

namespace {

void collectFrontier(Shape* node, const Vec3& eye, std::vector<Shape*>& frontier) {
    const Vec3 lo = node->boundsMin;
    const Vec3 hi = node->boundsMin + node->boundsSize;
    bool outside =
        eye.x < lo.x || eye.x > hi.x || eye.y < lo.y || eye.y > hi.y || eye.z < lo.z || eye.z > hi.z;
    if (outside || node->kind != ShapeKind::BoundingGroup) {
        try {
            frontier.push_back(node);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate a new shape");
        }
        return;
    }
    for (Shape* member : static_cast<BoundingGroup*>(node)->members) collectFrontier(member, eye, frontier);
}

inline void testNode(const Shape& node, const RaySlabs& ray, double tmax, PriorityQueue& queue,
                     std::uint32_t& boxTests) {
    ++boxTests;
    const double lo[3] = {node.boundsMin.x, node.boundsMin.y, node.boundsMin.z};
    const double size[3] = {node.boundsSize.x, node.boundsSize.y, node.boundsSize.z};
    double entry;
    if (enterBox(lo, size, ray, tmax, entry)) queue.push(entry, &node);
}

}  // namespace

void prepareLightEntries(World& world) {
    world.lightEntries.clear();
    world.forEachInListOrder([&](Shape* s) {
        if (s->kind == ShapeKind::LightEntry) world.lightEntries.push_back(s);
    });
}

void buildCameraFrontier(World& world, const Vec3& eye) {
    world.cameraFrontier.clear();
    if (world.root) collectFrontier(world.root, eye, world.cameraFrontier);
}

namespace {

// The traversal, written once for both kinds of member-box test (QuadTest::enter).
template <class QuadTest>
[[gnu::always_inline]] inline bool traverseWith(IntersectContext& ctx, const Ray& ray, Intersection& hit,
                                                double tmin, double tmax, const World& world) {
    RenderStatistics& stats = ctx.stats;
    ++stats.traversals;
    hit.hit = 0;
    const Shape* root = world.root;
    if (!root) return false;
    if (root->kind != ShapeKind::BoundingGroup) {
        ++stats.objectsChecked;
        return intersectShape(ctx, ray, tmin, tmax, hit, *root);
    }

    const RaySlabs slabs(ray);
    PriorityQueue queue(stats);
    // Counted locally and added once at the end; nested traversals add their own.
    std::uint32_t boxTests = 0, shapeTests = 0;

    // Rays from the eye point start at the cut of the tree seen from the eye, skipping the boxes
    // that contain it; every other ray starts at the root.
    const auto& frontier = world.cameraFrontier;
    if (frontier.size() >= 2 && ctx.hasEye && ray.origin == ctx.eye) {
        for (auto it = frontier.rbegin(); it != frontier.rend(); ++it)
            testNode(**it, slabs, tmax, queue, boxTests);
    } else {
        testNode(*root, slabs, tmax, queue, boxTests);
    }

    const bool passTransmissive = (ctx.settings.featureMask & ShapeAttr::Refracts) != 0;
    // The nearest member a group pushes would be popped again at once whenever its key is below the
    // queue's smallest: it is kept in hand instead, which saves a push and a pop and leaves the order
    // in which nodes are examined unchanged.
    QueueEntry next{0, nullptr};
    for (;;) {
        QueueEntry entry;
        if (next.node) {
            entry = next;
            next.node = nullptr;
        } else if (!queue.empty()) {
            entry = queue.pop();
        } else {
            break;
        }
        if (entry.key > tmax) break;
        const Shape* node = entry.node;
        if (node->kind == ShapeKind::BoundingGroup) {
            const auto* group = static_cast<const BoundingGroup*>(node);
            QueueEntry best{0, nullptr};
            auto offer = [&](double key, const Shape* member) {
                if (!best.node) {
                    best = {key, member};
                } else if (key < best.key) {
                    queue.push(best.key, best.node);
                    best = {key, member};
                } else {
                    queue.push(key, member);
                }
            };
            if (!group->memberBoxes.empty()) {
                boxTests += static_cast<std::uint32_t>(group->members.size());
                for (const MemberQuad& quad : group->memberBoxes) {
                    double keys[4];
                    unsigned mask = 0;
                    if (slabs.anyParallel) {
                        for (int l = 0; l < 4; ++l) {
                            const double lo[3] = {quad.min[0][l], quad.min[1][l], quad.min[2][l]};
                            const double size[3] = {quad.size[0][l], quad.size[1][l], quad.size[2][l]};
                            if (quad.node[l] && enterBox(lo, size, slabs, tmax, keys[l])) mask |= 1u << l;
                        }
                    } else {
                        mask = QuadTest::enter(quad, slabs, tmax, keys);
                    }
                    // Members are offered in member order; lanes without a member are never entered.
                    for (int l = 0; mask; ++l, mask >>= 1)
                        if ((mask & 1u) && quad.node[l]) offer(keys[l], quad.node[l]);
                }
            } else {
                for (const Shape* member : group->members) {
                    ++boxTests;
                    double key;
                    const double lo[3] = {member->boundsMin.x, member->boundsMin.y, member->boundsMin.z};
                    const double size[3] = {member->boundsSize.x, member->boundsSize.y, member->boundsSize.z};
                    if (enterBox(lo, size, slabs, tmax, key)) offer(key, member);
                }
            }
            if (best.node) {
                if (queue.empty() || best.key < queue.topKey())
                    next = best;
                else
                    queue.push(best.key, best.node);
            }
            continue;
        }
        ++shapeTests;
        // The hit lies inside the node's box, so the search may start (with a little slack) where the
        // ray enters it.
        const double from = std::max(tmin, 0.9999 * entry.key);
        // A placed mesh starts each triangle's search from its own box, as for a shape of its own.
        const bool placedMesh = node->kind == ShapeKind::PlacedMesh;
        if (placedMesh) {
            ctx.fromHierarchy = true;
            ctx.hierarchyStart = tmin;
        }
        const bool found = intersectShape(ctx, ray, from, tmax, hit, *node);
        if (placedMesh) ctx.fromHierarchy = false;
        if (found) {
            tmax = hit.distance;
            // A shadow search ends at the first opaque hit; transmissive shapes let it go on.
            if (ctx.anyHit && !(passTransmissive && (hit.shape->attributes & ShapeAttr::Refracts))) break;
        }
    }
    stats.boundsChecked += boxTests;
    stats.objectsChecked += shapeTests;
    return hit.hit != 0;
}

struct NarrowQuads {
    static unsigned enter(const MemberQuad& q, const RaySlabs& ray, double tmax, double* keys) {
        return enterQuad(q, ray, tmax, keys);
    }
};

#if defined(__x86_64__)
struct WideQuads {
    __attribute__((target("avx"))) static unsigned enter(const MemberQuad& q, const RaySlabs& ray,
                                                         double tmax, double* keys) {
        return enterQuadWide(q, ray, tmax, keys);
    }
};

// Compiled for processors with the wide vector instructions; chosen at start-up when the processor has
// them.
__attribute__((target("avx"))) bool traverseWide(IntersectContext& ctx, const Ray& ray, Intersection& hit,
                                                 double tmin, double tmax, const World& world) {
    return traverseWith<WideQuads>(ctx, ray, hit, tmin, tmax, world);
}
#endif

bool traverseNarrow(IntersectContext& ctx, const Ray& ray, Intersection& hit, double tmin, double tmax,
                    const World& world) {
    return traverseWith<NarrowQuads>(ctx, ray, hit, tmin, tmax, world);
}

}  // namespace

bool traverse(IntersectContext& ctx, const Ray& ray, Intersection& hit, double tmin, double tmax,
              const World& world) {
#if defined(__x86_64__)
    static const bool wide = wideBoxTests();
    if (wide) return traverseWide(ctx, ray, hit, tmin, tmax, world);
#endif
    return traverseNarrow(ctx, ray, hit, tmin, tmax, world);
}

bool meshTriangleBounds(const MeshTriangle& triangle, Box& out) {
    const Shape* owner = triangle.parent;
    if (!owner || !owner->mesh) return false;
    const std::vector<Vec3>& vertices = owner->mesh->vertices;
    for (std::uint32_t i : triangle.index)
        if (i >= vertices.size()) return false;
    const Vec3& a = vertices[triangle.index[0]];
    const Vec3& b = vertices[triangle.index[1]];
    const Vec3& c = vertices[triangle.index[2]];
    if (lengthSquared(a - b) < 1e-16 || lengthSquared(b - c) < 1e-16 || lengthSquared(c - a) < 1e-16)
        return false;
    for (int axis = 0; axis < 3; ++axis) {
        double lo = std::min({a[axis], b[axis], c[axis]});
        double hi = std::max({a[axis], b[axis], c[axis]});
        // Pad relative to the coordinates' magnitude so that flat triangles still get a box with volume.
        double pad = 2e-6 * std::max(std::fabs(lo), std::fabs(hi));
        if (pad == 0) pad = 1e-8;
        out.min[axis] = lo - pad;
        out.size[axis] = (hi - lo) + 2 * pad;
    }
    return true;
}

}  // namespace quorva
