// The Targa output writer: header and image ID, rows band by band, and completing the file on close.
#include "image/targa_output.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "image/targa_writer.h"
#include "render/frame_buffers.h"

namespace quorva {

namespace {

constexpr char ImageId[] = "Created by Quillbarrow 1.3";  // written with its terminating zero
static_assert(sizeof ImageId == 27);

void writeHeader(std::FILE* file, int width, int height, int bitsPerPixel, bool compressed) {
    std::uint8_t header[TargaHeaderSize] = {};
    header[0] = sizeof ImageId;
    header[2] = static_cast<std::uint8_t>(targaImageType(bitsPerPixel, compressed));
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = static_cast<std::uint8_t>(bitsPerPixel);
    header[17] = 0x20;  // top row first; no alpha-bits count, also for 32-bit images
    std::fwrite(header, 1, sizeof header, file);
    std::fwrite(ImageId, 1, sizeof ImageId, file);
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

TargaOutputPtr openTargaOutput(bool compressed, const std::string& path, int width, int height, bool resume,
                               int bitsPerPixel) {
    TargaOutputPtr out = newOutput(path, width, height, bitsPerPixel, compressed);
    if (resume) prepareResume(*out, path);
    out->stream = std::fopen(path.c_str(), "wb");
    if (!out->stream) {
        restoreOldImage(*out);
        fatal("Failed to open Targa image file %s", path.c_str());
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
        writeRgbaRow(out, row);
        out.rowDone[y] = 1;
        out.rowsInFile = y + 1;
    }
    out.pixels.flush();
    std::fflush(out.stream);
}

void finishTargaOutput(TargaOutput& out) {
    bool written = false;
    if (out.stream) {
        out.pixels.flush();
        if (out.resuming()) {
            // Rows of the old image the render did not reach are carried over, so the new file holds
            // at least what the old one did and a later run can resume from it again.
            std::vector<std::uint8_t> rgba(static_cast<std::size_t>(out.width) * 4);
            for (int r = out.rowsInFile; r < out.oldCompleteRows; ++r) {
                if (!decodeOldRow(out, r, rgba.data())) break;
                writeRgbaRow(out, rgba.data());
                out.rowDone[r] = 1;
                out.rowsInFile = r + 1;
            }
        } else {
            // A render stopped early still leaves a whole image: the missing rows are black, alpha 0.
            std::vector<std::uint8_t> black(static_cast<std::size_t>(out.width) * 4, 0);
            for (int r = 0; r < out.height; ++r) {
                if (out.rowDone[r]) continue;
                writeRgbaRow(out, black.data());
                out.rowDone[r] = 1;
                out.rowsInFile = r + 1;
            }
        }
        out.pixels.flush();
        written = std::ferror(out.stream) == 0;
        if (std::fclose(out.stream) != 0) written = false;
        out.stream = nullptr;
        if (!written) warning("Failed to write Targa image file %s", out.fileName.c_str());
    }
    if (out.resumeCopy) {
        std::fclose(out.resumeCopy);
        out.resumeCopy = nullptr;
    }
    if (!out.resumeCopyName.empty()) {
        const bool holdsOldRows = !out.resuming() || out.rowsInFile >= out.oldCompleteRows;
        if (written && holdsOldRows) {
            std::remove(out.resumeCopyName.c_str());
        } else {
            warning("Original image kept as \"%s\"", out.resumeCopyName.c_str());
        }
        out.resumeCopyName.clear();
    }
    out.closed = true;
}

TargaOutput::~TargaOutput() {
    if (closed) return;
    bool written = false;
    if (stream) {
        pixels.flush();
        written = std::ferror(stream) == 0;
        if (std::fclose(stream) != 0) written = false;
    }
    if (resumeCopy) std::fclose(resumeCopy);
    if (resumeCopyName.empty()) return;
    if (written && resuming() && rowsInFile >= oldCompleteRows) {
        std::remove(resumeCopyName.c_str());
    } else {
        std::rename(resumeCopyName.c_str(), fileName.c_str());
    }
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
