// quorva-merge: writes the image of a full render from the band part images of a cluster render.
//   quorva-merge OUTPUT.tga PART FIRST LAST [PART FIRST LAST ...]
// Each PART must hold rows FIRST..LAST drawn whole; the bands follow each other from row 0 to the last
// row. Exit status 0 when the image was written, 1 otherwise (the parts are left as they were).
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "image/band_merge.h"

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
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "Usage: quorva-merge OUTPUT.tga PART FIRST LAST [PART FIRST LAST ...]\n");
        return 1;
    }
    std::vector<quorva::BandPart> parts;
    for (int i = 2; i + 2 < argc; i += 3) {
        quorva::BandPart part;
        part.path = argv[i];
        if (!parseRow(argv[i + 1], part.firstRow) || !parseRow(argv[i + 2], part.lastRow)) {
            std::fprintf(stderr, "quorva-merge: bad row numbers %s %s\n", argv[i + 1], argv[i + 2]);
            return 1;
        }
        parts.push_back(part);
    }
    try {
        quorva::mergeBandParts(parts, argv[1]);
    } catch (const quorva::FatalError& error) {
        std::fprintf(stderr, "quorva-merge: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quorva-merge: out of memory\n");
        return 1;
    }
    return 0;
}
