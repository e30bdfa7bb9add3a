// Parser: Solids that join bare triangular patches by unions (as the converter writes a mesh) become
// flat meshes; a run of them broken by any other operand or operator gives the tree as written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "geometry/flat_shapes.h"
#include "geometry/solid.h"
#include "geometry/world.h"
#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseFailure;
using testing::parseOk;

// The corners of patch k: awkward numbers, so that a box united in another order would differ in its
// last bits; the odd patches have texture coordinates.
void patchCorners(int k, PatchCorner (&c)[3]) {
    for (int i = 0; i < 3; ++i) {
        c[i].point = {k + 0.1 * (i + 1) / 3.0, 0.7 / (k + i + 1), -0.3 * k / (i + 7.0)};
        c[i].normal = {0.2 * i, 1, 0.1 * k};
        if (k % 2) c[i].u = 0.25 * i, c[i].v = 1.0 / (i + 3);
    }
}

// `Shape [ TriangularPatch(...) modifiers ]` for patch k, every number written exactly.
std::string patch(int k, const std::string& modifiers = "") {
    PatchCorner c[3];
    patchCorners(k, c);
    std::string text = "Shape [ TriangularPatch(";
    char buffer[256];
    for (int i = 0; i < 3; ++i) {
        std::snprintf(buffer, sizeof buffer, "%s(%.17g, %.17g, %.17g), (%.17g, %.17g, %.17g)", i ? ", " : "",
                      c[i].point.x, c[i].point.y, c[i].point.z, c[i].normal.x, c[i].normal.y, c[i].normal.z);
        text += buffer;
        if (k % 2) {
            std::snprintf(buffer, sizeof buffer, " UV=%.17g,%.17g", c[i].u, c[i].v);
            text += buffer;
        }
    }
    return text + ") " + modifiers + "]";
}

std::unique_ptr<TriangularPatch> expectedPatch(int k) {
    PatchCorner c[3];
    patchCorners(k, c);
    return std::make_unique<TriangularPatch>(c[0], c[1], c[2]);
}

bool sameBits(const Box& a, const Box& b) {
    return std::memcmp(&a.min, &b.min, sizeof a.min) == 0 &&
           std::memcmp(&a.size, &b.size, sizeof a.size) == 0;
}

bool samePatch(const PatchData& a, const PatchData& b) {
    for (int i = 0; i < 3; ++i)
        if (a.corners[i] != b.corners[i] || a.normals[i] != b.normals[i] || a.texU[i] != b.texU[i] ||
            a.texV[i] != b.texV[i])
            return false;
    return a.axis1 == b.axis1 && a.axis2 == b.axis2 && a.faceNormal == b.faceNormal &&
           a.degenerate == b.degenerate;
}

// A tree as text: a patch leaf by its number ('!' after it unless its data is that of its corners), any
// other leaf as its kind code in brackets, operators as written ('+' '^' '*' '&', '~').
void describeInto(const SolidNode* n, std::string& out) {
    if (n->opcode == SolidOp::Leaf) {
        const auto* p = dynamic_cast<const TriangularPatch*>(n->component);
        if (!p) {
            out += '[';
            out += std::to_string(static_cast<int>(n->component->kind));
            out += ']';
            return;
        }
        const int k = static_cast<int>(p->data->corners[0].x);
        out += std::to_string(k);
        if (!samePatch(*p->data, *expectedPatch(k)->data)) out += '!';
        return;
    }
    if (n->opcode == SolidOp::Complement) {
        out += '~';
        describeInto(n->left, out);
        return;
    }
    // a - b is a * ~b.
    const char op = n->opcode == SolidOp::Union       ? '+'
                    : n->opcode == SolidOp::UnionKeep ? '^'
                    : n->opcode == SolidOp::Intersect ? '*'
                                                      : '&';
    out += '(';
    describeInto(n->left, out);
    out += op;
    describeInto(n->right, out);
    out += ')';
}

std::string describe(const SolidNode* n) {
    std::string out;
    describeInto(n, out);
    return out;
}

const char* const Paint = "Declare paint = Shader [ PlainSurface [ Color '1, 0.5, 0.2' ] ]\n";

TEST(ParserPatchUnion, ConverterSolidIsAFlatMeshWithTheTreesPatchesAndBounds) {
    SceneState scene;
    parseOk(scene, std::string(Paint) + "Solid [ " + patch(0) + " +\n " + patch(1) + " ^\n " + patch(2) +
                       " +\n " + patch(3) + " +\n " + patch(4) + "\n paint Translate (1, 2, 3) ]\n" +
                       "Solid [ " + patch(5) + " + " + patch(6) + " ]");
    ASSERT_EQ(scene.frame.world.solids.size(), 2u);
    const auto& mesh = static_cast<const Solid&>(*scene.frame.world.solids[0]);
    ASSERT_TRUE(mesh.isFlatMesh());
    ASSERT_EQ(mesh.meshParts->parts.size(), 5u);
    EXPECT_TRUE(mesh.shader);
    ASSERT_TRUE(mesh.transform);
    EXPECT_EQ(pointToWorld(mesh.transform.get(), Vec3(0, 0, 0)), Vec3(1, 2, 3));

    // The tree the same text built before: left-deep, in the order written, with its operators.
    SolidTree tree = newSolidLeaf(expectedPatch(0));
    for (int k = 1; k < 5; ++k)
        tree = newSolidNode(k == 2 ? SolidOp::UnionKeep : SolidOp::Union, std::move(tree),
                            newSolidLeaf(expectedPatch(k)));
    Solid expected(std::move(tree));
    expected.applyTransform(makeTranslate({1, 2, 3}));
    EXPECT_TRUE(sameBits(mesh.bounds(), expected.bounds()));
    for (int k = 0; k < 5; ++k) {
        const MeshParts::Part& part = mesh.meshParts->parts[static_cast<std::size_t>(k)];
        EXPECT_TRUE(samePatch(*part.data, *expectedPatch(k)->data)) << k;
        EXPECT_TRUE(sameBits(part.bounds, expectedPatch(k)->bounds())) << k;
    }
    EXPECT_TRUE(static_cast<const Solid&>(*scene.frame.world.solids[1]).isFlatMesh());
}

TEST(ParserPatchUnion, BrokenRunGivesTheTreeAsWritten) {
    const std::string a = patch(0), b = patch(1), c = patch(2), d = patch(3);
    struct Case {
        std::string expression, tree;
    } cases[] = {
        {a + " + " + b + " ^ " + c + " + Shape [ Sphere((0, 0, 0), 1) ] + " + d, "((((0+1)^2)+[17])+3)"},
        {a + " + " + b + " ^ " + patch(2, "ShadingAttributes 3") + " + " + d, "(((0+1)^2)+3)"},
        {a + " + " + b + " + " + c + " * " + d, "((0+1)+(2*3))"},
        {a + " + " + b + " & " + c + " ^ " + d, "((0+(1&2))^3)"},
        {a + " ^ " + b + " - " + c + " + " + d, "(((0^1)*~2)+3)"},
        {a + " + (" + b + " + " + c + ") + " + d, "((0+(1+2))+3)"},
        {"(" + a + " + " + b + ") + " + c, "((0+1)+2)"},
        {"~" + a + " + " + b + " + " + c, "((~0+1)+2)"},
        {a + " + " + b + " + m + " + c, "(((0+1)+[5])+2)"},
    };
    for (const Case& t : cases) {
        SceneState scene;
        parseOk(scene,
                "Declare m = Solid [ " + patch(4) + " + " + patch(5) + " ]\nSolid [ " + t.expression + " ]");
        ASSERT_EQ(scene.frame.world.solids.size(), 1u) << t.expression;
        const auto& solid = static_cast<const Solid&>(*scene.frame.world.solids[0]);
        ASSERT_TRUE(solid.root) << t.expression;
        EXPECT_EQ(describe(solid.root.get()), t.tree) << t.expression;
    }
    // One bare patch is no union: the Solid is the patch itself.
    SceneState single;
    parseOk(single, "Solid [ " + a + " ]");
    EXPECT_TRUE(single.frame.world.solids.empty());
    ASSERT_EQ(single.frame.world.mainList.size(), 1u);
    EXPECT_EQ(single.frame.world.mainList[0]->kind, ShapeKind::TriangularPatch);
    EXPECT_EQ(parseFailure("Shape [ " + a + " + " + b + " ]"),
              "CSG operations must be part of Solid structure");
}

TEST(ParserPatchUnion, DeclaredMeshIsOneFlatMeshSharedByItsCopies) {
    SceneState scene;
    parseOk(scene, std::string(Paint) + "Declare m = Solid [ " + patch(0) + " + " + patch(1) + " + " +
                       patch(2) + " paint ]\nm\nm [ Translate (0, 1, 0) ]");
    auto* definition = std::get_if<std::shared_ptr<const Shape>>(&scene.symbols->lookup("m")->value);
    ASSERT_TRUE(definition && *definition);
    const auto& declared = static_cast<const Solid&>(**definition);
    ASSERT_TRUE(declared.isFlatMesh());
    EXPECT_EQ(declared.meshParts->parts.size(), 3u);
    ASSERT_EQ(scene.frame.world.solids.size(), 2u);
    for (const auto& placed : scene.frame.world.solids)
        EXPECT_EQ(static_cast<const Solid&>(*placed).meshParts, declared.meshParts);
}

}  // namespace
}  // namespace quorva
