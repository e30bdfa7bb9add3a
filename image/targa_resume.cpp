// Resuming an interrupted render: scanning the old output for complete rows, keeping it aside while the
// new file is written, and decoding its rows back into the frame buffer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
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

void setWholeRow(std::uint8_t* bits, int width) {
    for (int x = 0; x < width; ++x) bits[x / 8] |= static_cast<std::uint8_t>(1u << (x % 8));
}

// Records where each complete row of the old pixel data starts; returns the number of complete rows.
// Packets that straddle a row end (never written by us) stop the scan, since the rows after them cannot
// be addressed by an offset.
int scanRows(const TargaOutput& out, OldImage& old, long dataStart) {
    std::FILE* f = old.file;
    const int bytes = out.bitsPerPixel / 8;
    int rows = 0;
    if (out.width == 0) return 0;
    if (!out.compressed) {
        const long size = fileSize(f);
        const long rowBytes = static_cast<long>(out.width) * bytes;
        const long available = size > dataStart ? (size - dataStart) / rowBytes : 0;
        rows = static_cast<int>(std::min<long>(available, out.height));
        for (int r = 0; r < rows; ++r) old.rowOffsets[r] = dataStart + r * rowBytes;
        return rows;
    }
    if (std::fseek(f, dataStart, SEEK_SET) != 0) return 0;
    std::uint8_t pixel[4];
    int rowPixels = 0;
    long rowStart = dataStart;
    while (rows < out.height) {
        const int header = std::getc(f);
        if (header == EOF) break;
        const int n = (header & 0x7F) + 1;
        const std::size_t stored = (header & 0x80) ? 1 : static_cast<std::size_t>(n);
        bool complete = true;
        for (std::size_t i = 0; i < stored && complete; ++i)
            complete =
                std::fread(pixel, 1, static_cast<std::size_t>(bytes), f) == static_cast<std::size_t>(bytes);
        if (!complete) break;
        rowPixels += n;
        if (rowPixels > out.width) break;
        if (rowPixels == out.width) {
            old.rowOffsets[static_cast<std::size_t>(rows++)] = rowStart;
            rowStart = std::ftell(f);
            rowPixels = 0;
        }
    }
    return rows;
}

unsigned readLittle(const std::uint8_t* p, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Reads the developer-area entry with `tag` into `table` when its length is `length`; false when the
// file has no such entry (a lost end of file included).
bool readDeveloperTag(std::FILE* old, long size, unsigned tag, std::size_t length,
                      std::vector<std::uint8_t>& table) {
    if (size < TargaHeaderSize + TargaFooterSize) return false;
    std::uint8_t footer[TargaFooterSize];
    if (std::fseek(old, size - TargaFooterSize, SEEK_SET) != 0 ||
        std::fread(footer, 1, sizeof footer, old) != sizeof footer)
        return false;
    if (std::memcmp(footer + 8, TargaFooterSignature, sizeof TargaFooterSignature) != 0) return false;
    const long directory = static_cast<long>(readLittle(footer + 4, 4));
    std::uint8_t count[2];
    if (directory <= TargaHeaderSize || directory + 2 > size || std::fseek(old, directory, SEEK_SET) != 0 ||
        std::fread(count, 1, 2, old) != 2)
        return false;
    const unsigned tags = readLittle(count, 2);
    for (unsigned i = 0; i < tags && directory + 2 + 10 * static_cast<long>(i + 1) <= size; ++i) {
        std::uint8_t entry[10];
        if (std::fseek(old, directory + 2 + 10 * static_cast<long>(i), SEEK_SET) != 0 ||
            std::fread(entry, 1, sizeof entry, old) != sizeof entry)
            return false;
        if (readLittle(entry, 2) != tag) continue;
        const long offset = static_cast<long>(readLittle(entry + 2, 4));
        const long stored = static_cast<long>(readLittle(entry + 6, 4));
        if (static_cast<std::size_t>(stored) != length || offset < TargaHeaderSize || offset + stored > size)
            return false;
        table.resize(length);
        return std::fseek(old, offset, SEEK_SET) == 0 && std::fread(table.data(), 1, length, old) == length;
    }
    return false;
}

enum class OldImageFit { Usable, Unfit, Foreign };

// The rows of the pixel data that are drawn whole according to the image ID: all of them for a
// finished image, the first NNNNN for a partial one; -1 when the ID is not one we write.
int wholeRowsFromId(const std::uint8_t* id) {
    if (std::memcmp(id, TargaImageId, TargaImageIdSize) == 0) return MaxTargaSide;
    const std::size_t prefix = sizeof TargaPartialIdPrefix - 1;
    if (std::memcmp(id, TargaPartialIdPrefix, prefix) != 0 || id[TargaImageIdSize - 1] != 0) return -1;
    int rows = 0;
    for (std::size_t i = prefix; i < TargaImageIdSize - 1; ++i) {
        if (id[i] < '0' || id[i] > '9') return -1;
        rows = rows * 10 + (id[i] - '0');
    }
    return rows;
}

// Checks that the old image is one this render can continue and finds its drawn pixels.
OldImageFit scanOldImage(const TargaOutput& out, OldImage& old) {
    std::FILE* f = old.file;
    std::uint8_t h[TargaHeaderSize];
    const long size = fileSize(f);
    if (size < TargaHeaderSize || std::fseek(f, 0, SEEK_SET) != 0 ||
        std::fread(h, 1, sizeof h, f) != sizeof h) {
        warning("Old image has a corrupted header. Can't resume rendering...");
        return OldImageFit::Unfit;
    }
    const int oldWidth = h[12] | (h[13] << 8);
    const int oldHeight = h[14] | (h[15] << 8);
    if (oldWidth != out.width || oldHeight != out.height) {
        warning("Original image (%dx%d) overidden to match new image (%dx%d)", oldWidth, oldHeight, out.width,
                out.height);
        return OldImageFit::Unfit;
    }
    const int newType = targaImageType(out.bitsPerPixel, out.compressed);
    if (h[2] != newType) {
        warning("Original file type (%d) overidden to match new file type (%d)", h[2], newType);
        return OldImageFit::Unfit;
    }
    if (h[17] != 32) {
        warning("Original orientation doesn't match new");
        return OldImageFit::Unfit;
    }
    if (h[16] != out.bitsPerPixel) {
        warning("Original bits/pixel (%d) overidden to match new (%d)", h[16], out.bitsPerPixel);
        return OldImageFit::Unfit;
    }
    const long idEnd = TargaHeaderSize + h[0];
    if (idEnd > size || std::fseek(f, idEnd, SEEK_SET) != 0) {
        warning("Old image has a corrupted header. Can't resume rendering...");
        return OldImageFit::Unfit;
    }
    // Only our own image ID tells where the pixel data starts and which of its rows were drawn; an
    // image with another one (or a damaged length byte) is not read, and not destroyed either.
    std::uint8_t id[TargaImageIdSize];
    int wholeRows = -1;
    if (h[0] == TargaImageIdSize && h[1] == 0 && std::fseek(f, TargaHeaderSize, SEEK_SET) == 0 &&
        std::fread(id, 1, sizeof id, f) == sizeof id)
        wholeRows = wholeRowsFromId(id);
    if (wholeRows < 0) {
        warning("Old image has a damaged image ID. Can't resume rendering...");
        return OldImageFit::Foreign;
    }
    const long dataStart = idEnd;
    if (std::fseek(f, dataStart, SEEK_SET) != 0) {
        warning("Unable to read old image successfully. Can't resume rendering...");
        return OldImageFit::Unfit;
    }
    old.rowOffsets.assign(static_cast<std::size_t>(out.height), 0);
    old.drawn.assign(out.drawn.size(), 0);
    const int rows = scanRows(out, old, dataStart);
    const std::size_t rowBytes = static_cast<std::size_t>(out.rowBytes);
    std::vector<std::uint8_t> table;
    if (wholeRows == MaxTargaSide) {
        // A finished image; older versions marked the rows of a stopped render with one byte per row.
        const bool rowTable =
            readDeveloperTag(f, size, CompletionTableTag, static_cast<std::size_t>(out.height), table);
        for (int r = 0; r < rows; ++r)
            if (!rowTable || table[static_cast<std::size_t>(r)])
                setWholeRow(old.drawn.data() + r * rowBytes, out.width);
    } else if (readDeveloperTag(f, size, DrawnPixelTableTag, old.drawn.size(), table)) {
        std::copy(table.begin(), table.begin() + static_cast<long>(rows * rowBytes), old.drawn.begin());
    } else {
        // The table went with a lost end of file: only the rows before the first undrawn one count.
        for (int r = 0; r < std::min(rows, wholeRows); ++r)
            setWholeRow(old.drawn.data() + r * rowBytes, out.width);
    }
    return OldImageFit::Usable;
}

// Moves the file aside to a new unique name in the same folder; "" when that is not possible.
std::string moveAside(const std::string& path, const char* suffix) {
    std::string pattern = path + suffix;
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

// Copies that a resumed run killed before its end left beside the image: "NAME.resume-XXXXXX".
std::vector<std::string> leftoverCopies(const std::string& path) {
    std::vector<std::string> found;
    std::error_code ec;
    const std::filesystem::path image(path);
    const std::string prefix = image.filename().string() + ".resume-";
    const std::filesystem::path folder = image.has_parent_path() ? image.parent_path() : ".";
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            it->is_regular_file(ec))
            found.push_back((folder / name).string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Opens and scans one old image; it joins the sources when usable.
OldImageFit addOldImage(TargaOutput& out, std::FILE* file) {
    OldImage old;
    old.file = file;
    if (!old.file) return OldImageFit::Unfit;
    const OldImageFit fit = scanOldImage(out, old);
    if (fit == OldImageFit::Usable) out.oldImages.push_back(std::move(old));
    return fit;
}

void mergeDrawn(TargaOutput& out) {
    for (const OldImage& old : out.oldImages)
        for (std::size_t i = 0; i < out.drawn.size(); ++i) out.drawn[i] |= old.drawn[i];
    for (int r = 0; r < out.height; ++r) markDrawn(out, r, 0, 0);
}

}  // namespace

OldImage::OldImage(OldImage&& other) noexcept
    : file(other.file), rowOffsets(std::move(other.rowOffsets)), drawn(std::move(other.drawn)) {
    other.file = nullptr;
}

OldImage::~OldImage() {
    if (file) std::fclose(file);
}

void prepareResume(TargaOutput& out, const std::string& path) {
    const std::vector<std::string> leftovers = leftoverCopies(path);
    const std::string found = searchPath().find(path);
    if (!found.empty() && !sameFile(found, path)) {
        // The old image lives elsewhere on the search path: the new file does not replace it.
        addOldImage(out, std::fopen(found.c_str(), "rb"));
    } else if (!found.empty()) {
        // The new file will take the old one's place: keep the old image aside, even when its rows
        // cannot be used, until the new image holds at least as much.
        OldImageFit fit;
        {
            FileHandle probe(std::fopen(found.c_str(), "rb"));
            if (!probe) return;
            OldImage scanned;
            scanned.file = probe.release();
            fit = scanOldImage(out, scanned);
        }
        // An image we cannot read is kept under another name than the copies a resume reads.
        out.resumeCopyName = moveAside(path, fit == OldImageFit::Foreign ? ".kept-XXXXXX" : ".resume-XXXXXX");
        if (out.resumeCopyName.empty()) {
            if (fit == OldImageFit::Usable && addOldImage(out, copyToTemporary(path)) != OldImageFit::Usable)
                warning("Failed to duplicate image to resume");
        } else if (fit == OldImageFit::Foreign) {
            out.keepResumeCopy = true;
            warning("Original image kept as \"%s\"", out.resumeCopyName.c_str());
        } else if (fit == OldImageFit::Usable) {
            std::FILE* copy = std::fopen(out.resumeCopyName.c_str(), "rb");
            if (!copy) {
                restoreOldImage(out);
                fatal("ImageFile access error");
            }
            addOldImage(out, copy);
        }
    }
    // Copies an earlier resumed run left behind: their drawn pixels are used where the image lacks
    // them, and they go once the new image holds everything.
    for (const std::string& name : leftovers) {
        if (addOldImage(out, std::fopen(name.c_str(), "rb")) == OldImageFit::Usable)
            out.leftoverCopies.push_back(name);
        else
            warning("Original image kept as \"%s\"", name.c_str());
    }
    mergeDrawn(out);
}

void restoreOldImage(TargaOutput& out) {
    out.oldImages.clear();
    if (!out.resumeCopyName.empty()) {
        std::rename(out.resumeCopyName.c_str(), out.fileName.c_str());
        out.resumeCopyName.clear();
    }
    std::fill(out.drawn.begin(), out.drawn.end(), 0);
    std::fill(out.rowDone.begin(), out.rowDone.end(), 0);
}

void releaseOldImages(TargaOutput& out, bool newImageComplete) {
    out.oldImages.clear();
    if (newImageComplete) {
        if (!out.resumeCopyName.empty() && !out.keepResumeCopy) std::remove(out.resumeCopyName.c_str());
        for (const std::string& name : out.leftoverCopies) std::remove(name.c_str());
    }
    out.resumeCopyName.clear();
    out.leftoverCopies.clear();
}

namespace {

bool decodeRow(const TargaOutput& out, std::FILE* f, long offset, std::uint8_t* rgba) {
    if (std::fseek(f, offset, SEEK_SET) != 0) return false;
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

}  // namespace

bool decodeOldRow(TargaOutput& out, int row, std::uint8_t* rgba) {
    const std::size_t pixels = static_cast<std::size_t>(out.width);
    std::fill(rgba, rgba + 4 * pixels, 0);
    if (row < 0 || row >= out.height || out.width == 0) return false;
    std::vector<std::uint8_t> decoded(4 * pixels), taken(pixels, 0);
    bool any = false;
    const std::size_t rowStart = static_cast<std::size_t>(row) * out.rowBytes;
    for (OldImage& old : out.oldImages) {
        const long offset = old.rowOffsets[static_cast<std::size_t>(row)];
        const std::uint8_t* bits = old.drawn.data() + rowStart;
        if (offset == 0 || std::all_of(bits, bits + out.rowBytes, [](std::uint8_t b) { return b == 0; }))
            continue;
        if (!decodeRow(out, old.file, offset, decoded.data())) {
            // Unreadable after all: its pixels count as not drawn, so the render draws them.
            std::fill(old.drawn.begin() + static_cast<long>(rowStart),
                      old.drawn.begin() + static_cast<long>(rowStart + out.rowBytes), 0);
            std::fill(out.drawn.begin() + static_cast<long>(rowStart),
                      out.drawn.begin() + static_cast<long>(rowStart + out.rowBytes), 0);
            for (const OldImage& other : out.oldImages)
                for (std::size_t i = rowStart; i < rowStart + out.rowBytes; ++i)
                    out.drawn[i] |= other.drawn[i];
            markDrawn(out, row, 0, 0);
            continue;
        }
        for (std::size_t x = 0; x < pixels; ++x) {
            if (taken[x] || !((bits[x / 8] >> (x % 8)) & 1)) continue;
            std::memcpy(rgba + 4 * x, decoded.data() + 4 * x, 4);
            taken[x] = 1;
            any = true;
        }
    }
    return any;
}

bool readResumedRow(FrameBuffers& frame, TargaOutput& out, int row) {
    SBuffer& sb = frame.color;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width + 1) * 4;
    if (!out.resuming() || out.width == 0 || !sb.hasRow(row) || sb.rows[row].size() < rowBytes) return false;
    std::vector<std::uint8_t> decoded(rowBytes);
    if (!decodeOldRow(out, row, decoded.data())) return false;
    std::memcpy(decoded.data() + 4 * out.width, decoded.data() + 4 * (out.width - 1), 4);
    std::memcpy(sb.row(row), decoded.data(), rowBytes);
    return true;
}

}  // namespace quorva
