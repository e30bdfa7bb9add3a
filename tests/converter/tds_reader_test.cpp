// The 3DS chunk reader on hand-built files: the chunk tree, colours and percentages, meshes, lights and
// cameras, and what corrupt input gets.
#include <gtest/gtest.h>

#include <cmath>

#include "converter/tds_reader.h"
#include "support/fatal_text.h"
#include "tests/converter/chunk_builder.h"

namespace quorva::converter {
namespace {

using namespace testing;
using quorva::testing::fatalText;

struct Read {
    Model model;
    std::string console;
};

Read read(const std::string& data, ReadSettings settings = {}) {
    Read r;
    Console console{[&](const std::string& s) { r.console += s; }};
    r.model = readTds(bytes(data), settings, console);
    return r;
}

std::string error(const std::string& data, ReadSettings settings = {}) {
    return fatalText([&] { read(data, settings); });
}

const std::vector<float> Triangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};

TEST(TdsReader, ChunkTreeAndHeaders) {
    // An editor chunk alone is read with a warning; reading stops at FFFF; anything else is refused.
    Read r = read(chunk(0x3D3D, meshObject("A", Triangle, {0, 1, 2})));
    EXPECT_EQ(r.console.substr(0, 31), "\nWarning: 3DS header missing!\n\n");
    EXPECT_EQ(r.model.meshes.size(), 1u);
    Read stop = read(chunk(0x4D4D, chunk(0xFFFF) + chunk(0x3D3D, meshObject("A", Triangle, {0, 1, 2}))));
    EXPECT_TRUE(stop.model.meshes.empty());
    EXPECT_EQ(error("XYZW"), "Input file must be a 3DS file format");
    // Unknown chunks are skipped at every level.
    EXPECT_EQ(read(file(chunk(0x7777, "xyz") + meshObject("A", Triangle, {0, 1, 2}, chunk(0x9999))))
                  .model.meshes[0]
                  .faces.size(),
              1u);
}

TEST(TdsReader, CorruptInputIsRefused) {
    std::string good = file(meshObject("A", Triangle, {0, 1, 2}));
    EXPECT_EQ(error(good.substr(0, good.size() - 3)), "Corrupt or truncated chunk 0x4D4D in 3DS file");
    // A sub-chunk shorter than its header, and one running past its parent.
    EXPECT_EQ(error(chunk(0x4D4D, u16(0x3D3D) + u32(3))), "Corrupt or truncated chunk 0x3D3D in 3DS file");
    EXPECT_EQ(error(chunk(0x4D4D, u16(0x3D3D) + u32(100))), "Corrupt or truncated chunk 0x3D3D in 3DS file");
    // A vertex count needing more bytes than the chunk holds.
    std::string many =
        chunk(0x4000, cstr("A") + chunk(0x4100, chunk(0x4110, u16(60000) + floats({1, 2, 3}))));
    EXPECT_EQ(error(file(many)), "Corrupt or truncated chunk 0x4110 in 3DS file");
    EXPECT_EQ(error(file(meshObject("Bad", Triangle, {0, 1, 3}))), "Bad vertex index in object \"Bad\"");
    std::string list = chunk(0x4130, cstr("M") + u16(1) + u16(1));
    EXPECT_EQ(error(file(meshObject("Bad", Triangle, {0, 1, 2}, list))), "Bad face index in object \"Bad\"");
    EXPECT_EQ(error(file(chunk(0x1200, percent(3)))), "Color parsing error in 3DS file");
    EXPECT_EQ(error(file(chunk(0xAFFF, chunk(0xA040, rgb(1, 1, 1))))),
              "Percentage parsing error in 3DS file");
    // A name without its terminating zero.
    EXPECT_EQ(error(file(chunk(0x4000, "Name"))), "Corrupt or truncated chunk 0x4000 in 3DS file");
}

TEST(TdsReader, NonFiniteNumbersNameTheirChunk) {
    ReadSettings named;
    named.fileName = "fels.3ds";
    EXPECT_EQ(error(file(chunk(0x1200, rgb(0, NAN, 0))), named),
              "Invalid number in 3DS file fels.3ds (chunk 0x0010)");
    EXPECT_EQ(error(file(chunk(0xAFFF, chunk(0xA050, chunk(0x0031, f32(-INFINITY))))), named),
              "Invalid number in 3DS file fels.3ds (chunk 0x0031)");
    std::string frame = chunk(0x4160, floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, NAN}));
    EXPECT_EQ(error(file(meshObject("A", Triangle, {0, 1, 2}, {}, frame)), named),
              "Invalid number in 3DS file fels.3ds (chunk 0x4160)");
    // What was found counts objects left out with -o, and nothing else.
    ReadSettings skip;
    skip.excluded = {"A"};
    EXPECT_EQ(read(file(meshObject("A", Triangle, {0, 1, 2})), skip).model.objects, 1u);
    EXPECT_EQ(read(file(chunk(0x4000, cstr("Empty")) + chunk(0xAFFF))).model.objects, 0u);
}

TEST(TdsReader, MaterialsAndColours) {
    std::string bytesColour = chunk(0x0011, std::string("\xFF\x00\x33", 3));
    std::string material =
        chunk(0xAFFF, chunk(0xA000, cstr("Mat")) + chunk(0xA020, bytesColour + rgb(0.5f, 0.5f, 0.5f)) +
                          chunk(0xA040, percent(30)) + chunk(0xA050, chunk(0x0031, f32(0.25f))) +
                          chunk(0xA200, chunk(0xA300, cstr("tex.tga")) + percent(80)) + chunk(0xA310) +
                          chunk(0xA080) + chunk(0xA081));
    Read r = read(file(material));
    const Material& m = r.model.materials.at(0);
    EXPECT_EQ(r.console, "\nProcessing: Shader \"Mat\"");
    EXPECT_DOUBLE_EQ(m.diffuse.r, 1.0);
    EXPECT_DOUBLE_EQ(m.diffuse.b, 0.2);
    EXPECT_DOUBLE_EQ(m.shininess, 30);
    EXPECT_DOUBLE_EQ(m.transparency, 0.25);
    EXPECT_EQ(m.textureMap, "tex.tga");  // the percentage after the name
    EXPECT_DOUBLE_EQ(m.texturePercent, 0.8);
    EXPECT_DOUBLE_EQ(m.reflection, 1.0);
    EXPECT_TRUE(m.selfIlluminated && m.twoSided);
    // -g takes the second colour; a black emission colour in A080 is no glow.
    ReadSettings gamma;
    gamma.gamma = true;
    EXPECT_DOUBLE_EQ(read(file(material), gamma).model.materials[0].diffuse.r, 0.5);
    EXPECT_FALSE(read(file(chunk(0xAFFF, chunk(0xA080, rgb(0, 0, 0))))).model.materials[0].selfIlluminated);
}

TEST(TdsReader, MeshesUVsAndMaterialLists) {
    std::string list = chunk(0x4130, cstr("Red") + u16(1) + u16(1));
    std::string uv = chunk(0x4140, u16(2) + floats({0, 0, 1, 1}));
    Read r =
        read(file(meshObject("Box", {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, {0, 1, 2, 1, 3, 2}, list, uv)));
    const Mesh& m = r.model.meshes.at(0);
    EXPECT_EQ(r.console, "\nProcessing: Object \"Box\"Incoherence between u-v coordinates and vertices.\n");
    EXPECT_TRUE(m.u.empty());
    ASSERT_EQ(m.materialNames, (std::vector<std::string>{"Red", "Default"}));
    EXPECT_EQ(m.faces[0].material, 1);
    EXPECT_EQ(m.faces[1].material, 0);
    // -o leaves the object out.
    ReadSettings skip;
    skip.excluded = {"Box"};
    EXPECT_TRUE(read(file(meshObject("Box", Triangle, {0, 1, 2})), skip).model.meshes.empty());
}

TEST(TdsReader, LightsAndCameras) {
    auto light = [](const std::string& name, const std::string& children) {
        return chunk(0x4000, cstr(name) + chunk(0x4600, floats({1, 2, 3}) + rgb(1, 1, 1) + children));
    };
    std::string spot = chunk(0x4610, floats({0, 0, 0, 0, -5}));
    std::string lens10 = chunk(0x4000, cstr("Cam") + chunk(0x4700, floats({0, 0, 10, 0, 0, 0, 0, 10})));
    std::string second = chunk(0x4000, cstr("Cam2") + chunk(0x4700, floats({0, 0, 10, 0, 0, 0, 0, 50})));
    Read r = read(file(light("Off", chunk(0x4620)) + light("Omni", chunk(0x4625) + chunk(0x465B, f32(2))) +
                       light("Spot", spot) + lens10 + second));
    ASSERT_EQ(r.model.pointLights.size(), 1u);  // the light switched off is left out
    EXPECT_TRUE(r.model.pointLights[0].attenuated);
    EXPECT_DOUBLE_EQ(r.model.pointLights[0].multiplier, 2);
    ASSERT_EQ(r.model.spotLights.size(), 1u);
    EXPECT_DOUBLE_EQ(r.model.spotLights[0].falloff, 180);  // falloff <= 0
    EXPECT_DOUBLE_EQ(r.model.spotLights[0].hotspot, 126);  // 0.7 x falloff
    ASSERT_EQ(r.model.cameras.size(), 1u);                 // the first camera only
    EXPECT_EQ(r.model.cameras[0].name, "Cam");
    EXPECT_DOUBLE_EQ(fieldOfView(r.model.cameras[0].lens), 97.75);  // clamped to 15 mm
    EXPECT_DOUBLE_EQ(fieldOfView(42.5), 0.85 * 54.5);
    EXPECT_DOUBLE_EQ(fieldOfView(5000), 0.85 * 2.5);
    ReadSettings named;
    named.cameraName = "Cam2";
    EXPECT_EQ(read(file(lens10 + second), named).model.cameras.at(0).name, "Cam2");
    // The items keep the file's order.
    ASSERT_EQ(r.model.items.size(), 3u);
    EXPECT_EQ(r.model.items[1].kind, SceneItem::Kind::SpotLight);
}

TEST(TdsReader, BackgroundAndFogAreWrittenWhereUsed) {
    std::string fog = chunk(0x2200, floats({0, 10, 100, 70}) + rgb(0.5f, 0.5f, 0.5f));
    std::string layered = chunk(0x2302, floats({1, 3, 0.5f}) + u16(0) + u16(0) + rgb(1, 1, 1));
    // The use chunks may come before the values.
    Read r = read(file(chunk(0x1201) + chunk(0x1200, rgb(0.1f, 0.2f, 0.3f)) + fog + chunk(0x2201) + layered +
                       chunk(0x2303) + chunk(0x1100, cstr("sky.tga")) + chunk(0x1101)));
    const Model& m = r.model;
    ASSERT_EQ(m.items.size(), 4u);
    EXPECT_EQ(m.items[0].kind, SceneItem::Kind::SolidBackground);
    EXPECT_NEAR(m.backgroundColor.g, 0.2, 1e-7);
    EXPECT_DOUBLE_EQ(m.fog.distance, 100);
    EXPECT_NEAR(m.fog.density, 60 * 0.001 / 30, 1e-12);
    EXPECT_DOUBLE_EQ(m.groundFog.distance, 1);
    EXPECT_DOUBLE_EQ(m.groundFog.density, 5);
    EXPECT_TRUE(m.bitmapBackground);
    EXPECT_EQ(m.backgroundBitmap, "sky.tga");
}

}  // namespace
}  // namespace quorva::converter
