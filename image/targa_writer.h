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

// One open output or depth file.
struct TargaOutput {
    std::string fileName;
    std::FILE* stream = nullptr;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 24;
    bool compressed = false;
    TargaPixelWriter pixels;
    std::vector<unsigned char> rowDone;  // 1 once written, or found complete in the old image
    int rowsInFile = 0;                  // rows emitted to the new file (always a prefix of the image)

    // Resuming. The old image is read through `resumeCopy`; when it lived at the output path itself it
    // was moved aside to `resumeCopyName` and is removed only once the new file holds everything it had.
    std::FILE* resumeCopy = nullptr;
    std::string resumeCopyName;
    std::vector<long> rowOffsets;  // empty: no rows are taken from the old image
    int oldCompleteRows = 0;
    bool closed = false;

    TargaOutput() = default;
    TargaOutput(const TargaOutput&) = delete;
    TargaOutput& operator=(const TargaOutput&) = delete;
    // Reached without closeTargaOutput only when the render was abandoned (a fatal error): the partial
    // new file is kept when it already holds every row of the old image, otherwise the old image is
    // put back in its place.
    ~TargaOutput();

    bool resuming() const { return !rowOffsets.empty(); }
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
// Looks for an old image at `path` and prepares `out` to read its complete rows back.
void prepareResume(TargaOutput& out, const std::string& path);
// Decodes row `row` of the old image into `rgba` (width pixels of red, green, blue, alpha).
bool decodeOldRow(TargaOutput& out, int row, std::uint8_t* rgba);
// Gives the old image back its place after the new one could not be made.
void restoreOldImage(TargaOutput& out);

}  // namespace quorva
