// Parser: Solids that join bare triangular patches by unions (as the converter writes a mesh) become
// flat meshes; a run of them broken by any other operand or operator gives the tree as written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "geometry/solid.h"
#include "geometry/world.h"
#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseOk;

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
    ASSERT_EQ(mesh.meshParts->parts.size(), 4u);
    EXPECT_TRUE(mesh.shader && mesh.transform);
    std::vector<std::unique_ptr<Shape>> leaves;
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& own = static_cast<const TriangularPatch&>(*patches.frame.world.mainList.at(k));
        const MeshParts::Part& part = mesh.meshParts->parts[k];
        EXPECT_EQ(std::memcmp(part.data->corners, own.data->corners, 3 * sizeof(Vec3)), 0);
        EXPECT_EQ(std::memcmp(part.data->texV, own.data->texV, sizeof own.data->texV), 0);
        EXPECT_EQ(part.data->faceNormal, own.data->faceNormal);
        EXPECT_TRUE(sameBits(part.bounds, own.bounds()));
        leaves.push_back(copyShape(own));
    }
    // The tree's box, walked over the left-deep union, to the last bit.
    std::unique_ptr<Solid> tree = makeSolidUnion(std::move(leaves), false);
    tree->applyTransform(makeTranslate({1, 2, 3}));
    EXPECT_TRUE(sameBits(mesh.bounds(), tree->bounds()));
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
