// What the 3ds2qsb program leaves when a conversion fails or is refused (damaged input, a write cut
// short by a file-size limit): the files of the output name as they were and nothing else; and a
// model whose object shares its material's name converted in every mode into a scene that renders.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "support/run_program.h"
#include "tests/converter/chunk_builder.h"

namespace quorva::converter {
namespace {

using namespace testing;
using quorva::testing::ProgramResult;

// Every file of a folder with its contents.
std::map<std::string, std::string> folderContents(const std::string& path) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        files[entry.path().filename().string()] = quorva::testing::readFile(entry.path().string());
    return files;
}

struct Folder {
    quorva::testing::TemporaryFolder folder;
    void put(const std::string& name, const std::string& bytes) const { folder.write(name, bytes); }
    ProgramResult convert(const std::vector<std::string>& arguments, const std::string& limit = {}) const {
        quorva::testing::ProgramOptions o;
        o.workingDirectory = folder.path();
        if (limit.empty()) return quorva::testing::runProgram(QUORVA_CONVERTER_BINARY, arguments, o);
        // A write past the limit fails (EFBIG) instead of ending the process.
        std::vector<std::string> shell = {"-c", "trap '' XFSZ; ulimit -f " + limit + "; exec \"$0\" \"$@\"",
                                          QUORVA_CONVERTER_BINARY};
        shell.insert(shell.end(), arguments.begin(), arguments.end());
        return quorva::testing::runProgram("/bin/sh", shell, o);
    }
};

const std::string Lit = chunk(0x4000, cstr("Lamp") + chunk(0x4600, floats({0, -4, 6}) + rgb(1, 1, 1))) +
                        chunk(0x4000, cstr("Cam") + chunk(0x4700, floats({0, -6, 3, 0, 0, 0, 0, 35})));

// A grid of n x n vertices in the plane z = 0, big enough that every kind of output outgrows a small
// file-size limit.
std::string grid(unsigned n) {
    std::vector<float> xyz;
    std::vector<unsigned> faces;
    for (unsigned i = 0; i < n; ++i)
        for (unsigned j = 0; j < n; ++j) xyz.insert(xyz.end(), {i * 0.1f - 2, j * 0.1f - 2, 0});
    for (unsigned i = 0; i + 1 < n; ++i)
        for (unsigned j = 0; j + 1 < n; ++j) {
            unsigned a = i * n + j;
            faces.insert(faces.end(), {a, a + n, a + 1, a + 1, a + n, a + n + 1});
        }
    return file(meshObject("Grid", xyz, faces) + Lit);
}

TEST(ConverterFailure, RefusedInputsLeaveTheOldOutputsAndNoNewFiles) {
    Folder f;
    std::string nan = file(meshObject("A", {0, 0, 0, 1, 0, 0, 0, std::nanf(""), 0}, {0, 1, 2}) + Lit);
    std::string light =
        file(chunk(0x4000, cstr("Lamp") + chunk(0x4600, floats({0, INFINITY, 6}) + rgb(1, 1, 1))));
    std::string camera = file(chunk(0x4000, cstr("Cam") + chunk(0x4700, floats({0, 0, 3, 0, 0, 0, 0, NAN}))));
    std::string editor = file(meshObject("A", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}));
    editor[6] = 0x3E;  // the editor chunk's identifier damaged: the whole editor chunk is skipped
    const std::pair<std::string, std::string> cases[] = {
        {"", "Input file must be a 3DS file format\n"},  // a 0-byte file
        {"text", "Input file must be a 3DS file format\n"},
        {nan, "Invalid number in 3DS file in.3ds (chunk 0x4110)\n"},
        {light, "Invalid number in 3DS file in.3ds (chunk 0x4600)\n"},
        {camera, "Invalid number in 3DS file in.3ds (chunk 0x4700)\n"},
        {editor, "No object found in 3DS file in.3ds\n"},
        {file(chunk(0xAFFF, chunk(0xA000, cstr("OnlyAMaterial")))), "No object found in 3DS file in.3ds\n"},
    };
    for (const auto& [bytes, message] : cases) {
        for (const char* mode : {"-d", "-b", "-m"}) {
            Folder clean;
            clean.put("in.3ds", bytes);
            ProgramResult r = clean.convert({"in", mode});
            EXPECT_EQ(r.status, 1) << mode << " " << message;
            EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
            EXPECT_EQ(folderContents(clean.folder.path()).size(), 1u) << mode << " " << message;
        }
        // Earlier outputs of the name stay as they were.
        f.put("in.3ds", bytes);
        for (const char* name : {"in.qsb", "in.qsh", "QSBin.qsb", "QSBin.msh"}) f.put(name, "old");
        auto before = folderContents(f.folder.path());
        for (const char* mode : {"-d", "-b", "-m"}) {
            EXPECT_EQ(f.convert({"in", mode}).status, 1);
            EXPECT_EQ(folderContents(f.folder.path()), before) << mode << " " << message;
        }
    }
}

TEST(ConverterFailure, WritesCutByAFileSizeLimitLeaveNoPartialOutput) {
    for (const char* mode : {"", "-b", "-m"}) {
        for (const char* limit : {"1", "40"}) {
            Folder f;
            f.put("in.3ds", grid(40));
            std::vector<std::string> arguments = {"in"};
            if (mode[0]) arguments.push_back(mode);
            ProgramResult fresh = f.convert(arguments, limit);
            EXPECT_EQ(fresh.status, 1) << mode << " " << limit;
            EXPECT_NE(fresh.output.find("Error writing geometry QSB file\n"), std::string::npos)
                << fresh.output;
            EXPECT_EQ(folderContents(f.folder.path()).size(), 1u) << mode << " " << limit;
            // Whole outputs of an earlier conversion survive a cut one.
            ASSERT_EQ(f.convert(arguments).status, 0);
            auto whole = folderContents(f.folder.path());
            EXPECT_EQ(f.convert(arguments, limit).status, 1);
            EXPECT_EQ(folderContents(f.folder.path()), whole) << mode << " " << limit;
        }
    }
    // A binary scene has no geometry file: a whole conversion removes the old one of its name.
    Folder f;
    f.put("in.3ds", grid(3));
    f.put("QSBin.qsb", "old");
    ASSERT_EQ(f.convert({"in", "-b"}).status, 0);
    EXPECT_EQ(folderContents(f.folder.path()).count("QSBin.qsb"), 0u);
}

TEST(ConverterFailure, ObjectNamedLikeItsMaterialRendersInEveryMode) {
    // The object and the material share a name, and a second object uses the material after it.
    std::string material = chunk(0xAFFF, chunk(0xA000, cstr("Default")) + chunk(0xA020, rgb(1, 0.2f, 0.2f)));
    auto object = [](const std::string& name, float x) {
        std::string list = chunk(0x4130, cstr("Default") + u16(1) + u16(0));
        return meshObject(name, {x - 1, -1, 0, x + 1, -1, 0, x, 1, 0}, {0, 1, 2}, list);
    };
    Folder f;
    f.put("fels.3ds", file(material + object("Default", -1) + object("Rock", 1) + Lit));
    quorva::testing::ProgramOptions o;
    o.workingDirectory = f.folder.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    for (const char* mode : {"", "-d", "-b", "-m"}) {
        std::string base = std::string("out") + (mode[0] ? mode + 1 : "a");
        std::vector<std::string> arguments = {"fels", "-v", base};
        if (mode[0]) arguments.push_back(mode);
        ASSERT_EQ(f.convert(arguments).status, 0) << mode;
        ProgramResult r = quorva::testing::runProgram(QUORVA_BINARY, {base, "-o", base, "-m"}, o);
        EXPECT_EQ(r.status, 0) << mode << "\n" << r.output;
        EXPECT_TRUE(quorva::testing::fileExists(f.folder.file(base + ".tga"))) << mode;
    }
}

}  // namespace
}  // namespace quorva::converter
