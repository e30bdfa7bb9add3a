// What a band part image was rendered from, as the farm's task wrapper records it beside the part
// (PART.source): lines "KEY VALUE", today "scene" (a hash of the scene and shader file texts),
// "options" (the options that change pixels) and "frame". Parts of one image must have equal records.
#pragma once

#include <string>
#include <vector>

#include "image/band_merge.h"

namespace quorva {

// The record file beside a part image.
std::string partRecordPath(const std::string& partPath);

// Checks that the parts come from one render. Either every part has a record, and the records are
// equal, or none has (parts rendered by hand): returns false then, so that the caller can say the
// parts were not compared. A record that differs from the first band's, a part without a record
// beside parts with one, and an unreadable or damaged record are fatal errors naming the band.
bool checkPartRecords(const std::vector<BandPart>& parts);

}  // namespace quorva
