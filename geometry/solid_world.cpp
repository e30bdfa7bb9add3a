// Putting a Solid into the World: its components get their links, transforms and boxes, the tree is
// folded into its plan, and each component that can show a surface joins the main list (or its
// triangulation does, cut from a copy).
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/solid.h"
#include "geometry/solid_plan.h"
#include "geometry/world.h"
#include "shading/shader.h"

namespace quorva {

namespace {

// Each component is pruned by the shader that shades it: its own, else the nearest enclosing one.
void pruneComponent(Shape& component) {
    if (const Shader* shader = effectiveShader(component))
        shader->pruneAttributes(component.attributes, component.hasDefaultUvWindow());
}

bool isOperator(std::int32_t opcode) {
    return opcode >= SolidOp::Clip && opcode <= SolidOp::UnionKeep;
}

}  // namespace

void prepareSolid(Solid& solid) {
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
        if (tracesSurfaces(settings) && (displaced || alwaysSubdivided(c->kind))) {
            // The triangulation is cut from a copy; the component stays in the tree for inside tests.
            std::unique_ptr<Shape> copy;
            try {
                copy = copyShape(*c);
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate a request (solid)");
            }
            if (untested) copy->solidTest = nullptr;
            pruneComponent(*copy);
            addSubdivided(world, std::move(copy), "Failed to compute a Solid triangulation");
            continue;
        }
        // The component itself goes on the main list (the Solid keeps owning it and lives as long as
        // the World): a converted mesh adds tens of thousands of them.
        if (untested) c->solidTest = nullptr;
        pruneComponent(*c);
        try {
            world.mainList.push_back(c);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate a new shape");
        }
    }
}

}  // namespace quorva
