// The folded form of a prepared Solid's tree that hits are tested against while rendering.
//
// Built once when the Solid is added to the World: chains of one associative operator become n-ary
// nodes, nested Solids are spliced in (so their components see the enclosing operations too), every
// subtree gets the box its inside lies in, and subtrees whose inside does not depend on the point
// (kinds without an inside, their complements) become constants. Each leaf then holds the short list
// of tests that decide its hits; a leaf whose tests are all constant needs none. Evaluating the plan
// allocates nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

class Solid;

struct SolidPlan {
    static constexpr std::uint32_t None = 0xffffffffu;

    struct Node {
        Vec3 lo, hi;                       // the box the inside lies in (when bounded), slightly padded
        const Shape* component = nullptr;  // leaves
        std::uint32_t parent = None;
        std::uint32_t slot = 0;   // position among the parent's operands
        std::uint32_t first = 0;  // operands: operands[first .. first + count)
        std::uint32_t count = 0;
        std::int32_t op = 0;        // SolidOp code; Intersect, Union and UnionKeep take any count
        std::int8_t constant = -1;  // -1 depends on the point, 0 never inside, 1 always inside
        bool bounded = false;
    };
    // A test a hit must pass: every other operand of `node` that depends on the point must hold it
    // (`wantInside`: intersection, clipping) or none may (union).
    struct Check {
        std::uint32_t node;
        std::uint32_t skip;  // the operand the hit comes from
        bool wantInside;
    };
    // Operands of a node that depend on the point, in a box tree when there are many of them.
    struct Candidates {
        std::uint32_t first = 0, count = 0;  // indices into `candidates`
        std::uint32_t tree = None;           // root in `boxTree`, or None
    };
    struct BoxNode {
        Vec3 lo, hi;
        std::uint32_t first, count;  // a leaf: candidates[first .. first + count)
        std::uint32_t right;         // an inner node: left child follows it, right child here
    };
    struct Leaf {
        std::uint32_t node = 0;
        std::uint32_t firstCheck = 0, checkCount = 0;
        bool shown = true;           // false: a constant test rejects every hit
        bool reverseNormal = false;  // seen through an odd number of complements
    };

    std::vector<Node> nodes;
    std::vector<std::uint32_t> operands;
    std::vector<Candidates> nodeCandidates;  // per node
    std::vector<std::uint32_t> candidates;
    std::vector<BoxNode> boxTree;
    std::vector<Check> checks;
    std::vector<Leaf> leaves;
    std::uint32_t root = None;
};

// Folds a prepared Solid's tree (and the trees of Solids nested in it) and points every leaf at the
// result. A missing subtree is internal failure 0x28, an unknown code 0x29.
void buildSolidPlan(Solid& solid);

bool planInside(const SolidPlan& plan, const Vec3& worldPoint);
bool planAccepts(const SolidPlan& plan, std::uint32_t leaf, const Vec3& worldPoint);

}  // namespace quorva
