// Parser: Solids that join bare triangular patches by unions (as the converter writes a mesh) become
// flat meshes; a run of them broken by any other operand or operator gives the tree as written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/solid.h"
#include "geometry/world.h"
#include "parser_fixture.h"
#include "support/patch_bits.h"

namespace quorva {
namespace {

using testing::parseOk;
using testing::samePatchData;

bool sameBits(const Box& a, const Box& b) {
    return std::memcmp(&a, &b, sizeof(Box)) == 0;
}

// Patch k: its first corner has x = k; awkward numbers, so that boxes united in another order differ.
std::string patch(int k, const std::string& modifiers = "") {
    const std::string x = std::to_string(k);
    return "Shape [ TriangularPatch((" + x + ", 0.1, 0.7), (0, 1, 0), (" + x +
           ".3, 0.9, 0.23), (0, 1, 0.1) UV=0.1,0.7, (" + x + ".17, 1.7, 0.31), (0.1, 1, 0) UV=0.3,0.9) " +
           modifiers + "]";
}

// A tree as text: patch leaves by number, other leaves as S, operators as written (a - b is a * ~b).
std::string describe(const SolidNode* n) {
    if (n->opcode == SolidOp::Leaf) {
        const auto* p = dynamic_cast<const TriangularPatch*>(n->component);
        return p ? std::to_string(static_cast<int>(p->data->corners[0].x)) : std::string("S");
    }
    std::string s = n->opcode == SolidOp::Complement ? "~" : "(";
    s += describe(n->left);
    if (!n->right) return s;
    s += "&*?+^"[n->opcode - SolidOp::Clip];
    s += describe(n->right);
    return s += ')';
}

const Solid& placedSolid(const SceneState& scene, std::size_t i) {
    return static_cast<const Solid&>(*scene.frame.world.solids.at(i));
}

TEST(ParserPatchUnion, ConverterSolidIsAFlatMeshWithTheTreesPatchesAndBounds) {
    SceneState scene, patches;
    parseOk(scene, "Solid [ " + patch(0) + " +\n " + patch(1) + " ^\n " + patch(2) + " +\n " + patch(3) +
                       "\n Shader [ PlainSurface [ Color '1, 0.5, 0.2' ] ] Translate (1, 2, 3) ]");
    parseOk(patches, patch(0) + patch(1) + patch(2) + patch(3));
    const Solid& mesh = placedSolid(scene, 0);
    ASSERT_TRUE(mesh.isFlatMesh());
    ASSERT_EQ(mesh.meshParts->size(), 4u);
    EXPECT_TRUE(mesh.shader && mesh.transform);
    std::vector<std::unique_ptr<Shape>> leaves;
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& own = static_cast<const TriangularPatch&>(*patches.frame.world.mainList.at(k));
        PatchData data;
        mesh.meshParts->patchData(k, data);
        EXPECT_TRUE(samePatchData(data, *own.data)) << k;
        EXPECT_TRUE(sameBits(mesh.meshParts->bounds(k), own.bounds()));
        leaves.push_back(copyShape(own));
    }
    // The tree's box, walked over the left-deep union, to the last bit.
    std::unique_ptr<Solid> tree = makeSolidUnion(std::move(leaves), false);
    tree->applyTransform(makeTranslate({1, 2, 3}));
    EXPECT_TRUE(sameBits(mesh.bounds(), tree->bounds()));
}

// A grid shares its corners, stored once. A corner without texture coordinates takes its defaults from
// its place in the triangle, so the same corner at two places is two corners.
TEST(ParserPatchUnion, SharedCornersAreStoredOnceEachPatchAsItsOwn) {
    auto corner = [](int i, int j, bool uv) {
        char c[160];
        const int n =
            std::snprintf(c, sizeof c, "(%g, %g, %g), (0.2, 1, %g)", i * 0.3, 0.1 * i * j, j * 0.7, 0.1 * j);
        if (uv) std::snprintf(c + n, sizeof c - n, " UV=%g,%g", 0.25 * i, 0.25 * j);
        return std::string(c);
    };
    auto triangle = [](const std::string& a, const std::string& b, const std::string& c) {
        return "Shape [ TriangularPatch(" + a + ", " + b + ", " + c + ") ]";
    };
    std::vector<std::string> patches;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            patches.push_back(
                triangle(corner(i, j, true), corner(i + 1, j, true), corner(i + 1, j + 1, true)));
            patches.push_back(
                triangle(corner(i, j, true), corner(i + 1, j + 1, true), corner(i, j + 1, true)));
        }
    patches.push_back(triangle(corner(5, 5, false), corner(6, 5, false), corner(6, 6, false)));
    patches.push_back(triangle(corner(6, 5, false), corner(5, 5, false), corner(6, 6, false)));
    std::string solid = "Solid [ ", plain;
    for (std::size_t k = 0; k < patches.size(); ++k) {
        solid += (k ? " + " : "") + patches[k];
        plain += patches[k] + "\n";
    }
    SceneState scene, own;
    parseOk(scene, solid + " ]");
    parseOk(own, plain);
    const Solid& mesh = placedSolid(scene, 0);
    ASSERT_TRUE(mesh.isFlatMesh());
    const MeshParts& parts = *mesh.meshParts;
    ASSERT_EQ(parts.size(), patches.size());
    // 25 grid points; the last two triangles share only the corner in the same place.
    EXPECT_EQ(parts.corners.size(), 25u + 3u + 2u);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const auto& patch = static_cast<const TriangularPatch&>(*own.frame.world.mainList.at(k));
        PatchData data;
        parts.patchData(k, data);
        EXPECT_TRUE(samePatchData(data, *patch.data)) << k;
        EXPECT_TRUE(sameBits(parts.bounds(k), patch.bounds())) << k;
    }
}

TEST(ParserPatchUnion, BrokenRunGivesTheTreeAsWritten) {
    const std::string a = patch(0) + " + " + patch(1), c = patch(2), d = patch(3);
    const std::pair<std::string, std::string> cases[] = {
        {a + " ^ " + c + " + Shape [ Sphere((0, 0, 0), 1) ] + " + d, "((((0+1)^2)+S)+3)"},
        {a + " ^ " + patch(2, "ShadingAttributes 3") + " + " + d, "(((0+1)^2)+3)"},
        {a + " + " + c + " * " + d, "((0+1)+(2*3))"},
        {a + " - " + c + " ^ " + d, "(((0+1)*~2)^3)"},
        {patch(0) + " + (" + patch(1) + " + " + c + ") + " + d, "((0+(1+2))+3)"},
        {a + " + m + " + c, "(((0+1)+S)+2)"},
    };
    for (const auto& [expression, expected] : cases) {
        SceneState scene;
        parseOk(scene, "Declare m = Solid [ " + d + " + " + d + " ]\nSolid [ " + expression + " ]");
        ASSERT_TRUE(placedSolid(scene, 0).root) << expression;
        EXPECT_EQ(describe(placedSolid(scene, 0).root.get()), expected) << expression;
    }
    // One patch is no union: the Solid is that patch.
    SceneState single;
    parseOk(single, "Solid [ " + c + " ]");
    EXPECT_TRUE(single.frame.world.solids.empty() && single.frame.world.mainList.size() == 1);
}

TEST(ParserPatchUnion, DeclaredMeshIsOneFlatMeshSharedByItsCopies) {
    SceneState scene;
    parseOk(scene, "Declare m = Solid [ " + patch(0) + " + " + patch(1) + " ]\nm\nm [ Translate (0, 1, 0) ]");
    const auto& declared = static_cast<const Solid&>(
        **std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup("m")->value));
    ASSERT_TRUE(declared.isFlatMesh());
    EXPECT_EQ(placedSolid(scene, 0).meshParts, declared.meshParts);
    EXPECT_EQ(placedSolid(scene, 1).meshParts, declared.meshParts);
}

}  // namespace
}  // namespace quorva
