// Assembling an image from band part images, streaming each band's stored rows into the new file.
#include "image/band_merge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "diagnostics/diagnostics.h"
#include "image/targa_writer.h"

namespace quorva {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

unsigned little(const std::uint8_t* p, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

struct Layout {
    std::uint8_t header[TargaHeaderSize] = {};
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    bool compressed = false;
};

// The band being read, for messages.
struct Band {
    int index;
    const BandPart& part;
    [[noreturn]] void fail(const char* what) const {
        fatal("Band %d (rows %d to %d): %s %s", index, part.firstRow, part.lastRow, part.path.c_str(), what);
    }
};

// The drawn-pixel bits of rows first..last from the part's table; false when it has none.
bool readDrawnRows(std::FILE* f, const Layout& layout, int first, int last, std::vector<std::uint8_t>& bits) {
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(f);
    std::uint8_t footer[TargaFooterSize];
    if (size < TargaHeaderSize + TargaFooterSize || std::fseek(f, size - TargaFooterSize, SEEK_SET) != 0 ||
        std::fread(footer, 1, sizeof footer, f) != sizeof footer ||
        std::memcmp(footer + 8, TargaFooterSignature, sizeof TargaFooterSignature) != 0)
        return false;
    const long directory = static_cast<long>(little(footer + 4, 4));
    std::uint8_t count[2];
    if (directory <= TargaHeaderSize || directory + 2 > size || std::fseek(f, directory, SEEK_SET) != 0 ||
        std::fread(count, 1, 2, f) != 2)
        return false;
    const long rowBytes = (layout.width + 7) / 8;
    for (unsigned i = 0, n = little(count, 2); i < n; ++i) {
        std::uint8_t entry[10];
        if (std::fread(entry, 1, sizeof entry, f) != sizeof entry) return false;
        if (little(entry, 2) != DrawnPixelTableTag) continue;
        const long offset = static_cast<long>(little(entry + 2, 4));
        const long length = static_cast<long>(little(entry + 6, 4));
        if (length != rowBytes * layout.height || offset < TargaHeaderSize || offset + length > size)
            return false;
        bits.resize(static_cast<std::size_t>(rowBytes * (last - first + 1)));
        return std::fseek(f, offset + rowBytes * first, SEEK_SET) == 0 &&
               std::fread(bits.data(), 1, bits.size(), f) == bits.size();
    }
    return false;
}

// Checks that every pixel of the band's rows was drawn; returns the offset of the pixel data.
long checkBandDrawn(std::FILE* f, const Layout& layout, const Band& band) {
    std::uint8_t id[TargaImageIdSize];
    if (layout.header[0] != TargaImageIdSize || std::fread(id, 1, sizeof id, f) != sizeof id)
        band.fail("is not an image written by quorva");
    const long dataStart = TargaHeaderSize + TargaImageIdSize;
    if (std::memcmp(id, TargaImageId, TargaImageIdSize) == 0) return dataStart;
    const std::size_t prefix = sizeof TargaPartialIdPrefix - 1;
    if (std::memcmp(id, TargaPartialIdPrefix, prefix) != 0 || id[TargaImageIdSize - 1] != 0)
        band.fail("is not an image written by quorva");
    int wholeRows = 0;
    for (std::size_t i = prefix; i < TargaImageIdSize - 1; ++i) wholeRows = wholeRows * 10 + (id[i] - '0');
    if (band.part.lastRow < wholeRows) return dataStart;
    const int first = std::max(band.part.firstRow, wholeRows);
    std::vector<std::uint8_t> bits;
    if (!readDrawnRows(f, layout, first, band.part.lastRow, bits)) {
        char what[96];
        std::snprintf(what, sizeof what, "has no drawn-pixel table: row %d is not drawn", first);
        band.fail(what);
    }
    const std::size_t rowBytes = static_cast<std::size_t>((layout.width + 7) / 8);
    for (int y = first; y <= band.part.lastRow; ++y)
        for (int x = 0; x < layout.width; ++x)
            if (!((bits[(y - first) * rowBytes + x / 8] >> (x % 8)) & 1)) {
                char what[64];
                std::snprintf(what, sizeof what, "does not hold row %d", y);
                band.fail(what);
            }
    return dataStart;
}

// Reads one stored row (as the writer put it, packets ending with the row) into `row`.
bool readStoredRow(std::FILE* f, const Layout& layout, std::vector<std::uint8_t>& row) {
    const std::size_t bpp = static_cast<std::size_t>(layout.bytesPerPixel);
    row.clear();
    if (!layout.compressed) {
        row.resize(bpp * static_cast<std::size_t>(layout.width));
        return std::fread(row.data(), 1, row.size(), f) == row.size();
    }
    int x = 0;
    while (x < layout.width) {
        const int header = std::getc(f);
        if (header == EOF) return false;
        const int n = (header & 0x7F) + 1;
        if (x + n > layout.width) return false;
        const std::size_t stored = (header & 0x80) ? bpp : bpp * static_cast<std::size_t>(n);
        const std::size_t at = row.size();
        row.resize(at + 1 + stored);
        row[at] = static_cast<std::uint8_t>(header);
        if (std::fread(row.data() + at + 1, 1, stored, f) != stored) return false;
        x += n;
    }
    return true;
}

Layout readLayout(std::FILE* f, const Band& band) {
    Layout layout;
    if (std::fread(layout.header, 1, TargaHeaderSize, f) != TargaHeaderSize)
        band.fail("is not an image written by quorva");
    const std::uint8_t* h = layout.header;
    layout.width = h[12] | (h[13] << 8);
    layout.height = h[14] | (h[15] << 8);
    layout.bytesPerPixel = h[16] / 8;
    layout.compressed = h[2] >= 8;
    const bool known = (h[2] == 2 || h[2] == 3 || h[2] == 10 || h[2] == 11) && h[16] % 8 == 0 &&
                       layout.bytesPerPixel >= 1 && layout.bytesPerPixel <= 4 && h[17] == 0x20;
    if (!known) band.fail("is not an image written by quorva");
    return layout;
}

}  // namespace

void mergeBandParts(const std::vector<BandPart>& parts, const std::string& output) {
    if (parts.empty()) fatal("No band parts to merge");
    Layout first;
    std::string temporary = output + ".merge-XXXXXX";
    File out;
    struct Cleanup {
        std::string& path;
        bool done = false;
        ~Cleanup() {
            if (!done && !path.empty()) std::remove(path.c_str());
        }
    } cleanup{temporary};
    std::vector<std::uint8_t> row;
    int nextRow = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Band band{static_cast<int>(i), parts[i]};
        if (parts[i].firstRow != nextRow) {
            if (parts[i].firstRow > nextRow)
                fatal("Rows %d to %d are in no band", nextRow, parts[i].firstRow - 1);
            fatal("Band %d (rows %d to %d) overlaps the band before it", band.index, parts[i].firstRow,
                  parts[i].lastRow);
        }
        if (parts[i].lastRow < parts[i].firstRow)
            fatal("Band %d (rows %d to %d) is empty", band.index, parts[i].firstRow, parts[i].lastRow);
        File part(std::fopen(parts[i].path.c_str(), "rb"));
        if (!part) band.fail("is missing");
        const Layout layout = readLayout(part.get(), band);
        if (i == 0) {
            first = layout;
            if (parts.back().lastRow != layout.height - 1 && parts.back().lastRow < layout.height)
                fatal("Rows %d to %d are in no band", parts.back().lastRow + 1, layout.height - 1);
            const int fd = mkstemp(temporary.data());
            if (fd < 0) {
                temporary.clear();
                fatal("Unable to create image file %s", output.c_str());
            }
            const mode_t mask = umask(0);
            umask(mask);
            fchmod(fd, 0666 & ~mask);  // the permissions of any new image, not those of a temporary file
            out.reset(fdopen(fd, "wb"));
            if (!out) {
                ::close(fd);
                fatal("Unable to create image file %s", output.c_str());
            }
            std::fwrite(layout.header, 1, TargaHeaderSize, out.get());
            std::fwrite(TargaImageId, 1, TargaImageIdSize, out.get());
        } else if (std::memcmp(layout.header, first.header, TargaHeaderSize) != 0) {
            band.fail("differs in size or pixel format from the first band");
        }
        if (parts[i].lastRow >= layout.height) band.fail("has fewer rows than the band");
        const long dataStart = checkBandDrawn(part.get(), layout, band);
        long skip = dataStart;
        if (!layout.compressed)
            skip += static_cast<long>(parts[i].firstRow) * layout.width * layout.bytesPerPixel;
        if (std::fseek(part.get(), skip, SEEK_SET) != 0) band.fail("is damaged");
        for (int y = layout.compressed ? 0 : parts[i].firstRow; y <= parts[i].lastRow; ++y) {
            if (!readStoredRow(part.get(), layout, row)) band.fail("is damaged or cut short");
            if (y >= parts[i].firstRow && std::fwrite(row.data(), 1, row.size(), out.get()) != row.size())
                fatal("Failed to write Targa image file %s", output.c_str());
        }
        nextRow = parts[i].lastRow + 1;
    }
    std::FILE* f = out.release();
    const bool written = std::fflush(f) == 0 && !std::ferror(f) && fsync(fileno(f)) == 0;
    if (std::fclose(f) != 0 || !written) fatal("Failed to write Targa image file %s", output.c_str());
    if (std::rename(temporary.c_str(), output.c_str()) != 0)
        fatal("Failed to write Targa image file %s", output.c_str());
    cleanup.done = true;
}

}  // namespace quorva
