// The placed mesh's ray test: its own tree walked front to back, each triangle the ray reaches tested as
// a patch of its own would be.
#include "geometry/placed_mesh.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "geometry/flat_shapes.h"
#include "geometry/hierarchy.h"
#include "geometry/intersect_context.h"
#include "geometry/ray_box.h"
#include "geometry/solid.h"
#include "geometry/world.h"

namespace quorva {

PlacedMesh::PlacedMesh(std::shared_ptr<const MeshParts> meshParts, std::shared_ptr<const MeshTree> meshTree,
                       const Box& cutTo)
    : Shape(ShapeKind::PlacedMesh), parts(std::move(meshParts)), tree(std::move(meshTree)), cut(cutTo) {}

std::unique_ptr<Shape> PlacedMesh::clone() const {
    return std::unique_ptr<Shape>(new PlacedMesh(*this));
}

Box PlacedMesh::partBox(std::size_t i) const {
    const Box own = parts->bounds(i);
    return intersectBoxes(transform ? transformBox(own, transform->forward) : own, cut);
}

void PlacedMesh::placed() {
    const std::size_t n = parts->size();
    Box all = partBox(0);
    for (std::size_t i = 1; i < n; ++i) all = unionBoxes(all, partBox(i));
    setBounds(all);
}

namespace {

// The node test: the box as doubles (every float is one), with the traversal's box test.
inline bool enterNode(const MeshTreeNode& node, const RaySlabs& slabs, double tmax, double& entry) {
    const double lo[3] = {node.lo[0], node.lo[1], node.lo[2]};
    const double size[3] = {static_cast<double>(node.hi[0]) - lo[0], static_cast<double>(node.hi[1]) - lo[1],
                            static_cast<double>(node.hi[2]) - lo[2]};
    return enterBox(lo, size, slabs, tmax, entry);
}

}  // namespace

bool PlacedMesh::intersectWorldRay(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax,
                                   Intersection& hit) const {
    const MeshParts& mesh = *parts;

    // The object-space ray exactly as the one-shape step makes it for each patch.
    Ray objectRay = worldRay;
    double scale = 1;
    if (const Transform* m = transform.get()) {
        objectRay.origin = transformPoint(m->inverse, worldRay.origin);
        objectRay.direction = transformVector(m->inverse, worldRay.direction);
        scale = normalize(objectRay.direction);
    }
    const RaySlabs worldSlabs(worldRay);
    const RaySlabs objectSlabs(objectRay);
    // In the hierarchy a patch's search starts at 0.9999 of the distance where the ray enters its box
    // (from the hierarchy's own start); tested alone, at tmin.
    const bool keyed = ctx.fromHierarchy;
    const double start = keyed ? ctx.hierarchyStart : tmin;
    const bool firstHitEnds =
        ctx.anyHit && !((ctx.settings.featureMask & ShapeAttr::Refracts) && (attributes & ShapeAttr::Refracts));

    double nearest = tmax;  // world units
    // Node boxes are pruned in object units, with slack: the exact test is the triangle's own box.
    auto objectLimit = [&] { return nearest * scale * (1 + 1e-6) + 1e-9; };
    std::uint32_t boxTests = 1, triangleTests = 0;
    bool found = false;
    Intersection one;
    PatchData data;  // the triangle being tested, as its patch holds it

    // Counts the tests made, and returns whether a hit was found.
    auto finish = [&](bool result) {
        ctx.stats.boundsChecked += boxTests;
        ctx.stats.objectsChecked += triangleTests;
        return result;
    };
    // Triangle i as its patch would be tested; true when the search may end here.
    auto testTriangle = [&](std::uint32_t i) {
        const Box box = partBox(i);
        ++boxTests;
        const double lo[3] = {box.min.x, box.min.y, box.min.z};
        const double size[3] = {box.size.x, box.size.y, box.size.z};
        double entry;
        if (!enterBox(lo, size, worldSlabs, nearest, entry)) return false;
        ++triangleTests;
        // The one-shape step for this patch: its start, the object-space range, the origin advanced
        // past a far start, and the distance brought back to world units.
        double from = keyed ? std::max(start, 0.9999 * entry) : start;
        double lower = from * scale, upper = nearest * scale, offset = 0;
        Ray ray = objectRay;
        if (lower > ctx.settings.minRayDistance) {
            ray.origin += ray.direction * lower;
            offset = lower;
            upper -= lower;
            lower = 0;
        }
        // The normals and texture coordinates are worked out only for a triangle the ray crosses.
        mesh.patchFrame(i, data);
        PatchCrossing crossing;
        if (!crossPatch(data, ray, lower, upper, crossing)) return false;
        mesh.patchShading(i, data);
        one.hit = 0;
        recordPatchHit(ctx, *this, data, crossing, one);
        if (!one.hit) return false;
        const double distance = (one.distance + offset) / scale;
        if (found && !(distance < hit.distance)) return false;
        hit = one;
        hit.distance = distance;
        found = true;
        nearest = distance;
        return firstHitEnds;
    };
    // A mesh whose tree is not built yet (before the World's hierarchy is) is searched triangle by
    // triangle: the same hits, slowly.
    if (!tree) {
        for (std::uint32_t i = 0; i < mesh.size(); ++i)
            if (testTriangle(i)) return finish(true);
        return finish(found);
    }
    const MeshTree& t = *tree;
    if (t.nodes.empty()) return finish(false);

    struct Entry {
        std::uint32_t node;
        double key;
    };
    Entry stack[MeshTreeMaxDepth + 2];
    int depth = 0;
    double key;
    if (!enterNode(t.nodes[0], objectSlabs, objectLimit(), key)) return finish(false);
    std::uint32_t node = 0;
    for (;;) {
        const MeshTreeNode& n = t.nodes[node];
        if (n.count == 0) {
            double ka = 0, kb = 0;
            const double limit = objectLimit();
            const bool a = enterNode(t.nodes[n.first], objectSlabs, limit, ka);
            const bool b = enterNode(t.nodes[n.first + 1], objectSlabs, limit, kb);
            boxTests += 2;
            if (a && b) {
                // The nearer first; the other waits.
                const bool bFirst = kb < ka;
                stack[depth++] = bFirst ? Entry{n.first, ka} : Entry{n.first + 1, kb};
                node = bFirst ? n.first + 1 : n.first;
                continue;
            }
            if (a || b) {
                node = a ? n.first : n.first + 1;
                continue;
            }
        } else {
            for (std::uint32_t k = 0; k < n.count; ++k)
                if (testTriangle(t.order[n.first + k])) return finish(true);
        }
        // The next waiting node that the ray still reaches before the nearest hit.
        bool more = false;
        while (depth > 0) {
            const Entry e = stack[--depth];
            if (e.key <= objectLimit()) {
                node = e.node;
                more = true;
                break;
            }
        }
        if (!more) break;
    }
    return finish(found);
}

void buildMeshTrees(World& world, const HierarchyWorkers* workers) {
    for (Shape* shape : world.mainList) {
        if (shape->kind != ShapeKind::PlacedMesh) continue;
        auto& placed = static_cast<PlacedMesh&>(*shape);
        if (placed.tree) continue;
        const MeshParts& mesh = *placed.parts;
        if (!mesh.tree) {
            try {
                mesh.tree = std::make_shared<const MeshTree>(
                    buildMeshTree(mesh.size(), [&mesh](std::size_t i) { return mesh.bounds(i); }, workers));
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate Slabs");
            }
        }
        placed.tree = mesh.tree;
    }
}

}  // namespace quorva
