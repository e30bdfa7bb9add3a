// One stored photon: 32 bytes, the same in memory and in the ".qpm" file. Power is kept as three bytes
// with a shared multiplier relative to the map's power scale S; the direction towards where the photon
// came from is kept as two signed angle indices.
#pragma once

#include <array>
#include <cstdint>

#include "geometry/vec3.h"

namespace quorva {

struct Photon {
    double position[3] = {0, 0, 0};
    std::uint8_t power[3] = {0, 0, 0};
    std::uint8_t multiplier = 0;  // m: power = byte / ((m + 1) S)
    std::uint8_t axis = 0;        // kd-tree split axis; only the low 3 bits are read
    std::int8_t theta = 0;        // elevation index, angle = index x pi / 127
    std::int8_t phi = 0;          // azimuth index
    std::uint8_t padding = 0;

    Vec3 point() const { return {position[0], position[1], position[2]}; }
    int splitAxis() const { return axis & 7; }
};
static_assert(sizeof(Photon) == 32, "a photon is 32 bytes in memory and in the file");

// Index scale of the direction angles: 127 / pi.
constexpr double PhotonAngleScale = 40.42535554534142;

// Sin and cos of the 255 angle indices -127..127 (built once per set of maps).
class PhotonDirections {
  public:
    PhotonDirections();
    // Unit direction (cos t cos p, sin t, cos t sin p) of a photon's angle indices.
    Vec3 direction(const Photon& p) const;

  private:
    std::array<double, 255> sin_{}, cos_{};
};

// Encodes power (already scaled by the map's S) and the direction towards `previous`. `power` must have
// a largest channel above 0; S > 0.
void encodePhoton(Photon& p, const Color& power, double S, const Vec3& position, const Vec3& previous);

// Encodes only the power of a photon for the scale S (the direction and position stay).
void encodePhotonPower(Photon& p, const Color& power, double S);

// Re-expresses a photon's power for a map whose scale was divided by `factor`, a power of two: the
// multiplier takes the factor while it fits, which keeps the power exactly; beyond that the bytes are
// scaled down.
void rescalePhotonPower(Photon& p, double factor);

// Power of a stored photon for the map's scale S.
Color photonPower(const Photon& p, double S);

}  // namespace quorva
