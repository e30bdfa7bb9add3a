// The World: the plain list walk, the add step's pruning and subdivision rules, and release.
#include "geometry/world.h"

#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"
#include "eval/request.h"
#include "geometry/hierarchy.h"
#include "geometry/shapes.h"
#include "shading/shader.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// A shader whose pruning clears the reflection bit and, when asked with the default window, the uv
// bit; it records how it was called.
class PruningShader final : public Shader {
  public:
    PruningShader() : Shader(ShaderKind::MultiLayer) {}
    mutable int calls = 0;
    mutable bool sawDefaultWindow = false;
    void evaluate(ShadingContext&, SurfaceSample&) const override {}
    std::shared_ptr<Shader> clone() const override { return std::make_shared<PruningShader>(); }
    void pruneAttributes(std::uint16_t& attributes, bool uvWindowIsDefault) const override {
        ++calls;
        sawDefaultWindow = uvWindowIsDefault;
        attributes &= ~ShapeAttr::Reflects;
        if (uvWindowIsDefault) attributes &= ~ShapeAttr::UvWindow;
    }
};

// Cuts itself into one sphere, or into nothing.
class Cuttable final : public Shape {
  public:
    explicit Cuttable(bool yieldsPieces) : Shape(ShapeKind::ParametricSurface), yieldsPieces(yieldsPieces) {}
    bool yieldsPieces;
    int cuts = 0;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Cuttable(*this)); }
    void subdivide(World& target) override {
        ++cuts;
        EXPECT_EQ(target.temporaryA, 64);
        EXPECT_EQ(target.temporaryB, 4);
        if (yieldsPieces) target.push(makeSphere({0, 0, 0}, 1));
    }
};

bool hierarchyAvailable() {
    World w;
    w.push(makeSphere({0, 0, 0}, 1));
    return buildHierarchy(w) == 1;
}

TEST(IntersectWorld, WalksTheListNewestFirstAndCountsObjects) {
    World world;
    Shape* far = world.push(makeSphere({0, 0, 10}, 1));
    Shape* first = world.push(makeSphere({0, 0, 0}, 1));
    Shape* same = world.push(makeSphere({0, 0, 0}, 1));  // coincides with `first`
    RenderContext ctx;
    Intersection hit;
    hit.hit = 1;  // stale
    ASSERT_TRUE(intersectWorld(hit, {{0, 0, -5}, {0, 0, 1}}, world, ctx, 0, 1000000));
    EXPECT_EQ(ctx.stats.objectsChecked, 3u);
    EXPECT_EQ(hit.distance, 4.0);
    // Equal distances keep the hit found first, and the newest shape is tried first.
    EXPECT_EQ(hit.shape, same);
    EXPECT_NE(hit.shape, first);

    Intersection miss;
    miss.hit = 1;
    EXPECT_FALSE(intersectWorld(miss, {{0, 5, -5}, {0, 0, 1}}, world, ctx, 0, 1000000));
    EXPECT_EQ(miss.hit, 0);
    (void)far;
}

TEST(AddToWorld, PrunesThroughTheOutermostShaderOnTheChain) {
    auto shader = std::make_shared<PruningShader>();
    World world;
    AddSettings settings;

    auto plain = makeSphere({0, 0, 0}, 1);
    plain->shader = shader;
    addToWorld(std::move(plain), world, settings);
    ASSERT_EQ(world.mainCount(), 1u);
    EXPECT_EQ(world.mainList[0]->attributes,
              ShapeAttr::Default & ~(ShapeAttr::Reflects | ShapeAttr::UvWindow));
    EXPECT_TRUE(shader->sawDefaultWindow);

    // A set window keeps the uv bit.
    auto windowed = makeSphere({0, 0, 0}, 1);
    windowed->shader = shader;
    windowed->uvWindow[1] = 0.5;
    addToWorld(std::move(windowed), world, settings);
    EXPECT_TRUE(world.mainList[1]->attributes & ShapeAttr::UvWindow);

    // A parent without a shader stops the pruning; without a shader of its own the shape is not
    // pruned at all.
    auto parent = makeSphere({0, 0, 0}, 1);
    auto child = makeSphere({0, 0, 0}, 1);
    child->shader = shader;
    child->parent = parent.get();
    const int callsBefore = shader->calls;
    addToWorld(std::move(child), world, settings);
    auto bare = makeSphere({0, 0, 0}, 1);
    addToWorld(std::move(bare), world, settings);
    EXPECT_EQ(shader->calls, callsBefore);
    EXPECT_EQ(world.mainList[2]->attributes, ShapeAttr::Default);

    // With a shaded parent, the parent's shader decides.
    auto outer = std::make_shared<PruningShader>();
    parent->shader = outer;
    auto child2 = makeSphere({0, 0, 0}, 1);
    child2->shader = shader;
    child2->parent = parent.get();
    addToWorld(std::move(child2), world, settings);
    EXPECT_EQ(outer->calls, 1);
    EXPECT_EQ(shader->calls, callsBefore);
}

TEST(AddToWorld, SolidsGoToTheirOwnList) {
    World world;
    auto solid = makeSphere({0, 0, 0}, 1);
    solid->kind = ShapeKind::Solid;
    addToWorld(std::move(solid), world, {});
    EXPECT_EQ(world.mainCount(), 0u);
    EXPECT_EQ(world.solids.size(), 1u);
}

TEST(AddToWorld, SubdividesOnlyWhenTracingAndAMeshIsNeeded) {
    World world;
    // Not tracing (preview), or scanline without the tracing features: added as it is.
    addToWorld(std::make_unique<Cuttable>(true), world, {0, 127});
    addToWorld(std::make_unique<Cuttable>(true), world, {2, 0x071});
    EXPECT_EQ(world.mainCount(), 2u);
    EXPECT_EQ(static_cast<Cuttable*>(world.mainList[0])->cuts, 0);

    // Nothing to cut into: the run stops.
    try {
        addToWorld(std::make_unique<Cuttable>(false), world, {1, 127});
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Failed to add shapes to world");
    }

    if (!hierarchyAvailable()) GTEST_SKIP() << "bounding hierarchy not built yet";
    // A displacement anywhere on the parent chain needs a mesh, even for a sphere.
    World traced;
    auto parent = makeSphere({0, 0, 0}, 1);
    parent->displacement = std::make_shared<Request>();
    auto cut = std::make_unique<Cuttable>(true);
    cut->kind = ShapeKind::Sphere;
    cut->parent = parent.get();
    Cuttable* source = cut.get();
    addToWorld(std::move(cut), traced, {2, 0x004});
    EXPECT_EQ(source->cuts, 1);
    ASSERT_EQ(traced.mainCount(), 1u);
    EXPECT_EQ(traced.mainList[0]->kind, ShapeKind::BoundingGroup);
    ASSERT_EQ(traced.subdividedSources.size(), 1u);
    EXPECT_EQ(traced.subdividedSources[0].get(), source);
    // The group's pieces live as long as the World.
    RenderContext ctx;
    Intersection hit;
    EXPECT_TRUE(intersectShape(ctx, {{0, 0, -5}, {0, 0, 1}}, 0, 100, hit,
                               *static_cast<BoundingGroup*>(traced.mainList[0])->members[0]));
    traced.clear();
    EXPECT_EQ(traced.mainCount(), 0u);
    EXPECT_TRUE(traced.subdividedSources.empty());
    EXPECT_TRUE(traced.owned.empty());
}

}  // namespace
}  // namespace quorva
