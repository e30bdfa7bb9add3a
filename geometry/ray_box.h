// The box tests of the traversal: one box, and the four boxes of a member quad at once (wide vector
// instructions where the processor has them, two lanes at a time otherwise). All three do the same
// arithmetic, so they accept the same boxes with the same entry distances.
#pragma once

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "geometry/hierarchy.h"
#include "geometry/vec3.h"

namespace quorva {

// The per-traversal slab data of a ray: reciprocals and signs computed once.
struct RaySlabs {
    double origin[3];
    double inverse[3];
    bool parallel[3];
    bool positive[3];

    explicit RaySlabs(const Ray& ray) {
        for (int a = 0; a < 3; ++a) {
            double d = ray.direction[a];
            origin[a] = ray.origin[a];
            // A component so small that slab distances could overflow behaves as parallel.
            parallel[a] = std::fabs(d) < 1e-200;
            inverse[a] = parallel[a] ? 0.0 : 1.0 / d;
            positive[a] = d > 0;
        }
        anyParallel = parallel[0] || parallel[1] || parallel[2];
    }
    bool anyParallel;
};

// The box test: the distance at which the ray enters the box (negative, or -1000000, when the origin
// lies inside it), or false when the ray misses it, leaves it before 1e-8, or enters it beyond tmax.
// Per axis near and far come from the slab planes; the entry is the largest near, the exit the smallest
// far. (Taking them over all axes at once rejects exactly the boxes an axis-by-axis check would.)
inline bool enterBox(const double* lo, const double* size, const RaySlabs& ray, double tmax, double& entry) {
    double enter, exit;
    if (!ray.anyParallel) {
        double near[3], far[3];
        for (int a = 0; a < 3; ++a) {
            const double t0 = (lo[a] - ray.origin[a]) * ray.inverse[a];
            const double t1 = t0 + size[a] * ray.inverse[a];
            // t1 lies beyond t0 exactly when the direction is positive (extents are not negative).
            near[a] = std::min(t0, t1);
            far[a] = std::max(t0, t1);
        }
        enter = std::max(near[0], std::max(near[1], near[2]));
        exit = std::min(far[0], std::min(far[1], far[2]));
    } else {
        enter = -1000000;
        exit = 1000000;
        for (int a = 0; a < 3; ++a) {
            double nearA, farA;
            if (ray.parallel[a]) {
                // Parallel to the slab: inside it the axis does not limit the ray, outside it misses.
                if (ray.origin[a] < lo[a] || ray.origin[a] > lo[a] + size[a]) return false;
                nearA = -1000000;
                farA = 1000000;
            } else {
                const double t0 = (lo[a] - ray.origin[a]) * ray.inverse[a];
                const double t1 = t0 + size[a] * ray.inverse[a];
                nearA = std::min(t0, t1);
                farA = std::max(t0, t1);
            }
            enter = a == 0 ? nearA : std::max(enter, nearA);
            exit = a == 0 ? farA : std::min(exit, farA);
        }
    }
    entry = enter;
    return exit >= 1e-8 && enter <= exit && enter <= tmax;
}

// Lane-wise minimum and maximum of two pairs (no NaN reaches them: reciprocals are bounded).
// Four doubles (and four lane masks) handled together: one wide vector instruction where the function
// is compiled for such a processor, two narrower ones (or plain code) otherwise.
using Double4 = double __attribute__((vector_size(32)));
using Mask4 = long long __attribute__((vector_size(32)));

// Loads four doubles (a macro rather than a function, so that no vector crosses a call between code
// compiled for different processors).
#define QUORVA_LOAD_QUAD(v, p) __builtin_memcpy(&(v), (p), sizeof(v))

// The box test of enterBox for the four boxes of a quad at once, for a ray without parallel axes: bit l
// of the result is set when the ray enters box l no later than tmax, with its entry distance in
// keys[l]. The same arithmetic as enterBox lane by lane, so the results are the same.
[[gnu::always_inline]] inline unsigned enterQuad(const MemberQuad& q, const RaySlabs& ray, double tmax,
                                                 double* keys) {
    Double4 lo, size;
    QUORVA_LOAD_QUAD(lo, q.min[0]);
    QUORVA_LOAD_QUAD(size, q.size[0]);
    Double4 o = Double4{} + ray.origin[0];
    Double4 inv = Double4{} + ray.inverse[0];
    Double4 t0 = (lo - o) * inv;
    Double4 t1 = t0 + size * inv;
    Double4 enter = t1 < t0 ? t1 : t0;
    Double4 exit = t0 < t1 ? t1 : t0;
    for (int a = 1; a < 3; ++a) {
        o = Double4{} + ray.origin[a];
        inv = Double4{} + ray.inverse[a];
        QUORVA_LOAD_QUAD(lo, q.min[a]);
        QUORVA_LOAD_QUAD(size, q.size[a]);
        t0 = (lo - o) * inv;
        t1 = t0 + size * inv;
        const Double4 nearA = t1 < t0 ? t1 : t0;
        const Double4 farA = t0 < t1 ? t1 : t0;
        enter = enter < nearA ? nearA : enter;
        exit = farA < exit ? farA : exit;
    }
    __builtin_memcpy(keys, &enter, sizeof enter);
    const Mask4 ok = (exit >= 1e-8) & (enter <= exit) & (enter <= tmax);
    return static_cast<unsigned>((ok[0] & 1) | (ok[1] & 2) | (ok[2] & 4) | (ok[3] & 8));
}

#if defined(__x86_64__)
// The quad test with the wide vector instructions (the lanes' bits come out in one instruction). Only
// for code compiled for processors that have them; wideBoxTests() tells whether this one does.
__attribute__((target("avx"))) inline unsigned enterQuadWide(const MemberQuad& q, const RaySlabs& ray, double tmax,
                                                             double* keys) {
    __m256d o = _mm256_set1_pd(ray.origin[0]);
    __m256d inv = _mm256_set1_pd(ray.inverse[0]);
    __m256d t0 = _mm256_mul_pd(_mm256_sub_pd(_mm256_load_pd(q.min[0]), o), inv);
    __m256d t1 = _mm256_add_pd(t0, _mm256_mul_pd(_mm256_load_pd(q.size[0]), inv));
    __m256d enter = _mm256_min_pd(t1, t0), exit = _mm256_max_pd(t1, t0);
    for (int a = 1; a < 3; ++a) {
        o = _mm256_set1_pd(ray.origin[a]);
        inv = _mm256_set1_pd(ray.inverse[a]);
        t0 = _mm256_mul_pd(_mm256_sub_pd(_mm256_load_pd(q.min[a]), o), inv);
        t1 = _mm256_add_pd(t0, _mm256_mul_pd(_mm256_load_pd(q.size[a]), inv));
        enter = _mm256_max_pd(_mm256_min_pd(t1, t0), enter);
        exit = _mm256_min_pd(_mm256_max_pd(t1, t0), exit);
    }
    _mm256_storeu_pd(keys, enter);
    const __m256d ok = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(exit, _mm256_set1_pd(1e-8), _CMP_GE_OQ), _mm256_cmp_pd(enter, exit, _CMP_LE_OQ)),
        _mm256_cmp_pd(enter, _mm256_set1_pd(tmax), _CMP_LE_OQ));
    return static_cast<unsigned>(_mm256_movemask_pd(ok));
}

inline bool wideBoxTests() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}
#endif

}  // namespace quorva
