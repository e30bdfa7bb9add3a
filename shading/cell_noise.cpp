// Noises built on whole cells: sparse convolution noise, cell noise and the distance to the nearest
// feature point (voronoi).
#include <algorithm>
#include <cmath>

#include "shading/noise.h"
#include "shading/noise_lattice.h"
#include "shading/noise_tables.h"

namespace quorva {
namespace {

using namespace noise_detail;

// A cell's integer coordinates and the hash values drawn from them.
struct Cell {
    double base[3];  // floor of each coordinate
    std::uint32_t bits[3];
};

Cell cellOf(const Vec3& p) {
    Cell c;
    for (int a = 0; a < 3; ++a) {
        c.base[a] = std::floor(finiteOr0(p[a]));
        c.bits[a] = cellBits(c.base[a]);
    }
    return c;
}

double unitOf(std::uint32_t h) {
    return (h >> 8) * (1.0 / 16777216.0);  // 24 bits: [0, 1)
}

// Cell values of stream `stream` (three independent streams for vcellnoise).
double cellValue(std::uint32_t i, std::uint32_t j, std::uint32_t k, std::uint32_t l, std::uint32_t stream) {
    return unitOf(hashCell(i, j, k, l, stream + 1));
}

}  // namespace

double scnoise(const Vec3& p, int impulses) {
    const NoiseTables& t = noiseTables();
    const int n = std::clamp(impulses, 1, NoiseTables::Impulses);
    const Cell c = cellOf(p);
    const Vec3 f{finiteOr0(p.x) - c.base[0], finiteOr0(p.y) - c.base[1], finiteOr0(p.z) - c.base[2]};
    double sum = 0;
    for (int k = -1; k <= 1; ++k)
        for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i) {
                const std::uint32_t h = hashCell(c.bits[0] + i, c.bits[1] + j, c.bits[2] + k, 0, 7);
                int index = static_cast<int>(h % NoiseTables::Impulses);
                for (int m = 0; m < n; ++m) {
                    const Vec3& o = t.impulseOffset[index];
                    const double dx = i + o.x - f.x, dy = j + o.y - f.y, dz = k + o.z - f.z;
                    const double d2 = dx * dx + dy * dy + dz * dz;
                    if (d2 < 1) {
                        const double s = 100 * d2;
                        const int e = static_cast<int>(s);
                        const double kernel = lerp(s - e, t.sparseKernel[e], t.sparseKernel[e + 1]);
                        sum += t.impulseWeight[index] * kernel;
                    }
                    if (++index == NoiseTables::Impulses) index = 0;
                }
            }
    return sum / n;
}

double fcellnoise(const Vec3& p, double time, bool hasTime) {
    const Cell c = cellOf(p);
    const std::uint32_t l = hasTime ? cellBits(std::floor(finiteOr0(time))) : 0;
    return cellValue(c.bits[0], c.bits[1], c.bits[2], l, hasTime ? 3 : 0);
}

Vec3 vcellnoise(const Vec3& p, double time, bool hasTime) {
    const Cell c = cellOf(p);
    const std::uint32_t l = hasTime ? cellBits(std::floor(finiteOr0(time))) : 0;
    const std::uint32_t first = hasTime ? 14 : 10;
    return {cellValue(c.bits[0], c.bits[1], c.bits[2], l, first),
            cellValue(c.bits[0], c.bits[1], c.bits[2], l, first + 1),
            cellValue(c.bits[0], c.bits[1], c.bits[2], l, first + 2)};
}

double voronoi(const Vec3& p, double jitter) {
    const double j = std::isfinite(jitter) ? std::clamp(jitter, 0.0, 1.0) : 0.0;
    const Cell c = cellOf(p);
    const Vec3 f{finiteOr0(p.x) - c.base[0], finiteOr0(p.y) - c.base[1], finiteOr0(p.z) - c.base[2]};
    double best = 1e300;
    for (int k = -1; k <= 1; ++k)
        for (int jj = -1; jj <= 1; ++jj)
            for (int i = -1; i <= 1; ++i) {
                const std::uint32_t ci = c.bits[0] + i, cj = c.bits[1] + jj, ck = c.bits[2] + k;
                double dx = i + 0.5 - f.x, dy = jj + 0.5 - f.y, dz = k + 0.5 - f.z;
                if (j > 0) {
                    dx += j * (cellValue(ci, cj, ck, 0, 10) - 0.5);
                    dy += j * (cellValue(ci, cj, ck, 0, 11) - 0.5);
                    dz += j * (cellValue(ci, cj, ck, 0, 12) - 0.5);
                }
                best = std::min(best, dx * dx + dy * dy + dz * dz);
            }
    return std::sqrt(best);
}

}  // namespace quorva
