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

namespace {

void putLittle16(std::FILE* f, unsigned v) {
    std::fputc(static_cast<int>(v & 0xFF), f);
    std::fputc(static_cast<int>((v >> 8) & 0xFF), f);
}

void putLittle32(std::FILE* f, unsigned long v) {
    for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

// Appends the row-completion table (one byte per row, 1 = the row holds rendered pixels) as the only
// tag of a developer area, and the footer that points to it. Readers that do not know the tag skip it.
void writeCompletionTable(TargaOutput& out, const std::vector<unsigned char>& real) {
    std::FILE* f = out.stream;
    const long tableOffset = std::ftell(f);
    std::fwrite(real.data(), 1, real.size(), f);
    const long directoryOffset = std::ftell(f);
    putLittle16(f, 1);
    putLittle16(f, CompletionTableTag);
    putLittle32(f, static_cast<unsigned long>(tableOffset));
    putLittle32(f, static_cast<unsigned long>(real.size()));
    putLittle32(f, 0);  // no extension area
    putLittle32(f, static_cast<unsigned long>(directoryOffset));
    std::fwrite(TargaFooterSignature, 1, sizeof TargaFooterSignature, f);
}

}  // namespace

void finishTargaOutput(TargaOutput& out) {
    bool written = false;
    if (out.stream) {
        out.pixels.flush();
        // The rows the render did not reach: an older image's rows where it has them, black (alpha 0)
        // otherwise, so the file is always a whole image. When some rows are only black filling, a
        // completion table says which rows are real, so that a later run resumes from them.
        std::vector<unsigned char> real(out.rowDone.begin(), out.rowDone.end());
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(out.width) * 4);
        const std::vector<std::uint8_t> black(static_cast<std::size_t>(out.width) * 4, 0);
        bool filled = false;
        for (int r = out.rowsInFile; r < out.height; ++r) {
            const bool old = out.resuming() && decodeOldRow(out, r, rgba.data());
            writeRgbaRow(out, old ? rgba.data() : black.data());
            real[r] = old ? 1 : 0;
            filled = filled || !old;
            out.rowDone[r] = 1;
            out.rowsInFile = r + 1;
        }
        out.pixels.flush();
        if (filled) writeCompletionTable(out, real);
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
        // Every row of the old image is in the new one now (rendered again or carried over).
        if (written) {
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
