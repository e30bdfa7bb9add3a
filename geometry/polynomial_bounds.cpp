// Proving a box around the zeros of a polynomial in x, y, z.
//
// First a cube centred on the origin, from the homogeneous parts of the polynomial (see enclosingCube);
// then each side of the cube is pulled in: cells are split, and a cell goes when the interval range of
// the polynomial over it excludes zero. Everything is bounded work; what is left unproven stays inside.
#include "geometry/polynomial_bounds.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorva {

namespace {

constexpr int MaxOrder = 32;
// Interval ranges are computed in rounded arithmetic: a range counts as excluding zero only by more than
// this share of the summed term magnitudes, far above any rounding error.
constexpr double Tolerance = 1e-9;
constexpr int MinFaceDepth = 3;  // face patches: at least 8 x 8 per face, for a tighter cube
constexpr int MaxFaceDepth = 10;
constexpr double MinCellShare = 1.0 / 256;  // of the cube's edge: cells stop splitting there
constexpr int MaxFaceCells = 3000;
constexpr int UniformLevels = 5;
constexpr int MaxCells = 4000;
constexpr int MaxWork = 1000000;  // multiplications for the cells: a millisecond or two
constexpr double Padding = 1e-6;  // of the cube's half edge, added on every side

struct Term {
    int i, j, k;
    double a;
};

struct Interval {
    double lo, hi;
};

struct Range {
    double lo = 0, hi = 0;
    double scale = 0;  // sum of |coefficient| x largest |monomial| over the cell
    bool excludesZero() const { return lo > Tolerance * scale || hi < -Tolerance * scale; }
    bool positive() const { return lo > Tolerance * scale; }
};

Interval multiply(Interval a, Interval b) {
    const double p1 = a.lo * b.lo, p2 = a.lo * b.hi, p3 = a.hi * b.lo, p4 = a.hi * b.hi;
    return {std::min(std::min(p1, p2), std::min(p3, p4)), std::max(std::max(p1, p2), std::max(p3, p4))};
}

// Ranges of x^0 .. x^order for x in [lo, hi].
void powers(double lo, double hi, int order, Interval* out) {
    double l = 1, h = 1;
    out[0] = {1, 1};
    for (int p = 1; p <= order; ++p) {
        l *= lo;
        h *= hi;
        if (p % 2 == 1 || lo >= 0)
            out[p] = {l, h};
        else if (hi <= 0)
            out[p] = {h, l};
        else
            out[p] = {0, std::max(l, h)};
    }
}

// Term by term: the range of each monomial from the ranges of the coordinates' powers.
Range evaluate(const std::vector<Term>& terms, int order, const Vec3& lo, const Vec3& hi) {
    Interval px[MaxOrder + 1], py[MaxOrder + 1], pz[MaxOrder + 1];
    powers(lo.x, hi.x, order, px);
    powers(lo.y, hi.y, order, py);
    powers(lo.z, hi.z, order, pz);
    Range r;
    for (const Term& t : terms) {
        const Interval m = multiply(multiply(px[t.i], py[t.j]), pz[t.k]);
        if (t.a >= 0) {
            r.lo += t.a * m.lo;
            r.hi += t.a * m.hi;
        } else {
            r.lo += t.a * m.hi;
            r.hi += t.a * m.lo;
        }
        r.scale += std::fabs(t.a) * std::max(std::fabs(m.lo), std::fabs(m.hi));
    }
    return r;
}

// Ranges over cells, narrowed by the centred form: the polynomial re-expanded around the cell's centre
// c as f(c + h) = sum b_pqr hx^p hy^q hz^r ranges, for |h| <= w, over b_000 plus |b| w^p w^q w^r on
// either side of each other term (only upwards when all three powers are even). That range shrinks
// with the square of the cell size near a simple zero, where the term-by-term one shrinks linearly.
class CellRanges {
  public:
    CellRanges(const std::vector<Term>& terms, int order)
        : terms_(terms), order_(order), shifted_((order + 1) * (order + 1) * (order + 1)) {
        for (int n = 0; n <= order; ++n) {
            pascal_[n][0] = pascal_[n][n] = 1;
            for (int k = 1; k < n; ++k) pascal_[n][k] = pascal_[n - 1][k - 1] + pascal_[n - 1][k];
        }
        cost_ = 2 * (order + 1) * (order + 2) * (order + 3) / 6;
        for (const Term& t : terms) cost_ += (t.i + 1) * (t.j + 1) * (t.k + 1);
    }
    int cost() const { return cost_; }

    Range operator()(const Vec3& lo, const Vec3& hi) {
        Range r = evaluate(terms_, order_, lo, hi);
        if (r.excludesZero()) return r;  // the cheap form settles most cells away from the zeros
        const int n = order_, stride = n + 1;
        const Vec3 c = (lo + hi) * 0.5, w = (hi - lo) * 0.5;
        double cx[MaxOrder + 1], cy[MaxOrder + 1], cz[MaxOrder + 1];
        double wx[MaxOrder + 1], wy[MaxOrder + 1], wz[MaxOrder + 1];
        cx[0] = cy[0] = cz[0] = wx[0] = wy[0] = wz[0] = 1;
        for (int e = 1; e <= n; ++e) {
            cx[e] = cx[e - 1] * c.x, cy[e] = cy[e - 1] * c.y, cz[e] = cz[e - 1] * c.z;
            wx[e] = wx[e - 1] * w.x, wy[e] = wy[e - 1] * w.y, wz[e] = wz[e - 1] * w.z;
        }
        for (int p = 0; p <= n; ++p)
            for (int q = 0; p + q <= n; ++q)
                for (int s = 0; p + q + s <= n; ++s) shifted_[(p * stride + q) * stride + s] = 0;
        for (const Term& t : terms_)
            for (int p = 0; p <= t.i; ++p) {
                const double bx = t.a * pascal_[t.i][p] * cx[t.i - p];
                for (int q = 0; q <= t.j; ++q) {
                    const double bxy = bx * pascal_[t.j][q] * cy[t.j - q];
                    double* out = &shifted_[(p * stride + q) * stride];
                    for (int s = 0; s <= t.k; ++s) out[s] += bxy * pascal_[t.k][s] * cz[t.k - s];
                }
            }
        double low = shifted_[0], high = shifted_[0];
        for (int p = 0; p <= n; ++p)
            for (int q = 0; p + q <= n; ++q)
                for (int s = (p + q == 0 ? 1 : 0); p + q + s <= n; ++s) {
                    const double b = shifted_[(p * stride + q) * stride + s];
                    if (b == 0) continue;
                    const double spread = b * wx[p] * wy[q] * wz[s];
                    if (p % 2 == 0 && q % 2 == 0 && s % 2 == 0)
                        (b > 0 ? high : low) += spread;
                    else
                        low -= std::fabs(spread), high += std::fabs(spread);
                }
        // Both ranges hold the true one; rounding is covered by the tolerance on the shared scale.
        r.lo = std::max(r.lo, low);
        r.hi = std::min(r.hi, high);
        return r;
    }

  private:
    const std::vector<Term>& terms_;
    int order_;
    std::vector<double> shifted_;  // b_pqr at (p (order+1) + q) (order+1) + r
    double pascal_[MaxOrder + 1][MaxOrder + 1];
    int cost_ = 0;
};

// Where m rho^n - sum over k < n of a_k rho^k turns positive (m > 0, a_k >= 0): its coefficients change
// sign once, so it has one positive root and is positive past it. 0 when no finite point is found.
double boundRoot(double m, const double* a, int order) {
    auto bound = [&](double rho) {
        double v = m;
        for (int k = order - 1; k >= 0; --k) v = v * rho - a[k];
        return v;
    };
    double high = 1;
    for (int tries = 0; !(bound(high) > 0); ++tries) {
        if (tries == 100) return 0;
        high *= 2;
    }
    double low = 0;
    for (int its = 0; its < 100 && high - low > 1e-12 * high; ++its) {
        const double mid = (low + high) / 2;
        if (bound(mid) > 0)
            high = mid;
        else
            low = mid;
    }
    return high * (1 + 1e-9);
}

// Half edge of a cube centred on the origin outside which the polynomial has no zero, or 0 when none is
// found. Writing p = rho q with rho = max(|x|, |y|, |z|) and q on the cube surface, the polynomial is
// sum_k rho^k F_k(q) over its homogeneous parts F_k. When the top part keeps one sign on the surface the
// zeros are bounded: on each patch of the surface, with F_n >= m and |F_k| <= a_k there, no zero lies
// past the root of m rho^n - sum a_k rho^k. The patches come from splitting the faces x = 1, y = 1 and
// z = 1 (the order is even, so the opposite faces give the same values).
double enclosingCube(const std::vector<Term>& terms, int order, int budget) {
    double leading = 0;  // the coefficient of x^order: F_n(1, 0, 0)
    for (const Term& t : terms)
        if (t.i == order) leading = t.a;
    if (leading == 0) return 0;  // F_n vanishes at (1, 0, 0): not of one sign
    std::vector<Term> parts[MaxOrder + 1];
    for (const Term& t : terms) parts[t.i + t.j + t.k].push_back({t.i, t.j, t.k, leading > 0 ? t.a : -t.a});
    struct Square {
        double u0, u1, v0, v1;
        int depth;
    };
    double radius = 0;
    std::vector<Square> stack;
    for (int axis = 0; axis < 3; ++axis) {
        const int ua = (axis + 1) % 3, va = (axis + 2) % 3;
        stack.assign(1, {-1, 1, -1, 1, 0});
        while (!stack.empty()) {
            const Square s = stack.back();
            stack.pop_back();
            if (--budget < 0) return 0;
            Vec3 lo, hi;
            lo[axis] = hi[axis] = 1;
            lo[ua] = s.u0;
            hi[ua] = s.u1;
            lo[va] = s.v0;
            hi[va] = s.v1;
            const Range top = evaluate(parts[order], order, lo, hi);
            if (top.positive() && s.depth >= MinFaceDepth) {
                double a[MaxOrder + 1];
                for (int k = 0; k < order; ++k) {
                    const Range r = evaluate(parts[k], order, lo, hi);
                    a[k] = std::max(std::fabs(r.lo), std::fabs(r.hi)) + Tolerance * r.scale;
                }
                const double rho = boundRoot(top.lo * (1 - 1e-9), a, order);
                if (!(rho > 0)) return 0;
                radius = std::max(radius, rho);
                continue;
            }
            if (s.depth == MaxFaceDepth || top.hi < 0) return 0;
            const double um = (s.u0 + s.u1) / 2, vm = (s.v0 + s.v1) / 2;
            stack.push_back({s.u0, um, s.v0, vm, s.depth + 1});
            stack.push_back({um, s.u1, s.v0, vm, s.depth + 1});
            stack.push_back({s.u0, um, vm, s.v1, s.depth + 1});
            stack.push_back({um, s.u1, vm, s.v1, s.depth + 1});
        }
    }
    return radius;
}

struct Cell {
    Vec3 lo, hi;
};

// Appends the children of `cell` where a zero may lie.
void split(CellRanges& range, const Cell& cell, std::vector<Cell>& out) {
    const Vec3 mid = (cell.lo + cell.hi) * 0.5;
    for (int corner = 0; corner < 8; ++corner) {
        Cell child = cell;
        for (int a = 0; a < 3; ++a) {
            if (corner & (1 << a))
                child.lo[a] = mid[a];
            else
                child.hi[a] = mid[a];
        }
        if (!range(child.lo, child.hi).excludesZero()) out.push_back(child);
    }
}

// How far the zeros in `cells` (which hold them all) may reach in one direction (an axis, upwards or
// downwards): the cells are split best first, the one reaching farthest first, until that one is small or
// the budget is spent.
double farthestReach(CellRanges& range, std::vector<Cell> cells, int axis, bool upper, double minEdge,
                     int budget) {
    auto reach = [&](const Cell& c) { return upper ? c.hi[axis] : -c.lo[axis]; };
    // Among cells that reach equally far the larger comes first, so that the search stops on a small cell
    // only when every cell reaching as far is small.
    auto nearer = [&](const Cell& a, const Cell& b) {
        return reach(a) < reach(b) || (reach(a) == reach(b) && a.hi.x - a.lo.x < b.hi.x - b.lo.x);
    };
    std::make_heap(cells.begin(), cells.end(), nearer);
    std::vector<Cell> children;
    while (!cells.empty()) {
        const Cell top = cells.front();
        if (top.hi.x - top.lo.x <= minEdge || budget < 8) break;
        std::pop_heap(cells.begin(), cells.end(), nearer);
        cells.pop_back();
        budget -= 8;
        children.clear();
        split(range, top, children);
        for (const Cell& child : children) {
            cells.push_back(child);
            std::push_heap(cells.begin(), cells.end(), nearer);
        }
    }
    // Every zero lies in some cell, so an empty list cannot happen once the caller found cells; stay sound
    // anyway.
    if (cells.empty()) return upper ? -INFINITY : INFINITY;
    return upper ? cells.front().hi[axis] : cells.front().lo[axis];
}

}  // namespace

ZeroSetBox boundZeroSet(const double* coefficients, int order) {
    ZeroSetBox box;
    if (order < 2 || order > MaxOrder || order % 2 == 1) return box;  // odd orders are never closed
    std::vector<Term> terms;
    const double* c = coefficients;
    for (int i = order; i >= 0; --i)
        for (int j = order - i; j >= 0; --j)
            for (int k = order - i - j; k >= 0; --k, ++c) {
                if (!std::isfinite(*c)) return box;
                if (*c != 0) terms.push_back({i, j, k, *c});
            }
    const double half = enclosingCube(terms, order, MaxFaceCells);
    if (!(half > 0) || !std::isfinite(half)) return box;

    box.bounded = true;
    CellRanges range(terms, order);
    // Bounded work whatever the order: fewer cells the more terms there are.
    int budget = std::min(MaxCells, MaxWork / range.cost());
    std::vector<Cell> cells{{{-half, -half, -half}, {half, half, half}}}, next;
    if (range(cells[0].lo, cells[0].hi).excludesZero()) cells.clear();
    // A few even splits first, so that each side's search starts from cells near the zeros; up to a
    // quarter of the budget.
    for (int level = 0; level < UniformLevels && !cells.empty(); ++level) {
        if (8 * static_cast<int>(cells.size()) > budget / 4) break;
        next.clear();
        for (const Cell& cell : cells) split(range, cell, next);
        budget -= 8 * static_cast<int>(cells.size());
        cells.swap(next);
    }
    if (cells.empty()) {
        box.empty = true;
        return box;
    }
    const double minEdge = 2 * half * MinCellShare;
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2, share = budget / (6 - side);
        const double reach = farthestReach(range, cells, axis, side % 2 == 0, minEdge, share);
        budget -= share;
        if (side % 2 == 0)
            box.max[axis] = reach;
        else
            box.min[axis] = reach;
    }
    const Vec3 pad{Padding * half, Padding * half, Padding * half};
    box.min -= pad;
    box.max += pad;
    return box;
}

}  // namespace quorva
