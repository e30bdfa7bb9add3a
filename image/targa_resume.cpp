// Resuming an interrupted render: scanning the old output for complete rows, keeping it aside while the
// new file is written, and decoding its rows back into the frame buffer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/targa_output.h"
#include "image/targa_writer.h"
#include "render/frame_buffers.h"
#include "scene/search_path.h"

namespace quorva {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

long fileSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    return std::ftell(f);
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int colorMapEntryBytes(int bits) {
    if (bits <= 8) return 1;
    if (bits <= 16) return 2;
    if (bits <= 24) return 3;
    if (bits <= 32) return 4;
    fatal("Can't handle color maps with %d bits per pixel", bits);
}

// Records where each complete row of the old pixel data starts. Packets that straddle a row end (never
// written by us) stop the scan, since the rows after them cannot be addressed by an offset.
void scanRows(TargaOutput& out, std::FILE* old, long dataStart) {
    const int bytes = out.bitsPerPixel / 8;
    out.rowOffsets.assign(static_cast<std::size_t>(out.height) + 1, 0);
    out.rowOffsets[0] = dataStart;
    int rows = 0;
    if (out.width == 0) return;
    if (!out.compressed) {
        const long size = fileSize(old);
        const long rowBytes = static_cast<long>(out.width) * bytes;
        const long available = size > dataStart ? (size - dataStart) / rowBytes : 0;
        rows = static_cast<int>(std::min<long>(available, out.height));
        for (int r = 1; r <= rows; ++r) out.rowOffsets[r] = dataStart + r * rowBytes;
    } else {
        std::uint8_t pixel[4];
        int rowPixels = 0;
        while (rows < out.height) {
            const int header = std::getc(old);
            if (header == EOF) break;
            const int n = (header & 0x7F) + 1;
            const std::size_t stored = (header & 0x80) ? 1 : static_cast<std::size_t>(n);
            bool complete = true;
            for (std::size_t i = 0; i < stored && complete; ++i)
                complete = std::fread(pixel, 1, static_cast<std::size_t>(bytes), old) ==
                           static_cast<std::size_t>(bytes);
            if (!complete) break;
            rowPixels += n;
            if (rowPixels > out.width) break;
            if (rowPixels == out.width) {
                out.rowOffsets[++rows] = std::ftell(old);
                rowPixels = 0;
            }
        }
    }
    out.oldCompleteRows = rows;
    for (int r = 0; r < rows; ++r) out.rowDone[r] = 1;
}

unsigned readLittle(const std::uint8_t* p, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// An image whose render was stopped carries a row-completion table in a developer area (tag 1174, one
// byte per row): rows marked 0 hold only black filling and are rendered again.
void applyCompletionTable(TargaOutput& out, std::FILE* old, long size) {
    if (size < TargaHeaderSize + TargaFooterSize) return;
    std::uint8_t footer[TargaFooterSize];
    if (std::fseek(old, size - TargaFooterSize, SEEK_SET) != 0 ||
        std::fread(footer, 1, sizeof footer, old) != sizeof footer)
        return;
    if (std::memcmp(footer + 8, TargaFooterSignature, sizeof TargaFooterSignature) != 0) return;
    const long directory = static_cast<long>(readLittle(footer + 4, 4));
    std::uint8_t count[2];
    if (directory <= TargaHeaderSize || directory + 2 > size || std::fseek(old, directory, SEEK_SET) != 0 ||
        std::fread(count, 1, 2, old) != 2)
        return;
    const unsigned tags = readLittle(count, 2);
    for (unsigned i = 0; i < tags && directory + 2 + 10 * static_cast<long>(i + 1) <= size; ++i) {
        std::uint8_t entry[10];
        if (std::fseek(old, directory + 2 + 10 * static_cast<long>(i), SEEK_SET) != 0 ||
            std::fread(entry, 1, sizeof entry, old) != sizeof entry)
            return;
        if (readLittle(entry, 2) != CompletionTableTag) continue;
        const long offset = static_cast<long>(readLittle(entry + 2, 4));
        const long length = static_cast<long>(readLittle(entry + 6, 4));
        if (length != out.height || offset < TargaHeaderSize || offset + length > size) return;
        std::vector<unsigned char> table(static_cast<std::size_t>(length));
        if (std::fseek(old, offset, SEEK_SET) != 0 ||
            std::fread(table.data(), 1, table.size(), old) != table.size())
            return;
        for (int r = 0; r < out.height; ++r) {
            if (table[static_cast<std::size_t>(r)]) continue;
            out.rowDone[static_cast<std::size_t>(r)] = 0;
            out.rowOffsets[static_cast<std::size_t>(r)] = 0;
        }
        return;
    }
}

// Checks that the old image is one this render can continue and finds its complete rows.
bool scanOldImage(TargaOutput& out, std::FILE* old) {
    std::uint8_t h[TargaHeaderSize];
    const long size = fileSize(old);
    if (size < TargaHeaderSize || std::fseek(old, 0, SEEK_SET) != 0 ||
        std::fread(h, 1, sizeof h, old) != sizeof h) {
        warning("Old image has a corrupted header. Can't resume rendering...");
        return false;
    }
    const int oldWidth = h[12] | (h[13] << 8);
    const int oldHeight = h[14] | (h[15] << 8);
    if (oldWidth != out.width || oldHeight != out.height) {
        warning("Original image (%dx%d) overidden to match new image (%dx%d)", oldWidth, oldHeight, out.width,
                out.height);
        return false;
    }
    const int newType = targaImageType(out.bitsPerPixel, out.compressed);
    if (h[2] != newType) {
        warning("Original file type (%d) overidden to match new file type (%d)", h[2], newType);
        return false;
    }
    if (h[17] != 32) {
        warning("Original orientation doesn't match new");
        return false;
    }
    if (h[16] != out.bitsPerPixel) {
        warning("Original bits/pixel (%d) overidden to match new (%d)", h[16], out.bitsPerPixel);
        return false;
    }
    const long idEnd = TargaHeaderSize + h[0];
    if (idEnd > size || std::fseek(old, idEnd, SEEK_SET) != 0) {
        warning("Old image has a corrupted header. Can't resume rendering...");
        return false;
    }
    long mapBytes = 0;
    if (h[1] != 0) mapBytes = static_cast<long>(h[5] | (h[6] << 8)) * colorMapEntryBytes(h[7]);
    const long dataStart = idEnd + mapBytes;
    if (dataStart > size || std::fseek(old, mapBytes, SEEK_CUR) != 0) {
        warning("Old image has a broken color map. Can't resume rendering...");
        return false;
    }
    if (std::fseek(old, dataStart, SEEK_SET) != 0) {
        warning("Unable to read old image successfully. Can't resume rendering...");
        return false;
    }
    scanRows(out, old, dataStart);
    applyCompletionTable(out, old, size);
    return true;
}

// Moves the file aside to a new unique name in the same folder; "" when that is not possible.
std::string moveAside(const std::string& path) {
    std::string pattern = path + ".resume-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return "";
    close(fd);
    if (std::rename(path.c_str(), name.data()) != 0) {
        std::remove(name.data());
        return "";
    }
    return name.data();
}

// An anonymous copy of the file, for a folder where nothing new can be created beside it.
std::FILE* copyToTemporary(const std::string& path) {
    FileHandle in(std::fopen(path.c_str(), "rb"));
    if (!in) return nullptr;
    FileHandle copy(std::tmpfile());
    if (!copy) return nullptr;
    char block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, in.get())) > 0)
        if (std::fwrite(block, 1, n, copy.get()) != n) return nullptr;
    if (std::ferror(in.get()) || std::fflush(copy.get()) != 0) return nullptr;
    return copy.release();
}

void forgetOldRows(TargaOutput& out) {
    out.rowOffsets.clear();
    out.oldCompleteRows = 0;
    std::fill(out.rowDone.begin(), out.rowDone.end(), 0);
}

}  // namespace

void prepareResume(TargaOutput& out, const std::string& path) {
    const std::string found = searchPath().find(path);
    if (found.empty()) return;
    bool usable = false;
    {
        FileHandle old(std::fopen(found.c_str(), "rb"));
        if (!old) return;
        usable = scanOldImage(out, old.get());
    }
    if (!usable) forgetOldRows(out);

    if (!sameFile(found, path)) {
        // The old image lives elsewhere on the search path: the new file does not replace it.
        if (!usable) return;
        out.resumeCopy = std::fopen(found.c_str(), "rb");
        if (!out.resumeCopy) fatal("ImageFile access error");
        return;
    }

    // The new file will take the old one's place: keep the old image aside, even when its rows cannot
    // be used, until the new image holds at least as much.
    out.resumeCopyName = moveAside(path);
    if (out.resumeCopyName.empty()) {
        if (usable) out.resumeCopy = copyToTemporary(path);
        if (usable && !out.resumeCopy) {
            warning("Failed to duplicate image to resume");
            forgetOldRows(out);
        }
        return;
    }
    if (!usable) return;
    out.resumeCopy = std::fopen(out.resumeCopyName.c_str(), "rb");
    if (!out.resumeCopy) {
        restoreOldImage(out);
        fatal("ImageFile access error");
    }
}

void restoreOldImage(TargaOutput& out) {
    if (out.resumeCopy) {
        std::fclose(out.resumeCopy);
        out.resumeCopy = nullptr;
    }
    if (!out.resumeCopyName.empty()) {
        std::rename(out.resumeCopyName.c_str(), out.fileName.c_str());
        out.resumeCopyName.clear();
    }
    forgetOldRows(out);
}

bool decodeOldRow(TargaOutput& out, int row, std::uint8_t* rgba) {
    if (!out.resumeCopy || !out.resuming() || row < 0 || row >= out.oldCompleteRows ||
        out.rowOffsets[row] == 0)
        return false;
    std::FILE* f = out.resumeCopy;
    if (std::fseek(f, out.rowOffsets[row], SEEK_SET) != 0) return false;
    const std::size_t bytes = static_cast<std::size_t>(out.bitsPerPixel / 8);
    std::uint8_t stored[4];
    if (!out.compressed) {
        for (int x = 0; x < out.width; ++x) {
            if (std::fread(stored, 1, bytes, f) != bytes) return false;
            decodeTargaPixel(stored, out.bitsPerPixel, rgba + 4 * x);
        }
        return true;
    }
    int x = 0;
    while (x < out.width) {
        const int header = std::getc(f);
        if (header == EOF) return false;
        const int n = (header & 0x7F) + 1;
        if (x + n > out.width) return false;
        if (header & 0x80) {
            if (std::fread(stored, 1, bytes, f) != bytes) return false;
            decodeTargaPixel(stored, out.bitsPerPixel, rgba + 4 * x);
            for (int i = 1; i < n; ++i) std::memcpy(rgba + 4 * (x + i), rgba + 4 * x, 4);
        } else {
            for (int i = 0; i < n; ++i) {
                if (std::fread(stored, 1, bytes, f) != bytes) return false;
                decodeTargaPixel(stored, out.bitsPerPixel, rgba + 4 * (x + i));
            }
        }
        x += n;
    }
    return true;
}

bool readResumedRow(FrameBuffers& frame, TargaOutput& out, int row) {
    SBuffer& sb = frame.color;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width + 1) * 4;
    if (!out.resuming() || out.width == 0 || !sb.hasRow(row) || sb.rows[row].size() < rowBytes) return false;
    std::vector<std::uint8_t> decoded(rowBytes);
    if (!decodeOldRow(out, row, decoded.data())) {
        // The row cannot be read back after all: let the render loop draw it.
        if (row >= 0 && row < out.height) out.rowDone[row] = 0;
        return false;
    }
    std::memcpy(decoded.data() + 4 * out.width, decoded.data() + 4 * (out.width - 1), 4);
    std::memcpy(sb.row(row), decoded.data(), rowBytes);
    return true;
}

}  // namespace quorva
