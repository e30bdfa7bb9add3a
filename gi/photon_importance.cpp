// Binning the nearby irradiance photons over the hemisphere and drawing sample points from the bins.
#include "gi/photon_importance.h"

#include <algorithm>
#include <cmath>

#include "gi/photon_map.h"

namespace quorva {
namespace {

// Share of the mean bin every bin gets on top of its photons.
constexpr double FloorShare = 0.5;

// Index of the interval of the cumulative sums `c` (c[0] = 0, c[count] = 1) that holds x.
int interval(const double* c, int count, double x) {
    int i = 0;
    while (i < count - 1 && c[i + 1] <= x) ++i;
    return i;
}

}  // namespace

void hemispherePoint(const Vec3& local, double& xi, double& u) {
    const double z = std::clamp(local.z, 0.0, 1.0);
    xi = z * z;
    double a = std::atan2(local.y, local.x) / (2 * M_PI);
    if (a < 0) a += 1;
    u = a >= 1 ? 0 : a;
}

void PhotonImportance::add(double xi, double u, double luminance) {
    if (!(luminance > 0)) return;
    const int r = std::clamp(static_cast<int>(xi * Rows), 0, Rows - 1);
    const int c = std::clamp(static_cast<int>(u * Columns), 0, Columns - 1);
    bins_[r * Columns + c] += luminance;
    total_ += luminance;
}

bool PhotonImportance::build(const PhotonMap& map, const PhotonDirections& directions, GatherHeap& heap,
                             double radius, const Vec3& P, const Vec3& tu, const Vec3& tv, const Vec3& n) {
    bins_.fill(0);
    total_ = 0;
    if (map.count() == 0 || !(radius > 0)) return false;
    double found = 0;
    const int gathered = map.gather(heap, P, radius, &n, found);
    int above = 0;
    for (int i = 0; i < gathered; ++i) {
        const Photon& p = map[heap[i].index];
        const Vec3 d = directions.direction(p);
        const Vec3 local{dot(d, tu), dot(d, tv), dot(d, n)};
        if (!(local.z > 0)) continue;
        ++above;
        const Color c = photonPower(p, map.scale());
        double xi, u;
        hemispherePoint(local, xi, u);
        add(xi, u, 0.299 * c.r + 0.587 * c.g + 0.114 * c.b);
    }
    if (above < MinimumGuidingPhotons || !(total_ > 0)) return false;
    finish();
    return true;
}

void PhotonImportance::build(const double* xi, const double* u, const double* luminance, int count) {
    bins_.fill(0);
    total_ = 0;
    for (int i = 0; i < count; ++i) add(xi[i], u[i], luminance[i]);
    finish();
}

void PhotonImportance::finish() {
    const double floor = total_ > 0 ? FloorShare * total_ / (Rows * Columns) : 1;
    double all = 0;
    for (double& b : bins_) all += (b += floor);
    rowSums_[0] = 0;
    for (int r = 0; r < Rows; ++r) {
        double* c = &columnSums_[r * (Columns + 1)];
        c[0] = 0;
        for (int k = 0; k < Columns; ++k) c[k + 1] = c[k] + bins_[r * Columns + k];
        const double row = c[Columns];
        rowSums_[r + 1] = rowSums_[r] + row / all;
        for (int k = 1; k <= Columns; ++k) c[k] /= row;
        c[Columns] = 1;
    }
    rowSums_[Rows] = 1;
    for (double& b : bins_) b *= Rows * Columns / all;  // the density over the unit square
}

void PhotonImportance::draw(double& xi, double& u, double& weight) const {
    const int r = interval(rowSums_.data(), Rows, xi);
    const double rowShare = rowSums_[r + 1] - rowSums_[r];
    const double fr = rowShare > 0 ? std::clamp((xi - rowSums_[r]) / rowShare, 0.0, 1.0) : 0.5;
    const double* c = &columnSums_[r * (Columns + 1)];
    const int k = interval(c, Columns, u);
    const double colShare = c[k + 1] - c[k];
    const double fc = colShare > 0 ? std::clamp((u - c[k]) / colShare, 0.0, 1.0) : 0.5;
    xi = std::min((r + fr) / Rows, 1.0);
    u = std::min((k + fc) / Columns, 1.0);
    weight = 1 / bins_[r * Columns + k];
}

double PhotonImportance::density(double xi, double u) const {
    const int r = std::clamp(static_cast<int>(xi * Rows), 0, Rows - 1);
    const int k = std::clamp(static_cast<int>(u * Columns), 0, Columns - 1);
    return bins_[r * Columns + k];
}

}  // namespace quorva
