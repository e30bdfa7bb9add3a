// Assembling one image from part images that each hold a band of rows (renders limited with -y on
// several machines): the rows are copied as stored, so the result is byte for byte the image one full
// render writes.
#pragma once

#include <string>
#include <vector>

namespace quorva {

// A part image and the rows firstRow..lastRow (inclusive) it must have drawn whole.
struct BandPart {
    std::string path;
    int firstRow = 0;
    int lastRow = 0;
};

// Writes `output` from the bands of `parts`, which must follow each other from row 0 to the last row of
// the image and come from renders of the same frame size and pixel format. Each part is read row by
// row: memory stays within one row plus one band's share of the drawn-pixel table. A missing part, a
// band row that was not drawn, a damaged part or a gap between bands is a fatal error naming the band;
// the parts are never changed, and `output` is replaced only once the new image is complete.
void mergeBandParts(const std::vector<BandPart>& parts, const std::string& output);

}  // namespace quorva
