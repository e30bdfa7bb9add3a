// The option-word syntax and the effect and clamps of every option.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"
#include "driver/run_state.h"
#include "scene/scene_state.h"

namespace quorva {
namespace {

std::vector<OptionUse> parse(std::vector<std::string> words, std::string* warnings = nullptr) {
    ConsoleCapture capture;
    auto result = parseOptionWords(words, true);
    if (warnings) *warnings = capture.text();
    return result;
}

std::string letters(const std::vector<OptionUse>& uses) {
    std::string s;
    for (const auto& u : uses) {
        s += static_cast<char>(u.letter);
        for (const auto& a : u.arguments) s += "[" + a + "]";
    }
    return s;
}

TEST(OptionWords, GroupsArgumentsAndEnds) {
    EXPECT_EQ(letters(parse({"-dm", "-k5", "-k", "7", "-r640", "480", "-y", "1", "2"})),
              "dmk[5]k[7]r[640][480]y[1][2]");
    // A word without '-', a lone "-" and "--" end the options; "--" is consumed.
    EXPECT_EQ(letters(parse({"-d", "scene", "-m"})), "d");
    EXPECT_EQ(letters(parse({"-d", "-", "-m"})), "d");
    EXPECT_EQ(letters(parse({"-d", "--", "-m"})), "d");
    // '-' and '@' as later letters of a group; the single-byte letters 0xB5 (one argument) and 0xA3.
    EXPECT_EQ(letters(parse({"-d-@",
                             "-\xB5"
                             "12",
                             "-\xA3"})),
              "d-@\xB5[12]\xA3");
    // A one-argument letter takes the next word even when it looks like an option.
    EXPECT_EQ(letters(parse({"-o", "-d"})), "o[-d]");
}

TEST(OptionWords, MissingLettersWarnUnknownOnesAreRefused) {
    std::string w;
    EXPECT_EQ(letters(parse({"-k"}, &w)), "");
    EXPECT_EQ(w, "WARNING : option 'k' requires an argument!\n");
    EXPECT_EQ(letters(parse({"-r"}, &w)), "");
    EXPECT_EQ(w, "WARNING : option 'r' requires two arguments!\n");
    EXPECT_EQ(letters(parse({"-r", "640"}, &w)), "");
    EXPECT_EQ(w, "WARNING : option 'r' requires arguments!\n");
    try {
        parse({"-d", "-q-"});
        ADD_FAILURE() << "an unknown letter was skipped";
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "option 'q' unsupported");
    }
}

// A word beginning with "--" is never a group holding the delete-inputs letter.
TEST(OptionWords, LongOptions) {
    OptionRequest request;
    EXPECT_EQ(letters(parseOptionWords({"-d", "--help", "-q"}, true, &request)), "d");
    EXPECT_EQ(request, OptionRequest::Usage);
    EXPECT_EQ(letters(parseOptionWords({"-help"}, true, &request)), "");
    EXPECT_EQ(request, OptionRequest::Usage);
    EXPECT_EQ(letters(parseOptionWords({"--version", "-d-"}, true, &request)), "");
    EXPECT_EQ(request, OptionRequest::Version);
    EXPECT_EQ(letters(parseOptionWords({"-o", "--help", "--", "--help"}, true, &request)), "o[--help]");
    EXPECT_EQ(request, OptionRequest::Render);
    for (const char* word : {"--threads", "---", "--d-"}) {
        try {
            parseOptionWords({word, "2"}, true);
            ADD_FAILURE() << word << " was read";
        } catch (const FatalError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Unknown option ") + word);
        }
    }
}

TEST(OptionWords, NumbersReadLikeTheStandardConversion) {
    EXPECT_EQ(readInteger("12"), 12);
    EXPECT_EQ(readInteger("  -7x"), -7);
    EXPECT_EQ(readInteger("abc"), 0);
    EXPECT_EQ(readInteger(""), 0);
    EXPECT_EQ(readInteger("99999999999999"), 2147483647);
}

class ApplyOptions : public ::testing::Test {
  protected:
    void apply(std::vector<std::string> words, std::size_t scenes = 1) {
        ConsoleCapture capture;
        applyOptions(parseOptionWords(words, true), run, scene, scenes, true);
        warnings = capture.text();
    }
    std::string fatalOf(std::vector<std::string> words) {
        try {
            apply(std::move(words));
        } catch (const FatalError& e) {
            return e.what();
        }
        return "";
    }
    void TearDown() override {
        diagnostics().messagesOn = diagnostics().warningsOn = true;
        diagnostics().pauseOnError = false;
    }
    RunState run;
    SceneState scene;
    std::string warnings;
};

TEST_F(ApplyOptions, AntialiasingClamps) {
    apply({"-A", "5"});
    EXPECT_EQ(scene.frame.options.antialiasing, 15);
    apply({"-A", "10"});
    EXPECT_EQ(scene.frame.options.antialiasing, 20);
    apply({"-A", "0"});
    EXPECT_EQ(scene.frame.options.antialiasing, 0);
    apply({"-a", "10"});
    EXPECT_EQ(scene.frame.options.antialiasing, 10);
    EXPECT_FALSE(scene.frame.options.undersampling);
    // Levels out of range are clamped, with a warning.
    apply({"-A", "99"});
    EXPECT_EQ(scene.frame.options.antialiasing, 20);
    EXPECT_NE(warnings.find("Bad value specified with option -A. Must be 0 to 10"), std::string::npos);
    apply({"-A", "-3"});
    EXPECT_EQ(scene.frame.options.antialiasing, 0);
    apply({"-a", "99"});
    EXPECT_EQ(scene.frame.options.antialiasing, 10);
    apply({"-u", "11"});
    EXPECT_EQ(scene.frame.options.antialiasing, 10);
    EXPECT_TRUE(scene.frame.options.undersampling);
    apply({"-u", "4"});
    EXPECT_EQ(scene.frame.options.antialiasing, 4);
    EXPECT_TRUE(scene.frame.options.undersampling);
    apply({"-u", "4", "-a", "2"});  // later overrides earlier
    EXPECT_EQ(scene.frame.options.antialiasing, 2);
    EXPECT_FALSE(scene.frame.options.undersampling);
}

TEST_F(ApplyOptions, LoadAndSaveFlagsAddUp) {
    apply({"-l", "3"});
    EXPECT_TRUE(run.photonMapLoad);
    EXPECT_FALSE(run.irradianceLoad);
    apply({"-l", "2"});
    EXPECT_FALSE(run.photonMapLoad);
    EXPECT_TRUE(run.irradianceLoad);
    apply({"-l", "1", "-l", "1"});  // 1 + 1 = 2
    EXPECT_FALSE(run.photonMapLoad);
    EXPECT_TRUE(run.irradianceLoad);
    apply({"-s", "2"});
    EXPECT_TRUE(run.irradianceSave);
    EXPECT_FALSE(run.photonMapSave);
}

TEST_F(ApplyOptions, ResolutionKeepsTheSignOfTheAspectRatio) {
    scene.frame.camera.frameAspectRatio = -1.0;
    apply({"-r", "640", "480"});
    EXPECT_EQ(scene.frame.camera.width, 640);
    EXPECT_EQ(scene.frame.camera.height, 480);
    EXPECT_NEAR(scene.frame.camera.frameAspectRatio, -1.3333333, 1e-6);
    scene.frame.camera.frameAspectRatio = 0;
    apply({"-r", "200", "100"});
    EXPECT_DOUBLE_EQ(scene.frame.camera.frameAspectRatio, -2.0);
    scene.frame.camera.frameAspectRatio = 1.0;
    apply({"-r", "200", "100"});
    EXPECT_DOUBLE_EQ(scene.frame.camera.frameAspectRatio, 2.0);
}

TEST_F(ApplyOptions, ZChannelDepth) {
    apply({"-z", "12"});
    EXPECT_EQ(scene.frame.options.zChannelDepth, 0);
    EXPECT_EQ(warnings, "WARNING : Bad value specified with option -z. Must be 8, 16, 24, 32 or 64!\n");
    apply({"-z", "64"});
    EXPECT_EQ(scene.frame.options.zChannelDepth, 64);
}

TEST_F(ApplyOptions, RangeAndNameErrors) {
    EXPECT_EQ(fatalOf({"-y", "10", "5"}), "End row (yb) must be greater than start row (ya) !");
    EXPECT_EQ(fatalOf({"-x", "10", "5"}), "End column (xb) must be greater than start column (xa)");
    EXPECT_EQ(fatalOf({"-x", "5", "5"}), "");
    EXPECT_EQ(fatalOf({"-o", "out.tga"}), "No file extension with option -o");
    EXPECT_EQ(fatalOf({"-S", "shaders.qsh"}), "No file extension with option -S");
    EXPECT_EQ(fatalOf({"-C", "cache.x"}), "No file extension with option -C");
    EXPECT_EQ(fatalOf({"-o", "../renders/out"}), "");
    EXPECT_EQ(run.imageFile, "../renders/out.tga");
    EXPECT_EQ(run.zChannelBase, "../renders/out");
}

TEST_F(ApplyOptions, GridSizeAndModes) {
    scene.frame.camera.width = 100;
    scene.frame.camera.height = 60;
    apply({"-g", "51"});  // the size is checked when the frame starts, against the final image size
    EXPECT_EQ(scene.frame.options.irradiance.gridSize, 51);
    apply({"-g", "2"});
    EXPECT_TRUE(scene.frame.options.irradiance.enabled);
    EXPECT_DOUBLE_EQ(scene.frame.options.irradiance.gridSpacing, 0.25);
    apply({"-h", "3"});
    EXPECT_EQ(scene.frame.options.renderMode, 2);
    EXPECT_EQ(scene.frame.options.featureMask, 126);
    EXPECT_FALSE(scene.frame.options.irradiance.enabled);
    scene.frame.options.renderMode = 1;
    apply({"-h", "2"});
    EXPECT_EQ(scene.frame.options.renderMode, 3);
    EXPECT_EQ(run.hiddenLineVariant, 1);
    scene.frame.options.renderMode = 1;
    apply({"-O", "2"});
    EXPECT_EQ(scene.frame.options.renderMode, 0);
    EXPECT_EQ(scene.frame.options.featureMask, 112);
    EXPECT_FALSE(run.writeImage);
}

TEST_F(ApplyOptions, SwitchesAndHiddenLetters) {
    apply({"-dL", "-k", "3", "-e", "x"});
    EXPECT_TRUE(run.statistics);
    EXPECT_TRUE(run.logRequested);
    EXPECT_EQ(run.startFrame, 3);
    EXPECT_EQ(warnings, "WARNING : Option -e is now obsolete!\n");
    apply({"-f"}, 2);  // ignored for several scenes
    EXPECT_FALSE(run.showFrameBuffer);
    apply({"-f"}, 1);
    EXPECT_TRUE(run.showFrameBuffer);
    apply({"-d-@", "-\xB5", "99", "-\xA3"});
    EXPECT_TRUE(run.deleteInputs);
    EXPECT_TRUE(run.pauseOnError);
    EXPECT_TRUE(run.noCompletionBox);
    EXPECT_EQ(scene.frame.options.featureMask, 99);
    apply({"-m"});
    EXPECT_FALSE(diagnostics().messagesOn);
    EXPECT_FALSE(diagnostics().warningsOn);
    EXPECT_TRUE(diagnostics().errorsOn);
}

}  // namespace
}  // namespace quorva
