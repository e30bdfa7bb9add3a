// The error of a record at P: the distance over the record's radius, which leans towards its nearest
// sample's distance when P lies in that direction, plus the bend of the normal. A record qualifies when
// the error is below the bound and the record does not lie behind the point; its weight is
// sqrt(1 - error / bound).
#include "gi/irradiance_blend.h"

#include <cmath>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quorva {

namespace {

constexpr int Capacity = IrradianceHits::Capacity;

// What the error needs of each record of a batch, side by side; a batch of odd length gets a harmless
// record after its last.
struct Batch {
    double dx[Capacity + 1], dy[Capacity + 1], dz[Capacity + 1], dist2[Capacity + 1], facing[Capacity + 1];
    double radius[Capacity + 1], nearRadius[Capacity + 1];
    double vx[Capacity + 1], vy[Capacity + 1], vz[Capacity + 1];  // direction of the nearest sample
    double nx[Capacity + 1], ny[Capacity + 1], nz[Capacity + 1];  // normal
};

// The weight of every record and two masks: keep (the record passes the error bound and its weight is
// above 0.001) and frontCheck (the record passes only if the mean normal does not lean away from it,
// which the caller tests). The tests become masks, and a value that a failed test would have left
// uncomputed is computed from a harmless argument.
void weigh(const Batch& b, int count, const Vec3& n, double bound, double* weight, bool* keep,
           bool* frontCheck) {
    int i = 0;
#ifdef __SSE2__
    const __m128d one = _mm_set1_pd(1), zero = _mm_setzero_pd(), half = _mm_set1_pd(0.5);
    const __m128d bounds = _mm_set1_pd(bound), sign = _mm_set1_pd(-0.0);
    const __m128d qx = _mm_set1_pd(n.x), qy = _mm_set1_pd(n.y), qz = _mm_set1_pd(n.z);
    for (; i < count; i += 2) {
        const __m128d dx = _mm_loadu_pd(b.dx + i), dy = _mm_loadu_pd(b.dy + i), dz = _mm_loadu_pd(b.dz + i);
        const __m128d dist = _mm_sqrt_pd(_mm_loadu_pd(b.dist2 + i));
        const __m128d away = _mm_cmpgt_pd(dist, _mm_set1_pd(1e-6));
        const __m128d ux = _mm_div_pd(dx, dist), uy = _mm_div_pd(dy, dist), uz = _mm_div_pd(dz, dist);
        const __m128d cs = _mm_add_pd(
            _mm_add_pd(_mm_mul_pd(ux, _mm_loadu_pd(b.vx + i)), _mm_mul_pd(uy, _mm_loadu_pd(b.vy + i))),
            _mm_mul_pd(uz, _mm_loadu_pd(b.vz + i)));
        const __m128d radius = _mm_loadu_pd(b.radius + i);
        const __m128d leaning = _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(b.nearRadius + i), cs),
                                           _mm_mul_pd(_mm_sub_pd(one, cs), radius));
        const __m128d useNear = _mm_and_pd(away, _mm_cmpgt_pd(cs, zero));
        const __m128d Re = _mm_or_pd(_mm_and_pd(useNear, leaning), _mm_andnot_pd(useNear, radius));
        const __m128d bend = _mm_mul_pd(
            _mm_set1_pd(2), _mm_sqrt_pd(_mm_andnot_pd(sign, _mm_sub_pd(one, _mm_loadu_pd(b.facing + i)))));
        const __m128d eps = _mm_add_pd(_mm_div_pd(dist, Re), bend);
        const __m128d within =
            _mm_and_pd(_mm_cmpnge_pd(dist, _mm_mul_pd(Re, bounds)), _mm_cmplt_pd(eps, bounds));
        const __m128d mx = _mm_mul_pd(_mm_add_pd(qx, _mm_loadu_pd(b.nx + i)), half);
        const __m128d my = _mm_mul_pd(_mm_add_pd(qy, _mm_loadu_pd(b.ny + i)), half);
        const __m128d mz = _mm_mul_pd(_mm_add_pd(qz, _mm_loadu_pd(b.nz + i)), half);
        const __m128d lean =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(mx, ux), _mm_mul_pd(my, uy)), _mm_mul_pd(mz, uz));
        const __m128d length2 =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(mx, mx), _mm_mul_pd(my, my)), _mm_mul_pd(mz, mz));
        const __m128d plainlyFront =
            _mm_and_pd(_mm_cmpge_pd(lean, zero), _mm_cmpge_pd(length2, _mm_set1_pd(0.25)));
        const __m128d arg = _mm_sub_pd(one, _mm_div_pd(eps, bounds));
        const __m128d w = _mm_sqrt_pd(_mm_or_pd(_mm_and_pd(within, arg), _mm_andnot_pd(within, one)));
        const int kept = _mm_movemask_pd(_mm_and_pd(within, _mm_cmpnle_pd(w, _mm_set1_pd(0.001))));
        const int check = _mm_movemask_pd(_mm_andnot_pd(plainlyFront, away));
        _mm_storeu_pd(weight + i, w);
        keep[i] = kept & 1;
        keep[i + 1] = kept & 2;
        frontCheck[i] = check & 1;
        frontCheck[i + 1] = check & 2;
    }
#endif
    for (; i < count; ++i) {
        const double dist = std::sqrt(b.dist2[i]);
        const bool away = dist > 1e-6;
        const double ux = b.dx[i] / dist, uy = b.dy[i] / dist, uz = b.dz[i] / dist;
        const double cs = ux * b.vx[i] + uy * b.vy[i] + uz * b.vz[i];
        const double Re = away && cs > 0 ? b.nearRadius[i] * cs + (1 - cs) * b.radius[i] : b.radius[i];
        const double eps = dist / Re + 2 * std::sqrt(std::fabs(1 - b.facing[i]));
        const bool within = !(dist >= Re * bound) && eps < bound;
        const double mx = (n.x + b.nx[i]) / 2, my = (n.y + b.ny[i]) / 2, mz = (n.z + b.nz[i]) / 2;
        const bool plainlyFront = mx * ux + my * uy + mz * uz >= 0 && mx * mx + my * my + mz * mz >= 0.25;
        const double w = std::sqrt(within ? 1 - eps / bound : 1.0);
        weight[i] = w;
        keep[i] = within && !(w <= 0.001);
        frontCheck[i] = away && !plainlyFront;
    }
}

}  // namespace

void IrradianceBlend::add(const IrradianceHits& hits) {
    const int count = hits.count;
    const Vec3 n = n_;
    Batch b;
    for (int i = 0; i < count; ++i) {
        const IrradianceRecord& r = *hits.record[i];
        b.dx[i] = hits.dx[i];
        b.dy[i] = hits.dy[i];
        b.dz[i] = hits.dz[i];
        b.dist2[i] = hits.dist2[i];
        b.facing[i] = hits.facing[i];
        b.radius[i] = r.radius;
        b.nearRadius[i] = r.nearRadius;
        b.vx[i] = r.nearDirection.x;
        b.vy[i] = r.nearDirection.y;
        b.vz[i] = r.nearDirection.z;
        b.nx[i] = r.normal.x;
        b.ny[i] = r.normal.y;
        b.nz[i] = r.normal.z;
    }
    if (count % 2) {
        for (double* a : {b.dx, b.dy, b.dz, b.dist2, b.facing, b.radius, b.nearRadius, b.vx, b.vy, b.vz, b.nx,
                          b.ny, b.nz})
            a[count] = 1;
    }
    double weight[Capacity + 1];
    bool keep[Capacity + 1], frontCheck[Capacity + 1];
    weigh(b, count, n, bound_, weight, keep, frontCheck);

    // The values and the sum, in order.
    Color sum = sum_;
    double weights = weights_;
    int used = count_;
    for (int i = 0; i < count; ++i) {
        if (!keep[i]) continue;
        const IrradianceRecord& r = *hits.record[i];
        if (frontCheck[i]) {
            // The full test of the mean normal, as for a mean normal of any length.
            const Vec3 u = Vec3{hits.dx[i], hits.dy[i], hits.dz[i]} / std::sqrt(hits.dist2[i]);
            if (dot(normalized((n + r.normal) / 2), u) <= -0.05) continue;
        }
        const double w = weight[i];
        const float df[3] = {static_cast<float>(hits.dx[i]), static_cast<float>(hits.dy[i]),
                             static_cast<float>(hits.dz[i])};
        for (int ch = 0; ch < 3; ++ch) {
            float g = r.gradient[0][ch] * df[0] + r.gradient[1][ch] * df[1] + r.gradient[2][ch] * df[2];
            g = g < -0.1f ? -0.1f : (g > 0.1f ? 0.1f : g);
            double value = r.irradiance[ch] + g;
            value = value < 0 ? 0 : (value > 1 ? 1 : value);
            sum[ch] += w * value;
        }
        weights += w;
        ++used;
    }
    sum_ = sum;
    weights_ = weights;
    count_ = used;
}

}  // namespace quorva
