// The ".qic" irradiance cache file: tagged items, little-endian, written item by item.
//   253  double: the irradiance scale
//   254  one record: int16 level; normal and near direction as three int32 each,
//        floor((c + 1) x 127 + 0.499999); position and irradiance as three doubles each; R and Rmin
//        as floats
//   255  no payload: the primary grid was completed
#pragma once

#include <cstdio>
#include <string>

#include "gi/irradiance_record.h"

namespace quorva {

class IrradianceCache;

inline constexpr int QicScaleTag = 253;
inline constexpr int QicRecordTag = 254;
inline constexpr int QicGridTag = 255;

// Each writer writes its item with one call and flushes it, so that a run cut short keeps every complete
// item; false when the item could not be written whole. Records below level 1 are not written (true).
bool WriteIrradianceRecord(const IrradianceRecord& record, std::FILE* out);
bool WriteIrradianceScale(double scale, std::FILE* out);
bool WriteIrradianceGridComplete(std::FILE* out);

// Reads items to the end of the stream into the cache and prints the outcome. Reading stops at a bad
// tag, a non-finite number, R <= 0 or a position farther than 1e7 from the origin (the
// "Unexpected error" message), or at an item the file ends inside: that is a file cut while it was
// written, and a warning naming `name` says how many records were read. What was read before stays.
// Returns the number of records read.
long ReadIrradianceFile(std::FILE* in, IrradianceCache& cache, const std::string& name = "");

}  // namespace quorva
