// The Targa output writer: header and image ID, rows band by band, and completing the file on close.
#include "image/targa_output.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "image/targa_writer.h"
#include "render/frame_buffers.h"

namespace quorva {

namespace {

void writeHeader(std::FILE* file, int width, int height, int bitsPerPixel, bool compressed) {
    std::uint8_t header[TargaHeaderSize] = {};
    header[0] = TargaImageIdSize;
    header[2] = static_cast<std::uint8_t>(targaImageType(bitsPerPixel, compressed));
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = static_cast<std::uint8_t>(bitsPerPixel);
    header[17] = 0x20;  // top row first; no alpha-bits count, also for 32-bit images
    std::fwrite(header, 1, sizeof header, file);
    std::fwrite(TargaImageId, 1, TargaImageIdSize, file);
}

void checkPixelSize(int bitsPerPixel, bool compressed) {
    if (bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32) return;
    internalFailure(
        compressed ? InternalFailure::BadPixelSizeWriteCompressed : InternalFailure::BadPixelSizeWrite,
        "Bad pixel size (%d)", bitsPerPixel);
}

TargaOutputPtr newOutput(const std::string& path, int width, int height, int bitsPerPixel, bool compressed) {
    checkPixelSize(bitsPerPixel, compressed);
    if (width < 0 || height < 0 || width > MaxTargaSide || height > MaxTargaSide)
        fatal("Image size %dx%d is too large for a Targa file", width, height);
    TargaOutputPtr out(new (std::nothrow) TargaOutput);
    if (!out) fatal("Failed to allocate ImageFile");
    try {
        out->fileName = path;
        out->rowDone.assign(static_cast<std::size_t>(height), 0);
        out->rowBytes = (width + 7) / 8;
        out->drawn.assign(static_cast<std::size_t>(height) * static_cast<std::size_t>(out->rowBytes), 0);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Targa image");
    }
    out->width = width;
    out->height = height;
    out->bitsPerPixel = bitsPerPixel;
    out->compressed = compressed;
    return out;
}

void startFile(TargaOutput& out) {
    writeHeader(out.stream, out.width, out.height, out.bitsPerPixel, out.compressed);
    out.pixels.start(out.stream, out.width, out.bitsPerPixel / 8, out.compressed);
}

// One SBuffer pixel (red, green, blue, alpha) in file byte order.
void storedPixel(const std::uint8_t* rgba, int bitsPerPixel, std::uint8_t* stored) {
    switch (bitsPerPixel) {
        case 8:
            stored[0] = rgba[0];
            break;
        case 16: {
            unsigned word = ((rgba[0] >> 3) << 10) | ((rgba[1] >> 3) << 5) | (rgba[2] >> 3);
            if (rgba[3] < 128) word |= 0x8000;  // the attribute bit marks a transparent pixel
            stored[0] = static_cast<std::uint8_t>(word & 0xFF);
            stored[1] = static_cast<std::uint8_t>(word >> 8);
            break;
        }
        default:
            stored[0] = rgba[2];
            stored[1] = rgba[1];
            stored[2] = rgba[0];
            stored[3] = rgba[3];
            break;
    }
}

void writeRgbaRow(TargaOutput& out, const std::uint8_t* rgba) {
    std::uint8_t stored[4];
    for (int x = 0; x < out.width; ++x) {
        storedPixel(rgba + 4 * x, out.bitsPerPixel, stored);
        out.pixels.put(stored);
    }
}

}  // namespace

void decodeTargaPixel(const std::uint8_t* stored, int bitsPerPixel, std::uint8_t* rgba) {
    switch (bitsPerPixel) {
        case 8:
            rgba[0] = rgba[1] = rgba[2] = stored[0];
            rgba[3] = 255;
            break;
        case 16: {
            unsigned word = stored[0] | (stored[1] << 8);
            rgba[2] = static_cast<std::uint8_t>((word & 0x1F) << 3);
            rgba[1] = static_cast<std::uint8_t>(((word >> 5) & 0x1F) << 3);
            rgba[0] = static_cast<std::uint8_t>(((word >> 10) & 0x1F) << 3);
            rgba[3] = (word & 0x8000) ? 0 : 255;
            break;
        }
        case 24:
            rgba[0] = stored[2];
            rgba[1] = stored[1];
            rgba[2] = stored[0];
            rgba[3] = 255;
            break;
        case 32:
            rgba[0] = stored[2];
            rgba[1] = stored[1];
            rgba[2] = stored[0];
            rgba[3] = stored[3];
            break;
        default:
            internalFailure(InternalFailure::BadPixelSizeRead, "Bad pixel size (%d)", bitsPerPixel);
    }
}

// An output path that is a symbolic link names the image its target holds: that file is resumed from
// and replaced, and the link stays.
std::string resolvedOutputPath(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : target.string();
}

TargaOutputPtr openTargaOutput(bool compressed, const std::string& requestedPath, int width, int height,
                               bool resume, int bitsPerPixel) {
    const std::string path = resolvedOutputPath(requestedPath);
    TargaOutputPtr out = newOutput(path, width, height, bitsPerPixel, compressed);
    if (resume) prepareResume(*out, path);
    out->stream = std::fopen(path.c_str(), "wb");
    if (!out->stream) {
        restoreOldImage(*out);
        fatal("Failed to open Targa image file %s", requestedPath.c_str());
    }
    startFile(*out);
    return out;
}

TargaOutputPtr createTargaOutput(const std::string& path, int width, int height, int bitsPerPixel,
                                 bool compressed) {
    TargaOutputPtr out = newOutput(path, width, height, bitsPerPixel, compressed);
    out->stream = std::fopen(path.c_str(), "wb");
    if (!out->stream) return nullptr;
    startFile(*out);
    return out;
}

void writeTargaRows(int first, const FrameBuffers& frame, TargaOutput& out, int last, bool averageBlocks) {
    const SBuffer& sb = frame.color;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width + 1) * 4;
    std::vector<std::uint8_t> averaged;
    if (averageBlocks) averaged.resize(rowBytes);
    const int end = std::min(last, out.height - 1);
    for (int y = std::max(first, 0); y <= end; ++y) {
        if (!sb.hasRow(y) || sb.rows[y].size() < rowBytes)
            internalFailure(InternalFailure::BadSBufferRow, "Bad row (%d) in SBuffer dump", y);
        const std::uint8_t* row = sb.row(y);
        if (averageBlocks) {
            // Preview modes render one pixel more in each direction: each output pixel is the mean of
            // the 2x2 block below and right of it (the last row repeats itself when nothing follows).
            const std::uint8_t* below =
                sb.hasRow(y + 1) && sb.rows[y + 1].size() >= rowBytes ? sb.row(y + 1) : row;
            for (int x = 0; x < out.width; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int i = 4 * x + c;
                    averaged[i] =
                        static_cast<std::uint8_t>((row[i] + row[i + 4] + below[i] + below[i + 4]) >> 2);
                }
            row = averaged.data();
        }
        if (!out.explicitMarks) markDrawn(out, y, 0, out.width);
        if (!out.rowDone[y] && !out.partialId) markPartialImage(out);
        writeRgbaRow(out, row);
        out.rowsInFile = y + 1;
    }
    out.pixels.flush();
    if (std::fflush(out.stream) != 0 || std::ferror(out.stream)) failedImageWrite(out);
}

void trackDrawnPixels(TargaOutput& out) {
    out.explicitMarks = true;
}

void markDrawn(TargaOutput& out, int row, int columnBegin, int columnEnd) {
    if (row < 0 || row >= out.height) return;
    columnBegin = std::max(columnBegin, 0);
    columnEnd = std::min(columnEnd, out.width);
    std::uint8_t* bits = out.drawn.data() + static_cast<std::size_t>(row) * out.rowBytes;
    for (int x = columnBegin; x < columnEnd; ++x) bits[x / 8] |= static_cast<std::uint8_t>(1u << (x % 8));
    bool whole = true;
    for (int x = 0; x < out.width && whole; ++x) whole = out.isDrawn(x, row);
    out.rowDone[static_cast<std::size_t>(row)] = whole ? 1 : 0;
}

bool pixelDrawn(const TargaOutput& out, int x, int y) {
    return x >= 0 && y >= 0 && x < out.width && y < out.height && out.isDrawn(x, y);
}

void markPartialImage(TargaOutput& out) {
    if (out.partialId || !out.stream) return;
    char id[TargaImageIdSize + 1];
    std::snprintf(id, sizeof id, "%s%05d", TargaPartialIdPrefix, out.rowsInFile);
    out.pixels.flush();
    if (std::fflush(out.stream) != 0 || std::fseek(out.stream, TargaHeaderSize, SEEK_SET) != 0 ||
        std::fwrite(id, 1, TargaImageIdSize, out.stream) != TargaImageIdSize ||
        std::fseek(out.stream, 0, SEEK_END) != 0)
        failedImageWrite(out);
    out.partialId = true;
}

void failedImageWrite(TargaOutput& out) {
    if (out.stream) {
        std::fclose(out.stream);
        out.stream = nullptr;
        std::remove(out.fileName.c_str());
    }
    out.closed = true;
    restoreOldImage(out);
    out.oldImages.clear();
    fatal("Failed to write Targa image file %s", out.fileName.c_str());
}

namespace {

void putLittle16(std::FILE* f, unsigned v) {
    std::fputc(static_cast<int>(v & 0xFF), f);
    std::fputc(static_cast<int>((v >> 8) & 0xFF), f);
}

void putLittle32(std::FILE* f, unsigned long v) {
    for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

// Appends the drawn-pixel table as the only tag of a developer area, and the footer that points to
// it. Readers that do not know the tag skip it.
void writeDrawnTable(TargaOutput& out) {
    std::FILE* f = out.stream;
    const long tableOffset = std::ftell(f);
    std::fwrite(out.drawn.data(), 1, out.drawn.size(), f);
    const long directoryOffset = std::ftell(f);
    putLittle16(f, 1);
    putLittle16(f, DrawnPixelTableTag);
    putLittle32(f, static_cast<unsigned long>(tableOffset));
    putLittle32(f, static_cast<unsigned long>(out.drawn.size()));
    putLittle32(f, 0);  // no extension area
    putLittle32(f, static_cast<unsigned long>(directoryOffset));
    std::fwrite(TargaFooterSignature, 1, sizeof TargaFooterSignature, f);
}

}  // namespace

void finishTargaOutput(TargaOutput& out) {
    if (out.stream) {
        out.pixels.flush();
        // The rows the render did not reach: the old images' pixels where they drew them, black (alpha
        // 0) elsewhere, so the file is always a whole image. When some pixels are only black filling,
        // the image ID and a drawn-pixel table say which, so that a later run draws just those.
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(out.width) * 4);
        for (int r = out.rowsInFile; r < out.height; ++r) {
            std::fill(rgba.begin(), rgba.end(), 0);
            decodeOldRow(out, r, rgba.data());
            if (!out.rowDone[r] && !out.partialId) markPartialImage(out);
            writeRgbaRow(out, rgba.data());
            out.rowsInFile = r + 1;
        }
        out.pixels.flush();
        if (out.partialId) writeDrawnTable(out);
        if (std::fflush(out.stream) != 0 || std::ferror(out.stream)) failedImageWrite(out);
        const int closed = std::fclose(out.stream);
        out.stream = nullptr;
        if (closed != 0) {
            std::remove(out.fileName.c_str());
            failedImageWrite(out);
        }
    }
    // Every drawn pixel of the old images is in the new file now (drawn again or carried over).
    releaseOldImages(out, true);
    out.closed = true;
}

TargaOutput::~TargaOutput() {
    if (closed) return;
    bool written = false;
    if (stream) {
        pixels.flush();
        written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
        if (std::fclose(stream) != 0) written = false;
        stream = nullptr;
    }
    // The new file holds the old images' work when every row they drew is in it.
    int lastOldRow = -1;
    for (const OldImage& old : oldImages)
        for (int r = height - 1; r > lastOldRow; --r)
            if (std::any_of(old.drawn.begin() + static_cast<long>(r) * rowBytes,
                            old.drawn.begin() + static_cast<long>(r + 1) * rowBytes,
                            [](std::uint8_t b) { return b != 0; })) {
                lastOldRow = r;
                break;
            }
    const bool holdsAll = written && rowsInFile > lastOldRow;
    if (!holdsAll && !resumeCopyName.empty() && !keepResumeCopy) {
        oldImages.clear();
        std::rename(resumeCopyName.c_str(), fileName.c_str());
        resumeCopyName.clear();
    }
    releaseOldImages(*this, holdsAll);
}

void TargaOutputDeleter::operator()(TargaOutput* out) const {
    delete out;
}

void closeTargaOutput(TargaOutputPtr out) {
    if (out) finishTargaOutput(*out);
}

const std::vector<unsigned char>& rowsDone(const TargaOutput& out) {
    return out.rowDone;
}

}  // namespace quorva
