// The rows of a filtered frame on their way to the image: each is written once the rows its filter reads
// are final, it equals the row of the frame filtered whole, and a stop keeps only the rows made from
// final samples.
#include "render/image_rows.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"
#include "image/targa_writer.h"
#include "support/run_program.h"
#include "trace/camera.h"

namespace quorva {
namespace {

constexpr int Width = 7, Height = 12, OldRows = 4;

std::uint8_t sampleByte(int x, int y, int ch) {
    return static_cast<std::uint8_t>((x * 37 + y * 91 + ch * 53) % 251);
}

// Rows 0..3 come from an older image; rows 4.. are finished, and the filter samples rows 2.. for them.
struct FilteredFrame {
    Camera camera;
    FrameBuffers frame;
    RenderRegion region;
    std::vector<std::vector<std::uint8_t>> expected;  // the rows as the image must hold them

    FilteredFrame() {
        camera.width = Width;
        camera.height = Height;
        camera.pixelFilterType = GaussianFilter;
        camera.pixelFilterWidthX = camera.pixelFilterWidthY = 3;
        prepareBand(frame, camera, nullptr, 0, Height - 1, false);
        for (int y = 0; y < OldRows; ++y)
            for (std::size_t i = 0; i < frame.color.rows[y].size(); ++i) frame.color.rows[y][i] = 200;
        region = planRenderRegion(Width, Height, 0, Width, 0, Height, 2, 1,
                                  [](int, int y) { return y < OldRows; });
        // The frame filtered whole; the pixels it does not finish (the rows of the older image and the
        // spare column) put back.
        FrameBuffers whole = frame;
        for (int y = OldRows - 2; y < Height; ++y) sample(whole, y);
        ConsoleCapture quiet;
        filterBand(whole, camera, 0, Height - 1);
        expected = whole.color.rows;
        for (int y = 0; y < Height; ++y) {
            if (y < OldRows) expected[y] = frame.color.rows[y];
            std::copy_n(frame.color.rows[y].begin() + 4 * Width, 4, expected[y].begin() + 4 * Width);
        }
    }
    static void sample(FrameBuffers& f, int y) {
        for (int x = 0; x <= Width; ++x)
            for (int ch = 0; ch < 4; ++ch) f.color.rows[y][4 * x + ch] = sampleByte(x, y, ch);
    }
};

// Rows of red, green, blue in the written file (24 bits, uncompressed).
std::size_t rowsInFile(const std::string& path) {
    const std::size_t size = std::filesystem::file_size(path);
    return (size - TargaHeaderSize - TargaImageIdSize) / (3 * Width);
}

TEST(ImageRows, FilteredRowsAreWrittenAsSoonAsTheRowsTheyReadAreFinal) {
    testing::TemporaryFolder dir;
    const std::string path = dir.file("i.tga");
    FilteredFrame f;
    ConsoleCapture quiet;
    TargaOutputPtr output = openTargaOutput(false, path, Width, Height, false, 24);
    trackDrawnPixels(*output);
    ImageRows rows(f.frame, output.get(), f.region, f.camera, false);
    // The rows of the older image need no sample: they go at once.
    rows.rowsFinished(OldRows - 2);
    EXPECT_EQ(rowsInFile(path), static_cast<std::size_t>(OldRows));
    for (int y = OldRows - 2; y < Height; ++y) {
        FilteredFrame::sample(f.frame, y);
        rows.rowsFinished(y + 1);
        // A finished row reads two rows below it, or up to the last row.
        const int written = y + 1 == Height ? Height : std::max(OldRows, y - 1);
        EXPECT_EQ(rowsInFile(path), static_cast<std::size_t>(written)) << y;
    }
    rows.finish(true);
    EXPECT_EQ(rowsInFile(path), static_cast<std::size_t>(Height));
    for (int y = 0; y < Height; ++y) {
        EXPECT_TRUE(f.frame.color.rows[y] == f.expected[y]) << y;
        for (int x = 0; x < Width; ++x) EXPECT_EQ(pixelDrawn(*output, x, y), y >= OldRows);
    }
    closeTargaOutput(std::move(output));
    const std::string file = testing::readFile(path);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const std::size_t at = TargaHeaderSize + TargaImageIdSize + 3 * (y * Width + x);
            EXPECT_EQ(static_cast<std::uint8_t>(file[at]), f.expected[y][4 * x + 2]) << x << "," << y;
            EXPECT_EQ(static_cast<std::uint8_t>(file[at + 2]), f.expected[y][4 * x]) << x << "," << y;
        }
}

// A stop after the samples of rows up to 7: rows 4 and 5 were filtered from final samples and count as
// drawn; the rows after them hold what they held before the frame, samples and all undone.
TEST(ImageRows, AStopKeepsOnlyTheRowsMadeFromFinalSamples) {
    FilteredFrame f;
    ConsoleCapture quiet;
    ImageRows rows(f.frame, nullptr, f.region, f.camera, false);
    for (int y = OldRows - 2; y < 8; ++y) FilteredFrame::sample(f.frame, y);
    FilteredFrame::sample(f.frame, 9);  // a row finished below a gap
    rows.rowsFinished(8);
    rows.finish(false);
    for (int y = 0; y < Height; ++y) {
        const std::vector<std::uint8_t> before(f.frame.color.rows[y].size(), y < OldRows ? 200 : 0);
        EXPECT_TRUE(f.frame.color.rows[y] == (y < 6 ? f.expected[y] : before)) << y;
    }
}

}  // namespace
}  // namespace quorva
