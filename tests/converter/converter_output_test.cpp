// What the converter writes: smoothing, shader values, transformations recomposed by the renderer's
// own transforms, solids per material and scene-language names.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "converter/geometry_writer.h"
#include "converter/scene_names.h"
#include "converter/shader_writer.h"
#include "converter/smoothing.h"
#include "geometry/transform.h"

namespace quorva::converter {
namespace {

// A UV sphere wound counter-clockwise seen from outside, its seam column repeated as 3DS files do.
Mesh sphere(int rings, int segments) {
    Mesh m;
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j <= segments; ++j) {
            double t = M_PI * i / rings, p = 2 * M_PI * j / segments;
            m.positions.push_back({std::sin(t) * std::cos(p), std::sin(t) * std::sin(p), std::cos(t)});
        }
    auto at = [&](int i, int j) { return static_cast<std::uint32_t>(i * (segments + 1) + j); };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            m.faces.push_back({{at(i, j), at(i + 1, j), at(i, j + 1)}, 0});
            m.faces.push_back({{at(i, j + 1), at(i + 1, j), at(i + 1, j + 1)}, 0});
        }
    return m;
}

TEST(ConverterSmoothing, SphereNormalsAreRadialAndOutward) {
    Mesh m = sphere(24, 48);
    auto normals = smoothNormals(m, 60);
    double worst = 1;
    for (std::size_t f = 0; f < m.faces.size(); ++f)
        for (int k = 0; k < 3; ++k) worst = std::min(worst, dot(normals[f][k], m.positions[m.faces[f].v[k]]));
    EXPECT_GT(worst, 0.995);  // also across the seam, where positions repeat
    // Angle 0: flat faces, every corner the face normal, pointing outward.
    auto flat = smoothNormals(m, 0);
    Point3 n = faceNormal(m, m.faces[100]);
    EXPECT_GT(dot(n, m.positions[m.faces[100].v[0]]), 0.9);
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(dot(flat[100][k], n), 1.0);
}

TEST(ConverterSmoothing, EdgesSharperThanTheAngleStay) {
    // Two faces folded at 90 degrees: smoothed at 100, kept apart at 60.
    Mesh m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {1, 0, 0}};
    m.faces = {{{0, 1, 2}, 0}, {{3, 4, 5}, 0}};
    EXPECT_NEAR(smoothNormals(m, 60)[0][0].z, 1, 1e-12);
    EXPECT_NEAR(smoothNormals(m, 100)[0][0].z, std::sqrt(0.5), 1e-12);
    EXPECT_EQ(mergePositions(m.positions), (std::vector<std::uint32_t>{0, 1, 2, 0, 4, 1}));
    // Huge and undefined coordinates still hash.
    EXPECT_LT(vertexBucket({1e300, -1e300, NAN}), 1000u);
}

TEST(ConverterShaders, ShininessEdges) {
    ShaderUse s{"Glossy", defaultMaterial(), {"Ball"}};
    s.material.shininess = 0;  // s = 0.1: exponent 400 / 0.1 clamped to 45
    std::string zero = shaderDeclaration(s);
    EXPECT_EQ(zero.substr(0, 71),
              "// Shader assigned to: 'Ball'\nDeclare Glossy = Shader [ PlainSurface [\n");
    EXPECT_NE(zero.find("  Ks(0.00,'0.000, 0.000, 0.000')\n  BlinnSpecularBRDF 45\n"), std::string::npos);
    s.material.shininess = 250;  // ks = 1, kd = 0 before clamping
    std::string high = shaderDeclaration(s);
    EXPECT_NE(high.find("  Kd 0.10\n"), std::string::npos);
    EXPECT_NE(high.find("  BlinnSpecularBRDF 1\n"), std::string::npos);
    s.material.textureMap = "wood.tga";
    s.material.transparency = 0.5;
    std::string textured = shaderDeclaration(s);
    EXPECT_NE(textured.find(" FunctionalSurface [\n  Kd 0.50\n"), std::string::npos);
    EXPECT_NE(textured.find("  Kt(0.500, 1.3, '0.900, 0.900, 0.900')\n"), std::string::npos);
    EXPECT_NE(textured.find("  Color UVImageMapping(ImageFile(\"wood.tga\",NONE))\n ]\n]\n\n"),
              std::string::npos);
}

TEST(ConverterTransforms, SmallChangesAreNotWritten) {
    Matrix m = Matrix::identity();
    m(0, 0) = 1.0005;
    EXPECT_EQ(transformationText(m), "");
    m(0, 0) = 2;
    m(3, 2) = 0.5;
    EXPECT_EQ(transformationText(m), "Scale(2.000, 1.000, 1.000) Translate(0.000, 0.000, 0.500) ");
}

TEST(ConverterTransforms, RandomMatricesRecomposeInTheRendererConvention) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(-180, 180), size(0.2, 3), shift(-10, 10);
    for (int i = 0; i < 200; ++i) {
        double sx = size(rng) * (i % 5 == 0 ? -1 : 1), sy = size(rng), sz = size(rng);
        double ax = angle(rng), ay = i % 7 == 0 ? 90 : angle(rng), az = angle(rng);
        Transform t = makeScale(sx, sy, sz);
        constexpr double R = M_PI / 180;
        compose(t, makeRotate(ax * R, ay * R, az * R));
        compose(t, makeTranslate({shift(rng), shift(rng), shift(rng)}));
        Matrix m;
        for (int k = 0; k < 16; ++k) m.m[k] = t.forward.m[k];
        Decomposition d = decompose(m);
        Transform back = makeScale(d.scale.x, d.scale.y, d.scale.z);
        compose(back, makeRotate(d.rotate.x * R, d.rotate.y * R, d.rotate.z * R));
        compose(back, makeTranslate({d.translate.x, d.translate.y, d.translate.z}));
        for (int k = 0; k < 16; ++k) ASSERT_NEAR(back.forward.m[k], t.forward.m[k], 1e-4) << i;
    }
}

TEST(ConverterSolids, OneSolidPerMaterialAndSceneNames) {
    Model model;
    model.materials.push_back(defaultMaterial());
    model.materials[0].name = "Material #1";
    Mesh mesh = sphere(2, 4);
    mesh.name = "Glow";
    mesh.materialNames = {"Material #1", "Default"};
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) mesh.faces[f].material = f < 3 ? 0 : 1;
    model.meshes.push_back(mesh);
    mesh.name = "Plain";
    mesh.materialNames = {"Default"};
    for (Face& f : mesh.faces) f.material = 0;
    model.meshes.push_back(mesh);
    SolidPlan plan = planSolids(model);
    ASSERT_EQ(plan.solids.size(), 3u);
    EXPECT_EQ(plan.solids[0].name, "Glow_1");
    EXPECT_EQ(plan.solids[0].shader, "Material__1");
    EXPECT_EQ(plan.solids[1].name, "Glow_2");
    EXPECT_EQ(plan.solids[1].shader, "Glow_2");
    EXPECT_EQ(plan.solids[2].name, "Plain");
    EXPECT_EQ(plan.solids[2].shader, "Plain_1");
    EXPECT_EQ(plan.shaders.size(), 3u);
    // Binary records hold 31 characters: shader names are cut alike in the shader file.
    model.materials[0].name = model.meshes[0].materialNames[0] = std::string(40, 'm');
    EXPECT_EQ(planSolids(model, 31).solids[0].shader, std::string(31, 'm'));
    EXPECT_EQ(sceneName("Glow"), "Glow_");
    EXPECT_EQ(sceneName("2nd box"), "_2nd_box");
}

TEST(ConverterSolids, DeclaredSolidsTakeNoShaderName) {
    // A mesh and its material of one name, the material also used by a later mesh.
    Model model;
    model.materials.push_back(defaultMaterial());
    model.materials[0].name = "Default";
    Mesh mesh = sphere(2, 4);
    mesh.name = "Default";
    mesh.materialNames = {"Default"};
    model.meshes.push_back(mesh);
    mesh.name = "Rock";
    model.meshes.push_back(mesh);
    EXPECT_EQ(planSolids(model).solids[0].name, "Default");  // placed directly: names as before
    SolidPlan declared = planSolids(model, 31, true);
    EXPECT_EQ(declared.solids[0].name, "Default_");
    EXPECT_EQ(declared.solids[0].shader, "Default");
    EXPECT_EQ(declared.solids[1].name, "Rock");
    EXPECT_EQ(declared.shaders.at(0).objects, (std::vector<std::string>{"Default_", "Rock"}));
    // Faces of no material in a mesh of several materials: the shader takes the solid's name.
    model.materials[0].name = "Red";
    model.meshes[1].materialNames = {"Red", "Default"};
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) model.meshes[1].faces[f].material = f % 2;
    declared = planSolids(model, 31, true);
    EXPECT_EQ(declared.solids[2].name, "Rock_2_");
    EXPECT_EQ(declared.solids[2].shader, "Rock_2");
    // Taken candidates give way to numbered ones; a cut name keeps its suffix within the limit.
    EXPECT_EQ(distinctName("A", {"A", "A_", "A_2"}), "A_3");
    const std::string cut = std::string(30, 'm').append(1, '_');
    EXPECT_EQ(distinctName(std::string(31, 'm'), {std::string(31, 'm')}, 31), cut);
    EXPECT_EQ(distinctName("Free", {"A"}), "Free");
}

}  // namespace
}  // namespace quorva::converter
