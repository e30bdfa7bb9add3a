// CSG solids: the inside rule against a direct evaluation, the hits the World keeps against a
// brute-force CSG ray caster, the edge cases of shared surfaces, nesting and transforms, silhouettes,
// declared solids, internal failures and very long unions.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "geometry/shapes.h"
#include "geometry/solid.h"
#include "geometry/solid_plan.h"
#include "geometry/world.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "support/fatal_text.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

using testing::fatalText;

SolidTree leaf(std::unique_ptr<Shape> s) {
    return newSolidLeaf(std::move(s));
}
SolidTree node(std::int32_t op, SolidTree l, SolidTree r = nullptr) {
    return newSolidNode(op, std::move(l), std::move(r));
}
SolidTree difference(SolidTree l, SolidTree r) {
    return node(SolidOp::Intersect, std::move(l), node(SolidOp::Complement, std::move(r)));
}
SolidTree ball(Vec3 c, double r) {
    return leaf(makeSphere(c, r));
}
SolidTree block(Vec3 a, Vec3 b) {
    return leaf(makeBox(a, b));
}

// A World holding one Solid (no hierarchy: every component is tested).
struct Scene {
    World world;
    RenderContext ctx;
    const Solid* solid = nullptr;

    explicit Scene(SolidTree tree, const Transform* t = nullptr) {
        auto s = std::make_unique<Solid>(std::move(tree));
        if (t) s->applyTransform(*t);
        solid = s.get();
        addToWorld(std::move(s), world, {});
    }
    Intersection hit(Vec3 origin, Vec3 direction, double tmin = 0) {
        Intersection h;
        intersectWorld(h, {origin, normalized(direction)}, world, ctx, tmin, 1e9);
        return h;
    }
};

// --- the property test -------------------------------------------------------------------------------

// The same tree kept apart, with standalone copies of the components placed where the World sees them.
struct Mirror {
    std::int32_t op = SolidOp::Leaf;
    std::unique_ptr<Shape> shape;
    std::vector<Mirror> operands;

    bool inside(const Vec3& p) const {
        switch (op) {
            case SolidOp::Leaf:
                return shape->inside(p);
            case SolidOp::Complement:
                return !operands[0].inside(p);
            case SolidOp::Clip:
            case SolidOp::Intersect:
                return operands[0].inside(p) && operands[1].inside(p);
            default:
                return operands[0].inside(p) || operands[1].inside(p);
        }
    }
    void leaves(std::vector<const Shape*>& out) const {
        if (shape) out.push_back(shape.get());
        for (const Mirror& m : operands) m.leaves(out);
    }
    void place(const Transform& t) {
        if (shape) shape->applyTransform(t);
        for (Mirror& m : operands) m.place(t);
    }
};

class TreeMaker {
  public:
    TreeMaker(unsigned seed, bool withUnionKeep) : rng_(seed), keep_(withUnionKeep) {}

    SolidTree make(Mirror& mirror, int depth) {
        if (depth == 0 || pick(4) == 0) return makeLeaf(mirror);
        if (pick(5) == 0) {
            // A nested Solid with a transform of its own.
            auto inner = std::make_unique<Solid>(make(mirror, depth - 1));
            const Transform t = makeRotate(uniform(0, 3), 0, uniform(0, 3));
            inner->applyTransform(t);
            mirror.place(t);
            return leaf(std::move(inner));
        }
        static const std::int32_t ops[] = {SolidOp::Union, SolidOp::Intersect, SolidOp::Complement,
                                           SolidOp::Intersect /* difference */, SolidOp::UnionKeep};
        const int which = static_cast<int>(pick(keep_ ? 5 : 4));
        mirror.op = ops[which];
        mirror.operands.resize(mirror.op == SolidOp::Complement ? 1 : 2);
        SolidTree l = make(mirror.operands[0], depth - 1);
        if (mirror.op == SolidOp::Complement) return node(SolidOp::Complement, std::move(l));
        SolidTree r = make(mirror.operands[1], depth - 1);
        if (which == 3) {
            Mirror complement;
            complement.op = SolidOp::Complement;
            complement.operands.push_back(std::move(mirror.operands[1]));
            mirror.operands[1] = std::move(complement);
            return difference(std::move(l), std::move(r));
        }
        return node(mirror.op, std::move(l), std::move(r));
    }

    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
    Vec3 point(double r) { return {uniform(-r, r), uniform(-r, r), uniform(-r, r)}; }

  private:
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }

    SolidTree makeLeaf(Mirror& mirror) {
        std::unique_ptr<Shape> s;
        const Vec3 c = point(1.2);
        switch (pick(4)) {
            case 0:
                s = makeSphere(c, uniform(0.4, 1.3));
                break;
            case 1:
                s = makeBox(c, c + Vec3{uniform(0.3, 1.5), uniform(0.3, 1.5), uniform(0.3, 1.5)});
                break;
            case 2:
                s = makeCylinder(c, c + point(1.5), uniform(0.3, 0.8));
                break;
            default:
                s = makeDisk(c, point(1), 50);
                break;
        }
        // Transformed copies: some components carry their own transform.
        if (pick(3) == 0) {
            s->applyTransform(makeRotate(uniform(0, 3), uniform(0, 3), 0));
            s->applyTransform(makeScale(uniform(0.6, 1.4), 1, uniform(0.6, 1.4)));
        }
        mirror.shape = copyShape(*s);
        return leaf(std::move(s));
    }

    std::mt19937 rng_;
    bool keep_;
};

// The first hit of the Solid along a ray by brute force: every root of every component, kept where
// the solid's inside changes across it.
bool bruteForceHit(RenderContext& ctx, const Mirror& tree, const Ray& ray, double& distance, Vec3& into) {
    std::vector<const Shape*> shapes;
    tree.leaves(shapes);
    bool found = false;
    for (const Shape* s : shapes) {
        for (double t = 0;;) {
            Intersection h;
            if (!intersectShape(ctx, ray, t, 1e9, h, *s)) break;
            const double d = h.distance;
            t = d + 1e-7;
            if (found && d >= distance) break;
            const Vec3 p = ray.origin + ray.direction * d;
            const bool before = tree.inside(p - ray.direction * 1e-6);
            const bool after = tree.inside(p + ray.direction * 1e-6);
            if (before == after) continue;
            found = true;
            distance = d;
            into = after ? ray.direction : -ray.direction;  // the direction that leads inside
            break;
        }
    }
    return found;
}

TEST(SolidProperty, InsideAndKeptHitsMatchADirectEvaluation) {
    int hits = 0, rays = 0;
    for (unsigned seed = 1; seed <= 120; ++seed) {
        // The union keeping inner surfaces only enters the inside checks: it shows surfaces that are
        // no boundary of the set.
        for (bool keep : {true, false}) {
            TreeMaker maker(seed, keep);
            Mirror mirror;
            SolidTree tree = maker.make(mirror, 4);
            const Transform placement = makeTranslate(maker.point(0.5));
            Scene scene(std::move(tree), seed % 3 == 0 ? &placement : nullptr);
            if (seed % 3 == 0) mirror.place(placement);
            const SolidNode* root = scene.solid->root.get();
            for (int i = 0; i < 100; ++i) {
                const Vec3 p = maker.point(3);
                const bool expected = mirror.inside(p);
                ASSERT_EQ(scene.solid->inside(p), expected) << "seed " << seed << " at " << p;
                ASSERT_EQ(solidInside(root, p), expected) << "seed " << seed << " at " << p;
            }
            if (keep) continue;
            for (int i = 0; i < 60; ++i) {
                const Vec3 origin = normalized(maker.point(1)) * 6;
                const Ray ray{origin, normalized(maker.point(1) - origin)};
                double expected = 0;
                Vec3 into;
                const bool brute = bruteForceHit(scene.ctx, mirror, ray, expected, into);
                const Intersection h = scene.hit(ray.origin, ray.direction);
                ++rays;
                ASSERT_EQ(h.hit != 0, brute) << "seed " << seed << " ray " << i;
                if (!brute) continue;
                ++hits;
                EXPECT_NEAR(h.distance, expected, 1e-6) << "seed " << seed << " ray " << i;
                // The recorded normal points out of the combined solid, bites included.
                EXPECT_LT(dot(h.normal, into), 0) << "seed " << seed << " ray " << i;
            }
        }
    }
    EXPECT_GT(hits, rays / 5);  // the trees are not mostly empty
}

// --- edge cases ------------------------------------------------------------------------------------------

TEST(SolidEdgeCases, OverlappingSpheresUnderEachOperation) {
    auto pair = [](std::int32_t op) { return node(op, ball({-0.5, 0, 0}, 1), ball({0.5, 0, 0}, 1)); };
    const Vec3 fromLeft{-5, 0, 0}, centre{0, 0, 0}, alongX{1, 0, 0};
    {
        Scene s(pair(SolidOp::Intersect));  // each surface only inside the other sphere
        EXPECT_DOUBLE_EQ(s.hit(fromLeft, alongX).distance, 4.5);
        EXPECT_DOUBLE_EQ(s.hit(centre, alongX).distance, 0.5);
        EXPECT_FALSE(s.hit({-1.2, 0, -5}, {0, 0, 1}).hit);  // only the left sphere there
    }
    {
        Scene s(pair(SolidOp::Union));  // nothing inside the overlap
        EXPECT_DOUBLE_EQ(s.hit(fromLeft, alongX).distance, 3.5);
        EXPECT_DOUBLE_EQ(s.hit(centre, alongX).distance, 1.5);
    }
    {
        Scene s(pair(SolidOp::UnionKeep));  // both spheres whole
        EXPECT_DOUBLE_EQ(s.hit(centre, alongX).distance, 0.5);
        EXPECT_DOUBLE_EQ(s.hit(centre, -alongX).distance, 0.5);
    }
}

TEST(SolidEdgeCases, ClippingShowsTheLeftShellInsideTheRight) {
    // The upper half of the sphere's shell, and nothing of the box.
    Scene s(node(SolidOp::Clip, ball({0, 0, 0}, 1), block({-2, 0, -2}, {2, 2, 2})));
    EXPECT_DOUBLE_EQ(s.hit({0, -5, 0}, {0, 1, 0}).distance, 6);  // the lower shell is not shown
    EXPECT_NEAR(s.hit({3, 0.5, 0}, {-1, 0, 0}).distance, 3 - std::sqrt(0.75), 1e-12);
    EXPECT_FALSE(s.hit({3, 1.5, 0}, {-1, 0, 0}).hit);  // the box face is no surface
    EXPECT_EQ(s.world.mainCount(), 1u);
    EXPECT_TRUE(s.solid->inside({0, 0.5, 0}));  // inside both operands
    EXPECT_FALSE(s.solid->inside({0, -0.5, 0}));

    // A hit on the right operand only happens in a corrupt tree: warned about and kept.
    SolidTree tree = node(SolidOp::Clip, ball({0, 0, 0}, 1), ball({5, 0, 0}, 1));
    tree->right->up = tree.get();
    ConsoleCapture console;
    EXPECT_TRUE(solidMembership(tree->right, {5, 0, 0}));
    EXPECT_NE(console.text().find("Bad clipping point in Solid"), std::string::npos);
}

TEST(SolidEdgeCases, StrictSphereAndInclusiveBoxAtASharedSurface) {
    // The box and the sphere touch at (1, 0, 0): on the sphere's surface the point is inside the box,
    // on the box face it is not inside the sphere.
    Scene s(node(SolidOp::Intersect, block({-1, -1, -1}, {1, 1, 1}), ball({2, 0, 0}, 1)));
    const Vec3 touch{1, 0, 0};
    for (const Shape* c : s.world.mainList) {
        ASSERT_TRUE(c->solidTest);
        EXPECT_EQ(c->solidTest->accepts(touch), c->kind == ShapeKind::Sphere);
        EXPECT_EQ(solidMembership(static_cast<const SolidNode*>(c->solidTest), touch),
                  c->kind == ShapeKind::Sphere);
    }
}

TEST(SolidEdgeCases, NestedSolidsAndTransformOrder) {
    // A lens (a Solid of its own) minus a box over its right half: the outer operation applies to the
    // inner Solid's components too.
    auto lens =
        std::make_unique<Solid>(node(SolidOp::Intersect, ball({-0.5, 0, 0}, 1), ball({0.5, 0, 0}, 1)));
    const Solid* inner = lens.get();
    Scene s(difference(leaf(std::move(lens)), block({0, -2, -2}, {2, 2, 2})));
    ASSERT_EQ(s.world.mainCount(), 3u);
    for (const Shape* c : s.world.mainList)
        EXPECT_EQ(c->parent, c->kind == ShapeKind::Sphere ? inner : s.solid);
    EXPECT_DOUBLE_EQ(s.hit({-5, 0, 0}, {1, 0, 0}).distance, 4.5);
    const Intersection cut = s.hit({5, 0, 0}, {-1, 0, 0});  // through the box: the cut face at x = 0
    EXPECT_DOUBLE_EQ(cut.distance, 5);
    EXPECT_GT(cut.normal.x, 0);  // the bite faces the ray

    // The component's own transform acts first, the Solid's after it.
    auto moved = makeSphere({0, 0, 0}, 1);
    moved->applyTransform(makeTranslate({2, 0, 0}));
    const Transform scale = makeScale(2, 2, 2);
    Scene t(node(SolidOp::UnionKeep, leaf(std::move(moved)), ball({0, 0, 10}, 0.1)), &scale);
    EXPECT_DOUBLE_EQ(t.hit({4, 0, -10}, {0, 0, 1}).distance, 8);
    EXPECT_TRUE(t.solid->inside({5.5, 0, 0}));
}

// --- silhouettes --------------------------------------------------------------------------------------

TEST(SolidSilhouettes, MatchAnalyticRayCasting) {
    // Sphere r = 1 at the origin and box [0, 2] x [-0.5, 0.5] x [-0.5, 0.5], seen along +z; rays start
    // at z = -10, or at z = 0 (inside both) when the near plane cuts the solid open.
    auto make = [](std::int32_t op) {
        SolidTree s = ball({0, 0, 0}, 1), b = block({0, -0.5, -0.5}, {2, 0.5, 0.5});
        if (op == -1) return difference(std::move(b), std::move(s));
        if (op == SolidOp::Clip) return node(op, std::move(s), std::move(b));
        return node(op, std::move(s), std::move(b));
    };
    struct Case {
        const char* name;
        std::int32_t op;
        std::function<bool(double, double)> shows;   // hit from outside at (x, y)
        std::function<double(double, double)> exit;  // z of the first surface from z = 0, or NAN
    };
    auto inDisc = [](double x, double y) { return x * x + y * y < 1; };
    auto inSquare = [](double x, double y) { return x >= 0 && x <= 2 && std::fabs(y) <= 0.5; };
    auto cap = [](double x, double y) { return std::sqrt(1 - x * x - y * y); };
    const Case cases[] = {
        {"union", SolidOp::Union, [&](double x, double y) { return inDisc(x, y) || inSquare(x, y); },
         [&](double x, double y) {
             if (inDisc(x, y) && inSquare(x, y)) return std::max(cap(x, y), 0.5);
             return inDisc(x, y) ? cap(x, y) : inSquare(x, y) ? 0.5 : NAN;
         }},
        {"intersection", SolidOp::Intersect,
         [&](double x, double y) { return inDisc(x, y) && inSquare(x, y); },
         [&](double x, double y) { return inDisc(x, y) && inSquare(x, y) ? std::min(cap(x, y), 0.5) : NAN; }},
        {"difference", -1, [&](double x, double y) { return inSquare(x, y) && x * x + y * y >= 0.75; },
         [&](double x, double y) {
             // From z = 0 inside the sphere the bite's far wall; outside it the box's back face.
             return !inSquare(x, y)                   ? NAN
                    : inDisc(x, y) && cap(x, y) < 0.5 ? cap(x, y)
                    : inDisc(x, y)                    ? NAN
                                                      : 0.5;
         }},
        {"clipping", SolidOp::Clip,
         [&](double x, double y) { return inSquare(x, y) && inDisc(x, y) && cap(x, y) <= 0.5; },
         [&](double x, double y) {
             return inSquare(x, y) && inDisc(x, y) && cap(x, y) <= 0.5 ? cap(x, y) : NAN;
         }},
    };
    for (const Case& c : cases) {
        Scene s(make(c.op));
        for (double x = -1.9837; x < 2.2; x += 0.0913) {
            for (double y = -1.2113; y < 1.2; y += 0.0871) {
                const Intersection outside = s.hit({x, y, -10}, {0, 0, 1});
                EXPECT_EQ(outside.hit != 0, c.shows(x, y)) << c.name << " at " << x << ", " << y;
                const Intersection opened = s.hit({x, y, -10}, {0, 0, 1}, 10);
                const double z = c.exit(x, y);
                EXPECT_EQ(opened.hit != 0, !std::isnan(z)) << c.name << " opened at " << x << ", " << y;
                if (opened.hit && !std::isnan(z)) {
                    EXPECT_NEAR(opened.distance, 10 + z, 1e-9) << c.name;
                }
            }
        }
    }
}

// --- declared solids, long unions, failures ----------------------------------------------------------

TEST(SolidScenes, DeclaredSolidInstancedTwiceAndReleased) {
    SceneState scene;
    parseText(
        scene,
        "Declare die = Solid [ Shape [ Box ((-1, -1, -1), (1, 1, 1)) ] - Shape [ Sphere ((0, 1, 0), 0.3) ]"
        " Rotate (0, 0, 90) ]\n"
        "die\n"
        "Solid [ die [ Translate (5, 0, 0) ] * Shape [ Sphere ((5, 0, 0), 1.3) ] ]\n"
        "Declare low = min(\"die\")\nDeclare high = max(\"die\")\n",
        "t.qsb");
    ASSERT_EQ(scene.frame.world.solids.size(), 2u);
    EXPECT_EQ(scene.frame.world.mainCount(), 5u);
    // The definition keeps its own components untouched.
    auto* die = std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup("die")->value);
    ASSERT_TRUE(die && *die);
    const SolidNode* root = static_cast<const Solid&>(**die).root.get();
    EXPECT_EQ(root->left->component->parent, nullptr);
    EXPECT_EQ(root->up, nullptr);
    // min/max: the union of the leaf boxes after the solid's own rotation (the sphere's box pokes out
    // along -x once turned).
    auto corner = [&](const char* name) {
        const RequestPtr* v = std::get_if<RequestPtr>(&scene.symbols->lookup(name)->value);
        return v && *v ? (*v)->vector : Vec3{};
    };
    const Vec3 low = corner("low"), high = corner("high");
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(low[a], a == 0 ? -1.3 : -1, 1e-9);
        EXPECT_NEAR(high[a], 1, 1e-9);
    }
    RenderContext ctx;
    Intersection h;
    EXPECT_TRUE(intersectWorld(h, {{0, 5, 0}, {0, -1, 0}}, scene.frame.world, ctx, 0, 100));
    EXPECT_NEAR(h.distance, 4, 1e-9);
    scene.frame.world.clear();
}

TEST(SolidScenes, ComponentsArePrunedByTheShaderThatShadesThemAndCutWhenDisplaced) {
    SceneState scene;
    parseText(scene,
              "Solid [ Shape [ Sphere ((0, 0, 0), 1) Shader [ PlainSurface [ Kd 0.2 Kr 0.8 ] ] ]\n"
              "    + Shape [ Box ((0, 0, 0), (2, 2, 2)) ] Shader [ PlainSurface [ Kd 0.8 ] ] ]\n"
              "Solid [ Shape [ Sphere ((5, 0, 0), 1) DisplacementMapping 0 ] * Shape [ Box ((4, -2, -2), (5, "
              "2, 2)) ] ]",
              "t.qsb");
    ASSERT_EQ(scene.frame.world.mainCount(), 4u);
    int mirrors = 0, groups = 0;
    for (const Shape* s : scene.frame.world.mainList) {
        if (s->kind == ShapeKind::BoundingGroup) {
            ++groups;
            continue;
        }
        if (s->boundsMin.x > 3) continue;  // the second Solid's box
        // The mirror sphere keeps its reflections inside the matte Solid; the box, shaded by the
        // Solid's shader, does not.
        EXPECT_EQ((s->attributes & ShapeAttr::Reflects) != 0, s->kind == ShapeKind::Sphere);
        mirrors += s->kind == ShapeKind::Sphere;
    }
    EXPECT_EQ(mirrors, 1);
    EXPECT_EQ(groups, 1);  // the displaced sphere's triangulation
    // Its triangles answer to the Solid too: the half outside the box shows nothing.
    ASSERT_EQ(buildHierarchy(scene.frame.world), 1);
    RenderContext ctx;
    Intersection h;
    EXPECT_FALSE(intersectWorld(h, {{5.5, 0, -5}, {0, 0, 1}}, scene.frame.world, ctx, 0, 100));
    EXPECT_TRUE(intersectWorld(h, {{4.5, 0, -5}, {0, 0, 1}}, scene.frame.world, ctx, 0, 100));
}

TEST(SolidScenes, TheBiteOfADifferenceIsLit) {
    // A box with a spherical bite in the face towards the camera and the light: the bite's floor is
    // the sphere seen from inside, and it faces the light.
    SceneState scene;
    parseText(scene,
              "Camera [ (0, 0, -10), (0, 0, 0), (0, 1, 0) Format (16, 12) ]\nPointLight [ (0, 0, -10) ]\n"
              "Solid [ Shape [ Box ((-1, -1, -1), (1, 1, 1)) ] - Shape [ Sphere ((0, 0, -1), 0.6) ]\n"
              "    Shader [ PlainSurface [ Color '1, 1, 1' Ka 0 Kd 0.8 ] ] ]",
              "t.qsb");
    RenderContext ctx(&scene.frame);
    ctx.settings.featureMask = 127;
    Color colour;
    double alpha = 0;
    const double d = traceRay(ctx, 0, {{0, 0, -10}, {0, 0, 1}}, colour, alpha, &ctx.stats.primaryRays);
    EXPECT_NEAR(d, 9.6, 1e-9);
    EXPECT_GT(colour.r, 0.5);
}

TEST(SolidScenes, SeventyThousandOperandUnion) {
    // Patches alone are read as one mesh; a sphere first makes the same union a tree of 70001 leaves.
    for (const bool tree : {false, true}) {
        std::string text = tree ? "Solid [ Shape [ Sphere ((-5, 0, 0), 1) ]" : "Solid [";
        for (int i = 0; i < 70000; ++i)
            text += formatText(
                "%s Shape [ TriangularPatch((%d, 0, 0), (0, 0, -1), (%d.5, 1, 0), (0, 0, -1), (%d, 1, "
                "0), (0, 0, -1)) ]",
                i || tree ? " ^" : "", i, i, i);
        text += " ]";
        SceneState scene;
        parseText(scene, text, "t.qsb");
        ASSERT_EQ(scene.frame.world.solids.size(), 1u);
        ASSERT_EQ(scene.frame.world.mainCount(), tree ? 70001u : 1u);
        // A union keeping inner surfaces tests no hit against the tree.
        for (const Shape* s : scene.frame.world.mainList) ASSERT_EQ(s->solidTest, nullptr);
        if (tree) buildHierarchy(scene.frame.world);
        RenderContext ctx;
        Intersection h;
        EXPECT_TRUE(intersectWorld(h, {{69999.1, 0.5, -3}, {0, 0, 1}}, scene.frame.world, ctx, 0, 100));
        EXPECT_NEAR(h.distance, 3, 1e-9);
        // A deep copy and the release of both walk the tree without recursion.
        std::unique_ptr<Shape> copy = copyShape(*scene.frame.world.solids[0]);
        copy.reset();
        scene.frame.world.clear();
    }
}

TEST(SolidScenes, InternalFailuresFromCorruptTrees) {
    auto corrupt = [](std::int32_t code) {
        SolidTree t = node(SolidOp::Union, ball({0, 0, 0}, 1), ball({1, 0, 0}, 1));
        t->opcode = code;
        return t;
    };
    const std::string bad = "Bad Solid type (99)";
    EXPECT_EQ(fatalText([&] { Solid s(corrupt(99)); }), "(internal failure 0x0f) " + bad);
    EXPECT_EQ(fatalText([&] {
                  solidInside(corrupt(99).get(), {0, 0, 0});
              }),
              "(internal failure 0x12) " + bad);
    {
        SolidTree t = corrupt(99);
        t->left->up = t.get();
        EXPECT_EQ(fatalText([&] { solidMembership(t->left, {0, 0, 0}); }), "(internal failure 0x10) " + bad);
    }
    {
        SolidTree t = corrupt(SolidOp::Intersect);
        releaseSolidTree(t->right);
        t->right = nullptr;
        EXPECT_EQ(fatalText([&] {
                      solidInside(t.get(), {0, 0, 0});
                  }),
                  "(internal failure 0x11) Empty Solid request");
        EXPECT_EQ(fatalText([&] { Solid s(std::move(t)); }), "(internal failure 0x11) Empty Solid request");
    }
    // The walks of a Solid already built: copy, preparation, folding, adding its components.
    auto built = [&](std::int32_t code) {
        auto s = std::make_unique<Solid>(corrupt(SolidOp::Union));
        s->root->opcode = code;
        return s;
    };
    EXPECT_EQ(fatalText([&] { built(99)->clone(); }), "(internal failure 0x13) " + bad);
    EXPECT_EQ(fatalText([&] { prepareSolid(*built(99)); }), "(internal failure 0x0e) " + bad);
    EXPECT_EQ(fatalText([&] { buildSolidPlan(*built(99)); }),
              "(internal failure 0x29) Bad Solid request type (99)");
    {
        auto s = built(SolidOp::Union);
        releaseSolidTree(s->root->right);
        s->root->right = nullptr;
        EXPECT_EQ(fatalText([&] { buildSolidPlan(*s); }), "(internal failure 0x28) Empty Solid request");
    }
    {
        auto s = built(SolidOp::Union);
        prepareSolid(*s);
        s->root->opcode = 99;
        World world;
        EXPECT_EQ(fatalText([&] { addSolidComponents(world, *s, false, ShapeAttr::Default, {}); }),
                  "(internal failure 0x0d) " + bad);
    }
}

}  // namespace
}  // namespace quorva
