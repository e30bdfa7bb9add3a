// The ".qpm" photon map file: per map (caustic, media, irradiance) its count (int32) and power scale
// (double), then the photons of each map in that order, 32 bytes each in balanced order; little-endian.
#pragma once

#include <string>

namespace quorva {

class PhotonMap;

// Writes the three maps to a new file; an existing file is never replaced (false). The file appears
// under `path` only once it is complete: a failed or interrupted write leaves nothing there.
bool savePhotonFile(const std::string& path, const PhotonMap& caustic, const PhotonMap& media,
                    const PhotonMap& irradiance);

// Reads the three maps. On any failure (unreadable or short file, negative or oversized counts, a bad
// scale of a non-empty map, a split axis above 2, an angle index of -128) the maps are left empty, false
// is returned and `failure`, when given, says what is wrong in words that follow the file's name.
bool loadPhotonFile(const std::string& path, PhotonMap& caustic, PhotonMap& media, PhotonMap& irradiance,
                    const char** failure = nullptr);

}  // namespace quorva
