// The 3DS chunk tree read into a Model: background and fog, materials, meshes, lights and cameras.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/model.h"
#include "converter/report.h"

namespace quorva::converter {

struct ReadSettings {
    bool gamma = false;                 // take the second colour sub-chunk when there is one
    std::vector<std::string> excluded;  // named objects, lights and cameras not converted
    std::string cameraName;             // only this camera; empty: the first
    std::string fileName;               // the file as messages name it
};

// Reads a whole 3DS file held in memory. Raises the format errors, among them "Invalid number in 3DS
// file %s (chunk 0x%04x)" for any float that is not finite; prints progress to the console.
Model readTds(const std::vector<std::uint8_t>& bytes, const ReadSettings& settings, Console& console);

// Field of view in degrees for a lens in millimetres: 0.85 x the lens table, the lens first clamped to
// [15, 1000].
double fieldOfView(double lens);

}  // namespace quorva::converter
