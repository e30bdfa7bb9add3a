// Gradient noise tables and evaluation.
#include "shading/noise.h"

#include <cmath>

#include "shading/noise_lattice.h"
#include "shading/noise_tables.h"

namespace quorva {
namespace {

using noise_detail::latticeAxis;
using noise_detail::lerp;
using noise_detail::sCurve;

GradientTable buildGradientTable() {
    GradientTable t;
    LcgRandom random(61);
    auto component = [&random] { return ((random.next() % 512) - 256) / 256.0; };
    for (int i = 0; i < GradientTable::Size; ++i) {
        Vec3 g;
        do {
            g.x = component();
            g.y = component();
            g.z = component();
        } while (lengthSquared(g) > 1.0);
        if (lengthSquared(g) < 1e-20)
            g = {1, 0, 0};
        else
            normalize(g);
        t.gradient[i] = g;
    }
    for (int i = 0; i < GradientTable::Size; ++i) t.permutation[i] = i;
    for (int i = GradientTable::Size - 1; i >= 0; --i) {
        int j = random.next() % GradientTable::Size;
        int k = t.permutation[i];
        t.permutation[i] = t.permutation[j];
        t.permutation[j] = k;
    }
    for (int i = 0; i < GradientTable::Size + 2; ++i) {
        t.permutation[GradientTable::Size + i] = t.permutation[i];
        t.gradient[GradientTable::Size + i] = t.gradient[i];
    }
    t.generatorState = random.state();
    return t;
}

// Lattice cell and the offsets to its two corners along one axis.
struct AxisSetup {
    int b0, b1;
    double r0, r1;
};

AxisSetup setupAxis(double v) {
    const auto [cell, fraction] = latticeAxis(v, 10000.0231, GradientTable::Size - 1);
    AxisSetup s;
    s.b0 = cell;
    s.b1 = (s.b0 + 1) & (GradientTable::Size - 1);
    s.r0 = fraction;
    s.r1 = s.r0 - 1.0;
    return s;
}
double at3(const Vec3& g, double rx, double ry, double rz) {
    return rx * g.x + ry * g.y + rz * g.z;
}

}  // namespace

const GradientTable& gradientTable() {
    static const GradientTable table = buildGradientTable();
    return table;
}

double gradientNoise(const Vec3& p) {
    const GradientTable& t = gradientTable();
    const AxisSetup x = setupAxis(p.x), y = setupAxis(p.y), z = setupAxis(p.z);
    const int i = t.permutation[x.b0], j = t.permutation[x.b1];
    const int b00 = t.permutation[i + y.b0], b10 = t.permutation[j + y.b0];
    const int b01 = t.permutation[i + y.b1], b11 = t.permutation[j + y.b1];
    const double sx = sCurve(x.r0), sy = sCurve(y.r0), sz = sCurve(z.r0);

    double u = at3(t.gradient[b00 + z.b0], x.r0, y.r0, z.r0);
    double v = at3(t.gradient[b10 + z.b0], x.r1, y.r0, z.r0);
    double a = lerp(sx, u, v);
    u = at3(t.gradient[b01 + z.b0], x.r0, y.r1, z.r0);
    v = at3(t.gradient[b11 + z.b0], x.r1, y.r1, z.r0);
    double b = lerp(sx, u, v);
    const double c = lerp(sy, a, b);

    u = at3(t.gradient[b00 + z.b1], x.r0, y.r0, z.r1);
    v = at3(t.gradient[b10 + z.b1], x.r1, y.r0, z.r1);
    a = lerp(sx, u, v);
    u = at3(t.gradient[b01 + z.b1], x.r0, y.r1, z.r1);
    v = at3(t.gradient[b11 + z.b1], x.r1, y.r1, z.r1);
    b = lerp(sx, u, v);
    const double d = lerp(sy, a, b);

    return 0.75 * lerp(sz, c, d) + 0.5;
}

double fnoise(const Vec3& p, int octaves, double lacunarity, double gain) {
    double sum = 0, weights = 0, amplitude = 1;
    Vec3 q = p;
    for (int i = 0; i < octaves; ++i) {
        sum += std::fabs(gradientNoise(q) - 0.5) * amplitude;
        weights += amplitude;
        q *= lacunarity;
        amplitude *= gain;
    }
    return weights > 0 ? sum / (0.5 * weights) : 0.0;
}

Vec3 dnoise(const Vec3& p, const Octaves& octaves) {
    Vec3 sum{0, 0, 0};
    double weights = 0, amplitude = 1;
    Vec3 q = p;
    for (int i = 0; i < octaves.count; ++i) {
        sum.x += gradientNoise(q) * amplitude;
        sum.y += gradientNoise({q.y, q.z, q.x}) * amplitude;
        sum.z += gradientNoise({q.z, q.x, q.y}) * amplitude;
        weights += amplitude;
        q *= octaves.lacunarity;
        amplitude *= octaves.gain;
    }
    if (weights != 0) sum *= 1.0 / (0.5 * weights);
    normalize(sum);
    return sum;
}

double gradientNoise1(double x) {
    const NoiseTables& t = noiseTables();
    const auto [b0, r0] = latticeAxis(x, 10000.0231, NoiseTables::Size - 1);
    const int b1 = (b0 + 1) & (NoiseTables::Size - 1);
    const double u = r0 * t.gradient1[t.permutation1[b0]];
    const double v = (r0 - 1.0) * t.gradient1[t.permutation1[b1]];
    return lerp(sCurve(r0), u, v);
}

}  // namespace quorva
