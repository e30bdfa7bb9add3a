// The CSG operation tree and the Solid shape: building, copying and releasing trees, and the inside
// and membership rules evaluated on the tree itself.
#include "geometry/solid.h"

#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/placed_mesh.h"
#include "geometry/solid_plan.h"

namespace quorva {

namespace {

SolidNode* allocateNode(const char* message) {
    SolidNode* node = new (std::nothrow) SolidNode;
    if (!node) fatal("%s", message);
    return node;
}

// A left-deep tree joining `shapes` by `opcode`, in the order given.
SolidTree unionTree(std::vector<std::unique_ptr<Shape>> shapes, std::int32_t opcode) {
    SolidTree tree;
    for (auto& shape : shapes) {
        SolidTree leaf = newSolidLeaf(std::move(shape));
        tree = tree ? newSolidNode(opcode, std::move(tree), std::move(leaf)) : std::move(leaf);
    }
    return tree;
}

}  // namespace

void releaseSolidTree(SolidNode* root) {
    if (!root) return;
    std::vector<SolidNode*> stack;
    stack.push_back(root);
    while (!stack.empty()) {
        SolidNode* node = stack.back();
        stack.pop_back();
        if (node->left) stack.push_back(node->left);
        if (node->right) stack.push_back(node->right);
        if (node->component && node->component->kind == ShapeKind::Solid) {
            // A nested Solid's tree joins this walk, so nesting costs no native stack either.
            if (auto* inner = dynamic_cast<Solid*>(node->component))
                if (SolidNode* innerRoot = inner->root.release()) stack.push_back(innerRoot);
        }
        delete node->component;
        delete node;
    }
}

SolidTree newSolidLeaf(std::unique_ptr<Shape> component) {
    SolidTree leaf(allocateNode("Failed to allocate Solid"));
    leaf->opcode = SolidOp::Leaf;
    leaf->component = component.release();
    return leaf;
}

SolidTree newSolidNode(std::int32_t opcode, SolidTree left, SolidTree right, bool insideSolidStatement) {
    if (!insideSolidStatement) fatal("CSG operations must be part of Solid structure");
    SolidTree node(allocateNode("Failed to allocate Solid"));
    node->opcode = opcode;
    node->left = left.release();
    node->right = right.release();
    return node;
}

bool SolidNode::accepts(const Vec3& worldPoint) const {
    if (plan) return planAccepts(*plan, planLeaf, worldPoint);
    return solidMembership(this, worldPoint);
}

// ---------------------------------------------------------------------------------------------------
// The Solid shape

Solid::Solid(SolidTree tree) : Shape(ShapeKind::Solid), root(std::move(tree)) {
    // Bounds: the union of every leaf's box, whatever the operators.
    bool any = false;
    Box box;
    std::vector<const SolidNode*> stack;
    if (root) stack.push_back(root.get());
    while (!stack.empty()) {
        const SolidNode* node = stack.back();
        stack.pop_back();
        switch (node->opcode) {
            case SolidOp::Leaf:
                if (!node->component)
                    internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
                box = any ? unionBoxes(box, node->component->bounds()) : node->component->bounds();
                any = true;
                break;
            case SolidOp::Clip:
            case SolidOp::Intersect:
            case SolidOp::Complement:
            case SolidOp::Union:
            case SolidOp::UnionKeep:
                for (const SolidNode* child : {node->left, node->right})
                    if (child) pushWork(stack, child);
                if (!node->left || (!node->right && node->opcode != SolidOp::Complement))
                    internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
                break;
            default:
                internalFailure(InternalFailure::BadSolidType2, "Bad Solid type (%d)", node->opcode);
        }
    }
    if (any) setBounds(box);
}

Solid::Solid(std::shared_ptr<const MeshParts> flat) : Shape(ShapeKind::Solid), meshParts(std::move(flat)) {
    if (!meshParts || meshParts->empty())
        internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
    // Last triangle first, as the walk over the equivalent tree meets them: the same box to the last bit.
    const MeshParts& mesh = *meshParts;
    Box box = mesh.bounds(mesh.size() - 1);
    for (std::size_t i = mesh.size() - 1; i-- > 0;) box = unionBoxes(box, mesh.bounds(i));
    setBounds(box);
}

Solid::~Solid() = default;

Solid::Solid(const Solid& other, SolidTree copiedRoot)
    : Shape(other), root(std::move(copiedRoot)), meshParts(root ? nullptr : other.meshParts) {}

void Solid::expandMesh() {
    if (!isFlatMesh()) return;
    std::vector<std::unique_ptr<Shape>> patches;
    try {
        const MeshParts& mesh = *meshParts;
        PatchDataBlocks blocks;
        patches.reserve(mesh.size());
        for (std::size_t i = 0; i < mesh.size(); ++i)
            patches.push_back(
                std::make_unique<TriangularPatch>(mesh.sharedPatchData(i, blocks), mesh.bounds(i)));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate request (Solid)");
    }
    root = unionTree(std::move(patches), SolidOp::UnionKeep);
    meshParts.reset();
}

std::unique_ptr<Shape> Solid::clone() const {
    // Node by node, keeping each copy owned by the partial tree so that a failure frees it.
    SolidTree copy;
    struct Work {
        const SolidNode* source;
        SolidNode** slot;
    };
    std::vector<Work> stack;
    SolidNode* top = nullptr;
    if (root) stack.push_back({root.get(), &top});
    try {
        while (!stack.empty()) {
            Work w = stack.back();
            stack.pop_back();
            SolidNode* node = allocateNode("Failed to allocate request (Solid)");
            *w.slot = node;
            if (!copy) copy.reset(node);
            const SolidNode* s = w.source;
            node->opcode = s->opcode;
            switch (s->opcode) {
                case SolidOp::Leaf:
                    if (s->component) node->component = copyShape(*s->component).release();
                    break;
                case SolidOp::Clip:
                case SolidOp::Intersect:
                case SolidOp::Complement:
                case SolidOp::Union:
                case SolidOp::UnionKeep:
                    if (s->left) pushWork(stack, Work{s->left, &node->left});
                    if (s->right) pushWork(stack, Work{s->right, &node->right});
                    break;
                default:
                    internalFailure(InternalFailure::BadSolidType5, "Bad Solid type (%d)", s->opcode);
            }
        }
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate request (Solid)");
    }
    return std::unique_ptr<Shape>(new Solid(*this, std::move(copy)));
}

bool Solid::inside(const Vec3& worldPoint) const {
    // Patches enclose nothing.
    if (isFlatMesh()) return false;
    if (plan) return planInside(*plan, worldPoint);
    return solidInside(root.get(), worldPoint);
}

std::unique_ptr<Solid> makeSolidUnion(std::vector<std::unique_ptr<Shape>> shapes, bool keepInnerSurfaces) {
    return std::make_unique<Solid>(
        unionTree(std::move(shapes), keepInnerSurfaces ? SolidOp::UnionKeep : SolidOp::Union));
}

// ---------------------------------------------------------------------------------------------------
// Inside and membership on the tree

bool solidInside(const SolidNode* tree, const Vec3& p) {
    // Post-order walk; `result` carries the value of the subtree just finished to its parent's frame.
    struct Frame {
        const SolidNode* node;
        int stage;
    };
    std::vector<Frame> stack;
    pushWork(stack, Frame{tree, 0});
    bool result = false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        const SolidNode* n = f.node;
        if (!n) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
        if (n->opcode == SolidOp::Leaf) {
            if (!n->component) internalFailure(InternalFailure::EmptySolidRequest, "Empty Solid request");
            result = n->component->inside(p);
            stack.pop_back();
            continue;
        }
        if (n->opcode < SolidOp::Clip || n->opcode > SolidOp::UnionKeep)
            internalFailure(InternalFailure::BadSolidType4, "Bad Solid type (%d)", n->opcode);
        if (f.stage == 0) {
            f.stage = 1;
            pushWork(stack, Frame{n->left, 0});
            continue;
        }
        bool done = true;
        if (f.stage == 1) {
            switch (n->opcode) {
                case SolidOp::Complement:
                    result = !result;
                    break;
                case SolidOp::Clip:
                case SolidOp::Intersect:
                    done = !result;
                    break;
                default:  // the unions
                    done = result;
                    break;
            }
            if (!done) {
                f.stage = 2;
                pushWork(stack, Frame{n->right, 0});
                continue;
            }
        }
        // Stage 2: the right operand decides (both operands of a clipping must hold the point: the
        // clipping shows the left shell where it lies inside the right).
        stack.pop_back();
    }
    return result;
}

bool solidMembership(const SolidNode* leaf, const Vec3& p) {
    const SolidNode* child = leaf;
    // The Solid whose tree the walk is in: the leaf's component names it once prepared.
    const Shape* solid = leaf && leaf->component ? leaf->component->parent : nullptr;
    while (child) {
        const SolidNode* n = child->up;
        if (!n) {
            // The root of a Solid that is itself a component: the enclosing operations apply too.
            const SolidNode* outer = solid ? dynamic_cast<const SolidNode*>(solid->solidTest) : nullptr;
            if (!outer) return true;
            child = outer;
            solid = outer->component ? outer->component->parent : nullptr;
            continue;
        }
        const bool fromLeft = child == n->left;
        const SolidNode* other = fromLeft ? n->right : n->left;
        switch (n->opcode) {
            case SolidOp::Clip:
                if (fromLeft) {
                    if (!solidInside(n->right, p)) return false;
                } else {
                    warning("Bad clipping point in Solid");
                }
                break;
            case SolidOp::Intersect:
                if (!solidInside(other, p)) return false;
                break;
            case SolidOp::Union:
                if (solidInside(other, p)) return false;
                break;
            case SolidOp::Complement:
            case SolidOp::UnionKeep:
                break;
            default:
                internalFailure(InternalFailure::BadSolidType3, "Bad Solid type (%d)", n->opcode);
        }
        child = n;
    }
    return true;
}

Box solidLeafBounds(const Solid& solid) {
    bool any = false;
    Box box = solid.bounds();
    if (solid.isFlatMesh()) {
        // In the order a walk over the equivalent tree takes: last triangle first.
        const MeshParts& mesh = *solid.meshParts;
        for (std::size_t i = mesh.size(); i-- > 0;) {
            const Box own = mesh.bounds(i);
            const Box b = solid.transform ? transformBox(own, solid.transform->forward) : own;
            box = any ? unionBoxes(box, b) : b;
            any = true;
        }
        return box;
    }
    std::vector<const SolidNode*> stack;
    if (solid.root) stack.push_back(solid.root.get());
    while (!stack.empty()) {
        const SolidNode* node = stack.back();
        stack.pop_back();
        if (node->opcode == SolidOp::Leaf) {
            if (!node->component) continue;
            Box b = node->component->bounds();
            if (solid.transform) b = transformBox(b, solid.transform->forward);
            box = any ? unionBoxes(box, b) : b;
            any = true;
            continue;
        }
        if (node->left) pushWork(stack, static_cast<const SolidNode*>(node->left));
        if (node->right) pushWork(stack, static_cast<const SolidNode*>(node->right));
    }
    return box;
}

}  // namespace quorva
