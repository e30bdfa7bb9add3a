// 3ds2qsb on models written by other tools (examples/converter): the triangles and the box of each
// format, scenes that render at once where the model brings no light and no camera, textures named in
// another case than on disk, and damaged files refused without output.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "image/image_readers.h"
#include "support/run_program.h"

namespace quorva::converter {
namespace {

using quorva::testing::ProgramResult;
using quorva::testing::readFile;

struct Picture {
    unsigned width = 0, height = 0;
    std::vector<std::array<int, 3>> rgb;  // row 0 at the top
    int brightness(std::size_t i) const { return rgb[i][0] + rgb[i][1] + rgb[i][2]; }
};

// The example models copied into a fresh folder.
struct Models {
    quorva::testing::TemporaryFolder folder;
    Models() {
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(QUORVA_SOURCE_DIR) + "/examples/converter"))
            std::filesystem::copy_file(entry.path(), folder.file(entry.path().filename().string()));
    }
    ProgramResult run(const char* program, const std::vector<std::string>& arguments) const {
        quorva::testing::ProgramOptions o;
        o.workingDirectory = folder.path();
        o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
        return quorva::testing::runProgram(program, arguments, o);
    }
    ProgramResult convert(const std::vector<std::string>& arguments) const {
        return run(QUORVA_CONVERTER_BINARY, arguments);
    }
    Picture render(const std::string& scene) const {
        ProgramResult r = run(QUORVA_BINARY, {scene, "-o", scene + "_image", "-m"});
        EXPECT_EQ(r.status, 0) << scene << "\n" << r.output;
        Picture p;
        std::FILE* f = std::fopen(folder.file(scene + "_image.tga").c_str(), "rb");
        if (!f) return p;
        ImageFile image;
        readTargaImage(f, image);
        std::fclose(f);
        p.width = image.width;
        p.height = image.height;
        int bytes = image.bitsPerPixel / 8;
        for (unsigned y = 0; y < image.height; ++y) {
            const auto& row = image.rows[(image.orientation & 0x20) ? y : image.height - 1 - y];
            for (unsigned x = 0; x < image.width; ++x)
                p.rgb.push_back({row[x * bytes + 2], row[x * bytes + 1], row[x * bytes]});
        }
        return p;
    }
    std::string text(const std::string& name) const { return readFile(folder.file(name)); }
};

TEST(ModelFormats, EachFormatGivesItsTrianglesAndBox) {
    Models m;
    const std::string unit = "(-0.5000, -0.5000, -0.5000) - (0.5000, 0.5000, 0.5000)";
    const std::string two = "(-1.0000, -1.0000, -1.0000) - (1.0000, 1.0000, 1.0000)";
    const struct {
        std::vector<std::string> arguments;
        int patches;
        std::string extent;
    } cases[] = {
        {{"box.obj"}, 12, unit},
        {{"cube_usemtl.obj"}, 12, "(0.0000, -1.0000, 0.0000) - (1.0000, 0.0000, 1.0000)"},  // y up turned
        {{"BoxTextured.gltf"}, 12, unit},
        {{"cube.ply", "-b"}, 12, "(0.0000, 0.0000, 0.0000) - (1.0000, 1.0000, 1.0000)"},  // z up kept
        {{"triangle.stl", "-m"}, 1, "(-1.0000, -1.0000, 0.0000) - (1.0000, 1.0000, 0.0000)"},
        {{"cube.fbx"}, 12, two},
        {{"duck.dae"}, 4212, "(-0.6930, -0.5393, 0.0993) - (0.9618, 0.6133, 1.6397)"},
        {{"cube"}, 12, two},        // the 3DS reader
        {{"cube", "-i"}, 12, two},  // the same file through the general reader
    };
    for (const auto& c : cases) {
        ProgramResult r = m.convert(c.arguments);
        ASSERT_EQ(r.status, 0) << c.arguments[0] << "\n" << r.output;
        EXPECT_NE(r.output.find(std::to_string(c.patches) +
                                " triangular patches all in all.\nModel extent: " + c.extent + "\n"),
                  std::string::npos)
            << r.output;
    }
    // The materials of the OBJ file give one solid each; the duck brings its own light and camera.
    EXPECT_NE(m.convert({"cube_usemtl.obj"}).output.find("3 solids written."), std::string::npos);
    ProgramResult duck = m.convert({"duck.dae", "-v", "duck"});
    EXPECT_EQ(duck.output.find("default"), std::string::npos) << duck.output;
    EXPECT_NE(m.text("duck.qsh").find("ImageFile(\"duckCM.tga\",NONE)"), std::string::npos);
    EXPECT_NE(m.text("duck.qsb").find(" FieldOfView 37.85\n"), std::string::npos);  // its vertical angle
    ProgramResult bare = m.convert({"box.obj", "-n", "-v", "bare"});
    EXPECT_NE(bare.output.find("No camera exported to this QSB file.\n"), std::string::npos);
    EXPECT_EQ(m.text("bare.qsb").find("Light"), std::string::npos);
}

TEST(ModelFormats, ModelsWithoutLightAndCameraRenderLitAndWhole) {
    Models m;
    ASSERT_EQ(m.convert({"box.obj"}).status, 0);
    ASSERT_EQ(m.convert({"box.obj", "-b", "-v", "binary"}).status, 0);
    // The same camera, lights and shader on a Box of the model's extent: the faces of the converted
    // cube must face out (inward normals leave the lit faces black).
    std::string scene = m.text("box.qsb");
    std::size_t include = scene.find("ReadArchive \"QSBbox.qsb\"");
    ASSERT_NE(include, std::string::npos);
    scene.replace(include, 24, "Shape [ Box ((-0.5, -0.5, -0.5), (0.5, 0.5, 0.5)) Default ]");
    m.folder.write("box_ref.qsb", scene);
    m.folder.write("box_ref.qsh", m.text("box.qsh"));
    Picture model = m.render("box"), binary = m.render("binary"), box = m.render("box_ref");
    ASSERT_EQ(model.rgb.size(), 320u * 240u);
    ASSERT_EQ(box.rgb.size(), model.rgb.size());
    ASSERT_EQ(binary.rgb.size(), model.rgb.size());
    long covered = 0, differ = 0, light = 0, reference = 0;
    for (std::size_t i = 0; i < model.rgb.size(); ++i) {
        covered += box.brightness(i) > 0;
        differ += (box.brightness(i) > 0) != (model.brightness(i) > 0) ||
                  (binary.brightness(i) > 0) != (model.brightness(i) > 0);
        light += model.brightness(i);
        reference += box.brightness(i);
    }
    EXPECT_GT(covered, 320 * 240 / 10);
    EXPECT_LT(differ, covered / 100);
    EXPECT_GT(light, reference * 9 / 10);
    EXPECT_LT(light, reference * 11 / 10);

    // A model of another shape, its own light and camera left out: lit, and nothing touches the edge
    // of the frame.
    ASSERT_EQ(m.convert({"duck.dae", "-o", "camera1", "-o", "directionalLight1", "-v", "free"}).status, 0);
    for (const Picture& p : {model, m.render("free")}) {
        long lit = 0, edge = 0;
        for (unsigned y = 0; y < p.height; ++y)
            for (unsigned x = 0; x < p.width; ++x) {
                bool on = p.brightness(y * p.width + x) > 30;
                lit += on;
                edge += on && (x == 0 || y == 0 || x + 1 == p.width || y + 1 == p.height);
            }
        EXPECT_GT(lit, 2000);
        EXPECT_EQ(edge, 0);
    }
}

// An uncompressed 24-bit Targa image of 8 x 8 pixels: red, green over blue, yellow.
std::string quadrants() {
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = tga[14] = 8;
    tga[16] = 24;  // rows bottom first
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool top = y >= 4, right = x >= 4;
            bool r = top != right, g = right, b = !top && !right;
            tga += {static_cast<char>(b ? 255 : 0), static_cast<char>(g ? 255 : 0),
                    static_cast<char>(r ? 255 : 0)};
        }
    return tga;
}

TEST(ModelFormats, TexturesShowAndAreFoundIgnoringCase) {
    Models m;
    m.folder.write("quadrants.tga", quadrants());
    m.folder.write("quad.mtl", "newmtl Paper\nKd 1 1 1\nmap_Kd QUADRANTS.TGA\n");
    m.folder.write("quad.obj",
                   "mtllib QUAD.MTL\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                   "usemtl Paper\nf 1/1 2/2 3/3 4/4\n");
    ProgramResult r = m.convert({"quad.obj"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("File \"QUAD.MTL\" not found, using \"quad.mtl\""), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("File \"QUADRANTS.TGA\" not found, using \"quadrants.tga\""), std::string::npos);
    std::string shaders = m.text("quad.qsh");
    EXPECT_NE(shaders.find("ImageFile(\"quadrants.tga\",NONE)"), std::string::npos) << shaders;

    // Each colour where the texture puts it, seen from the front: not mirrored, not upside down.
    Picture p = m.render("quad");
    ASSERT_FALSE(p.rgb.empty());
    double sx[4] = {}, sy[4] = {}, n[4] = {};
    for (unsigned y = 0; y < p.height; ++y)
        for (unsigned x = 0; x < p.width; ++x) {
            auto c = p.rgb[y * p.width + x];
            int k = c[0] > 40 && c[1] > 40 && c[2] < 20   ? 3  // yellow
                    : c[0] > 40 && c[1] < 20 && c[2] < 20 ? 0  // red
                    : c[1] > 40 && c[0] < 20 && c[2] < 20 ? 1  // green
                    : c[2] > 40 && c[0] < 20 && c[1] < 20 ? 2  // blue
                                                          : -1;
            if (k < 0) continue;
            sx[k] += x, sy[k] += y, ++n[k];
        }
    for (int k = 0; k < 4; ++k) ASSERT_GT(n[k], 100) << k;
    auto cx = [&](int k) { return sx[k] / n[k]; };
    auto cy = [&](int k) { return sy[k] / n[k]; };
    EXPECT_LT(cx(0), cx(1));
    EXPECT_LT(cx(2), cx(3));
    EXPECT_LT(cy(0), cy(2));
    EXPECT_LT(cy(1), cy(3));

    // The renderer looks the same way, and a texture that is nowhere stays fatal.
    std::string renamed = shaders;
    renamed.replace(renamed.find("quadrants.tga"), 13, "QUADRANTS.TGA");
    m.folder.write("quad.qsh", renamed);
    ProgramResult found = m.run(QUORVA_BINARY, {"quad", "-o", "again"});
    EXPECT_EQ(found.status, 0) << found.output;
    EXPECT_NE(found.output.find("File \"QUADRANTS.TGA\" not found, using \"quadrants.tga\"!"),
              std::string::npos)
        << found.output;
    std::filesystem::rename(m.folder.file("quadrants.tga"), m.folder.file("other.tga"));
    ProgramResult missing = m.run(QUORVA_BINARY, {"quad", "-o", "again"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("Unable to open bitmap file \"QUADRANTS.TGA\""), std::string::npos)
        << missing.output;
}

TEST(ModelFormats, DamagedFilesAreRefusedWithoutOutput) {
    std::string nan =
        "solid x\nfacet normal 0 0 1\nouter loop\nvertex nan 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
        "endloop\nendfacet\nendsolid\n";
    const std::pair<std::string, std::string> cases[] = {
        {"in.obj", ""},
        {"in.gltf", "{\"asset\": "},
        {"in.stl", std::string(80, '\0') + "\x05" + std::string(60, '\0')},  // 5 triangles announced, 1 held
        {"in.stl", nan},
        {"in.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nend_header\n1\n"},
        // The library's reader crashes on this one: the converter reports it and goes on.
        {"in.ply", "ply\nformat binary_little_endian 1.0\nelement " + std::string(64, '\0')},
    };
    for (const auto& c : cases) {
        quorva::testing::TemporaryFolder f;
        f.write(c.first, c.second);
        quorva::testing::ProgramOptions o;
        o.workingDirectory = f.path();
        for (const char* mode : {"-d", "-b", "-m"}) {
            ProgramResult r = quorva::testing::runProgram(QUORVA_CONVERTER_BINARY, {c.first, mode}, o);
            EXPECT_EQ(r.status, 1) << c.first << " " << mode << "\n" << r.output;
            EXPECT_NE(r.output.find("Cannot read model file " + c.first + ": "), std::string::npos)
                << r.output;
            std::size_t files = 0;
            for (const auto& entry : std::filesystem::directory_iterator(f.path()))
                files += !entry.path().empty();
            EXPECT_EQ(files, 1u) << c.first << " " << mode;
        }
    }
    quorva::testing::TemporaryFolder empty;
    quorva::testing::ProgramOptions o;
    o.workingDirectory = empty.path();
    ProgramResult r = quorva::testing::runProgram(QUORVA_CONVERTER_BINARY, {"absent.dae"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Cannot read model file absent.dae: Unable to open file \"absent.dae\".\n");
}

}  // namespace
}  // namespace quorva::converter
