// Putting a Solid into the World: its components get their links, transforms and boxes, the tree is
// folded into its plan, and each component that can show a surface joins the main list (or its
// triangulation does, cut from a copy).
#include <algorithm>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/mesh_tree.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid.h"
#include "geometry/solid_plan.h"
#include "geometry/world.h"

namespace quorva {

namespace {

// Each component is pruned by the shader that shades it: its own, else the nearest enclosing one.
void pruneComponent(Shape& component) {
    if (const Shader* shader = effectiveShader(component))
        pruneByShader(*shader, component.attributes, component.hasDefaultUvWindow());
}

bool isOperator(std::int32_t opcode) {
    return opcode >= SolidOp::Clip && opcode <= SolidOp::UnionKeep;
}

// One component that shows its surface: onto the main list, or its triangulation when it has to be cut.
void addComponent(World& world, Shape& c, bool displaced, bool untested, const AddSettings& settings) {
    if (tracesSurfaces(settings) && (displaced || alwaysSubdivided(c.kind))) {
        // The triangulation is cut from a copy; the component stays in the tree for inside tests.
        std::unique_ptr<Shape> copy;
        try {
            copy = copyShape(c);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate a request (solid)");
        }
        if (untested) copy->solidTest = nullptr;
        pruneComponent(*copy);
        addSubdivided(world, std::move(copy), "Failed to compute a Solid triangulation");
        return;
    }
    // The component itself goes on the main list (the Solid keeps owning it and lives as long as the
    // World): a converted mesh adds tens of thousands of them.
    if (untested) c.solidTest = nullptr;
    pruneComponent(c);
    try {
        world.mainList.push_back(&c);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate a new shape");
    }
}

// A flat mesh placed by itself: one patch per part, prepared as the leaves of the equivalent tree would
// be (the Solid's transform after the patch's own, the box cut to the Solid's), none of them tested.
void placeFlatMesh(Solid& solid) {
    const MeshParts& mesh = *solid.meshParts;
    const Transform* transform = solid.transform.get();
    const Box whole = solid.bounds();
    try {
        PatchDataBlocks blocks;
        solid.placedParts.clear();
        solid.placedParts.reserve(mesh.size());
        for (std::size_t i = 0; i < mesh.size(); ++i) {
            TriangularPatch& c =
                solid.placedParts.emplace_back(mesh.sharedPatchData(i, blocks), mesh.bounds(i));
            c.parent = &solid;
            if (transform) {
                c.transform = std::make_unique<Transform>();
                compose(*c.transform, *transform);
                c.setBounds(transformBox(c.bounds(), transform->forward));
            }
            c.setBounds(intersectBoxes(c.bounds(), whole));
        }
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate a request (solid)");
    }
}

// The flat mesh as one placed shape, over the tree of its parts (made by the hierarchy build, once).
void placeMesh(Solid& solid) {
    const MeshParts& mesh = *solid.meshParts;
    try {
        auto placed = std::make_unique<PlacedMesh>(solid.meshParts, mesh.tree, solid.bounds());
        placed->parent = &solid;
        if (const Transform* transform = solid.transform.get()) {
            // As each patch would get it: the Solid's transform after an identity of its own.
            placed->transform = std::make_unique<Transform>();
            compose(*placed->transform, *transform);
        }
        placed->placed();
        solid.placedMesh = std::move(placed);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate a request (solid)");
    }
}

}  // namespace

void prepareSolid(Solid& solid) {
    // A flat mesh is placed when it is added, as one shape or as its patches.
    if (solid.isFlatMesh()) return;
    struct Work {
        SolidNode* node;
        SolidNode* up;
        Solid* owner;
        const Transform* transform;
        Box bounds;
    };
    std::vector<Work> stack;
    if (!solid.root) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
    pushWork(stack, Work{solid.root.get(), nullptr, &solid, solid.transform.get(), solid.bounds()});
    while (!stack.empty()) {
        const Work w = stack.back();
        stack.pop_back();
        SolidNode* n = w.node;
        if (!n) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
        n->up = w.up;
        if (n->opcode == SolidOp::Leaf) {
            Shape* c = n->component;
            if (!c) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
            c->parent = w.owner;
            c->solidTest = n;
            if (w.transform) {
                // The component's own transform acts first, the Solid's after it.
                if (!c->transform) c->transform = std::make_unique<Transform>();
                compose(*c->transform, *w.transform);
                c->setBounds(transformBox(c->bounds(), w.transform->forward));
            }
            c->setBounds(intersectBoxes(c->bounds(), w.bounds));
            if (c->kind == ShapeKind::Solid) {
                if (auto* inner = dynamic_cast<Solid*>(c)) {
                    // A mesh inside a CSG expression takes part in it as the tree it stands for.
                    inner->expandMesh();
                    if (!inner->root)
                        internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
                    pushWork(stack,
                             Work{inner->root.get(), nullptr, inner, inner->transform.get(), c->bounds()});
                }
            }
            continue;
        }
        if (!isOperator(n->opcode))
            internalFailure(InternalFailure::BadSolidType1, "Bad Solid type (%d)", n->opcode);
        if (n->opcode != SolidOp::Complement)
            pushWork(stack, Work{n->right, n, w.owner, w.transform, w.bounds});
        pushWork(stack, Work{n->left, n, w.owner, w.transform, w.bounds});
    }
    buildSolidPlan(solid);
}

void addSolidComponents(World& world, Solid& solid, bool needsMesh, std::uint16_t attributes,
                        const AddSettings& settings) {
    if (solid.isFlatMesh()) {
        // The patches carry no membership test; the Solid (the outermost one: a nested mesh was
        // expanded) and each patch take the attributes.
        solid.attributes = attributes;
        const bool displaced = needsMesh || solid.displacement;
        if (tracesSurfaces(settings) && !displaced) {
            placeMesh(solid);
            PlacedMesh& mesh = *solid.placedMesh;
            mesh.attributes = attributes;
            pruneComponent(mesh);
            try {
                world.mainList.push_back(&mesh);
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate a new shape");
            }
            return;
        }
        placeFlatMesh(solid);
        try {
            // Grown geometrically: a scene may place many small meshes.
            auto& list = world.mainList;
            const std::size_t need = list.size() + solid.placedParts.size();
            if (need > list.capacity()) list.reserve(std::max(need, 2 * list.capacity()));
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate a new shape");
        }
        for (TriangularPatch& c : solid.placedParts) {
            c.attributes = attributes;
            addComponent(world, c, displaced || c.displacement, true, settings);
        }
        return;
    }
    const SolidPlan* plan = solid.plan.get();
    std::vector<SolidNode*> stack;
    pushWork(stack, solid.root.get());
    while (!stack.empty()) {
        SolidNode* n = stack.back();
        stack.pop_back();
        if (!n) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
        switch (n->opcode) {
            case SolidOp::Leaf:
                break;
            case SolidOp::Clip:
            case SolidOp::Complement:
                // A clipping shows only its left operand's surfaces.
                pushWork(stack, n->left);
                continue;
            case SolidOp::Intersect:
            case SolidOp::Union:
            case SolidOp::UnionKeep:
                pushWork(stack, n->right);
                pushWork(stack, n->left);
                continue;
            default:
                internalFailure(InternalFailure::BadSolidType0, "Bad Solid type (%d)", n->opcode);
        }

        Shape* c = n->component;
        if (!c) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
        bool displaced = needsMesh;
        for (Shape* s = c; s; s = s->parent) {
            s->attributes = attributes;
            if (s->displacement) displaced = true;
        }
        if (c->kind == ShapeKind::Solid) {
            if (auto* inner = dynamic_cast<Solid*>(c)) pushWork(stack, inner->root.get());
            continue;
        }

        // Folded away: a constant test rejects every hit on this component.
        const SolidPlan::Leaf* leaf = n->plan == plan && plan ? &plan->leaves[n->planLeaf] : nullptr;
        if (leaf && !leaf->shown) continue;

        // Every test up to the root is constant and passes: no walk at all.
        const bool untested = leaf && leaf->checkCount == 0 && !leaf->reverseNormal;
        addComponent(world, *c, displaced, untested, settings);
    }
}

}  // namespace quorva
