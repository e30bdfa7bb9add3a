// One irradiance record of the cache: the irradiance E sampled over the hemisphere at P, with what the
// interpolation needs to judge and extrapolate it (radius, nearest hit, gradient, bounce level).
#pragma once

#include <cstdint>

#include "geometry/vec3.h"

namespace quorva {

struct IrradianceRecord {
    Vec3 position;                     // P
    Vec3 normal;                       // unit surface normal at P
    float gradient[3][3] = {};         // [axis][channel]: change of the channel per unit move (0: none)
    Color irradiance;                  // E
    float radius = 0;                  // R: harmonic mean distance of the sample rays
    float nearRadius = 0;              // Rmin: shortest sample distance
    Vec3 nearDirection;                // v: direction of the shortest sample
    std::int16_t level = 1;            // bounce level the record was made at (1 = seen from the camera)
};

// Constants of the cache.
inline constexpr double IrradianceScale = 1.1;  // default multiplier of every looked-up value
inline constexpr double MinimumSpacingFactor = 0.0125;
inline constexpr double GridStartFraction = 0.08;  // of the larger image side
inline constexpr double GridEndFraction = 0.02;
inline constexpr double SkyGridEndFraction = 0.01;
inline constexpr double GridErrorFactor = 0.5;
inline constexpr double SampleColourClamp = -1;   // off
inline constexpr double CellOffset = 10000000.0;  // shifts every cell into positive coordinates

}  // namespace quorva
