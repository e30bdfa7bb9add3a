// Search path: the folder scan under the root, its limits and messages, and finding files along it.
#include "scene/search_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

namespace fs = std::filesystem;

class SearchPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("quorva_path_" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void folder(const std::string& relative) { fs::create_directories(root / relative); }
    std::string r() const { return root.string(); }
    fs::path root;
};

TEST_F(SearchPathTest, FoldersDepthFirstSortedEachBeforeItsOwn) {
    folder("zeta");
    folder("alpha/inner/deep");
    folder("alpha/beta");
    folder("mid");
    folder("with.ext");  // names with an extension are not folders of the path
    std::ofstream(root / "plainfile") << "x";
    SearchPath path;
    path.scan(r());
    std::vector<std::string> expected{
        "",           r() + "/alpha", r() + "/alpha/beta", r() + "/alpha/inner", r() + "/alpha/inner/deep",
        r() + "/mid", r() + "/zeta"};
    EXPECT_EQ(path.entries(), expected);
}

TEST_F(SearchPathTest, EmptyRootGivesOnlyTheEmptyPrefix) {
    SearchPath path;
    path.scan(r() + "/");
    EXPECT_EQ(path.entries(), std::vector<std::string>{""});
}

TEST_F(SearchPathTest, MissingRootIsFatal) {
    SearchPath path;
    try {
        path.scan(r() + "/absent");
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(),
                     "No folder in Quillbarrow directory.\nYou probably need to reinstall the software !");
    }
}

TEST_F(SearchPathTest, AtMostNinetyNineSubFolders) {
    for (int i = 0; i < 99; ++i) folder(formatText("f%d", i));
    SearchPath path;
    path.scan(r());
    EXPECT_EQ(path.entries().size(), 100u);
    folder("f50/one_more");
    try {
        path.scan(r());
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Too many sub-folders in Quillbarrow directory \"" + r() + "\".\nThe maximum is 99.");
    }
}

TEST_F(SearchPathTest, FindsAlongThePathWithQuotesRemoved) {
    folder("a");
    folder("b");
    std::ofstream(root / "b" / "tex.tga") << "b";
    std::ofstream(root / "a" / "other.tga") << "a";
    SearchPath path;
    path.scan(r());
    EXPECT_EQ(path.find("tex.tga"), r() + "/b/tex.tga");
    EXPECT_EQ(path.find("\"te\"x.tga\""), r() + "/b/tex.tga");
    EXPECT_EQ(path.find("absent.tga"), "");
    // The empty prefix comes first: a name as written wins.
    EXPECT_EQ(path.find((root / "a" / "other.tga").string()), (root / "a" / "other.tga").string());
    std::string found;
    std::FILE* f = path.open("other.tga", "r", &found);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(found, r() + "/a/other.tga");
}

TEST_F(SearchPathTest, NamesOfCaseBlindSystemsFindTheFileOnDisk) {
    folder("a");
    folder("b");
    std::ofstream(root / "a" / "m_rifl.bmp") << "a";
    std::ofstream(root / "a" / "Wall.TGA") << "a";
    std::ofstream(root / "b" / "WALL.tga") << "b";  // as written, later on the path: it wins
    SearchPath path;
    path.scan(r());
    ConsoleCapture capture;
    std::string found;
    std::FILE* f = path.open("M_RIFL.BMP", "rb", &found);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(found, r() + "/a/m_rifl.bmp");
    EXPECT_NE(capture.text().find("File \"M_RIFL.BMP\" not found, using \"" + r() + "/a/m_rifl.bmp\"!"),
              std::string::npos)
        << capture.text();
    capture.clear();
    EXPECT_EQ(path.find("wall.tga"), "");  // as written only, by default (the image resumed)
    EXPECT_EQ(path.find("WALL.tga", SearchPath::Match::IgnoringCase), r() + "/b/WALL.tga");
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(path.find("wall.tga", SearchPath::Match::IgnoringCase), r() + "/a/Wall.TGA");
    EXPECT_EQ(path.find("m_rifl.bmp.x", SearchPath::Match::IgnoringCase), "");
}

TEST_F(SearchPathTest, MissingEnvironmentVariable) {
    const char* saved = std::getenv("QUORVA_ROOT");
    std::string keep = saved ? saved : "";
    ::unsetenv("QUORVA_ROOT");
    SearchPath path;
    try {
        path.scanFromEnvironment();
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "environment variable QUORVA_ROOT not defined");
        EXPECT_EQ(e.report(), "\nERROR: environment variable QUORVA_ROOT not defined!\n");
    }
    ::setenv("QUORVA_ROOT", r().c_str(), 1);
    folder("x");
    path.scanFromEnvironment();
    EXPECT_EQ(path.entries().size(), 2u);
    if (saved)
        ::setenv("QUORVA_ROOT", keep.c_str(), 1);
    else
        ::unsetenv("QUORVA_ROOT");
}

}  // namespace
}  // namespace quorva
