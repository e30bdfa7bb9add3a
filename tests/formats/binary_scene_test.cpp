// The binary scene reader: the writer's records read back, every message of bad input, every prefix of a
// valid file, non-finite numbers, the version-dependent record sizes, names, and a binary scene rendered
// against its ascii twin.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <limits>
#include <set>

#include "formats/writer/qsb_writer.h"
#include "geometry/solid.h"
#include "scene/parser_fixture.h"
#include "shading/light.h"
#include "support/fatal_text.h"
#include "support/run_program.h"
#include "tests/formats/qsb_bytes.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::sceneHeader;

constexpr const char* RedShader = "Declare red = Shader [ PlainSurface [ Color '1, 0.2, 0.2' Kd 0.8 ] ]\n";

class BinaryScene : public ::testing::Test {
  protected:
    void SetUp() override {
        quiet_ = diagnostics().messagesOn;
        diagnostics().messagesOn = false;
    }
    void TearDown() override { diagnostics().messagesOn = quiet_; }

    // Reads the bytes into a fresh scene whose shader file declared `red`.
    std::string read(const Bytes& bytes) {
        scene_ = std::make_unique<SceneState>();
        testing::parseOk(*scene_, RedShader);
        return testing::readScene(*scene_, path_, bytes);
    }
    SceneState& scene() { return *scene_; }

    testing::TemporaryFolder dir_;
    std::string path_ = dir_.file("s.qsb");
    std::unique_ptr<SceneState> scene_;
    bool quiet_ = true;
};

Bytes camera(const qsb::CameraRecord& r, int version = 3) {
    return Bytes().u8(qsb::code::Camera).raw(r, qsb::cameraSize(version));
}
Bytes declaration(const std::string& name, const Bytes& primitives) {
    Bytes b = Bytes().u8(qsb::code::DeclareObject).name(name);
    b += primitives;
    return b.u8(qsb::code::EndDeclaration);
}
Bytes call(const std::string& name, const Bytes& modifiers = {}) {
    Bytes b = Bytes().u8(qsb::code::CallObject).name(name);
    b += modifiers;
    return b.u8(qsb::code::EndCall);
}
// The options record at its version-3 size.
Bytes optionsRecord(const qsb::OptionsRecord& r) {
    Bytes b = Bytes().u8(qsb::code::Options);
    b.raw(r, std::min(sizeof r, qsb::optionsSize(3)));
    b.data.resize(1 + qsb::optionsSize(3), '\0');
    return b;
}
Bytes sphere() {
    return Bytes().u8(qsb::code::Sphere).floats({0, 0, 0, 1});
}

TEST_F(BinaryScene, WriterRecordsReadBack) {
    qsb::QsbWriter w;
    EXPECT_EQ(w.WriteCamera({}), qsb::WriteStatus::NoFile);
    ASSERT_EQ(w.OpenBinaryScene(path_), qsb::WriteStatus::Written);
    qsb::CameraRecord cam;
    cam.fieldOfView = 30;
    cam.width = 64;
    cam.height = 48;
    cam.superAdaptive = 2;
    qsb::GeneralRecord general;
    general.background[2] = 0.5f;
    qsb::PointLightRecord point;
    point.decay = 2;
    qsb::SpotLightRecord spot;
    spot.fadeDistance = 7;
    const float triangle[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
    float triangleUV[24] = {};
    triangleUV[3 + 8] = triangleUV[8 + 8 + 4] = 1;  // second and third corners off the first
    triangleUV[8] = 1;
    triangleUV[17] = 1;
    EXPECT_EQ(w.WriteCamera(cam), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteGeneral(general), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WritePointLight(point), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteSpotLight(spot), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteTriangle(triangle), qsb::WriteStatus::Refused);  // outside a declaration
    EXPECT_EQ(w.EndObjectDeclaration(), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.BeginObjectDeclaration("a name that is longer than thirty-one characters"),
              qsb::WriteStatus::Written);
    EXPECT_EQ(w.BeginObjectDeclaration("nested"), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.WritePointLight(point), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.WriteScale(2, 2, 2), qsb::WriteStatus::Refused);
    EXPECT_EQ(w.WriteTriangle(triangle), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteTriangleUV(triangleUV), qsb::WriteStatus::Written);
    EXPECT_EQ(w.EndObjectDeclaration(), qsb::WriteStatus::Written);
    EXPECT_EQ(w.BeginObjectCall("a name that is longer than thirty-one characters"),
              qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteShaderName("red"), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteScale(2, 2, 2), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteRotate(0, 0, 90), qsb::WriteStatus::Written);
    EXPECT_EQ(w.WriteTranslate(0, 0, 5), qsb::WriteStatus::Written);
    EXPECT_EQ(w.EndObjectCall(), qsb::WriteStatus::Written);
    EXPECT_EQ(w.CloseBinaryScene(), qsb::WriteStatus::Written);

    scene_ = std::make_unique<SceneState>();
    testing::parseOk(scene(), RedShader);
    ASSERT_EQ(testing::fatalText([&] { ReadBinaryScene(scene(), path_); }), "(no error)");
    EXPECT_DOUBLE_EQ(scene().frame.options.version, 1.2);
    EXPECT_EQ(scene().frame.camera.width, 64);
    EXPECT_DOUBLE_EQ(scene().frame.camera.fieldOfView, 30);
    EXPECT_EQ(scene().frame.camera.location, Vec3(0, 0, -10));
    EXPECT_EQ(scene().frame.options.antialiasing, 12);
    EXPECT_DOUBLE_EQ(scene().frame.background.colour.b, 0.5);
    ASSERT_EQ(scene().frame.lights.size(), 2u);
    EXPECT_EQ(scene().frame.lights[0]->decayType, 2);
    EXPECT_DOUBLE_EQ(scene().frame.lights[1]->decayDistance, 7);
    EXPECT_EQ(scene().frame.lights[1]->attributes, 3);
    // The name was cut to 31 characters by the writer, and the call found it.
    const SymbolEntry* object = scene().symbols->lookup("a name that is longer than thir");
    ASSERT_TRUE(object);
    EXPECT_EQ(object->kind, SymbolKind::Solid);
    // The two triangles are placed as one mesh.
    ASSERT_EQ(scene().frame.world.mainList.size(), 1u);
    const Shape& first = *scene().frame.world.mainList[0];
    EXPECT_EQ(first.kind, ShapeKind::PlacedMesh);
    ASSERT_TRUE(first.parent);
    EXPECT_TRUE(first.parent->shader);
    // Scale 2, then 90 degrees about z, then 5 along z: (1, 0, 0) lands on (0, 2, 5).
    Vec3 corner = pointToWorld(first.transform.get(), {1, 0, 0});
    EXPECT_NEAR(corner.x, 0, 1e-9);
    EXPECT_NEAR(corner.y, 2, 1e-9);
    EXPECT_NEAR(corner.z, 5, 1e-9);
}

TEST_F(BinaryScene, BadInputMessages) {
    qsb::CameraRecord lens;
    lens.lensModel = 0xF6;
    qsb::PointLightRecord decay;
    decay.decay = 4;
    qsb::FlatAreaLightRecord flat;
    flat.common.media = 1;
    auto options = [](auto change) {
        qsb::OptionsRecord r;
        change(r);
        return Bytes().u8(qsb::code::Options).raw(r).raw(std::uint64_t{0});  // 408 bytes in version 3
    };
    auto withName = [](char* field, const char* text) { std::strcpy(field, text); };
    Bytes blobby =
        Bytes().u8(qsb::code::Blobby).floats({0.5f}).i32(1).u8(0).i32(4).floats({0, 0, 0, 0, 0, 0, 0, 0, 0});
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes().u8('Q'), "\"%s\" is not a Quillbarrow binary QSB file"},
        {Bytes{std::string(qsb::SceneMagic)}, "Version specification is missing in QSB file"},
        {sceneHeader(0), "Wrong version specification in QSB file"},
        {sceneHeader(5), "Wrong version specification in QSB file"},
        {sceneHeader().u8(0xfe), "Unexpected data while parsing binary QSB: 0xfe"},
        {sceneHeader() += camera(lens), "Incorrect camera lens model"},
        {sceneHeader().u8(qsb::code::PointLight).raw(decay), "Bad light Decay type"},
        {sceneHeader().u8(qsb::code::FlatAreaLight).raw(flat),
         "Flat (plane) area light cannot interact with participating media"},
        {sceneHeader() += options([](auto& r) { r.bitsPerPixel = 16; }),
         "BitsPerPixel should be 24 or 32, not 16"},
        {sceneHeader() += options([](auto& r) { r.maxRayLevel = 17; }),
         "MaxRayLevel must be between 1 and 16"},
        {sceneHeader() += options([](auto& r) { r.maxBlurLevel = 7; }),
         "MaxBlurLevel must be between 1 and MaxRayLevel"},
        {sceneHeader() += options([&](auto& r) { withName(r.outputTo, "a.tga"); }),
         "No file extension with 'OutputTo'"},
        {sceneHeader() += options([&](auto& r) {
             r.saveIrradianceCache = 1;
             withName(r.irradianceCacheName, "c.qic");
         }),
         "No file extension with SaveIrradianceCache"},
        {sceneHeader() += options([&](auto& r) {
             r.savePhotonMap = 1;
             withName(r.photonMapName, "p.qpm");
         }),
         "No file extension with SavePhotonMap"},
        {sceneHeader() += declaration("o", Bytes().u8(qsb::code::Polygon).u8(2).floats({0, 0, 0, 1, 0, 0})),
         "A Polygon can't have less than 3 sides"},
        {sceneHeader() += declaration("o", blobby),
         "wrong Blobby 'type' with qlDumpBlobby() within qlDeclareNewObject()"},
        {sceneHeader() += declaration("o", Bytes().u8(qsb::code::Blobby).floats({0.5f}).i32(-1).u8(0)),
         "Bad Blobby record in binary QSB"},
        {sceneHeader() += declaration("o", Bytes().u8(qsb::code::Nurbs).i32(2).i32(-2).i32(2).i32(2)),
         "Bad NURBS record in binary QSB"},
        {sceneHeader() += declaration("o", Bytes().u8(qsb::code::Nurbs).i32(2).i32(2).i32(3).i32(2)),
         "NURBS order 3 out of range (1..2)"},
        {sceneHeader() +=
         declaration("o", Bytes().u8(qsb::code::BicubicPatch).floats({5, 4, 4}).raw(std::array<float, 48>{})),
         "Type of BicubicPatch out of range"},
        // A count far beyond the file is refused before anything is sized by it.
        {sceneHeader() +=
         declaration("o", Bytes().u8(qsb::code::Nurbs).i32(1 << 30).i32(1 << 30).i32(4).i32(4)),
         "Binary QSB file \"%s\" is truncated"},
        {sceneHeader() += declaration("o", Bytes().u8(qsb::code::CallObject)),
         "Unexpected data within qlDeclareNewObject(): 0x42"},
        {sceneHeader() += call("nothing"), "Can't find Shape \"nothing\" in symbol table"},
        {sceneHeader() += declaration("o", sphere()) +=
         call("o", Bytes().u8(qsb::code::ShaderName).name("blue")),
         "Can't find Shader \"blue\" in symbol table"},
        {sceneHeader() += declaration("o", sphere()) += call("o", sphere()),
         "Unexpected data within qlCallObject(): 0x52"},
        {sceneHeader().u8(qsb::code::PointLight).raw(decay, 39), "Binary QSB file \"%s\" is truncated"},
        {sceneHeader().u8(qsb::code::DeclareObject).name("o").u8(qsb::code::Sphere).floats({0, 0, 0, 1}),
         "Binary QSB file \"%s\" is truncated"},
    };
    for (const auto& [bytes, expected] : cases) {
        std::string message = expected;
        if (auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, path_);
        EXPECT_EQ(read(bytes), message) << expected;
    }
    EXPECT_EQ(testing::fatalText([&] { ReadBinaryScene(scene(), dir_.file("absent.qsb")); }),
              "Failed to open binary file \"" + dir_.file("absent.qsb") + "\"");
}

// The free-form kinds are built from their records with the float order of their scene statements.
TEST_F(BinaryScene, FreeFormPrimitivesInADeclaration) {
    Bytes nurbs = Bytes().u8(qsb::code::Nurbs).i32(2).i32(2).i32(2).i32(2).floats({0, 0, 1, 1, 0, 0, 1, 1});
    for (float u : {0.f, 1.f})
        for (float v : {0.f, 1.f}) nurbs.floats({u, v, 0, 0});
    Bytes patch = Bytes().u8(qsb::code::BicubicPatch).floats({1, 4, 4});
    for (int i = 0; i < 16; ++i) patch.floats({float(i / 4), float(i % 4), 2});
    Bytes blobby = Bytes().u8(qsb::code::Blobby).floats({0.5f}).i32(2).u8(2);
    blobby.i32(1).floats({5, 0, 0, 1, 1, 0, 0, 0, 0});     // sphere: centre, radius, strength
    blobby.i32(2).floats({0, 5, 0, 0, 7, 0, 0.5f, 1, 0});  // cylinder: ends, radius, strength
    ASSERT_EQ(read(sceneHeader() += declaration("o", nurbs += patch += blobby) += call("o")), "");

    const SymbolEntry* entry = scene().symbols->lookup("o");
    ASSERT_TRUE(entry);
    const auto& object = std::get<std::shared_ptr<const Shape>>(entry->value);
    ASSERT_TRUE(object);
    std::vector<const Shape*> leaves;
    std::vector<const SolidNode*> stack{static_cast<const Solid&>(*object).root.get()};
    while (!stack.empty()) {
        const SolidNode* node = stack.back();
        stack.pop_back();
        if (node->component) leaves.push_back(node->component);
        for (const SolidNode* child : {node->right, node->left})
            if (child) stack.push_back(child);
    }
    ASSERT_EQ(leaves.size(), 3u);
    EXPECT_EQ(leaves[0]->kind, ShapeKind::Nurbs);
    EXPECT_EQ(leaves[1]->kind, ShapeKind::BicubicPatch);
    EXPECT_EQ(leaves[2]->kind, ShapeKind::Blobby);
    // The patch spans its control points' x and y at z = 2; the blobby the sphere and the capped cylinder.
    Box patchBox = leaves[1]->bounds(), blobBox = leaves[2]->bounds();
    EXPECT_NEAR(patchBox.min.z, 2, 1e-6);
    EXPECT_NEAR(patchBox.min.x + patchBox.size.x, 3, 1e-6);
    EXPECT_NEAR(blobBox.min.y, -1, 1e-6);
    EXPECT_NEAR(blobBox.min.y + blobBox.size.y, 7.5, 1e-6);
    EXPECT_NEAR(blobBox.min.x + blobBox.size.x, 6, 1e-6);
    // Placed, the surfaces are subdivided into the world.
    EXPECT_GT(scene().frame.world.mainList.size(), 1u);
}

// Every prefix of a valid file either reads (when it ends on a record boundary) or is truncated.
TEST_F(BinaryScene, EveryPrefixReadsOrIsTruncated) {
    Bytes file = sceneHeader();
    std::set<std::size_t> boundaries{file.data.size()};
    auto add = [&](const Bytes& b) {
        file += b;
        boundaries.insert(file.data.size());
    };
    add(camera({}));
    add(Bytes().u8(qsb::code::PointLight).raw(qsb::PointLightRecord{}));
    add(declaration("ball",
                    sphere() += Bytes().u8(qsb::code::Polygon).u8(3).floats({0, 0, 0, 1, 0, 0, 0, 1, 0})));
    add(call("ball",
             Bytes().u8(qsb::code::ShaderName).name("red").u8(qsb::code::Translate).floats({1, 2, 3})));
    add(Bytes()
            .u8(qsb::code::Primitive)
            .u8(qsb::code::Box)
            .floats({0, 0, 0, 1, 1, 1})
            .u8(qsb::code::Scale)
            .floats({2, 2, 2})
            .u8(qsb::code::EndCall));
    for (std::size_t n = 0; n <= file.data.size(); ++n) {
        std::string message = read(Bytes{file.data.substr(0, n)});
        if (n < qsb::MagicSize)
            EXPECT_EQ(message, "\"" + path_ + "\" is not a Quillbarrow binary QSB file");
        else if (n == qsb::MagicSize)
            EXPECT_EQ(message, "Version specification is missing in QSB file");
        else if (boundaries.count(n))
            EXPECT_EQ(message, "") << n;
        else
            EXPECT_EQ(message, "Binary QSB file \"" + path_ + "\" is truncated") << n;
    }
    EXPECT_EQ(scene().frame.world.mainList.size(), 3u);  // sphere and polygon of the call, and the box
}

// A NaN or an infinity anywhere a record carries a float refuses the file, naming the record. Each
// file is first read with a finite marker in that place, then with the marker replaced.
TEST_F(BinaryScene, NonFiniteNumbersAreRefused) {
    constexpr float Marker = 1234.5f;
    const std::string markerBytes(reinterpret_cast<const char*>(&Marker), sizeof Marker);
    const float triangle[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, Marker, 0, 0, 0, -1};
    // Written by the converter's writer: camera, point light, a triangle, a call's translation.
    auto written = [&](int marked) {
        qsb::QsbWriter w;
        w.OpenBinaryScene(path_);
        qsb::CameraRecord cam;
        if (marked == 0) cam.fieldOfView = Marker;
        w.WriteCamera(cam);
        qsb::PointLightRecord point;
        if (marked == 1) point.colour[2] = Marker;
        w.WritePointLight(point);
        const float plain[18] = {0, 0, 0, 0, 0, -1, 1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 0, -1};
        w.BeginObjectDeclaration("o");
        w.WriteTriangle(marked == 2 ? triangle : plain);
        w.EndObjectDeclaration();
        w.BeginObjectCall("o");
        w.WriteTranslate(0, marked == 3 ? Marker : 1, 0);
        w.EndObjectCall();
        w.CloseBinaryScene();
        return Bytes{testing::readFile(path_)};
    };
    qsb::OptionsRecord options;
    options.shadowBias = Marker;
    qsb::SurfaceAttributesRecord attributes;
    attributes.renderBound[3] = Marker;
    const std::pair<Bytes, int> cases[] = {
        {written(0), qsb::code::Camera},
        {written(1), qsb::code::PointLight},
        {written(2), qsb::code::Triangle},
        {written(3), qsb::code::Translate},
        {sceneHeader().u8(qsb::code::Options).raw(options).raw(std::uint64_t{0}), qsb::code::Options},
        {sceneHeader() += declaration("o", sphere()) +=
         call("o", Bytes().u8(qsb::code::SurfaceAttributes).raw(attributes)),
         qsb::code::SurfaceAttributes},
        {sceneHeader() += declaration("o", Bytes()
                                               .u8(qsb::code::Nurbs)
                                               .i32(1)
                                               .i32(1)
                                               .i32(1)
                                               .i32(1)
                                               .floats({0, Marker, 0, 1})
                                               .floats({0, 0, 0, 1})),
         qsb::code::Nurbs},
        {sceneHeader()
             .u8(qsb::code::Primitive)
             .u8(qsb::code::Box)
             .floats({0, 0, 0, 1, Marker, 1})
             .u8(qsb::code::EndCall),
         qsb::code::Box},
    };
    for (const auto& [file, code] : cases) {
        const std::size_t at = file.data.find(markerBytes);
        ASSERT_NE(at, std::string::npos) << code;
        ASSERT_EQ(read(file), "") << code;
        for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()}) {
            Bytes damaged = file;
            damaged.data.replace(at, sizeof bad, reinterpret_cast<const char*>(&bad), sizeof bad);
            char expected[64];
            std::snprintf(expected, sizeof expected, " (record 0x%x)", code);
            EXPECT_EQ(read(damaged), "Invalid number in binary QSB file \"" + path_ + "\"" + expected)
                << code;
        }
    }
}

// Version 1, 2 and 4 camera, general and sky records have their own sizes; the next record must still
// be found.
TEST_F(BinaryScene, VersionSizes) {
    qsb::CameraRecord cam;
    cam.width = 100;
    cam.antialiasing = 3;
    cam.pixelFilter = 2;
    cam.pixelFilterParameters[0] = 2;
    Bytes light = Bytes().u8(qsb::code::PointLight).raw(qsb::PointLightRecord{});
    for (int version : {1, 2, 4}) {
        Bytes file = sceneHeader(version) += camera(cam, version);
        qsb::GeneralRecord general;
        if (version == 1)  // no background name: the record lacks bytes 12-43
            file.u8(qsb::code::General)
                .raw(general, 12)
                .data.append(reinterpret_cast<const char*>(&general) + 44, 96);
        else
            file.u8(qsb::code::General).raw(general);
        file.u8(qsb::code::SkyDome).raw(qsb::SkyDomeRecord{}, qsb::skyDomeSize(version));
        file.u8(qsb::code::Options)
            .raw(qsb::OptionsRecord{})
            .data.append(qsb::optionsSize(version) - 400, '\0');
        file += light;
        ASSERT_EQ(read(file), "") << version;
        EXPECT_DOUBLE_EQ(scene().frame.options.version, 1.0 + 0.1 * (version - 1)) << version;
        EXPECT_EQ(scene().frame.camera.width, 100);
        EXPECT_EQ(scene().frame.options.antialiasing, 3);
        EXPECT_EQ(scene().frame.camera.pixelFilterType, version == 4 ? 2 : -1);
        EXPECT_EQ(scene().frame.lights.size(), 1u);
    }
    // Version 1 general records carry no background name: bytes 12 on are the fog.
    Bytes v1 = sceneHeader(1).u8(qsb::code::General).floats({0.5f, 0.5f, 0.5f, 3, 1, 1, 1, 0.25f});
    v1.data.append(108 - 32, '\0');
    ASSERT_EQ(read(v1), "");
    EXPECT_DOUBLE_EQ(scene().frame.fog.start, 3);
    EXPECT_DOUBLE_EQ(scene().frame.fog.density, 0.25);
}

TEST_F(BinaryScene, NamesOf31And32Characters) {
    const std::string name31(31, 'a'), name32(32, 'b');
    Bytes file = sceneHeader() += declaration(name31, sphere()) += declaration(name32, sphere());
    file += call(name31);
    file += call(name32);
    ASSERT_EQ(read(file), "");
    EXPECT_TRUE(scene().symbols->lookup(name31));
    EXPECT_TRUE(scene().symbols->lookup(name32));  // unterminated: the whole field, nothing past it
    EXPECT_EQ(scene().frame.world.mainList.size(), 2u);
}

TEST_F(BinaryScene, CameraLevelsOutOfRangeLeaveAntialiasingUnchanged) {
    qsb::CameraRecord cam;
    cam.antialiasing = 11;
    cam.superAdaptive = -1;
    cam.undersampling = 0;
    scene_ = std::make_unique<SceneState>();
    testing::parseOk(scene(), "Camera [ (0, 0, -1), (0, 0, 0), (0, 1, 0) Undersampling 4 ]");
    ASSERT_EQ(testing::readScene(scene(), path_, sceneHeader() += camera(cam)), "");
    EXPECT_EQ(scene().frame.options.antialiasing, 4);
    EXPECT_TRUE(scene().frame.options.undersampling);
    cam.undersampling = 10;
    ASSERT_EQ(read(sceneHeader() += camera(cam)), "");
    EXPECT_EQ(scene().frame.options.antialiasing, 10);
    EXPECT_TRUE(scene().frame.options.undersampling);
}

// The options record bounds the counts and distances that size allocations exactly as the Options
// statement does, and the general record's Photons and ComputeIrradiance values take effect.
TEST_F(BinaryScene, SettingsRecordsFollowTheStatementRules) {
    constexpr std::int32_t Huge = std::numeric_limits<std::int32_t>::max();
    qsb::OptionsRecord options;
    options.irradianceSamples = Huge;
    options.irradiancePhotons[0] = options.irradiancePhotons[1] = Huge;
    options.photonsGatherRange[0] = options.photonsGatherRange[1] = Huge;
    options.irradianceMaxDistance = 1e30f;
    options.irradianceMaxError = -1e30f;
    qsb::GeneralRecord general;
    general.photonsK = Huge;
    general.photonsN = Huge;
    general.photonsJ = 10;
    general.computeIrradiance = 2;
    ASSERT_EQ(read(sceneHeader().u8(qsb::code::General).raw(general) += optionsRecord(options)), "");
    SceneState ascii;
    const std::string huge = std::to_string(Huge);
    testing::parseOk(ascii, "Photons (" + huge + ", " + huge +
                                ", 10, 0) ComputeIrradiance 2\n"
                                "Options [ IrradianceSamples " +
                                huge + " IrradiancePhotons (" + huge + ", " + huge +
                                ") PhotonsGatherRange (" + huge + ", " + huge +
                                ") IrradianceMaxDistance 1e30 IrradianceMaxError -1e30 ]");
    const IrradianceSettings &b = scene().frame.options.irradiance, &a = ascii.frame.options.irradiance;
    EXPECT_EQ(b.samples, MaxIrradianceSamples);
    EXPECT_EQ(b.samples, a.samples);
    EXPECT_EQ(b.photons[0], a.photons[0]);
    EXPECT_EQ(b.photons[1], a.photons[1]);
    EXPECT_EQ(b.maxDistance, a.maxDistance);
    EXPECT_EQ(b.maxError, a.maxError);
    EXPECT_EQ(scene().frame.options.photons.gatherRange[1], MaxPhotonGatherCount);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(scene().frame.options.photons.parameters[i], ascii.frame.options.photons.parameters[i]);
    EXPECT_TRUE(b.enabled && b.forced);
    EXPECT_EQ(b.gridSize, a.gridSize);
}

// A binary scene with a camera, lights, a background, primitives and every transformation modifier gives
// the same image as its ascii twin.
TEST(BinarySceneRender, MatchesItsAsciiTwin) {
    testing::TemporaryFolder dir;
    const std::string shader =
        "Declare red = Shader [ PlainSurface [ Color '1, 0.25, 0.25' Kd 0.75 ] ]\n"
        "Declare blue = Shader [ PlainSurface [ Color '0.25, 0.25, 1' Kd 0.75 Ks 0.5 ] ]\n";
    dir.write("binary.qsh", shader);
    dir.write("ascii.qsh", shader);

    qsb::CameraRecord cam;
    cam.location[1] = 2;
    cam.width = 48;
    cam.height = 32;
    cam.aspectRatio = 1.5f;
    cam.fieldOfView = 40;
    qsb::GeneralRecord general;
    general.background[0] = 0.25f;
    general.background[2] = 0.5f;
    qsb::PointLightRecord point;
    point.position[0] = -5;
    point.position[1] = 10;
    point.position[2] = -10;
    qsb::SpotLightRecord spot;
    spot.position[2] = -8;
    spot.cone[0] = 30;
    spot.cone[1] = 20;
    spot.cone[2] = 1;
    spot.colour[1] = 0.5f;
    Bytes file = sceneHeader() += camera(cam);
    file.u8(qsb::code::General)
        .raw(general)
        .u8(qsb::code::PointLight)
        .raw(point)
        .u8(qsb::code::SpotLight)
        .raw(spot);
    file += declaration("parts", Bytes()
                                     .u8(qsb::code::Sphere)
                                     .floats({0, 0, 0, 1})
                                     .u8(qsb::code::Box)
                                     .floats({1.5f, -1, -0.5f, 2.5f, 0, 0.5f})
                                     .u8(qsb::code::Cylinder)
                                     .floats({-2, -1, 0, -2, 1, 0, 0.5f})
                                     .u8(qsb::code::Triangle)
                                     .floats({-1, 1, 1, 0, 0, -1, 1, 1, 1, 0, 0, -1, 0, 2, 1, 0, 0, -1}));
    file += call("parts", Bytes()
                              .u8(qsb::code::ShaderName)
                              .name("red")
                              .u8(qsb::code::Scale)
                              .floats({0.5f, 0.5f, 0.5f})
                              .u8(qsb::code::Rotate)
                              .floats({0, 30, 0})
                              .u8(qsb::code::Translate)
                              .floats({-1, 0, 0}));
    file += call("parts", Bytes()
                              .u8(qsb::code::ShaderName)
                              .name("blue")
                              .u8(qsb::code::ScaleRotateTranslate)
                              .floats({0.5f, 0.5f, 0.5f, 0, -30, 0, 1.5f, 0, 0})
                              .u8(qsb::code::Shear)
                              .floats({0, 0.25f, 0, 0, 0, 0})
                              .u8(qsb::code::Matrix)
                              .floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.5f, 0, 1}));
    // Triangles alone: a mesh kept flat until its call places it.
    const std::vector<float> fan[] = {{-2, -0.5f, 2, 0, 0, -1, -1, -0.5f, 2, 0, 0, -1, -2, 0.5f, 2, 0, 0, -1},
                                      {-1, -0.5f, 2, 0, 0, -1, -1, 0.5f, 2, 0, 0, -1, -2, 0.5f, 2, 0, 0, -1}};
    Bytes fanParts;
    for (const auto& t : fan) {
        fanParts.u8(qsb::code::Triangle);
        for (float f : t) fanParts.raw(f);
    }
    file += declaration("fan", fanParts);
    file += call("fan", Bytes()
                            .u8(qsb::code::ShaderName)
                            .name("blue")
                            .u8(qsb::code::Rotate)
                            .floats({0, 0, 20})
                            .u8(qsb::code::Translate)
                            .floats({0.5f, 0.75f, 0}));
    file.u8(qsb::code::Primitive)
        .u8(qsb::code::Disk)
        .floats({0, -1, 0, 0, 1, 0, 6})
        .u8(qsb::code::ShaderName)
        .name("blue")
        .u8(qsb::code::EndCall);
    testing::writeBytes(dir.file("binary.qsb"), file);

    const std::string parts[] = {
        "Sphere ((0, 0, 0), 1)", "Box ((1.5, -1, -0.5), (2.5, 0, 0.5))",
        "Cylinder ((-2, -1, 0), (-2, 1, 0), 0.5)",
        "TriangularPatch ((-1, 1, 1), (0, 0, -1), (1, 1, 1), (0, 0, -1), (0, 2, 1), (0, 0, -1))"};
    std::string ascii =
        "Version : 1.2\n"
        "Camera [ (0, 2, -10), (0, 0, 0), (0, 1, 0) FieldOfView 40 Format (48, 32) FrameAspectRatio 1.5 ]\n"
        "Background '0.25, 0, 0.5'\n"
        "PointLight [ (-5, 10, -10) Intensity (1, 1, 1) LightingAttributes 3 ]\n"
        "SpotLight [ (0, 10, -8), (0, 0, 0), 1, 30, 20 Intensity (1, 0.5, 1) LightingAttributes 3 ]\n";
    for (const std::string& p : parts) {
        ascii += "Shape [ " + p + " red Scale (0.5, 0.5, 0.5) Rotate (0, 30, 0) Translate (-1, 0, 0) ]\n";
        ascii +=
            "Shape [ " + p +
            " blue Scale (0.5, 0.5, 0.5) Rotate (0, -30, 0) Translate (1.5, 0, 0) Shear (0, 0.25, 0, 0, 0, 0)"
            " Transform (1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.5, 0, 1) ]\n";
    }
    for (const auto& t : fan) {
        std::string corners;
        for (std::size_t i = 0; i < t.size(); i += 3)
            corners += (i ? ", (" : "(") + std::to_string(t[i]) + ", " + std::to_string(t[i + 1]) + ", " +
                       std::to_string(t[i + 2]) + ")";
        ascii +=
            "Shape [ TriangularPatch (" + corners + ") blue Rotate (0, 0, 20) Translate (0.5, 0.75, 0) ]\n";
    }
    ascii += "Shape [ Disk ((0, -1, 0), (0, 1, 0), 6) blue ]\n";
    dir.write("ascii.qsb", ascii);

    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", dir.path()});
    for (const char* name : {"binary", "ascii"}) {
        testing::ProgramResult r = testing::runProgram(QUORVA_BINARY, {name, "-m"}, o);
        ASSERT_EQ(r.status, 0) << name << "\n" << r.output;
    }
    std::string binaryImage = testing::readFile(dir.file("binary.tga"));
    ASSERT_GT(binaryImage.size(), 18u);
    EXPECT_TRUE(binaryImage == testing::readFile(dir.file("ascii.tga")));
}

// The global-illumination values of the general and sky-dome records (ComputeIrradiance, SkyLight,
// Photons, Media) give the images of their ascii statements, and each changes the image.
TEST(BinarySceneRender, GlobalIlluminationRecordsMatchTheirAsciiTwins) {
    testing::TemporaryFolder dir;
    const std::string shader =
        "Declare clay = Shader [ PlainSurface [ Color '0.7, 0.4, 0.3' Ka 0.05 Kd 0.9 ] ]\n";
    qsb::CameraRecord cam;
    cam.location[1] = 3;
    cam.location[2] = -8;
    cam.lookAt[1] = 0.75f;
    cam.width = 16;
    cam.height = 12;
    cam.aspectRatio = 1.5f;
    cam.fieldOfView = 45;
    const std::string asciiCamera =
        "Version : 1.2\n"
        "Camera [ (0, 3, -8), (0, 0.75, 0), (0, 1, 0) FieldOfView 45 Format (16, 12) FrameAspectRatio 1.5 "
        "]\n";
    const Bytes shapes = Bytes()
                             .u8(qsb::code::Primitive)
                             .u8(qsb::code::Box)
                             .floats({-20, -0.25f, -20, 20, 0, 20})
                             .u8(qsb::code::ShaderName)
                             .name("clay")
                             .u8(qsb::code::EndCall)
                             .u8(qsb::code::Primitive)
                             .u8(qsb::code::Sphere)
                             .floats({0, 1, 0, 1})
                             .u8(qsb::code::ShaderName)
                             .name("clay")
                             .u8(qsb::code::EndCall);
    const std::string asciiShapes =
        "Shape [ Box ((-20, -0.25, -20), (20, 0, 20)) clay ]\nShape [ Sphere ((0, 1, 0), 1) clay ]\n";
    qsb::PointLightRecord light;
    light.position[0] = -5;
    light.position[1] = 10;
    light.position[2] = -10;
    light.media = 1;
    const Bytes lightBytes = Bytes().u8(qsb::code::PointLight).raw(light);
    const std::string asciiLight =
        "PointLight [ (-5, 10, -10) Intensity (1, 1, 1) LightingAttributes 3 MediaInteraction ]\n";

    qsb::OptionsRecord options;
    options.irradianceSamples = 20;
    qsb::GeneralRecord irradiance;
    irradiance.computeIrradiance = 4;
    qsb::SkyDomeRecord sky;
    sky.diffuseSolarRadiation = 1;
    sky.samples = 20;
    sky.skyColour[2] = 0.5f;
    qsb::GeneralRecord photonsAndMedia;
    photonsAndMedia.photonsK = 20;
    photonsAndMedia.photonsN = 500;
    photonsAndMedia.photonsJ = 10;
    photonsAndMedia.mediaScattering = 1;
    photonsAndMedia.mediaSamples = 4;
    photonsAndMedia.mediaDensity = 10;
    photonsAndMedia.mediaColour[0] = photonsAndMedia.mediaColour[1] = photonsAndMedia.mediaColour[2] = 1;
    struct Twin {
        std::string name;
        Bytes records;
        std::string ascii;
    };
    const Twin twins[] = {
        {"plain", lightBytes, asciiLight},
        {"irradiance", Bytes(lightBytes) += optionsRecord(options).u8(qsb::code::General).raw(irradiance),
         asciiLight + "Options [ IrradianceSamples 20 ]\nComputeIrradiance 4\n"},
        {"sky", Bytes().u8(qsb::code::SkyDome).raw(sky), "SkyLight (20, '1, 1, 0.5', 1)\n"},
        {"photons", Bytes(lightBytes).u8(qsb::code::General).raw(photonsAndMedia),
         asciiLight + "Photons (20, 500, 10, 0)\nMedia (1, 4, 10, 0.5, 0, 1, '1, 1, 1')\n"},
    };
    testing::ProgramOptions o;
    o.workingDirectory = dir.path();
    o.environment.push_back({"QUORVA_ROOT", dir.path()});
    std::string plain;
    for (const Twin& twin : twins) {
        const std::string b = twin.name + "_binary", a = twin.name + "_ascii";
        dir.write(b + ".qsh", shader);
        dir.write(a + ".qsh", shader);
        Bytes file = sceneHeader() += camera(cam);
        file += twin.records;
        file += shapes;
        testing::writeBytes(dir.file(b + ".qsb"), file);
        dir.write(a + ".qsb", asciiCamera + twin.ascii + asciiShapes);
        for (const std::string& name : {b, a}) {
            testing::ProgramResult r = testing::runProgram(QUORVA_BINARY, {name, "-m"}, o);
            ASSERT_EQ(r.status, 0) << name << "\n" << r.output;
        }
        const std::string image = testing::readFile(dir.file(b + ".tga"));
        ASSERT_GT(image.size(), 18u);
        EXPECT_TRUE(image == testing::readFile(dir.file(a + ".tga"))) << twin.name;
        if (plain.empty())
            plain = image;
        else
            EXPECT_FALSE(image == plain) << twin.name << " renders as the scene without it";
    }
}

}  // namespace
}  // namespace quorva
