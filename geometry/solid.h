// CSG solids: the operation tree over component shapes, the Solid shape that owns it, the inside and
// membership rules, and the preparation that puts a Solid's components into the World.
//
// The Solid itself is never intersected. When it is added to the World, each component that can show
// a surface goes on the main list as an ordinary shape whose `parent` is its Solid and whose
// `solidTest` is its leaf; the leaf accepts or rejects each hit point by the operations above it.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "geometry/flat_shapes.h"
#include "geometry/mesh_parts.h"
#include "geometry/shape.h"

namespace quorva {

struct AddSettings;
struct SolidPlan;
class PlacedMesh;

// Operation codes (the character values are the codes).
namespace SolidOp {
constexpr std::int32_t Leaf = 40;        // '(' a component shape
constexpr std::int32_t Clip = 41;        // ')' left's surfaces inside right
constexpr std::int32_t Intersect = 42;   // '*'
constexpr std::int32_t Complement = 43;  // '+' one operand
constexpr std::int32_t Union = 44;       // ',' union without inner surfaces
constexpr std::int32_t UnionKeep = 45;   // '-' union keeping inner surfaces (no membership test)
}  // namespace SolidOp

// One node of a Solid's operation tree. A leaf owns its component; an operator node owns its
// operands. Trees are released by an explicit walk (releaseSolidTree), never by nested destructors:
// a converted mesh is a union of tens of thousands of operands.
class SolidNode final : public SolidMembership {
  public:
    std::int32_t opcode = SolidOp::Leaf;
    SolidNode* up = nullptr;     // enclosing node, null at the root (set at preparation)
    Shape* component = nullptr;  // a leaf's shape (owned)
    SolidNode* left = nullptr;   // first operand (owned)
    SolidNode* right = nullptr;  // second operand (owned); null for leaves and the complement

    // Filled at preparation: the plan of the outermost Solid and this leaf's entry in it.
    const SolidPlan* plan = nullptr;
    std::uint32_t planLeaf = 0;

    // Membership of a world-space hit on this leaf's component.
    bool accepts(const Vec3& worldPoint) const override;
};

// Frees a tree: every leaf's component, then every node. Iterative.
void releaseSolidTree(SolidNode* root);

struct SolidTreeDeleter {
    void operator()(SolidNode* root) const { releaseSolidTree(root); }
};
using SolidTree = std::unique_ptr<SolidNode, SolidTreeDeleter>;

// A leaf over a component ("Failed to allocate Solid").
SolidTree newSolidLeaf(std::unique_ptr<Shape> component);
// An operator node (opcode 41..45; `right` null for the complement). Refused with "CSG operations must
// be part of Solid structure" unless `insideSolidStatement`; "Failed to allocate Solid" on memory.
SolidTree newSolidNode(std::int32_t opcode, SolidTree left, SolidTree right,
                       bool insideSolidStatement = true);

// The Solid shape (kind 5): no transform of its own at creation, bounds = the union of the bounds of
// every leaf's component as they stand now.
class Solid final : public Shape {
  public:
    explicit Solid(SolidTree root);
    // A flat mesh (at least one triangle): bounds = the union of the triangles' boxes.
    explicit Solid(std::shared_ptr<const MeshParts> parts);
    ~Solid() override;

    SolidTree root;
    // A flat mesh has these instead of a tree (`root` null); see MeshParts.
    std::shared_ptr<const MeshParts> meshParts;
    // A placed flat mesh's patches, one per part in order, owned here and put on the main list. Filled
    // once by prepareSolid (reserved to size: the World keeps pointers to them).
    std::vector<TriangularPatch> placedParts;
    // Or, when the World traces rays and nothing cuts the patches into triangles, one shape for all of
    // them over the shared parts and tree (see PlacedMesh).
    std::unique_ptr<PlacedMesh> placedMesh;

    bool isFlatMesh() const { return !root && meshParts; }
    // Turns a flat mesh into the equivalent tree, a left-deep union keeping inner surfaces over one
    // patch per part (it is about to become a CSG operand). Nothing for any other Solid.
    void expandMesh();
    // Built when the Solid is added to the World (outermost Solids only); null before.
    std::shared_ptr<const SolidPlan> plan;

    bool inside(const Vec3& worldPoint) const override;
    void subdivide(World&) override {}
    // Deep copy: the tree node by node, each component through copyShape; the copy owns everything. A
    // flat mesh's copy shares its parts.
    std::unique_ptr<Shape> clone() const override;

  private:
    Solid(const Solid& other, SolidTree copiedRoot);
};

// A Solid joining `shapes` by one union, left-deep in the order given: `keepInnerSurfaces` gives the
// union that shows every component whole and runs no membership test (code 45), otherwise the union
// without inner surfaces (code 44). At least one shape; a single shape still becomes a one-leaf Solid.
std::unique_ptr<Solid> makeSolidUnion(std::vector<std::unique_ptr<Shape>> shapes,
                                      bool keepInnerSurfaces = true);

// Is the world point inside the subtree? Left operand first, stopping early. A missing subtree is
// internal failure 0x11, an unknown code 0x12.
bool solidInside(const SolidNode* tree, const Vec3& worldPoint);
// Does a hit on `leaf`'s component at the world point survive the operations above it (by the `up`
// links, continuing into the Solid that holds this one as a component)? Unknown code: 0x10.
bool solidMembership(const SolidNode* leaf, const Vec3& worldPoint);

// The box of a declared Solid for min()/max(): the union of its leaves' boxes after the Solid's own
// transforms.
Box solidLeafBounds(const Solid& solid);

// Preparation, run by addToWorld for a Solid: links, transforms and boxes of the components, the
// folded plan, then the components (or their triangulations) onto the main list. `attributes` are the
// Solid's attributes before any pruning.
void prepareSolid(Solid& solid);
void addSolidComponents(World& world, Solid& solid, bool needsMesh, std::uint16_t attributes,
                        const AddSettings& settings);

// Pushes onto the work stack of a tree walk; running out of memory for it is the fatal "Failed to
// allocate a request (solid)".
template <typename T>
void pushWork(std::vector<T>& stack, const T& item) {
    try {
        stack.push_back(item);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate a request (solid)");
    }
}

}  // namespace quorva
