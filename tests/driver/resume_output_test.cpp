// The renderer run as a program on the faults around its output image: partial renders that later runs
// complete, failed writes, images cut short or damaged, copies left behind by killed runs, and texture
// files a library cannot decode. Every run either writes the right image or ends with status 1.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include "support/parallel_scene.h"
#include "support/run_program.h"

namespace quorva {
namespace {

using testing::ProgramOptions;
using testing::ProgramResult;
using testing::TemporaryFolder;

// A sphere and a thin bar over a floor, 40 x 30 pixels, with anti-aliasing and a pixel filter when asked.
std::string scene(const std::string& cameraExtras, const std::string& background = "0.25, 0.35, 0.55") {
    return "Version : 1.3\n"
           "Camera [ (0, 1.5, -4), (0, 1, 2), (0, 1, 0) Format (40, 30) FieldOfView 45" +
           cameraExtras + " ]\nBackground '" + background +
           "'\n"
           "PointLight [ (6, 9, -8) Intensity '1, 1, 1' ]\n"
           "Shape [ Sphere ((0, 1, 1), 1) Shader [ PlainSurface [ Color '0.9, 0.2, 0.15' Ka 0.1 Kd 0.8 ] ] "
           "]\n"
           "Shape [ Cylinder ((-1.8, 0, 3), (-2.4, 3, 3.5), 0.02) ]\n"
           "Shape [ Box ((-20, -0.1, -20), (20, 0, 40)) ]\n";
}

// Where each row of a run-length encoded 24-bit image ends (packets never span two rows): entry r is
// the file offset after row r - 1, entry 0 the start of the pixel data.
std::vector<std::size_t> rowEnds(const std::string& image, int width, int height) {
    std::vector<std::size_t> ends{18u + static_cast<unsigned char>(image[0])};
    std::size_t p = ends[0];
    for (int r = 0; r < height && p < image.size(); ++r) {
        for (int x = 0; x < width && p < image.size();) {
            const int header = static_cast<unsigned char>(image[p]);
            const int n = (header & 0x7F) + 1;
            p += 1 + 3 * static_cast<std::size_t>((header & 0x80) ? 1 : n);
            x += n;
        }
        ends.push_back(p);
    }
    return ends;
}

std::string rowsOf(const std::string& image, int first, int end) {
    const std::vector<std::size_t> ends = rowEnds(image, 40, 30);
    return image.substr(ends[first], ends[end] - ends[first]);
}

class ResumeOutput : public ::testing::Test {
  protected:
    void SetUp() override { root.write("include/readme.txt", "search-path folder\n"); }
    ProgramResult run(std::vector<std::string> args, const std::string& limit = "") {
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        if (limit.empty()) return testing::runProgram(QUORVA_BINARY, args, o);
        // The shell sets the file size limit (in blocks of 512 bytes) before it becomes the renderer.
        std::string command = "ulimit -f " + limit + "; exec \"$0\"";
        for (std::size_t i = 0; i < args.size(); ++i) command += " \"$" + std::to_string(i + 1) + "\"";
        args.insert(args.begin(), QUORVA_BINARY);
        args.insert(args.begin(), command);
        args.insert(args.begin(), "-c");
        return testing::runProgram("/bin/sh", args, o);
    }
    // Runs until the output shows `at`, then sends `signal`.
    ProgramResult stopped(const std::vector<std::string>& args, const std::string& at, int signal) {
        ProgramOptions o;
        o.workingDirectory = dir.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        o.interruptWhenOutputContains = at;
        o.interruptSignal = signal;
        return testing::runProgram(QUORVA_BINARY, args, o);
    }
    // The image one uninterrupted render of the scene gives.
    std::string fullRender(const std::string& text, const std::vector<std::string>& flags = {}) {
        TemporaryFolder other;
        other.write("s.qsb", text);
        ProgramOptions o;
        o.workingDirectory = other.path();
        o.environment.push_back({"QUORVA_ROOT", root.path()});
        EXPECT_EQ(testing::runProgram(QUORVA_BINARY, with({"s"}, flags), o).status, 0);
        return testing::readFile(other.file("s.tga"));
    }
    static std::vector<std::string> with(std::vector<std::string> args,
                                         const std::vector<std::string>& flags) {
        args.insert(args.end(), flags.begin(), flags.end());
        return args;
    }
    std::string image() const { return testing::readFile(dir.file("s.tga")); }
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    TemporaryFolder dir, root;
};

// Renders restricted to rows or columns record what they drew; later runs draw the rest, band after band
// or all at once, and end with the image of one full render, also when anti-aliasing, a pixel filter or
// undersampling make pixels depend on their neighbours.
TEST_F(ResumeOutput, BandsThenFullEqualOneFullRender) {
    const std::pair<std::string, std::vector<std::string>> variants[] = {
        {"", {}}, {" Antialiasing 2 PixelFilter (2, 1.5, 1.5)", {}}, {"", {"-u", "2"}}};
    for (const auto& [extras, flags] : variants) {
        const std::string text = scene(extras);
        std::filesystem::remove(dir.file("s.tga"));
        dir.write("s.qsb", text);
        ASSERT_EQ(run(with({"s"}, flags)).status, 0);
        const std::string full = image();
        std::filesystem::remove(dir.file("s.tga"));
        ASSERT_EQ(run(with({"s", "-y", "0", "13"}, flags)).status, 0);
        EXPECT_NE(image(), full);
        ASSERT_EQ(run(with({"s", "-y", "20", "22"}, flags)).status, 0);
        ASSERT_EQ(run(with({"s", "-y", "13", "30", "-x", "5", "40"}, flags)).status, 0);
        EXPECT_NE(image(), full);
        ProgramResult r = run(with({"s"}, flags));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(image(), full) << extras << flags.size();
        EXPECT_EQ(listing().size(), 2u);
    }
}

// A file size limit (or a full disk) met while the image is written ends the run with status 1, and
// the old image is back under its own name, untouched: one of another size that a fresh render
// replaces, and a partial one that a resumed render continues. A depth file cut short is removed.
TEST_F(ResumeOutput, FailedWritesEndWithStatusOneAndKeepTheOldImage) {
    const std::string text = scene("");
    dir.write("s.qsb", "Version : 1.3\nCamera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (8, 6) ]\n");
    ASSERT_EQ(run({"s"}).status, 0);
    const std::string otherSize = image();
    dir.write("s.qsb", text);
    ProgramResult r = run({"s"}, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Failed to write Targa image file s.tga"), std::string::npos) << r.output;
    EXPECT_EQ(image(), otherSize);
    EXPECT_EQ(listing(), (std::vector<std::string>{"s.qsb", "s.tga"}));

    std::filesystem::remove(dir.file("s.tga"));
    ASSERT_EQ(run({"s", "-y", "0", "6"}).status, 0);
    const std::string partial = image();
    EXPECT_EQ(run({"s"}, "1").status, 1);
    EXPECT_EQ(image(), partial);
    EXPECT_EQ(listing(), (std::vector<std::string>{"s.qsb", "s.tga"}));

    r = run({"s", "-z", "64"}, "4");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Failed to write Z-channel file s.Z64.quorva"), std::string::npos) << r.output;
    EXPECT_FALSE(testing::fileExists(dir.file("s.Z64.quorva")));
    EXPECT_FALSE(testing::fileExists(dir.file("s.Z64.quorva.part")));
}

// A partial image cut at any row boundary, its drawn-pixel table lost, still says that it is partial:
// only the rows before the first undrawn one count, and the resumed render equals a full one.
TEST_F(ResumeOutput, PartialImageCutAtEveryRowResumesToTheFullImage) {
    const std::string text = scene("");
    const std::string full = fullRender(text);
    dir.write("s.qsb", text);
    ASSERT_EQ(run({"s", "-y", "0", "12"}).status, 0);
    const std::string partial = image();
    for (std::size_t end : rowEnds(partial, 40, 30)) {
        dir.write("s.tga", partial.substr(0, end));
        ASSERT_EQ(run({"s"}).status, 0);
        EXPECT_EQ(image(), full) << "cut at byte " << end;
    }
}

// An image-ID length that does not match our image ID is not trusted to locate the pixels: the image is
// kept aside, said so, and the frame rendered afresh.
TEST_F(ResumeOutput, DamagedImageIdIsKeptAsideAndRenderedAfresh) {
    const std::string text = scene("");
    const std::string full = fullRender(text);
    dir.write("s.qsb", text);
    std::string damaged = full;
    damaged[0] = 20;
    dir.write("s.tga", damaged);
    ProgramResult r = run({"s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Original image kept as"), std::string::npos) << r.output;
    EXPECT_EQ(image(), full);
    const std::vector<std::string> names = listing();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2].substr(0, 11), "s.tga.kept-");
    EXPECT_EQ(testing::readFile(dir.file(names[2])), damaged);
}

// A copy a killed resumed run left behind holds rows the image lacks: they are used, not rendered
// again, and the copy goes. Its rows come from a scene with another background, which shows.
TEST_F(ResumeOutput, LeftoverCopyIsUsedAndRemoved) {
    const std::string text = scene(""), other = scene("", "0.7, 0.6, 0.1");
    const std::string full = fullRender(text), otherFull = fullRender(other);
    dir.write("s.qsb", other);
    ASSERT_EQ(run({"s", "-y", "12", "30"}).status, 0);
    std::filesystem::rename(dir.file("s.tga"), dir.file("s.tga.resume-Ab12Cd"));
    dir.write("s.tga", full.substr(0, rowEnds(full, 40, 30)[6]));
    dir.write("s.qsb", text);
    ASSERT_EQ(run({"s"}).status, 0);
    const std::string resumed = image();
    EXPECT_EQ(rowsOf(resumed, 0, 12), rowsOf(full, 0, 12));
    EXPECT_EQ(rowsOf(resumed, 12, 30), rowsOf(otherFull, 12, 30));
    EXPECT_EQ(listing(), (std::vector<std::string>{"s.qsb", "s.tga"}));
}

// Complete rows at the start of the pixel data of a run-length encoded 24-bit image.
int completeRows(const std::string& image, int width, int height) {
    const std::vector<std::size_t> ends = rowEnds(image, width, height);
    int rows = 0;
    while (rows < height && rows + 1 < static_cast<int>(ends.size()) && ends[rows + 1] <= image.size())
        ++rows;
    return rows;
}

// Stopped by SIGTERM or SIGHUP (a scheduler's time limit, kill, a shutdown) or killed with kill -9 at
// several moments, with a pixel filter, undersampling or neither, on one thread or four. SIGTERM and
// SIGHUP end the run with status 1 and a whole image (status 0 when they come after the last row);
// kill -9 leaves every row that was final when the progress line showed; and the same command then
// writes the image of one uninterrupted thread.
TEST_F(ResumeOutput, TerminatedAndKilledRendersResumeToTheFullImage) {
    const std::string plain = "Format (80, 60) DepthOfField (0.1, 7, 24)";
    const std::string filtered = plain + " PixelFilter (2, 1.5, 1.5)";
    struct Case {
        const std::string& camera;
        std::vector<std::string> flags;
        int signal;
        const char* at;
        int rowsLeft;  // rows a kill with one thread must find in the file (it was at 50 % or beyond)
    };
    const Case cases[] = {
        {plain, {"-j", "1"}, SIGTERM, "Rendering: 20%", 0},
        {plain, {"-j", "4"}, SIGTERM, "Rendering: 60%", 0},
        {filtered, {"-j", "1"}, SIGTERM, "Rendering: 50%", 0},
        {filtered, {"-j", "4"}, SIGTERM, "Rendering: 10%", 0},
        {filtered, {"-j", "4"}, SIGHUP, "Rendering: 80%", 0},
        {filtered, {"-j", "1"}, SIGKILL, "Rendering: 50%", 28},
        {plain, {"-u", "3", "-j", "1"}, SIGKILL, "Rendering: 51%", 36},
        {plain, {"-u", "3", "-j", "4"}, SIGTERM, "Rendering: 31%", 0},
        {filtered, {"-u", "3", "-j", "4"}, SIGKILL, "Rendering: 71%", 0},
    };
    std::map<std::string, std::string> full;
    for (const Case& c : cases) {
        const bool undersampled = c.flags[0] == "-u";
        const std::string text = testing::parallelScene(c.camera);
        const std::string key = c.camera + (undersampled ? " -u" : "");
        if (!full.count(key))
            full[key] = fullRender(text, undersampled ? std::vector<std::string>{"-u", "3", "-j", "1"}
                                                      : std::vector<std::string>{"-j", "1"});
        std::filesystem::remove(dir.file("s.tga"));
        dir.write("s.qsb", text);
        const std::string what =
            key + " " + c.flags.back() + " " + c.at + " signal " + std::to_string(c.signal);
        ProgramResult r = stopped(with({"s"}, c.flags), c.at, c.signal);
        if (c.signal == SIGKILL) {
            EXPECT_GE(completeRows(image(), 80, 60), c.rowsLeft) << what;
        } else {
            EXPECT_TRUE(r.status == 1 || r.status == 0) << what << "\n" << r.output;
            EXPECT_EQ(completeRows(image(), 80, 60), 60) << what;
        }
        r = run(with({"s"}, c.flags));
        ASSERT_EQ(r.status, 0) << what << "\n" << r.output;
        EXPECT_TRUE(image() == full[key]) << what;
        EXPECT_EQ(listing(), (std::vector<std::string>{"s.qsb", "s.tga"})) << what;
    }
}

// A render whose irradiance cache grows while the rows render, stopped or killed on several threads:
// the records of its final rows wait beside the image, the next run starts from them and writes the
// image of one uninterrupted thread, and the records go once the image is complete.
TEST_F(ResumeOutput, GiRendersResumeFromTheRecordsOfTheirFinalRows) {
    const std::string plain = "Format (80, 60)", filtered = plain + " PixelFilter (2, 1.5, 1.5)";
    struct Case {
        const std::string& camera;
        std::vector<std::string> flags;  // the thread count last
        int signal;
        const char* at;
    };
    const Case cases[] = {
        {plain, {"-j", "4"}, SIGKILL, "Rendering: 40%"},
        {plain, {"-j", "2"}, SIGTERM, "Rendering: 60%"},
        {filtered, {"-j", "1"}, SIGKILL, "Rendering: 50%"},
        {filtered, {"-j", "3"}, SIGKILL, "Rendering: 30%"},
        // The anti-aliasing loops' rows share corners: the row above the first one rendered again hands
        // them over from the file.
        {plain, {"-a", "3", "-j", "2"}, SIGKILL, "Rendering: 40%"},
        {filtered, {"-A", "2", "-j", "3"}, SIGKILL, "Rendering: 60%"},
    };
    std::map<std::string, std::string> full;
    for (const Case& c : cases) {
        const std::string text = testing::giRoomScene(c.camera);
        std::vector<std::string> one(c.flags.begin(), c.flags.end() - 1);
        one.push_back("1");
        const std::string key = c.camera + " " + c.flags[0];
        if (!full.count(key)) full[key] = fullRender(text, one);
        std::filesystem::remove(dir.file("s.tga"));
        dir.write("s.qsb", text);
        const std::string what = key + " -j " + c.flags.back() + " " + c.at;
        stopped(with({"s"}, c.flags), c.at, c.signal);
        const std::vector<std::string> left = listing();
        ASSERT_EQ(left.size(), 3u) << what;
        EXPECT_EQ(left[2], "s.tga.records") << what;
        ProgramResult r = run(with({"s"}, c.flags));
        ASSERT_EQ(r.status, 0) << what << "\n" << r.output;
        EXPECT_TRUE(image() == full[key]) << what;
        EXPECT_EQ(listing(), (std::vector<std::string>{"s.qsb", "s.tga"})) << what;
    }
}

// A TIFF strip libtiff cannot decode is a failed load, not a black texture.
TEST_F(ResumeOutput, UndecodableTiffFailsTheRun) {
    const std::string path = dir.file("t.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 16);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
    std::vector<std::uint8_t> row(16 * 3);
    for (std::uint32_t y = 0; y < 8; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i * 7 + y);
        TIFFWriteScanline(tiff, row.data(), y, 0);
    }
    TIFFClose(tiff);
    // The second strip becomes codes the LZW decoder rejects.
    tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    const std::uint64_t offset = TIFFGetStrileOffset(tiff, 1), bytes = TIFFGetStrileByteCount(tiff, 1);
    TIFFClose(tiff);
    std::string data = testing::readFile(path);
    ASSERT_LE(offset + bytes, data.size());
    std::fill(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + bytes),
              '\xff');
    dir.write("t.tif", data);

    dir.write("s.qsb", scene("") + "Declare t = ImageFile(\"t.tif\", 0)\n");
    ProgramResult r = run({"s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Failed to load image file \"t.tif\""), std::string::npos) << r.output;
}

// An undefined version number, a folder named as the scene, an endless include, and an output image
// that is a symbolic link (written through to its target; the link stays).
TEST_F(ResumeOutput, SmallFaults) {
    dir.write("s.qsb", "Version : 0/0\n");
    ProgramResult r = run({"s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Wrong version specification in QSB file"), std::string::npos) << r.output;

    std::filesystem::create_directory(dir.file("d.qsb"));
    r = run({"d"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Scene file d.qsb is a folder"), std::string::npos) << r.output;

    dir.write("s.qsb", "Version : 1.3\nReadArchive \"/dev/zero\"\n");
    r = run({"s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ReadArchive file \"/dev/zero\" is not a regular file"), std::string::npos)
        << r.output;

    const std::string text = scene("");
    dir.write("s.qsb", text);
    std::filesystem::create_directory(dir.file("keep"));
    ASSERT_EQ(run({"s", "-o", "keep/target", "-y", "0", "9"}).status, 0);
    std::filesystem::create_symlink("keep/target.tga", dir.file("s.tga"));
    ASSERT_EQ(run({"s"}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("s.tga")));
    EXPECT_EQ(testing::readFile(dir.file("keep/target.tga")), fullRender(text));
    EXPECT_EQ(listing(), (std::vector<std::string>{"d.qsb", "keep", "s.qsb", "s.tga"}));
}

}  // namespace
}  // namespace quorva
