// quorva-merge: writes the image of a full render from the band part images of a cluster render.
//   quorva-merge [-p] OUTPUT.tga PART FIRST LAST [PART FIRST LAST ...]
// Each PART must hold rows FIRST..LAST drawn whole; the bands follow each other from row 0 to the last
// row. Parts that record what they were rendered from (PART.source, written by quorva-farm's tasks)
// must agree; -p also writes OUTPUT.png, as quorva's -p does for a complete image. Exit status 0 when
// the image was written, 1 otherwise (the parts are left as they were, nothing under OUTPUT is new).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/band_merge.h"
#include "image/png_writer.h"
#include "tools/part_record.h"

namespace {

bool parseRow(const char* text, int& row) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || value < 0 || value > 65535) return false;
    row = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const bool png = argc > 1 && std::strcmp(argv[1], "-p") == 0;
    if (png) ++first;
    if (argc - first < 4 || (argc - first - 1) % 3 != 0) {
        std::fprintf(stderr, "Usage: quorva-merge [-p] OUTPUT.tga PART FIRST LAST [PART FIRST LAST ...]\n");
        return 1;
    }
    const std::string output = argv[first];
    std::vector<quorva::BandPart> parts;
    for (int i = first + 1; i + 2 < argc; i += 3) {
        quorva::BandPart part;
        part.path = argv[i];
        if (!parseRow(argv[i + 1], part.firstRow) || !parseRow(argv[i + 2], part.lastRow)) {
            std::fprintf(stderr, "quorva-merge: bad row numbers %s %s\n", argv[i + 1], argv[i + 2]);
            return 1;
        }
        parts.push_back(part);
    }
    try {
        if (!quorva::checkPartRecords(parts))
            std::fprintf(stderr, "quorva-merge: warning: no part records what it was rendered from; the "
                                 "bands are not checked to come from one scene\n");
        quorva::mergeBandParts(parts, output);
        if (png) quorva::writePngCopy(output, quorva::pngNameFor(output));
    } catch (const quorva::FatalError& error) {
        std::fprintf(stderr, "quorva-merge: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quorva-merge: out of memory\n");
        return 1;
    }
    return 0;
}
