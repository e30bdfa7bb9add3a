// The photon importance table: the irradiance photons found near a point, binned over the hemisphere of
// its normal by where they came from, steer the hemisphere samples of an irradiance record towards the
// bright indirect light.
//
// The hemisphere is parametrised like the cosine-weighted samples: a unit-square point (xi, u) is the
// direction (cos phi sqrt(1 - xi), sin phi sqrt(1 - xi), sqrt xi), phi = 2 pi u. In that square the
// photon flux from a direction is proportional to the radiance arriving from it, so a table binned over
// the square is the density the samples should follow. Each bin adds the photons' luminance
// 0.299 R + 0.587 G + 0.114 B, plus a floor of half the mean bin so that no direction is left out
// (a weight is at most 3). A square point is drawn from the table by inverting its row and column sums; its
// weight, the uniform density over the table's, keeps the weighted mean an estimate of the same irradiance.
#pragma once

#include <array>

#include "geometry/vec3.h"

namespace quorva {

class PhotonMap;
class PhotonDirections;
class GatherHeap;

// Photons that must lie near a point (arriving from above its surface) before they guide its samples.
inline constexpr int MinimumGuidingPhotons = 11;

class PhotonImportance {
  public:
    static constexpr int Rows = 4;     // along xi (the squared cosine to the normal)
    static constexpr int Columns = 8;  // along the azimuth

    // Gathers the irradiance photons near P from `map` (its gather count, within `radius`) and builds
    // the table in the frame (tu, tv, n). False, and the table unusable, when fewer than
    // MinimumGuidingPhotons arrive from above the surface.
    bool build(const PhotonMap& map, const PhotonDirections& directions, GatherHeap& heap, double radius,
               const Vec3& P, const Vec3& tu, const Vec3& tv, const Vec3& n);
    // Builds the table from unit-square points (xi, u) with their luminance (no floor check).
    void build(const double* xi, const double* u, const double* luminance, int count);

    // Maps the unit-square point (xi, u) to the table's distribution; `weight` = 1 / density there.
    void draw(double& xi, double& u, double& weight) const;
    // The table's density at a unit-square point (1 everywhere for a uniform table).
    double density(double xi, double u) const;

  private:
    void add(double xi, double u, double luminance);
    void finish();

    std::array<double, Rows * Columns> bins_{};
    std::array<double, Rows + 1> rowSums_{};               // cumulative, normalised to 1
    std::array<double, Rows*(Columns + 1)> columnSums_{};  // cumulative per row, normalised to 1
    double total_ = 0;
};

// The unit-square point of a local direction (z along the normal, z > 0).
void hemispherePoint(const Vec3& local, double& xi, double& u);

}  // namespace quorva
