// Polynomial root finders shared by the algebraic shapes (tori, polynomial surfaces, blobs, surfaces of
// revolution).
#include "geometry/solvers.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "diagnostics/diagnostics.h"

namespace quorva {

namespace {

constexpr double Vanishing = 1e-20;    // a coefficient this small counts as absent
constexpr double Convergence = 1e-10;  // iterative methods stop at this relative accuracy
constexpr int MaxIterations = 50;
constexpr double Pi = 3.14159265358979323846;
// Stands in for an infinite interval bound in the Sturm search, far beyond any ray distance.
constexpr double FarBound = 1000000;

bool allFinite(const double* c, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(c[i])) return false;
    return true;
}

bool strictlyInside(double t, double low, double high) {
    return t > low && t < high;
}

// Horner on ascending coefficients.
double evaluate(const SturmElement& p, double x) {
    double v = p.coef[p.order];
    for (int i = p.order - 1; i >= 0; --i) v = v * x + p.coef[i];
    return v;
}

// Remainder of u divided by v (both ascending) into r; returns the remainder's order, found by dropping
// vanishing top coefficients (a remainder that vanishes entirely becomes the constant 0).
int remainder(const SturmElement& u, const SturmElement& v, SturmElement& r) {
    double work[MaxSturmOrder + 1];
    std::copy(u.coef, u.coef + u.order + 1, work);
    const int p = v.order;
    const double lead = v.coef[p];
    for (int k = u.order - p; k >= 0; --k) {
        const double q = work[p + k] / lead;
        for (int j = p + k - 1; j >= k; --j) work[j] -= q * v.coef[j - k];
        work[p + k] = 0;
    }
    int order = p - 1;
    while (order > 0 && std::fabs(work[order]) < Vanishing) --order;
    r.order = order;
    std::copy(work, work + order + 1, r.coef);
    return order;
}

// Regula falsi with the Illinois rule on [a, b], which holds exactly one root of p. False when the ends do
// not bracket a sign change or the iteration does not settle.
bool regulaFalsi(const SturmElement& p, double a, double b, double& root) {
    double fa = evaluate(p, a);
    double fb = evaluate(p, b);
    if (!(fa * fb <= 0)) return false;  // same sign (or NaN from overflow)
    if (std::fabs(fa) < Vanishing) {
        root = a;
        return true;
    }
    if (std::fabs(fb) < Vanishing) {
        root = b;
        return true;
    }
    double previous = fa;
    for (int its = 0; its < MaxIterations; ++its) {
        const double x = (fb * a - fa * b) / (fb - fa);
        if (!std::isfinite(x)) return false;
        const double fx = evaluate(p, x);
        if (std::fabs(x) > Convergence) {
            if (std::fabs(fx / x) < Convergence) {
                root = x;
                return true;
            }
        } else if (std::fabs(fx) < Convergence) {
            root = x;
            return true;
        }
        // Keep the bracket; when the same end survives twice, halve its stored value so the secant
        // swings past the root instead of creeping up on it.
        if (fa * fx < 0) {
            b = x;
            fb = fx;
            if (previous * fx > 0) fa /= 2;
        } else {
            a = x;
            fa = fx;
            if (previous * fx > 0) fb /= 2;
        }
        previous = fx;
        if (std::fabs(b - a) < Convergence) {
            root = x;
            return true;
        }
    }
    return false;
}

bool converged(double low, double high, double mid) {
    if (std::fabs(mid) > Convergence) return std::fabs((high - low) / mid) < Convergence;
    return std::fabs(high - low) < Convergence;
}

// Isolates the roots in (low, high] given the sign-change counts at both ends; writes at most `capacity`
// roots in ascending order.
int isolateRoots(const SturmElement* seq, int last, double low, double high, int atLow, int atHigh,
                 double* roots, int capacity) {
    const int count = atLow - atHigh;
    if (count <= 0 || capacity <= 0) return 0;  // counts can disagree when rounding bites
    double mid = low;
    if (count == 1) {
        if (regulaFalsi(seq[0], low, high, roots[0])) return 1;
        for (int its = 0; its < MaxIterations; ++its) {
            mid = (low + high) / 2;
            const int atMid = countSignChanges(seq, last, mid);
            if (converged(low, high, mid)) break;
            if (atMid == atLow)
                low = mid;
            else
                high = mid;
        }
        roots[0] = mid;
        return 1;
    }
    for (int its = 0; its < MaxIterations; ++its) {
        mid = (low + high) / 2;
        const int atMid = countSignChanges(seq, last, mid);
        if (atMid == atLow) {
            low = mid;
        } else if (atMid != atHigh) {
            int found = isolateRoots(seq, last, low, mid, atLow, atMid, roots, capacity);
            found += isolateRoots(seq, last, mid, high, atMid, atHigh, roots + found, capacity - found);
            return found;
        } else {
            high = mid;
        }
    }
    // The roots are closer together than bisection can separate: report the cluster once.
    roots[0] = mid;
    return 1;
}

using BinomialTable = std::array<std::array<std::int64_t, 15>, 15>;
constexpr BinomialTable makeBinomialTable() {
    BinomialTable t{};
    for (int n = 0; n < 15; ++n) {
        t[n][0] = 1;
        for (int k = 1; k <= n; ++k) t[n][k] = t[n - 1][k - 1] + (k <= n - 1 ? t[n - 1][k] : 0);
    }
    return t;
}
constexpr BinomialTable SmallBinomials = makeBinomialTable();

}  // namespace

int solveQuadratic(const double c[3], double low, double high, double roots[2]) {
    if (!allFinite(c, 3)) return 0;
    const double a = c[0], b = c[1];
    int n = 0;
    if (std::fabs(a) < Vanishing) {
        if (std::fabs(b) < Vanishing) return 0;
        const double t = -c[2] / b;
        if (t >= low && t <= high) roots[n++] = t;
        return n;
    }
    const double disc = b * b - 4 * a * c[2];
    if (disc < -1e-10) return 0;
    if (std::fabs(disc) <= 1e-10) {
        const double t = -b / (2 * a);
        if (t >= low && t <= high) roots[n++] = t;
        return n;
    }
    const double s = std::sqrt(disc);
    const double t1 = (-b + s) / (2 * a);
    const double t2 = (-b - s) / (2 * a);
    if (t1 >= low && t1 <= high) roots[n++] = t1;
    if (t2 >= low && t2 <= high) roots[n++] = t2;
    return n;
}

int solveCubic(const double c[4], double low, double high, double roots[3]) {
    if (!allFinite(c, 4)) return 0;
    if (std::fabs(c[0]) < Vanishing) return solveQuadratic(c + 1, low, high, roots);
    double b = c[1], cc = c[2], d = c[3];
    if (c[0] != 1.0) {
        b /= c[0];
        cc /= c[0];
        d /= c[0];
    }
    const double b2 = b * b;
    const double q = (b2 - 3 * cc) * (1.0 / 9);
    const double r = (2 * b2 * b - 9 * b * cc + 27 * d) * (1.0 / 54);
    const double q3 = q * q * q;
    const double r2 = r * r;
    const double shift = b / 3;
    int n = 0;
    if (q3 - r2 >= 0) {
        // Three real roots. q3 = 0 here means r = 0 too: a triple root, where acos would see 0/0.
        double theta = 0;
        if (q3 > 0) theta = std::acos(std::clamp(r / std::sqrt(q3), -1.0, 1.0));
        const double scale = -2 * std::sqrt(q);
        const double third = theta / 3;
        const double candidates[3] = {scale * std::cos(third) - shift,
                                      scale * std::cos(third + 2 * Pi / 3) - shift,
                                      scale * std::cos(third + 4 * Pi / 3) - shift};
        for (double t : candidates)
            if (strictlyInside(t, low, high)) roots[n++] = t;
        return n;
    }
    double a = std::cbrt(std::sqrt(r2 - q3) + std::fabs(r));
    a += q / a;
    const double t = r < 0 ? a - shift : -a - shift;
    if (strictlyInside(t, low, high)) roots[n++] = t;
    return n;
}

bool cleanUpCoefficients(double* c, int order) {
    double largest = 0;
    double smallest = INFINITY;
    for (int i = 0; i <= order; ++i) {
        const double a = std::fabs(c[i]);
        largest = std::max(largest, a);
        // An exact zero is an absent term, not a sign of bad conditioning.
        if (a != 0) smallest = std::min(smallest, a);
    }
    if (largest == 0 || !(largest > 1e11 * smallest)) return false;
    for (int i = 0; i <= order; ++i) {
        const double a = std::fabs(c[i]);
        if (a < 1e-5 && a < 1e-10 * largest) c[i] = 0;
    }
    return true;
}

int solveQuarticFerrari(const double c[5], double low, double high, double roots[4]) {
    if (!allFinite(c, 5)) return 0;
    if (std::fabs(c[4]) < Vanishing) {
        int n = 0;
        if (strictlyInside(0, low, high)) roots[n++] = 0;
        return n + solveCubic(c, low, high, roots + n);
    }
    if (std::fabs(c[0]) < Vanishing) return solveCubic(c + 1, low, high, roots);
    double cleaned[5] = {c[0], c[1], c[2], c[3], c[4]};
    if (cleanUpCoefficients(cleaned, 4)) return solveSturm(c, 4, low, high, roots);

    const double a = c[1] / c[0], b = c[2] / c[0], cc = c[3] / c[0], d = c[4] / c[0];
    // The resolvent cubic: its root y makes the quartic a difference of two squares.
    const double resolvent[4] = {1.0, -b, a * cc - 4 * d, 4 * b * d - a * a * d - cc * cc};
    double ys[3];
    if (solveCubic(resolvent, -1000000, 1000000, ys) == 0) return 0;
    const double y = ys[0];
    const double h = a / 2;
    const double dd = h * h - b + y;
    double g, hh;
    if (dd <= -1e-5) return 0;
    if (dd < 1e-7) {
        g = 0;
        const double e = (y / 2) * (y / 2) - d;
        if (e < 0) return 0;
        hh = std::sqrt(e);
    } else {
        g = std::sqrt(dd);
        hh = (h * y - cc) / (2 * g);
    }
    int n = 0;
    const double i = -h - g;
    const double j = i * i - 4 * (y / 2 + hh);
    if (j >= 0) {
        const double s = std::sqrt(j);
        if (strictlyInside((i + s) / 2, low, high)) roots[n++] = (i + s) / 2;
        if (strictlyInside((i - s) / 2, low, high)) roots[n++] = (i - s) / 2;
    }
    const double l = g - h;
    const double k = l * l - 4 * (y / 2 - hh);
    if (k >= 0) {
        const double s = std::sqrt(k);
        if (strictlyInside((l + s) / 2, low, high)) roots[n++] = (l + s) / 2;
        if (strictlyInside((l - s) / 2, low, high)) roots[n++] = (l - s) / 2;
    }
    return n;
}

int solveQuarticVieta(const double c[5], double low, double high, double roots[4]) {
    if (!allFinite(c, 5)) return 0;
    if (std::fabs(c[0]) < Vanishing) return solveCubic(c + 1, low, high, roots);
    if (std::fabs(c[4]) < Vanishing) {
        int n = 0;
        if (strictlyInside(0, low, high)) roots[n++] = 0;
        return n + solveCubic(c, low, high, roots + n);
    }
    double cleaned[5] = {c[0], c[1], c[2], c[3], c[4]};
    if (cleanUpCoefficients(cleaned, 4)) return solveSturm(c, 4, low, high, roots);

    const double a = c[1] / c[0], b = c[2] / c[0], cc = c[3] / c[0], d = c[4] / c[0];
    // Substituting t = x - a/4 removes the cubic term: x^4 + p x^2 + q x + r.
    const double a2 = a * a;
    const double p = b - 0.375 * a2;
    const double q = cc + 0.125 * a2 * a - 0.5 * a * b;
    const double r = d + a2 * (0.0625 * b - 0.01171875 * a2) - 0.25 * a * cc;
    const double resolvent[4] = {1.0, -p / 2, -r, r * p / 2 - q * q / 8};
    double zs[3];
    if (solveCubic(resolvent, -1000000, 1000000, zs) == 0) return 0;
    const double z = zs[0];
    // (x^2 + z)^2 - (u x - w)^2 with u^2 = 2z - p, w^2 = z^2 - r, 2uw = q.
    double u = 2 * z - p;
    double w;
    if (u < 1e-10) {
        if (u <= -1e-10) return 0;
        if (u < 0) u = 0;
        const double e = z * z - r;
        if (e < 0) return 0;
        w = std::sqrt(e);
    } else {
        u = std::sqrt(u);
        w = q / (2 * u);
    }
    const double m = -a / 4;
    int n = 0;
    auto keep = [&](double t) {
        if (strictlyInside(t, low, high)) roots[n++] = t;
    };
    double e = u * u - 4 * (z - w);
    if (e > 0) {
        const double s = std::sqrt(e);
        keep(m - (u + s) / 2);
        keep(m - (u - s) / 2);
    } else if (e == 0) {
        keep(m - u / 2);
    }
    e = u * u - 4 * (z + w);
    if (e > 0) {
        const double s = std::sqrt(e);
        keep(m + (u + s) / 2);
        keep(m + (u - s) / 2);
    } else if (e == 0) {
        keep(m + u / 2);
    }
    return n;
}

int solveQuartic(int solverCode, const double c[5], double low, double high, double roots[4]) {
    switch (solverCode) {
        case SolverCode::Ferrari:
            return solveQuarticFerrari(c, low, high, roots);
        case SolverCode::Vieta:
            return solveQuarticVieta(c, low, high, roots);
        default:
            return solveSturm(c, 4, low, high, roots);
    }
}

int buildSturmSequence(const double* ascending, int order, SturmElement* sequence) {
    sequence[0].order = order;
    std::copy(ascending, ascending + order + 1, sequence[0].coef);
    // The derivative, scaled so that its leading coefficient is +-1.
    const double scale = std::fabs(ascending[order] * order);
    sequence[1].order = order - 1;
    for (int i = 1; i <= order; ++i) sequence[1].coef[i - 1] = ascending[i] * i / scale;
    int k = 2;
    while (sequence[k - 1].order > 0 && remainder(sequence[k - 2], sequence[k - 1], sequence[k]) > 0) {
        SturmElement& e = sequence[k];
        const double negate = -std::fabs(e.coef[e.order]);
        for (int i = 0; i <= e.order; ++i) e.coef[i] /= negate;
        ++k;
    }
    if (sequence[k - 1].order == 0) return k - 1;  // an order-1 polynomial: its derivative is the constant
    sequence[k].coef[0] = -sequence[k].coef[0];
    return k;
}

int countSignChanges(const SturmElement* sequence, int last, double x) {
    int changes = 0;
    double previous = evaluate(sequence[0], x);
    for (int k = 1; k <= last; ++k) {
        const double value = evaluate(sequence[k], x);
        if (previous == 0 || previous * value < 0) ++changes;
        previous = value;
    }
    return changes;
}

int solveSturm(const double* c, int order, double low, double high, double* roots) {
    if (order > MaxSturmOrder)
        fatal("Polynomials of order %d are unsupported. Max order is %d", order, MaxSturmOrder);
    if (order < 1 || !allFinite(c, order + 1) || std::isnan(low) || std::isnan(high)) return 0;
    double p[MaxSturmOrder + 1];
    std::copy(c, c + order + 1, p);
    cleanUpCoefficients(p, order);
    int first = 0;
    while (first <= order && p[first] == 0) ++first;
    int n = order - first;
    if (n <= 0) return 0;
    const double* q = p + first;  // q[0] != 0, order n
    int found = 0;
    if (q[n] == 0) {
        // A factor t: report 0 and continue with the quotient.
        --n;
        if (low <= 0 && 0 <= high) roots[found++] = 0;
    }
    switch (n) {
        case 0:
            return found;
        case 1:
            if (std::fabs(q[0]) >= Vanishing) {
                const double t = -q[1] / q[0];
                if (t >= low && t <= high) roots[found++] = t;
            }
            return found;
        case 2:
            return found + solveQuadratic(q, low, high, roots + found);
        case 3:
            return found + solveCubic(q, low, high, roots + found);
        default:
            break;
    }
    if (std::isinf(low)) low = low < 0 ? -FarBound : FarBound;
    if (std::isinf(high)) high = high < 0 ? -FarBound : FarBound;
    double ascending[MaxSturmOrder + 1];
    for (int i = 0; i <= n; ++i) ascending[i] = q[n - i];
    SturmElement sequence[MaxSturmOrder + 1];
    const int last = buildSturmSequence(ascending, n, sequence);
    const int atLow = countSignChanges(sequence, last, low);
    const int atHigh = countSignChanges(sequence, last, high);
    if (atLow - atHigh <= 0) return found;
    return found + isolateRoots(sequence, last, low, high, atLow, atHigh, roots + found, order - found);
}

std::int64_t binomial(int n, int k) {
    if (n < 0 || k < 0 || k > n) return 0;
    if (k == n) return 1;
    if (n < 15 && k < 15) return SmallBinomials[n][k];
    // C(n, k) = (m+1)...(n) / (n-m)! with m the larger of k and n-k; multiplying and dividing in turn
    // keeps every partial result an exact binomial, so nothing overflows before the result does.
    const int m = std::max(k, n - k);
    std::int64_t result = 1;
    for (int i = 1; i <= n - m; ++i)
        result = static_cast<std::int64_t>(static_cast<__int128>(result) * (m + i) / i);
    return result;
}

}  // namespace quorva
