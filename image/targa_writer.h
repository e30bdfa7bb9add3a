// The state of an open Targa output, shared by the writer, the resume scan and the Z-channel dump.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/targa_output.h"

namespace quorva {

constexpr int TargaHeaderSize = 18;
// The developer-area tag of the row-completion table, and the signature ending a file's footer.
constexpr unsigned CompletionTableTag = 1174;
constexpr char TargaFooterSignature[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O',
                                           'N', '-', 'X', 'F', 'I', 'L', 'E', '.', '\0'};
constexpr int TargaFooterSize = 26;
constexpr int MaxPacketPixels = 128;
constexpr int MaxTargaSide = 65535;  // width and height are 16-bit fields

// Emits pixels (already in file byte order) either verbatim or as run-length packets. Packets never
// span two rows, so an image cut after any row boundary is still decodable row by row.
class TargaPixelWriter {
  public:
    void start(std::FILE* file, int width, int bytesPerPixel, bool compressed);
    void put(const std::uint8_t* pixel);
    // Writes the pending packet; after it the file holds exactly the pixels put so far.
    void flush();
    long total() const { return total_; }

  private:
    bool samePixel(const std::uint8_t* a, const std::uint8_t* b) const;
    std::uint8_t* slot(int i) { return buffer_.data() + i * 4; }
    void writeRaw(int count);
    void writeRun(int count);

    std::FILE* file_ = nullptr;
    int width_ = 0;
    int bytes_ = 3;
    bool compressed_ = false;
    int rawCount_ = 0;
    int runCount_ = 0;
    long total_ = 0;
    int rowPosition_ = 0;
    std::array<std::uint8_t, MaxPacketPixels * 4> buffer_{};
};

// The image ID of a finished image, and of an image whose pixel data holds rows that were not drawn:
// "Quillbarrow 1.3 part NNNNN", where rows 0..NNNNN-1 are drawn whole and the later rows only where the
// drawn-pixel table at the end of the file says so. Both are 26 characters and a terminating zero.
constexpr char TargaImageId[] = "Created by Quillbarrow 1.3";
constexpr char TargaPartialIdPrefix[] = "Quillbarrow 1.3 part ";
constexpr int TargaImageIdSize = 27;
static_assert(sizeof TargaImageId == TargaImageIdSize);
static_assert(sizeof TargaPartialIdPrefix - 1 + 5 + 1 == TargaImageIdSize);
// The developer-area tag of the drawn-pixel table: one bit per pixel (bit x % 8 of byte x / 8 of the
// row's (width + 7) / 8 bytes), rows top first.
constexpr unsigned DrawnPixelTableTag = 1175;

// An older image rows are carried over from: our own earlier output (moved aside or elsewhere on the
// search path) or a copy an earlier resumed run left behind.
struct OldImage {
    std::FILE* file = nullptr;
    std::vector<long> rowOffsets;     // where each row's pixel data starts; 0: the row is not in the file
    std::vector<std::uint8_t> drawn;  // drawn pixels, bits as in the drawn-pixel table
    OldImage() = default;
    OldImage(OldImage&& other) noexcept;
    OldImage& operator=(OldImage&&) = delete;
    ~OldImage();
};

// One open output or depth file.
struct TargaOutput {
    std::string fileName;
    std::FILE* stream = nullptr;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 24;
    bool compressed = false;
    TargaPixelWriter pixels;
    std::vector<unsigned char> rowDone;  // 1 once the row is drawn whole (rendered or found in an old image)
    std::vector<std::uint8_t> drawn;     // drawn pixels, bits as in the drawn-pixel table
    int rowBytes = 0;                    // bytes per row of `drawn`
    int rowsInFile = 0;                  // rows emitted to the new file (always a prefix of the image)
    bool explicitMarks = false;          // written rows are drawn only where markDrawn said so
    bool partialId = false;              // the file's image ID says that some rows were not drawn
    bool writeFailed = false;

    // Resuming. The old image at the output path itself is moved aside to `resumeCopyName`; it is put
    // back when the new image cannot be finished, removed once the new file holds everything it had
    // (kept when `keepResumeCopy`: an image we cannot read is never destroyed). Copies that earlier
    // runs left behind (`leftoverCopies`) are read like the old image and removed with it.
    std::vector<OldImage> oldImages;
    std::string resumeCopyName;
    bool keepResumeCopy = false;
    std::vector<std::string> leftoverCopies;
    bool closed = false;

    TargaOutput() = default;
    TargaOutput(const TargaOutput&) = delete;
    TargaOutput& operator=(const TargaOutput&) = delete;
    // Reached without closeTargaOutput only when the render was abandoned (a fatal error): the partial
    // new file is kept when it already holds every drawn row of the old images, otherwise the old image
    // is put back in its place.
    ~TargaOutput();

    bool resuming() const { return !oldImages.empty(); }
    bool isDrawn(int x, int y) const {
        return (drawn[static_cast<std::size_t>(y) * rowBytes + x / 8] >> (x % 8)) & 1;
    }
};

// Targa image type code of the images we write: grey for 8-bit depth files, true colour otherwise.
inline int targaImageType(int bitsPerPixel, bool compressed) {
    return (bitsPerPixel == 8 ? 3 : 2) + (compressed ? 8 : 0);
}

// Expands one stored pixel (8, 16, 24 or 32 bits, file byte order) into red, green, blue, alpha.
void decodeTargaPixel(const std::uint8_t* stored, int bitsPerPixel, std::uint8_t* rgba);

// Creates the output (no resume) and writes header and image ID; null when the file cannot be created.
// Used by the Z-channel dump, whose failure is only a warning.
TargaOutputPtr createTargaOutput(const std::string& path, int width, int height, int bitsPerPixel,
                                 bool compressed);
// Closes the output, writing the missing rows black when not resuming.
void finishTargaOutput(TargaOutput& out);

// Resume support (targa_resume.cpp).
// Looks for an old image at `path` (and copies earlier runs left beside it) and prepares `out` to read
// their drawn pixels back.
void prepareResume(TargaOutput& out, const std::string& path);
// Decodes row `row` from the old images into `rgba` (width pixels of red, green, blue, alpha): each
// pixel from the first old image that drew it, all-zero where none did. False when no old image drew
// any pixel of the row.
bool decodeOldRow(TargaOutput& out, int row, std::uint8_t* rgba);
// Gives the old image back its place after the new one could not be made.
void restoreOldImage(TargaOutput& out);
// Closes the old images and removes the copies whose pixels the new file now holds.
void releaseOldImages(TargaOutput& out, bool newImageComplete);

// Rewrites the image ID to say that rows from the next one written on may not be drawn whole.
void markPartialImage(TargaOutput& out);
// Ends the run after the image could not be written: the new file goes, the old image comes back.
[[noreturn]] void failedImageWrite(TargaOutput& out);

}  // namespace quorva
