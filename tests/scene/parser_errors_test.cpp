// Parser: syntax errors and their positions, the forms the language rejects, names of the wrong kind,
// and the bound on nesting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "parser_fixture.h"

namespace quorva {
namespace {

using testing::parseError;
using testing::parseFailure;

TEST(ParserErrors, SyntaxErrorNamesFileAndLine) {
    FatalError e =
        parseError("Version: 1.3\nOptions [ MaxRayLevel 4 ]\nCamera [ (0,0,0) (0,0,1) ]\n", "scene.qsb");
    EXPECT_STREQ(e.what(), "parse error");
    EXPECT_EQ(e.file(), "scene.qsb");
    EXPECT_EQ(e.line(), 3);
}

TEST(ParserErrors, ErrorAtEndOfInputStillHasAPosition) {
    FatalError empty = parseError("", "empty.qsb");
    EXPECT_STREQ(empty.what(), "parse error");
    EXPECT_TRUE(empty.hasPosition());
    EXPECT_EQ(empty.file(), "empty.qsb");
    EXPECT_EQ(empty.line(), 1);

    FatalError unfinished = parseError("Version: 1.3\nOptions [\n  MaxRayLevel 3\n", "open.qsb");
    EXPECT_EQ(unfinished.file(), "open.qsb");
    EXPECT_EQ(unfinished.line(), 4);
    // Only a comment, without a final newline: "//" is two slashes there.
    EXPECT_EQ(parseFailure("// nothing"), "parse error");
}

class IncludeFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("quorva_parser_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& text) {
        std::string path = (dir_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(IncludeFiles, ErrorInsideIncludedFileNamesThatFile) {
    std::string inc = write("inc.qsb", "Options [ MaxRayLevel 2 ]\nOptions [ ]\n");
    FatalError e = parseError("Version: 1.3\nReadArchive \"" + inc + "\"\nVersion: 1.3\n", "main.qsb");
    EXPECT_STREQ(e.what(), "parse error");
    EXPECT_EQ(e.file(), inc);
    EXPECT_EQ(e.line(), 2);
}

TEST_F(IncludeFiles, AfterTheIncludeEndsErrorsNameTheIncludingFile) {
    std::string inc = write("ok.qsb", "Declare a = 4\n\n\n");
    SceneState scene;
    try {
        parseText(scene, "Version: 1.3\nReadArchive \"" + inc + "\"\nVersion: a\nOptions [ ]\n", "main.qsb");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_EQ(e.file(), "main.qsb");
        EXPECT_EQ(e.line(), 4);
    }
    EXPECT_EQ(scene.frame.options.version, 4);  // the included declaration was seen by the next statement
}

TEST_F(IncludeFiles, IncludeInBranchNotTakenIsNotRead) {
    SceneState scene;
    testing::parseOk(scene,
                     "if (1 > 2) { ReadArchive \"" + (dir_ / "missing.qsb").string() + "\" }\nVersion: 1");
    EXPECT_EQ(scene.frame.options.version, 1);
}

TEST(ParserErrors, EmptyFormsAreRejected) {
    EXPECT_EQ(parseFailure("Options [ ]"), "parse error");
    EXPECT_EQ(parseFailure("Camera [ (0,0,-1), (0,0,0), (0,1,0) ]"), "parse error");
    EXPECT_EQ(parseFailure("Sequence [ ]"), "parse error");
    EXPECT_EQ(parseFailure("if (1 < 2) { }"), "parse error");
    EXPECT_EQ(parseFailure("if (1 < 2) { Version: 1 } else { }"), "parse error");
    EXPECT_EQ(parseFailure("Shape [ ]"), "parse error");
}

TEST(ParserErrors, ConditionsMustCompare) {
    EXPECT_EQ(parseFailure("if (1 != 2) { Version: 1 }"), "parse error");
    EXPECT_EQ(parseFailure("if (1) { Version: 1 }"), "parse error");
    EXPECT_EQ(parseFailure("if (1 < 2 && 3) { Version: 1 }"), "parse error");
    // Still checked where the condition is not evaluated.
    EXPECT_EQ(parseFailure("if (1 > 2) { if (1) { Version: 1 } }"), "parse error");
    EXPECT_EQ(parseFailure("if (!(1 > 2) || (3 <= 2 && 1 == 1)) { Version: 1 }"), "");
}

TEST(ParserErrors, BranchNotTakenMustStillBeWellFormed) {
    EXPECT_EQ(parseFailure("if (1 > 2) { Options [ MaxRayLevel ] }"), "parse error");
    EXPECT_EQ(parseFailure("if (1 > 2) { Options [ MaxRayLevel 99 ] } Version: 1"), "");
}

TEST(ParserErrors, NamesOfTheWrongKind) {
    EXPECT_EQ(parseFailure("Shape [ Sphere((0,0,0), 1) plastic ]"),
              "Shader \"plastic\" not found in symbol table");
    EXPECT_EQ(parseFailure("Declare a = 1\nShape [ Sphere((0,0,0), 1) a ]"),
              "Can't find Shader \"a\" in symbol table");
    EXPECT_EQ(parseFailure("Camera [ (0,0,0), (0,0,1), (0,1,0) spin ]"),
              "Can't find Transformation \"spin\" in symbol table");
    EXPECT_EQ(parseFailure("Declare s = Shader [ PlainSurface [ ] ]\nDeclare a = 2 * s"),
              "Can't find expression \"s\" in symbol table");
    EXPECT_EQ(parseFailure("Declare s = Shader [ PlainSurface [ ] ]\n"
                           "Declare i = Shader [ Indexed [ 0.5, s ] ]"),
              "Can't find SpectrumOfShaders \"s\" in symbol table");
    EXPECT_EQ(parseFailure("Solid [ lump + lump ]"), "Can't find Shape \"lump\" in symbol table");
}

TEST(ParserErrors, DeepNestingStopsCleanly) {
    const std::string overflow = "parser stack overflow";
    EXPECT_EQ(parseFailure("Version: " + std::string(100000, '(') + "1" + std::string(100000, ')')),
              overflow);
    EXPECT_EQ(parseFailure("Version: " + std::string(100000, '-') + "1"), overflow);
    std::string power = "Version: 2";
    for (int i = 0; i < 50000; ++i) power += "^1";
    EXPECT_EQ(parseFailure(power), overflow);
    std::string ifs;
    for (int i = 0; i < 20000; ++i) ifs += "if (1 < 2) {";
    EXPECT_EQ(parseFailure(ifs), overflow);
    EXPECT_EQ(
        parseFailure("Declare a = Solid [ Sphere((0,0,0),1) ]\nSolid [ " + std::string(100000, '~') + "a ]"),
        overflow);
    // Nesting well inside the bound is fine.
    EXPECT_EQ(parseFailure("Version: " + std::string(100, '(') + "1" + std::string(100, ')')), "");
}

}  // namespace
}  // namespace quorva
