// Resuming an interrupted render: the resumed image must equal an uninterrupted one byte for byte, old
// images that do not fit are reported and never destroyed before the new image exists.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "image/image_test_files.h"
#include "image/targa_output.h"
#include "scene/search_path.h"

namespace quorva {
namespace {

using testing::Bytes;
using testing::readBytes;
using testing::writeBytes;

constexpr int Width = 23, Height = 9;

void pattern(int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((x / 4 + y) % 5 * 40);
    p[1] = static_cast<std::uint8_t>(x < 10 ? 7 : x * y);
    p[2] = static_cast<std::uint8_t>(y * 20);
    p[3] = static_cast<std::uint8_t>(255 - x);
}

struct Render {
    bool compressed = false;
    int bits = 24;
    int resumedRows = 0;
};

// Renders rows first..last in two bands the way the render loop does: rows the old image still has are
// read back, the others are drawn.
void renderRows(TargaOutput& out, Render& render, int first, int last) {
    const int bands[2][2] = {{first, std::min(last, first + 3)}, {first + 4, last}};
    for (const auto& band : bands) {
        if (band[0] > band[1]) continue;
        FrameBuffers frame;
        frame.color.width = Width;
        frame.color.height = Height;
        frame.color.rows.resize(Height + 1);
        for (int y = band[0]; y <= band[1]; ++y) {
            frame.color.rows[y].assign((Width + 1) * 4, 0);
            if (readResumedRow(frame, out, y)) {
                ++render.resumedRows;
                continue;
            }
            for (int x = 0; x < Width; ++x) pattern(x, y, frame.color.row(y) + 4 * x);
        }
        writeTargaRows(band[0], frame, out, band[1]);
    }
}

Bytes renderImage(const std::string& path, Render& render, bool resume) {
    auto out = openTargaOutput(render.compressed, path, Width, Height, resume, render.bits);
    renderRows(*out, render, 0, Height - 1);
    closeTargaOutput(std::move(out));
    return readBytes(path);
}

class TargaResume : public ::testing::TestWithParam<std::tuple<bool, int>> {
  protected:
    Render render() const { return Render{std::get<0>(GetParam()), std::get<1>(GetParam())}; }
    testing::ScratchFolder folder;
    std::string path = folder.file("frame.tga");
};

TEST_P(TargaResume, InterruptedRenderResumesToTheSameBytes) {
    Render plain = render();
    ConsoleCapture console;
    const Bytes full = renderImage(path, plain, true);  // nothing to resume from yet
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(plain.resumedRows, 0);

    // Cut the file in the middle of a row.
    writeBytes(path, Bytes(full.begin(), full.begin() + static_cast<long>(full.size() * 6 / 10)));
    Render resumed = render();
    EXPECT_EQ(renderImage(path, resumed, true), full);
    EXPECT_GT(resumed.resumedRows, 2);
    EXPECT_LT(resumed.resumedRows, Height);
    EXPECT_EQ(folder.listing().size(), 1u);  // the old image's copy is gone
    EXPECT_EQ(console.text(), "");
}

// A render stopped before its last row still leaves a whole image, black where nothing was drawn; the
// rows it did draw are marked, so running again draws only the rest and ends with the same bytes.
TEST_P(TargaResume, StoppedRenderLeavesAWholeImageThatResumes) {
    Render plain = render();
    const Bytes full = renderImage(path, plain, false);
    std::filesystem::remove(path);

    Render stopped = render();
    auto out = openTargaOutput(stopped.compressed, path, Width, Height, true, stopped.bits);
    renderRows(*out, stopped, 0, 2);  // rows 0..2 drawn, then the render stopped
    closeTargaOutput(std::move(out));
    const Bytes partial = readBytes(path);
    ASSERT_GT(partial.size(), 18u + 27u);
    EXPECT_EQ(std::string(partial.end() - 18, partial.end() - 1), "TRUEVISION-XFILE.");

    Render resumed = render();
    EXPECT_EQ(renderImage(path, resumed, true), full);  // whole again, so no completion table
    EXPECT_EQ(resumed.resumedRows, 3);
    EXPECT_EQ(folder.listing().size(), 1u);
}

TEST_P(TargaResume, StoppedResumeKeepsTheOldRows) {
    Render plain = render();
    const Bytes full = renderImage(path, plain, false);
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(full.size() * 7 / 10));
    writeBytes(path, cut);

    // The render stops after two rows: the rows the old image had are carried over on close, and the
    // rest is black filling that a completion table marks as missing.
    Render stopped = render();
    auto out = openTargaOutput(stopped.compressed, path, Width, Height, true, stopped.bits);
    const auto done = rowsDone(*out);
    const auto oldRows = std::count(done.begin(), done.end(), 1);
    renderRows(*out, stopped, 0, 1);
    closeTargaOutput(std::move(out));
    const Bytes kept = readBytes(path);
    const std::size_t wholeOldRows = cut.size() - static_cast<std::size_t>(Width * 5);
    ASSERT_GT(kept.size(), wholeOldRows);
    // The pixels match; the image ID now says that the image is partial.
    EXPECT_TRUE(
        std::equal(kept.begin() + 45, kept.begin() + static_cast<long>(wholeOldRows), full.begin() + 45));
    EXPECT_EQ(std::string(kept.begin() + 18, kept.begin() + 39), "Quillbarrow 1.3 part ");

    // ...so a further resume finds them all again.
    out = openTargaOutput(stopped.compressed, path, Width, Height, true, stopped.bits);
    EXPECT_EQ(std::count(rowsDone(*out).begin(), rowsDone(*out).end(), 1), oldRows);
    closeTargaOutput(std::move(out));
    EXPECT_EQ(folder.listing().size(), 1u);
}

TEST_P(TargaResume, AbandonedRenderPutsTheOldImageBack) {
    Render plain = render();
    const Bytes full = renderImage(path, plain, false);
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(full.size() * 8 / 10));
    writeBytes(path, cut);
    {
        Render abandoned = render();
        auto out = openTargaOutput(abandoned.compressed, path, Width, Height, true, abandoned.bits);
        renderRows(*out, abandoned, 0, 1);
        // Dropped without closing, as when a fatal error ends the run.
    }
    EXPECT_EQ(readBytes(path), cut);
    EXPECT_EQ(folder.listing().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, TargaResume,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(24, 32)));

TEST(TargaResumeRow, SpareColumnRepeatsTheLastPixel) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("spare.tga");
    Render plain;
    renderImage(path, plain, false);
    auto out = openTargaOutput(false, path, Width, Height, true, 24);
    FrameBuffers frame;
    frame.color.rows.resize(Height + 1);
    frame.color.rows[3].assign((Width + 1) * 4, 0);
    ASSERT_TRUE(readResumedRow(frame, *out, 3));
    std::uint8_t last[4];
    pattern(Width - 1, 3, last);
    last[3] = 255;  // 24-bit images read back opaque
    EXPECT_TRUE(std::equal(last, last + 4, frame.color.row(3) + 4 * (Width - 1)));
    EXPECT_TRUE(std::equal(last, last + 4, frame.color.row(3) + 4 * Width));
    EXPECT_FALSE(readResumedRow(frame, *out, 4));  // no buffer row to fill
    closeTargaOutput(std::move(out));
}

// An old image found elsewhere on the search path is read from where it is and left there.
TEST(TargaResumeElsewhere, OldImageOnTheSearchPathStaysInPlace) {
    testing::ScratchFolder root, work;
    std::filesystem::create_directory(root.file("sub"));
    const std::string oldPath = root.file("sub/frame.tga");
    Render plain;
    const Bytes full = renderImage(oldPath, plain, false);
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(full.size() / 2));
    writeBytes(oldPath, cut);

    struct Restore {
        std::filesystem::path cwd = std::filesystem::current_path();
        ~Restore() {
            std::filesystem::current_path(cwd);
            searchPath().reset();
        }
    } restore;
    std::filesystem::current_path(work.file(""));
    searchPath().scan(root.file(""));
    Render resumed;
    EXPECT_EQ(renderImage("frame.tga", resumed, true), full);
    EXPECT_GT(resumed.resumedRows, 0);
    EXPECT_EQ(readBytes(oldPath), cut);
}

// Old images that cannot be continued: the warning, a render from scratch, and the old data kept on
// disk until the new image is complete.
TEST(TargaResumeRefused, WarnsAndKeepsTheOldImageUntilTheNewOneExists) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("old.tga");
    Render plain;
    const Bytes fresh = renderImage(path, plain, false);
    Bytes wrongOrientation = fresh;
    wrongOrientation[17] = 0;

    struct Case {
        Bytes old;
        std::string warning;
    };
    const auto written = [&](bool compressed, int width, int bits) {
        auto out = openTargaOutput(compressed, path, width, Height, false, bits);
        closeTargaOutput(std::move(out));
        return readBytes(path);
    };
    const Case cases[] = {
        {written(false, Width + 1, 24), "Original image (24x9) overidden to match new image (23x9)"},
        {written(true, Width, 24), "Original file type (10) overidden to match new file type (2)"},
        {wrongOrientation, "Original orientation doesn't match new"},
        {written(false, Width, 32), "Original bits/pixel (32) overidden to match new (24)"},
        {Bytes(fresh.begin(), fresh.begin() + 10),
         "Old image has a corrupted header. Can't resume rendering..."},
    };
    for (const Case& c : cases) {
        writeBytes(path, c.old);
        ConsoleCapture console;
        auto out = openTargaOutput(false, path, Width, Height, true, 24);
        EXPECT_NE(console.text().find(c.warning), std::string::npos) << console.text();
        EXPECT_EQ(std::count(rowsDone(*out).begin(), rowsDone(*out).end(), 1), 0);

        // While the new image is being written the old one is still on disk.
        const auto names = folder.listing();
        ASSERT_EQ(names.size(), 2u) << c.warning;
        const auto aside =
            std::find_if(names.begin(), names.end(), [](const auto& n) { return n != "old.tga"; });
        EXPECT_EQ(readBytes(folder.file(*aside)), c.old);

        Render again;
        renderRows(*out, again, 0, Height - 1);
        closeTargaOutput(std::move(out));
        EXPECT_EQ(again.resumedRows, 0);
        EXPECT_EQ(readBytes(path), fresh);
        EXPECT_EQ(folder.listing().size(), 1u);
    }
}

}  // namespace
}  // namespace quorva
