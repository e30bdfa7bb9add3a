// Uniform and ground fog over one ray segment.
#include "render/fog.h"

#include <algorithm>
#include <cmath>

#include "trace/frame.h"

namespace quorva {
namespace {
// Points this far below the ground plane count as under it.
constexpr double GroundTolerance = -0.001;
}  // namespace

void applyFog(const FogSettings& fog, const Ray& ray, double length, bool missed, double hitY,
              double shadowBias, Color& colour) {
    const double f = fog.density;
    if (f > 0 && f < 1 && length > fog.start) {
        double k = std::pow(1 - f, length - fog.start);
        colour = k * colour + (1 - k) * fog.colour;
        return;
    }
    const double hs = fog.heightScale;
    const double ds = fog.distanceScale;
    if (!(hs > 0 && ds > 0)) return;

    const double oy = ray.origin.y;
    const double dy = ray.direction.y;
    if (oy < GroundTolerance) return;
    // A ray heading down that ends on or under the ground only crosses the fog down to y = 0.
    double fogLength = length;
    if (dy < 0 && (missed || hitY < GroundTolerance)) fogLength = -oy / dy;

    double m;
    if (std::fabs(dy) < shadowBias) {
        // Nearly horizontal: constant density exp(-oy/hs) over the whole segment.
        m = std::exp(-std::exp(-oy / hs) * length / ds);
    } else {
        // Density exp(-y/hs) integrated along the ray from oy to oy + fogLength * dy.
        m = std::exp(-(hs / (dy * ds)) * (std::exp(-oy / hs) - std::exp(-(oy + fogLength * dy) / hs)));
    }
    m = std::clamp(m, 0.0, 1.0);
    colour = m * (colour - fog.colour) + fog.colour;
}

}  // namespace quorva
