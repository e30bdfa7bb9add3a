// Parser: shape statements, their modifiers, declared solids, CSG and the records of the statements
// whose owners are not built yet.
#include <gtest/gtest.h>

#include "geometry/shape.h"
#include "geometry/solid.h"
#include "geometry/world.h"
#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

const Shape& onlyShape(const SceneState& scene) {
    EXPECT_EQ(scene.frame.world.mainList.size(), 1u);
    return *scene.frame.world.mainList.at(0);
}

TEST(ParserShapes, ModifiersActInTheOrderWritten) {
    SceneState scene;
    parseOk(scene,
            "Shape [ Sphere((0, 0, 0), 1) Scale (2, 2, 2) Translate (10, 0, 0)\n"
            "  ShapeSubdivisions (8, 0) RenderBound (0, 0.5, 0.25, 1) Caustics (0.5, InternalCaustics) ]");
    const Shape& s = onlyShape(scene);
    // Scaled first, then moved: the bounds follow each item.
    EXPECT_EQ(s.boundsMin, Vec3(8, -2, -2));
    EXPECT_EQ(s.boundsSize, Vec3(4, 4, 4));
    EXPECT_EQ(s.subdivisions[0], 8);
    EXPECT_EQ(s.subdivisions[1], 1);  // a count is at least one step
    EXPECT_EQ(s.subdivisions[2], 32);
    EXPECT_FALSE(s.attributes & ShapeAttr::DefaultSubdivisions);
    EXPECT_TRUE(s.attributes & ShapeAttr::UvWindow);
    EXPECT_EQ(s.uvWindow[1], 0.5);
    EXPECT_EQ(s.caustics, 0.5);
    EXPECT_TRUE(s.internalCaustics);
}

TEST(ParserShapes, AttributesAndExplicitBounds) {
    SceneState scene;
    parseOk(scene, "Shape [ Box((0, 0, 0), (1, 1, 1)) ShadingAttributes 5 Bound ((3, 3, 3), (-1, 0, 2)) ]");
    const Shape& s = onlyShape(scene);
    EXPECT_EQ(s.attributes, 0x205);
    EXPECT_EQ(s.boundsMin, Vec3(-1, 0, 2));
    EXPECT_EQ(s.boundsSize, Vec3(4, 3, 1));
}

TEST(ParserShapes, DeclaredSolidIsCopiedWithExtraModifiers) {
    SceneState scene;
    parseOk(scene,
            "Declare ball = Solid [ Sphere((0, 0, 0), 1) ]\n"
            "ball\n"
            "ball [ Translate (5, 0, 0) ]\n"
            "Declare moved = ball [ Translate (0, 5, 0) ]\n"
            "moved");
    ASSERT_EQ(scene.frame.world.mainList.size(), 3u);
    EXPECT_EQ(scene.frame.world.mainList[0]->boundsMin, Vec3(-1, -1, -1));
    EXPECT_EQ(scene.frame.world.mainList[1]->boundsMin, Vec3(4, -1, -1));
    EXPECT_EQ(scene.frame.world.mainList[2]->boundsMin, Vec3(-1, 4, -1));
    auto* def = std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup("ball")->value);
    ASSERT_TRUE(def && *def);
    EXPECT_EQ((*def)->boundsMin, Vec3(-1, -1, -1));  // the definition is unchanged
}

TEST(ParserShapes, TransformationStacksComposeInOrder) {
    SceneState scene;
    parseOk(scene,
            "Declare t = TransformationStack [ Scale (2, 2, 2) Translate (1, 0, 0) ]\n"
            "Declare u = t [ Translate (0, 1, 0) ]\n"
            "Shape [ Sphere((0, 0, 0), 1) u ]");
    EXPECT_EQ(onlyShape(scene).boundsMin, Vec3(-1, -1, -2));
}

TEST(ParserShapes, StatementMessages) {
    EXPECT_EQ(parseFailure("Shape [ Polygon (2, (0,0,0), (1,0,0)) ]"),
              "A Polygon can't have less than 3 sides");
    EXPECT_EQ(parseFailure("Shape [ Polygon (3, (0,0,0), (1,0,0), (0,1,0), (1,1,0)) ]"),
              "More points than expected for Polygon");
    EXPECT_EQ(parseFailure("Shape [ Polygon (4, (0,0,0), (1,0,0)) ]"),
              "A Polygon can't have less than 3 sides");
    std::string points;
    for (int i = 0; i < 17; ++i) points += ", (" + std::to_string(i) + ", 0, 0)";
    EXPECT_EQ(parseFailure("Shape [ BicubicPatch (1, 4, 4" + points + ") ]"),
              "More than 16 points found in BicubicPatch");
    EXPECT_EQ(parseFailure("Shape [ PolynomialSurface ((x + y)^33) ]"), "Maximum Polynomial order reached");
    EXPECT_EQ(parseFailure("Shape [ PolynomialSurface (x^20 * y^13 - 1) ]"),
              "Maximum Polynomial order reached");
    EXPECT_EQ(parseFailure("Shape [ PolynomialSurface (x^2.5) ]"), "parse error");
    EXPECT_EQ(parseFailure("Shape [ PolynomialSurface (x^2 + w) ]"), "parse error");
    EXPECT_EQ(parseFailure("Shape [ Sphere((0,0,0), 1) Sphere((0,0,0), 1) ]"), "parse error");
}

TEST(ParserShapes, PolynomialIsExpandedIntoMonomials) {
    SceneState scene;
    parseOk(scene,
            "Declare ball = Solid [ PolynomialSurface ((x - 1)^2 + y^2 + z^2 - 1) ]\n"
            "Declare saddle = Solid [ PolynomialSurface (-(2 * x * y) * -1 - z + 0 * x^30) ]");
    auto shape = [&](const char* name) {
        return *std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup(name)->value);
    };
    EXPECT_TRUE(shape("ball")->inside({1.5, 0.5, 0}));
    EXPECT_FALSE(shape("ball")->inside({-0.5, 0, 0}));
    EXPECT_FALSE(shape("ball")->inside({2.5, 0, 0}));
    EXPECT_TRUE(shape("saddle")->inside({1, 1, 3}));   // 2 - 3 < 0
    EXPECT_FALSE(shape("saddle")->inside({1, 1, 1}));  // 2 - 1 > 0
    EXPECT_TRUE(shape("saddle")->inside({-1, 1, 1}));  // -2 - 1 < 0
}

TEST(ParserShapes, CsgOnlyInsideSolid) {
    const std::string decl = "Declare a = Solid [ Sphere((0, 0, 0), 1) ]\n";
    EXPECT_EQ(parseFailure(decl + "Shape [ a + a ]"), "CSG operations must be part of Solid structure");
    EXPECT_EQ(parseFailure(decl + "Shape [ ~a ]"), "CSG operations must be part of Solid structure");
    EXPECT_EQ(parseFailure(decl + "Shape [ a ]"), "");  // one operand is no operation
    SceneState scene;
    parseOk(scene, decl + "Solid [ Shape [ a * a ] - (a & ~Solid [ Box((0,0,0), (1,1,1)) ]) + a ^ a ]");
    // ~ binds tightest, then * and &, then + - ^ from left to right; a - b is a * ~b.
    ASSERT_EQ(scene.frame.world.solids.size(), 1u);
    const SolidNode* root = static_cast<const Solid&>(*scene.frame.world.solids[0]).root.get();
    ASSERT_EQ(root->opcode, SolidOp::UnionKeep);
    const SolidNode* sum = root->left;
    ASSERT_EQ(sum->opcode, SolidOp::Union);
    const SolidNode* difference = sum->left;
    ASSERT_EQ(difference->opcode, SolidOp::Intersect);
    EXPECT_EQ(difference->left->component->kind, ShapeKind::Solid);  // Shape [ a * a ]: a nested Solid
    ASSERT_EQ(difference->right->opcode, SolidOp::Complement);
    const SolidNode* clip = difference->right->left;
    ASSERT_EQ(clip->opcode, SolidOp::Clip);
    EXPECT_EQ(clip->right->opcode, SolidOp::Complement);
    EXPECT_EQ(clip->right->left->component->kind, ShapeKind::Box);
}

TEST(ParserShapes, DisplacementMappingWarnsForImplicitShapes) {
    ConsoleCapture console;
    SceneState scene;
    parseOk(scene, "Shape [ ImplicitSurface (x*x + y*y - 1) DisplacementMapping 0.1 ]");
    EXPECT_NE(console.text().find("Displacement mapping not supported for implicit and polynomial shapes"),
              std::string::npos);
    console.clear();
    parseOk(scene, "Declare bumpy = Solid [ Sphere((0,0,0), 1) DisplacementMapping 0.1 * noise(P) ]");
    EXPECT_EQ(console.text().find("Displacement"), std::string::npos);
    auto* bumpy = std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup("bumpy")->value);
    ASSERT_TRUE(bumpy && *bumpy);
    EXPECT_TRUE((*bumpy)->displacement);
}

TEST(ParserShapes, MediaAndComputeIrradianceTakeTheirSettings) {
    SceneState scene;
    parseOk(scene,
            "Media (1, 2, 3, 4, 0.5, 6, '1, 0.5, 1')\n"
            "ComputeIrradiance 2\n"
            "if (1 > 2) { Media (1, 2, 3, 4, 5) ReadMeshFile \"no such mesh\" }");
    EXPECT_EQ(scene.frame.media.samples, 2);
    EXPECT_EQ(scene.frame.media.mix, 0.5);
    EXPECT_EQ(scene.frame.media.depth, 6);
    EXPECT_EQ(scene.frame.media.colour, Color(1, 0.5, 1));
    // ComputeIrradiance switches the cache on with a grid of at least 4.
    EXPECT_TRUE(scene.frame.options.irradiance.enabled);
    EXPECT_EQ(scene.frame.options.irradiance.gridSize, 4);
    EXPECT_TRUE(scene.frame.world.mainList.empty());
}

TEST(ParserShapes, ProfileStatementsCountTheirPoints) {
    EXPECT_EQ(parseFailure("Shape [ SurfaceOfRevolution (1, 1, (0,1,0), (1,0,0), (1,1,0)) ]"),
              "At least two points must be in SurfaceOfRevolution");
    EXPECT_EQ(parseFailure("Shape [ ExtrudedSurface (1, 2, (0,0,1), (1,0,0), (1,1,0), (0,1,0)) ]"),
              "More points than expected for ExtrudedSurface");
    EXPECT_EQ(parseFailure("Shape [ SurfaceOfRevolution (7, 3, (0,1,0), (1,0,0), (1,1,0), (0,1,0)) ]"),
              "Only linear and quadratic sweeps allowed");
    SceneState scene;
    // Fewer points than the count: those given (two make a Cone).
    parseOk(scene, "Shape [ SurfaceOfRevolution (1, 9, (1,0,0), (2,1,0), (1,2,0)) ]");
    ASSERT_EQ(scene.frame.world.mainList.size(), 1u);
    EXPECT_EQ(scene.frame.world.mainList[0]->kind, ShapeKind::Cone);
    parseOk(scene, "Declare rain = ParticleGenerator [ Birth CurrentFrame < 2 Particles 3 Aging 0.5 ]\nrain");
    EXPECT_EQ(scene.symbols->lookup("rain")->kind, SymbolKind::ParticleGenerator);
}

}  // namespace
}  // namespace quorva
