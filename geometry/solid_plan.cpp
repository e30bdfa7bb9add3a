// Folding a prepared Solid's tree into its plan, and the inside and membership tests on the plan.
#include "geometry/solid_plan.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/solid.h"

namespace quorva {

namespace {

using Node = SolidPlan::Node;
constexpr std::uint32_t None = SolidPlan::None;

// Kinds whose inside test answers 0 everywhere.
bool hasInside(ShapeKind kind) {
    switch (kind) {
        case ShapeKind::TriangularPatch:
        case ShapeKind::SphericalHeightField:
        case ShapeKind::BicubicPatch:
        case ShapeKind::Nurbs:
        case ShapeKind::ParametricSurface:
        case ShapeKind::LightEntry:
        case ShapeKind::BoundingGroup:
        case ShapeKind::MeshTriangle:
            return false;
        default:
            return true;
    }
}

// Kinds whose inside lies within their bounds (half-spaces and implicit surfaces may reach anywhere).
bool insideWithinBounds(ShapeKind kind) {
    switch (kind) {
        case ShapeKind::Sphere:
        case ShapeKind::Box:
        case ShapeKind::Cone:
        case ShapeKind::Cylinder:
        case ShapeKind::Paraboloid:
        case ShapeKind::Torus:
        case ShapeKind::Superquadric:
            return true;
        default:
            return false;
    }
}

inline bool inBox(const Node& n, const Vec3& p) {
    return p.x >= n.lo.x && p.x <= n.hi.x && p.y >= n.lo.y && p.y <= n.hi.y && p.z >= n.lo.z && p.z <= n.hi.z;
}
inline bool inBox(const SolidPlan::BoxNode& n, const Vec3& p) {
    return p.x >= n.lo.x && p.x <= n.hi.x && p.y >= n.lo.y && p.y <= n.hi.y && p.z >= n.lo.z && p.z <= n.hi.z;
}

// Is p inside the subtree at `start`? Walks down and back up by the parent links (no stack), stopping
// each operator as soon as an operand decides it.
bool evalInside(const SolidPlan& plan, std::uint32_t start, const Vec3& p) {
    const Node* nodes = plan.nodes.data();
    const std::uint32_t* operands = plan.operands.data();
    std::uint32_t n = start;
    for (;;) {
        const Node& node = nodes[n];
        bool value;
        if (node.constant >= 0) {
            value = node.constant != 0;
        } else if (node.bounded && !inBox(node, p)) {
            value = false;
        } else if (node.op == SolidOp::Leaf) {
            value = node.component->inside(p);
        } else {
            n = operands[node.first];
            continue;
        }
        // Carry the value up until an operator needs its next operand.
        for (;;) {
            if (n == start) return value;
            const Node& child = nodes[n];
            const Node& parent = nodes[child.parent];
            const std::uint32_t up = child.parent;
            if (parent.op == SolidOp::Complement) {
                value = !value;
            } else {
                const bool decided =
                    parent.op == SolidOp::Intersect || parent.op == SolidOp::Clip ? !value : value;
                if (!decided && child.slot + 1 < parent.count) {
                    n = operands[parent.first + child.slot + 1];
                    break;
                }
            }
            n = up;
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Building

class PlanBuilder {
  public:
    explicit PlanBuilder(SolidPlan& plan) : plan_(plan) {}

    void build(SolidNode* root) {
        if (buildSurfaceUnion(root)) return;
        struct Work {
            SolidNode* source;
            std::uint32_t parent, slot;
        };
        std::vector<Work> work{{root, None, 0}};
        std::vector<SolidNode*> gathered, gather;
        while (!work.empty()) {
            const Work w = work.back();
            work.pop_back();
            SolidNode* s = resolve(w.source);
            const std::uint32_t index = static_cast<std::uint32_t>(plan_.nodes.size());
            Node node;
            node.parent = w.parent;
            node.slot = w.slot;
            node.op = s->opcode;
            if (w.parent == None)
                plan_.root = index;
            else
                plan_.operands[plan_.nodes[w.parent].first + w.slot] = index;

            gathered.clear();
            switch (s->opcode) {
                case SolidOp::Leaf: {
                    const Shape* c = s->component;
                    node.component = c;
                    node.constant = hasInside(c->kind) ? -1 : 0;
                    node.bounded = insideWithinBounds(c->kind);
                    setBox(node, c->bounds());
                    s->plan = &plan_;
                    s->planLeaf = static_cast<std::uint32_t>(plan_.leaves.size());
                    SolidPlan::Leaf leaf;
                    leaf.node = index;
                    plan_.leaves.push_back(leaf);
                    leafSources_.push_back(s);
                    break;
                }
                case SolidOp::Complement:
                    gathered.push_back(child(s->left));
                    break;
                case SolidOp::Clip:
                    gathered.push_back(child(s->left));
                    gathered.push_back(child(s->right));
                    break;
                case SolidOp::Intersect:
                case SolidOp::Union:
                case SolidOp::UnionKeep:
                    // A chain of one associative operator becomes one node, operands left to right.
                    gather.assign({child(s->right), child(s->left)});
                    while (!gather.empty()) {
                        SolidNode* g = resolve(gather.back());
                        gather.pop_back();
                        if (g->opcode == s->opcode) {
                            gather.push_back(child(g->right));
                            gather.push_back(child(g->left));
                        } else {
                            gathered.push_back(g);
                        }
                    }
                    break;
                default:
                    internalFailure(InternalFailure::BadSolidRequestType, "Bad Solid request type (%d)",
                                    s->opcode);
            }
            node.first = static_cast<std::uint32_t>(plan_.operands.size());
            node.count = static_cast<std::uint32_t>(gathered.size());
            plan_.operands.resize(plan_.operands.size() + gathered.size(), None);
            plan_.nodes.push_back(node);
            for (std::uint32_t i = node.count; i-- > 0;) work.push_back({gathered[i], index, i});
        }
        fold();
        collectCandidates();
        planLeaves();
        // Nothing depends on the point (a converted mesh): only the leaves' entries are needed.
        if (plan_.checks.empty() && plan_.nodes[plan_.root].constant >= 0) {
            Node root = plan_.nodes[plan_.root];
            root.count = 0;
            std::vector<Node>{root}.swap(plan_.nodes);
            std::vector<std::uint32_t>().swap(plan_.operands);
            std::vector<SolidPlan::Candidates>().swap(plan_.nodeCandidates);
            std::vector<std::uint32_t>().swap(plan_.candidates);
            std::vector<SolidPlan::BoxNode>().swap(plan_.boxTree);
            plan_.root = 0;
        }
    }

  private:
    // A tree of unions keeping inner surfaces over kinds without an inside (a mesh) tests nothing and
    // has no inside: its plan is the constant root and one entry per leaf, made without folding.
    // False (nothing built) for any other tree.
    bool buildSurfaceUnion(SolidNode* root) {
        std::vector<SolidNode*> stack{child(root)}, leaves;
        while (!stack.empty()) {
            SolidNode* n = stack.back();
            stack.pop_back();
            if (n->opcode == SolidOp::UnionKeep) {
                stack.push_back(child(n->right));
                stack.push_back(child(n->left));
                continue;
            }
            if (n->opcode != SolidOp::Leaf || !n->component || n->component->kind == ShapeKind::Solid ||
                hasInside(n->component->kind))
                return false;
            leaves.push_back(n);
        }
        Node node;
        node.op = root->opcode;
        node.constant = 0;
        if (root->opcode == SolidOp::Leaf) node.component = root->component;
        plan_.nodes.push_back(node);
        plan_.root = 0;
        plan_.leaves.resize(leaves.size());
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            leaves[i]->plan = &plan_;
            leaves[i]->planLeaf = static_cast<std::uint32_t>(i);
            leaves[i]->reverseNormal = false;
        }
        return true;
    }

    // A leaf holding a Solid stands for that Solid's tree.
    static SolidNode* resolve(SolidNode* n) {
        for (;;) {
            if (!n) internalFailure(InternalFailure::EmptySolidRequestWorld, "Empty Solid request");
            if (n->opcode != SolidOp::Leaf) return n;
            if (!n->component)
                internalFailure(InternalFailure::EmptySolidRequestWorld, "Empty Solid request");
            auto* inner =
                n->component->kind == ShapeKind::Solid ? dynamic_cast<Solid*>(n->component) : nullptr;
            if (!inner) return n;
            n = inner->root.get();
        }
    }
    static SolidNode* child(SolidNode* n) {
        if (!n) internalFailure(InternalFailure::EmptySolidRequestWorld, "Empty Solid request");
        return n;
    }

    static void setBox(Node& node, const Box& box) {
        const Vec3 lo = box.min, hi = box.max();
        // Hit points computed on one surface may stray from another's box by rounding.
        for (int a = 0; a < 3; ++a) {
            const double pad = 1e-9 + 1e-7 * std::max(std::fabs(lo[a]), std::fabs(hi[a]));
            node.lo[a] = lo[a] - pad;
            node.hi[a] = hi[a] + pad;
        }
    }

    // Constants and boxes, operands before their operators (operands always come later in `nodes`).
    void fold() {
        const std::size_t count = plan_.nodes.size();
        zeros_.assign(count, 0);
        ones_.assign(count, 0);
        for (std::size_t i = count; i-- > 0;) {
            Node& n = plan_.nodes[i];
            if (n.op == SolidOp::Leaf) continue;
            std::uint32_t zeros = 0, ones = 0, bounded = 0;
            bool first = true;
            Vec3 lo, hi;
            const bool meet = n.op == SolidOp::Intersect || n.op == SolidOp::Clip;
            for (std::uint32_t k = 0; k < n.count; ++k) {
                const Node& o = plan_.nodes[plan_.operands[n.first + k]];
                zeros += o.constant == 0;
                ones += o.constant == 1;
                if (o.constant == 0 || !o.bounded) continue;
                ++bounded;
                if (first) {
                    lo = o.lo, hi = o.hi, first = false;
                } else {
                    for (int a = 0; a < 3; ++a) {
                        lo[a] = meet ? std::max(lo[a], o.lo[a]) : std::min(lo[a], o.lo[a]);
                        hi[a] = meet ? std::min(hi[a], o.hi[a]) : std::max(hi[a], o.hi[a]);
                    }
                }
            }
            zeros_[i] = zeros;
            ones_[i] = ones;
            if (n.op == SolidOp::Complement) {
                const Node& o = plan_.nodes[plan_.operands[n.first]];
                n.constant = o.constant < 0 ? -1 : static_cast<std::int8_t>(o.constant == 0);
                continue;
            }
            if (meet) {
                n.constant = zeros ? 0 : ones == n.count ? 1 : -1;
                n.bounded = bounded > 0;
            } else {
                n.constant = ones ? 1 : zeros == n.count ? 0 : -1;
                n.bounded = bounded + zeros == n.count;
            }
            if (n.bounded) {
                n.lo = lo, n.hi = hi;
                // Disjoint boxes: the intersection is empty everywhere.
                if (meet && (lo.x > hi.x || lo.y > hi.y || lo.z > hi.z) && n.constant < 0) n.constant = 0;
            }
        }
    }

    // The operands each operator must test at a hit: those that depend on the point. A union with
    // many bounded ones keeps them in a box tree.
    void collectCandidates() {
        plan_.nodeCandidates.assign(plan_.nodes.size(), {});
        std::vector<std::uint32_t> bounded;
        for (std::size_t i = 0; i < plan_.nodes.size(); ++i) {
            const Node& n = plan_.nodes[i];
            if (n.op == SolidOp::Leaf || n.op == SolidOp::Complement || n.op == SolidOp::UnionKeep) continue;
            SolidPlan::Candidates& c = plan_.nodeCandidates[i];
            c.first = static_cast<std::uint32_t>(plan_.candidates.size());
            bounded.clear();
            for (std::uint32_t k = 0; k < n.count; ++k) {
                const std::uint32_t o = plan_.operands[n.first + k];
                const Node& operand = plan_.nodes[o];
                if (operand.constant >= 0) continue;
                if (n.op == SolidOp::Union && operand.bounded)
                    bounded.push_back(o);
                else
                    plan_.candidates.push_back(o);
            }
            if (bounded.size() <= 8) {
                plan_.candidates.insert(plan_.candidates.end(), bounded.begin(), bounded.end());
                bounded.clear();
            }
            c.count = static_cast<std::uint32_t>(plan_.candidates.size()) - c.first;
            if (!bounded.empty()) c.tree = buildBoxTree(bounded, 0, bounded.size());
        }
    }

    std::uint32_t buildBoxTree(std::vector<std::uint32_t>& items, std::size_t begin, std::size_t end) {
        const std::uint32_t index = static_cast<std::uint32_t>(plan_.boxTree.size());
        plan_.boxTree.push_back({});
        Vec3 lo = plan_.nodes[items[begin]].lo, hi = plan_.nodes[items[begin]].hi;
        for (std::size_t i = begin + 1; i < end; ++i) {
            const Node& o = plan_.nodes[items[i]];
            for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], o.lo[a]), hi[a] = std::max(hi[a], o.hi[a]);
        }
        SolidPlan::BoxNode box{lo, hi, 0, 0, None};
        if (end - begin <= 4) {
            box.first = static_cast<std::uint32_t>(plan_.candidates.size());
            box.count = static_cast<std::uint32_t>(end - begin);
            plan_.candidates.insert(plan_.candidates.end(), items.begin() + begin, items.begin() + end);
        } else {
            int axis = 0;
            const Vec3 size = hi - lo;
            if (size.y > size[axis]) axis = 1;
            if (size.z > size[axis]) axis = 2;
            const std::size_t middle = begin + (end - begin) / 2;
            std::nth_element(items.begin() + begin, items.begin() + middle, items.begin() + end,
                             [&](std::uint32_t a, std::uint32_t b) {
                                 return plan_.nodes[a].lo[axis] + plan_.nodes[a].hi[axis] <
                                        plan_.nodes[b].lo[axis] + plan_.nodes[b].hi[axis];
                             });
            buildBoxTree(items, begin, middle);
            box.right = buildBoxTree(items, middle, end);
        }
        plan_.boxTree[index] = box;
        return index;
    }

    // Each leaf's tests, from its node up to the root; constant ones are decided here.
    void planLeaves() {
        for (std::size_t l = 0; l < plan_.leaves.size(); ++l) {
            SolidPlan::Leaf& leaf = plan_.leaves[l];
            leaf.firstCheck = static_cast<std::uint32_t>(plan_.checks.size());
            std::uint32_t c = leaf.node;
            bool reverse = false;
            while (plan_.nodes[c].parent != None) {
                const Node& child = plan_.nodes[c];
                const std::uint32_t p = child.parent;
                const Node& parent = plan_.nodes[p];
                const std::uint32_t zeros = zeros_[p] - (child.constant == 0);
                const std::uint32_t ones = ones_[p] - (child.constant == 1);
                const std::uint32_t dynamic = (parent.count - 1) - zeros - ones;
                switch (parent.op) {
                    case SolidOp::Complement:
                        reverse = !reverse;
                        break;
                    case SolidOp::Clip:
                        if (child.slot != 0) break;
                        [[fallthrough]];
                    case SolidOp::Intersect:
                        if (zeros) leaf.shown = false;
                        if (dynamic) plan_.checks.push_back({p, c, true});
                        break;
                    case SolidOp::Union:
                        if (ones) leaf.shown = false;
                        if (dynamic) plan_.checks.push_back({p, c, false});
                        break;
                    default:
                        break;
                }
                c = p;
            }
            leaf.reverseNormal = reverse;
            leaf.checkCount = static_cast<std::uint32_t>(plan_.checks.size()) - leaf.firstCheck;
            leafSources_[l]->reverseNormal = reverse;
        }
    }

    SolidPlan& plan_;
    std::vector<SolidNode*> leafSources_;
    std::vector<std::uint32_t> zeros_, ones_;
};

}  // namespace

void buildSolidPlan(Solid& solid) {
    auto plan = std::make_shared<SolidPlan>();
    try {
        PlanBuilder(*plan).build(solid.root.get());
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate a request (solid)");
    }
    solid.plan = std::move(plan);
}

bool planInside(const SolidPlan& plan, const Vec3& p) {
    return plan.root != None && evalInside(plan, plan.root, p);
}

bool planAccepts(const SolidPlan& plan, std::uint32_t leafIndex, const Vec3& p) {
    const SolidPlan::Leaf& leaf = plan.leaves[leafIndex];
    const SolidPlan::Check* check = plan.checks.data() + leaf.firstCheck;
    const std::uint32_t* candidates = plan.candidates.data();
    for (std::uint32_t k = 0; k < leaf.checkCount; ++k, ++check) {
        const SolidPlan::Candidates& c = plan.nodeCandidates[check->node];
        for (std::uint32_t i = c.first, end = c.first + c.count; i < end; ++i) {
            const std::uint32_t o = candidates[i];
            if (o != check->skip && evalInside(plan, o, p) != check->wantInside) return false;
        }
        if (c.tree == None) continue;
        // Only unions keep a box tree: an operand whose box misses the point cannot hold it.
        std::uint32_t stack[64];
        int top = 0;
        stack[top++] = c.tree;
        while (top) {
            const SolidPlan::BoxNode& b = plan.boxTree[stack[--top]];
            if (!inBox(b, p)) continue;
            if (b.right == None) {
                for (std::uint32_t i = b.first, end = b.first + b.count; i < end; ++i) {
                    const std::uint32_t o = candidates[i];
                    if (o != check->skip && evalInside(plan, o, p)) return false;
                }
            } else {
                stack[top++] = b.right;
                stack[top++] = static_cast<std::uint32_t>(&b - plan.boxTree.data()) + 1;
            }
        }
    }
    return true;
}

}  // namespace quorva
