// Every example scene renders: the built renderer runs each examples/**/*.qsb (a small frame each)
// and must finish with status 0 and write a complete Targa image.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/run_program.h"

namespace quorva {
namespace {

std::vector<std::string> exampleScenes() {
    std::vector<std::string> scenes;
    std::filesystem::path root = std::filesystem::path(QUORVA_SOURCE_DIR) / "examples";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        // The demo takes its full size's time: DemoScene renders it small.
        if (entry.path() == root / "demo.qsb") continue;
        if (entry.is_regular_file() && entry.path().extension() == ".qsb") {
            std::string path = entry.path().string();
            scenes.push_back(path.substr(0, path.size() - 4));
        }
    }
    std::sort(scenes.begin(), scenes.end());
    return scenes;
}

class ExampleScene : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleScene, Renders) {
    testing::TemporaryFolder out;
    testing::ProgramOptions o;
    o.workingDirectory = out.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    o.timeoutSeconds = 240;
    std::string base = GetParam();
    testing::ProgramResult r = testing::runProgram(QUORVA_BINARY, {base, "-o", out.file("image"), "-m"}, o);
    ASSERT_FALSE(r.timedOut) << base;
    EXPECT_EQ(r.status, 0) << base << "\n" << r.output;
    // An animation writes numbered frames; a still writes image.tga.
    bool still = testing::fileExists(out.file("image.tga"));
    bool frames = testing::fileExists(out.file("image0000.tga"));
    EXPECT_TRUE(still || frames) << base;
    std::string tga = testing::readFile(out.file(still ? "image.tga" : "image0000.tga"));
    ASSERT_GE(tga.size(), 18u + 27u);
    EXPECT_EQ(tga.substr(18, 26), "Created by Quillbarrow 1.3");
}

std::string sceneName(const ::testing::TestParamInfo<std::string>& info) {
    std::string rel = info.param.substr(std::string(QUORVA_SOURCE_DIR).size() + 10);
    for (char& c : rel)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return rel;
}

// The demo as `make demo` renders it (Targa and PNG), at a small size.
TEST(DemoScene, RendersSmallToTargaAndPng) {
    testing::TemporaryFolder out;
    testing::ProgramOptions o;
    o.workingDirectory = out.path();
    o.environment.push_back({"QUORVA_ROOT", std::string(QUORVA_SOURCE_DIR) + "/share"});
    o.timeoutSeconds = 240;
    testing::ProgramResult r = testing::runProgram(
        QUORVA_BINARY, {std::string(QUORVA_SOURCE_DIR) + "/examples/demo", "-o", "demo", "-p", "-r", "64", "48"},
        o);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;
    // The irradiance cache and the photon maps are at work.
    EXPECT_NE(r.output.find("Computing primary global illumination grid..."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Building Photon maps..."), std::string::npos) << r.output;
    EXPECT_GT(testing::readFile(out.file("demo.tga")).size(), 18u + 64u * 48u / 2);
    EXPECT_EQ(testing::readFile(out.file("demo.png")).substr(1, 3), "PNG");
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleScene, ::testing::ValuesIn(exampleScenes()), sceneName);

}  // namespace
}  // namespace quorva
