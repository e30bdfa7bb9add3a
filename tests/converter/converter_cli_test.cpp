// The 3ds2qsb program on a model written by an independent 3DS exporter (examples/converter): command
// line messages, output files per mode, frames of a VUE file, and the renderer reading what it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "converter/converter.h"
#include "converter/settings.h"
#include "image/image_readers.h"
#include "support/fatal_text.h"
#include "support/run_program.h"

namespace quorva::converter {
namespace {

using quorva::testing::fatalText;
using quorva::testing::fileExists;
using quorva::testing::readFile;

// The example model copied into a fresh folder.
struct Workspace {
    quorva::testing::TemporaryFolder folder;
    Workspace() {
        for (const char* name : {"cube.3ds", "cube.vue", "wood.tga"})
            std::filesystem::copy_file(std::string(QUORVA_SOURCE_DIR) + "/examples/converter/" + name,
                                       folder.file(name));
    }
    quorva::testing::ProgramResult convert(std::vector<std::string> arguments) const {
        quorva::testing::ProgramOptions o;
        o.workingDirectory = folder.path();
        return quorva::testing::runProgram(QUORVA_CONVERTER_BINARY, arguments, o);
    }
    std::string text(const std::string& name) const { return readFile(folder.file(name)); }
};

std::string commandLineError(std::vector<const char*> args) {
    args.insert(args.begin(), "3ds2qsb");
    return fatalText([&] { parseCommandLine(static_cast<int>(args.size()), args.data()); });
}

TEST(ConverterCommandLine, MessagesAndSettings) {
    EXPECT_EQ(commandLineError({"cube", "-x"}), "\noption 'x' unsupported");
    EXPECT_EQ(commandLineError({"cube", "-f"}), "\noption 'f' requires arguments");
    EXPECT_EQ(commandLineError({"cube", "-f", "1"}), "\noption 'f' requires two arguments");
    EXPECT_EQ(commandLineError({"cube", "-s"}), "\noption 's' requires an argument");
    EXPECT_EQ(commandLineError({"-b"}), "No 3DS file specified");
    // A name with an extension names the file itself; only an empty name or type is refused.
    EXPECT_EQ(commandLineError({"cube."}), "No file extension when giving 3DS file");
    EXPECT_EQ(commandLineError({"models/.obj"}), "No file extension when giving 3DS file");
    EXPECT_EQ(commandLineError({"cube", "-a", "anim.vue"}), "No file extension with option -a");
    EXPECT_EQ(commandLineError({"cube", "-v", "out.qsb"}), "No file extension with option -v");
    EXPECT_EQ(commandLineError({"cube", "-f", "3", "2"}),
              "Start frame can't be greater then End frame with option -f");

    const char* args[] = {"3ds2qsb", "models/cube", "-m", "-b", "-d", "-s", "200", "-o", " \"Box 1\" ",
                          "-o",      "'Lamp'",      "-f", "2",  "4",  "-f", "0",   "9"};
    const char* named[] = {"3ds2qsb", "models.v2/duck.dae", "-n", "-i"};
    Settings d = parseCommandLine(4, named);
    EXPECT_EQ(d.inputBase, "models.v2/duck");
    EXPECT_EQ(d.inputExtension, ".dae");
    EXPECT_TRUE(d.assimp && !d.defaultView);
    Settings s = parseCommandLine(17, args);
    EXPECT_TRUE(s.mesh && !s.declare && !s.binary);  // -m wins over -d and -b in any order
    EXPECT_TRUE(s.inputExtension.empty() && !s.assimp && s.defaultView);
    EXPECT_EQ(s.smoothingAngle, 60);  // outside 0..180
    EXPECT_EQ(s.excluded, (std::vector<std::string>{"Box 1", "Lamp"}));
    EXPECT_EQ(s.startFrame, 2);  // the first -f counts
    EXPECT_EQ(s.endFrame, 4);
    OutputNames names = outputNames(s, 3);
    EXPECT_EQ(names.main, "models/cube0003.qsb");
    EXPECT_EQ(names.shader, "models/cube0003.qsh");
    EXPECT_EQ(names.geometry, "models/QSBcube0003.msh");  // the prefix goes on the file name
    s.outputBase = std::string(80, 'n');
    std::string note;
    EXPECT_EQ(outputNames(s, 1, &note).main, std::string(72, 'n') + "0001.qsb");
    EXPECT_EQ(note, std::string(72, 'n'));
}

TEST(ConverterProgram, UsageAndFailuresEndWithStatusOne) {
    Workspace w;
    auto usage = w.convert({});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.output, UsageText);
    auto missing = w.convert({"nothing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "\n3DS input file nothing.3ds not found!\n");
    auto mesh = w.convert({"cube", "-m", "-v", "no/such/folder/cube"});
    EXPECT_EQ(mesh.status, 1);
    EXPECT_EQ(mesh.output, "Failed to create the MeSH file no/such/folder/QSBcube.msh!\n");
}

TEST(ConverterProgram, AsciiFilesOfTheExportedCube) {
    Workspace w;
    auto r = w.convert({"cube", "-d"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\n\nProcess complete.\n2 solids written.\n12 triangular patches all in all.\n"),
              std::string::npos);
    std::string main = w.text("cube.qsb");
    EXPECT_EQ(
        main.substr(0, 107),
        "// Quillbarrow QSB-Structure\n\nPointLight [ (4.0000, -3.0000, 6.0000) Intensity '1.0000, 1.0000, "
        "1.0000' ]\n\n");
    EXPECT_NE(
        main.find("Camera [\n (5.0000, -6.0000, 4.0000),(0.0000, 0.0000, 0.0000),(0, 0, 1)\n FieldOfView "
                  "53.55\n FrameAspectRatio -1.333\n Format(320,240)\n]\n\nReadArchive \"QSBcube.qsb\"\n\n"),
        std::string::npos);
    EXPECT_NE(main.find("defaultobject_Wood_1\t// centered at (0.00, 0.00, 0.00) - shader: Wood_2\n"),
              std::string::npos);
    std::string shaders = w.text("cube.qsh");
    EXPECT_EQ(shaders.substr(0, 25), "ReadArchive \"statics.qsb\"");
    EXPECT_NE(shaders.find("Declare Wood_2 = Shader [ FunctionalSurface ["), std::string::npos);
    std::string geometry = w.text("QSBcube.qsb");
    EXPECT_NE(
        geometry.find("Declare defaultobject_Wood_1 = Solid [\n Shape [ TriangularPatch((-1.0000, 1.0000, "
                      "-1.0000), (0.0000, 1.0000, 0.0000) UV=0.000,0.000, ("),
        std::string::npos);
}

TEST(ConverterProgram, FramesOfAVueFile) {
    Workspace w;
    std::string vue = "VERSION 201\n";
    for (int f = 0; f < 5; ++f)
        vue += "frame " + std::to_string(f) + "\ntransform \"defaultobject_Wood_1\" 2 0 0 0 1 0 0 0 1 0 0 " +
               std::to_string(f) + "\n";
    w.folder.write("anim.vue", vue);
    auto one = w.convert({"cube", "-a", "anim", "-f", "3", "3", "-v", "shot"});
    ASSERT_EQ(one.status, 0) << one.output;
    EXPECT_NE(one.output.find("\n- Processing frame 3/3 -\n"), std::string::npos);
    EXPECT_TRUE(fileExists(w.folder.file("shot0003.qsb")));
    EXPECT_FALSE(fileExists(w.folder.file("shot0002.qsb")));
    EXPECT_NE(w.text("QSBshot0003.qsb")
                  .find(" Wood_2\nScale(2.000, 1.000, 1.000) Translate(0.000, 0.000, 3.000) ]"),
              std::string::npos);
    auto all = w.convert({"cube", "-a", "anim", "-b"});  // every frame from 0
    ASSERT_EQ(all.status, 0) << all.output;
    EXPECT_TRUE(fileExists(w.folder.file("cube0004.qsb")));
    EXPECT_EQ(readFile(w.folder.file("cube0004.qsb")).substr(0, 12), std::string("QUILLBARROW\x03", 12));
}

// Pixels of a rendered Targa image: brightness per pixel (sum of the three channels).
std::vector<int> renderedPixels(const Workspace& w, const std::string& scene) {
    quorva::testing::ProgramOptions o;
    o.workingDirectory = w.folder.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    auto r = quorva::testing::runProgram(QUORVA_BINARY, {scene, "-o", scene + "_image", "-m"}, o);
    EXPECT_EQ(r.status, 0) << scene << "\n" << r.output;
    std::vector<int> pixels;
    std::FILE* f = std::fopen(w.folder.file(scene + "_image.tga").c_str(), "rb");
    if (!f) return pixels;
    ImageFile image;
    readTargaImage(f, image);
    std::fclose(f);
    int bytes = image.bitsPerPixel / 8;
    for (const auto& row : image.rows)
        for (unsigned x = 0; x < image.width; ++x)
            pixels.push_back(row[x * bytes] + row[x * bytes + 1] + row[x * bytes + 2]);
    return pixels;
}

TEST(ConverterProgram, AllThreeOutputsRenderTheSameLitCube) {
    Workspace w;
    // The example's last frame: the cube turned and lifted by its VUE file.
    ASSERT_EQ(w.convert({"cube", "-a", "cube", "-f", "2", "2", "-b", "-v", "binary"}).status, 0);
    ASSERT_EQ(w.convert({"cube", "-a", "cube", "-f", "2", "2", "-m", "-v", "mesh"}).status, 0);
    ASSERT_EQ(w.convert({"cube", "-a", "cube", "-f", "2", "2", "-v", "ascii"}).status, 0);
    std::vector<int> binary = renderedPixels(w, "binary0002"), mesh = renderedPixels(w, "mesh0002"),
                     ascii = renderedPixels(w, "ascii0002");
    ASSERT_EQ(binary.size(), 320u * 240u);
    ASSERT_EQ(mesh.size(), binary.size());
    ASSERT_EQ(ascii.size(), binary.size());
    int covered = 0, differ = 0, brightest = 0;
    for (std::size_t i = 0; i < binary.size(); ++i) {
        covered += binary[i] > 0;
        differ += (binary[i] > 0) != (mesh[i] > 0) || (binary[i] > 0) != (ascii[i] > 0);
        brightest = std::max(brightest, binary[i]);
    }
    EXPECT_GT(covered, 2000);          // the cube fills part of the frame
    EXPECT_LT(differ, covered / 100);  // the same silhouette
    EXPECT_GT(brightest, 80);          // faces towards the light are lit (inward normals leave them black)
}

}  // namespace
}  // namespace quorva::converter
