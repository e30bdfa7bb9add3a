// Value noises: the hashed lattice noise of the `noise` built-in and the pattern bumps, and the
// Catmull-Rom (vnoise) and convolution (vcnoise) noises on the value lattice.
#include <cmath>

#include "shading/noise.h"
#include "shading/noise_lattice.h"
#include "shading/noise_tables.h"

namespace quorva {
namespace {

using namespace noise_detail;

constexpr int HashedMask = 1023;  // the hashed lattice repeats every 1024 cells

double hashedValue(int i, int j, int k) {
    const std::uint32_t h =
        hashCell(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(k));
    return (h & 0xffffu) / 65535.0;
}

// Lattice value at cell (ix, iy, iz) of the 256-periodic value lattice.
double latticeValue(const NoiseTables& t, int ix, int iy, int iz) {
    const int* p = t.valuePermutation;
    return t.values[p[(ix + p[(iy + p[iz & 255]) & 255]) & 255]];
}

// Catmull-Rom spline through p0..p3 at t in [0, 1] (between p1 and p2).
double catmullRom(double t, double p0, double p1, double p2, double p3) {
    const double a = -0.5 * p0 + 1.5 * p1 - 1.5 * p2 + 0.5 * p3;
    const double b = p0 - 2.5 * p1 + 2.0 * p2 - 0.5 * p3;
    const double c = -0.5 * p0 + 0.5 * p2;
    return ((a * t + b) * t + c) * t + p1;
}

}  // namespace

double valueNoise(const Vec3& p) {
    const LatticeAxis x = latticeAxis(p.x, 100000.0, HashedMask);
    const LatticeAxis y = latticeAxis(p.y, 100000.0, HashedMask);
    const LatticeAxis z = latticeAxis(p.z, 100000.0, HashedMask);
    const int x1 = (x.index + 1) & HashedMask, y1 = (y.index + 1) & HashedMask,
              z1 = (z.index + 1) & HashedMask;
    const double sx = sCurve(x.fraction), sy = sCurve(y.fraction), sz = sCurve(z.fraction);
    auto plane = [&](int k) {
        const double a = lerp(sx, hashedValue(x.index, y.index, k), hashedValue(x1, y.index, k));
        const double b = lerp(sx, hashedValue(x.index, y1, k), hashedValue(x1, y1, k));
        return lerp(sy, a, b);
    };
    return lerp(sz, plane(z.index), plane(z1));
}

double valueNoiseSum(const Vec3& p, const Octaves& octaves) {
    double sum = 0, weights = 0, amplitude = 1;
    Vec3 q = p;
    for (int i = 0; i < octaves.count; ++i) {
        sum += valueNoise(q) * amplitude;
        weights += amplitude;
        q *= octaves.lacunarity;
        amplitude *= octaves.gain;
    }
    return weights != 0 ? sum / weights : 0.0;
}

Vec3 vectorValueNoise(const Vec3& p) {
    return {valueNoise(p - Vec3{1000, 1000, 1000}), valueNoise(p), valueNoise(p + Vec3{2000, 2000, 2000})};
}

double vnoise(const Vec3& p) {
    const NoiseTables& t = noiseTables();
    const LatticeAxis x = latticeAxis(p.x, 0.0, 255);
    const LatticeAxis y = latticeAxis(p.y, 0.0, 255);
    const LatticeAxis z = latticeAxis(p.z, 0.0, 255);
    double planes[4];
    for (int k = 0; k < 4; ++k) {
        double rows[4];
        for (int j = 0; j < 4; ++j) {
            const int iy = y.index + j - 1, iz = z.index + k - 1;
            rows[j] =
                catmullRom(x.fraction, latticeValue(t, x.index - 1, iy, iz), latticeValue(t, x.index, iy, iz),
                           latticeValue(t, x.index + 1, iy, iz), latticeValue(t, x.index + 2, iy, iz));
        }
        planes[k] = catmullRom(y.fraction, rows[0], rows[1], rows[2], rows[3]);
    }
    return catmullRom(z.fraction, planes[0], planes[1], planes[2], planes[3]);
}

double vcnoise(const Vec3& p) {
    const NoiseTables& t = noiseTables();
    const LatticeAxis x = latticeAxis(p.x, 0.0, 255);
    const LatticeAxis y = latticeAxis(p.y, 0.0, 255);
    const LatticeAxis z = latticeAxis(p.z, 0.0, 255);
    double sum = 0;
    for (int k = -1; k <= 2; ++k) {
        const double dz = z.fraction - k;
        for (int j = -1; j <= 2; ++j) {
            const double dy = y.fraction - j;
            const double syz = dy * dy + dz * dz;
            if (syz >= 4) continue;
            for (int i = -1; i <= 2; ++i) {
                const double dx = x.fraction - i;
                const double s = dx * dx + syz;
                if (s >= 4) continue;
                sum += latticeValue(t, x.index + i, y.index + j, z.index + k) *
                       t.convolutionKernel[static_cast<int>(100 * s + 0.5)];
            }
        }
    }
    return sum;
}

}  // namespace quorva
