// Photon encoding: power bytes with a shared multiplier, direction as two angle indices.
#include "gi/photon.h"

#include <algorithm>
#include <cmath>

namespace quorva {

PhotonDirections::PhotonDirections() {
    for (int i = -127; i <= 127; ++i) {
        double a = i * (M_PI / 127);
        sin_[i + 127] = std::sin(a);
        cos_[i + 127] = std::cos(a);
    }
}

Vec3 PhotonDirections::direction(const Photon& p) const {
    // -128 never comes out of encodePhoton and is refused on load; clamp for safety all the same.
    int t = std::max<int>(p.theta, -127) + 127, f = std::max<int>(p.phi, -127) + 127;
    return {cos_[t] * cos_[f], sin_[t], cos_[t] * sin_[f]};
}

void encodePhotonPower(Photon& p, const Color& power, double S) {
    const double largest = std::max({power.r, power.g, power.b});
    // m + 1 = 256 / (largest S) makes the largest byte 256 exactly when the quotient is whole (the
    // first photon of a map, or photons 2^k stronger): clamp the bytes instead of letting them wrap.
    double m = std::floor(256 / (largest * S)) - 1;
    m = std::clamp(m, 0.0, 255.0);
    p.multiplier = static_cast<std::uint8_t>(m);
    for (int i = 0; i < 3; ++i) {
        double b = std::floor(std::max(power[i], 0.0) * S * (m + 1));
        p.power[i] = static_cast<std::uint8_t>(std::clamp(b, 0.0, 255.0));
    }
}

void encodePhoton(Photon& p, const Color& power, double S, const Vec3& position, const Vec3& previous) {
    encodePhotonPower(p, power, S);
    p.position[0] = position.x;
    p.position[1] = position.y;
    p.position[2] = position.z;
    Vec3 d = previous - position;
    double len = length(d);
    if (len > 0) d = d / len;
    const double horizontal = std::sqrt(d.x * d.x + d.z * d.z);
    const double sy = d.y < 0 ? -1 : 1, sz = d.z < 0 ? -1 : 1;
    p.theta =
        static_cast<std::int8_t>(std::trunc(sy * std::acos(std::min(horizontal, 1.0)) * PhotonAngleScale));
    p.phi = horizontal == 0
                ? 0
                : static_cast<std::int8_t>(
                      std::trunc(sz * std::acos(std::clamp(d.x / horizontal, -1.0, 1.0)) * PhotonAngleScale));
    p.axis = 0;
    p.padding = 0;
}

void rescalePhotonPower(Photon& p, double factor) {
    const double multiple = (p.multiplier + 1.0) * factor;
    if (multiple <= 256) {
        p.multiplier = static_cast<std::uint8_t>(multiple - 1);
        return;
    }
    p.multiplier = 255;
    for (std::uint8_t& b : p.power) b = static_cast<std::uint8_t>(std::floor(b * 256.0 / multiple));
}

Color photonPower(const Photon& p, double S) {
    const double f = 1 / ((p.multiplier + 1) * S);
    return {p.power[0] * f, p.power[1] * f, p.power[2] * f};
}

}  // namespace quorva
