// The NURBS surface: a rational (or polynomial) B-spline surface of any order with its own knot vectors.
// Only evaluated; the World cuts it into triangles over its parameter window.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/surface_shapes.h"

namespace quorva {

namespace {

struct NurbsData {
    bool rational = false;
    int order[2] = {0, 0};
    int count[2] = {0, 0};
    std::vector<double> knots[2];
    std::vector<NurbsPoint> grid;  // count u rows of count v points; weights already 1 where 0 was given
};

// num / den, with 0/0 counting as 1; any other division by zero is an internal failure of its own code.
double quotient(double num, double den, InternalFailure code) {
    if (den != 0) return num / den;
    if (num == 0) return 1;
    internalFailure(code, "Bad NURBS division (%g/%g)", num, den);
}

// The basis values and derivatives of one direction at t (Cox-de Boor). `n` and `dn` hold order + count
// values; the first `count` are the result.
void basis(int order, int count, const std::vector<double>& knot, double t, std::vector<double>& n,
           std::vector<double>& dn) {
    const int intervals = order + count - 1;
    std::fill(n.begin(), n.end(), 0.0);
    std::fill(dn.begin(), dn.end(), 0.0);
    // Order 1: the interval holding t. At (or beyond) the last knot of the domain, the last nonempty
    // interval ending there takes it, so the far edge of the surface is reached.
    int span = -1;
    for (int j = 0; j < intervals; ++j)
        if (knot[j] <= t && t < knot[j + 1]) {
            span = j;
            break;
        }
    if (span < 0 && t >= knot[count])
        for (int j = count - 1; j >= 0; --j)
            if (knot[j] < knot[j + 1]) {
                span = j;
                break;
            }
    if (span < 0) return;
    n[span] = 1;
    for (int m = 2; m <= order; ++m) {
        for (int j = 0; j + m <= intervals; ++j) {
            double value = 0, slope = 0;
            if (n[j] != 0 || dn[j] != 0) {
                const double a =
                    quotient(t - knot[j], knot[j + m - 1] - knot[j], InternalFailure::BadNurbsDivision1);
                const double da =
                    quotient(t - knot[j], knot[j + m - 1] - knot[j], InternalFailure::BadNurbsDivision3);
                value += a * n[j];
                slope += da * dn[j];
                if (n[j] != 0)
                    slope += quotient(n[j], knot[j + m - 1] - knot[j], InternalFailure::BadNurbsDivision5);
            }
            if (n[j + 1] != 0 || dn[j + 1] != 0) {
                const double b =
                    quotient(knot[j + m] - t, knot[j + m] - knot[j + 1], InternalFailure::BadNurbsDivision2);
                const double db =
                    quotient(knot[j + m] - t, knot[j + m] - knot[j + 1], InternalFailure::BadNurbsDivision4);
                value += b * n[j + 1];
                slope += db * dn[j + 1];
                if (n[j + 1] != 0)
                    slope -=
                        quotient(n[j + 1], knot[j + m] - knot[j + 1], InternalFailure::BadNurbsDivision6);
            }
            n[j] = value;
            dn[j] = slope;
        }
    }
}

class Nurbs final : public Shape {
  public:
    explicit Nurbs(std::shared_ptr<const NurbsData> data) : Shape(ShapeKind::Nurbs), data_(std::move(data)) {}
    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new Nurbs(*this)); }

  private:
    Nurbs(const Nurbs&) = default;
    std::shared_ptr<const NurbsData> data_;
};

void Nurbs::evaluate(double u, double v, SurfacePoint& out) const {
    const NurbsData& d = *data_;
    // Work arrays per evaluation: the surface is only evaluated while it is cut into triangles.
    std::vector<double> nu(d.knots[0].size()), dnu(nu.size()), nv(d.knots[1].size()), dnv(nv.size());
    basis(d.order[0], d.count[0], d.knots[0], u, nu, dnu);
    basis(d.order[1], d.count[1], d.knots[1], v, nv, dnv);
    Vec3 s, su, sv;
    double w = 0, wu = 0, wv = 0;
    for (int i = 0; i < d.count[0]; ++i) {
        if (nu[i] == 0 && dnu[i] == 0) continue;
        for (int j = 0; j < d.count[1]; ++j) {
            const NurbsPoint& p = d.grid[std::size_t(i) * d.count[1] + j];
            const double b = nu[i] * nv[j] * p.weight;
            const double bu = dnu[i] * nv[j] * p.weight;
            const double bv = nu[i] * dnv[j] * p.weight;
            s += p.point * b;
            su += p.point * bu;
            sv += p.point * bv;
            w += b;
            wu += bu;
            wv += bv;
        }
    }
    Vec3 point = s, du = su, dv = sv;
    if (d.rational && w != 0) {
        // Quotient rule for S / W.
        point = s / w;
        du = (su * w - s * wu) / (w * w);
        dv = (sv * w - s * wv) / (w * w);
    }
    finishSurfacePoint(*this, point, normalized(cross(du, dv)), u, v, out);
}

}  // namespace

std::unique_ptr<Shape> makeNurbs(int orderU, int countU, std::vector<double> knotsU, int orderV, int countV,
                                 std::vector<double> knotsV,
                                 const std::vector<std::vector<NurbsPoint>>& points) {
    const int orders[2] = {orderU, orderV}, counts[2] = {countU, countV};
    for (int a = 0; a < 2; ++a)
        if (orders[a] < 1 || orders[a] > counts[a])
            fatal("NURBS order %d out of range (1..%d)", orders[a], counts[a]);
    if (points.size() < static_cast<std::size_t>(countU)) fatal("Row entries are missing in NURBS");
    for (int i = 0; i < countU; ++i)
        if (points[i].size() < static_cast<std::size_t>(countV))
            fatal("Column entries are missing in NURBS (row %d)", i);
    std::shared_ptr<NurbsData> data;
    std::unique_ptr<Nurbs> surface;
    try {
        data = std::make_shared<NurbsData>();
        data->knots[0] = std::move(knotsU);
        data->knots[1] = std::move(knotsV);
        for (int a = 0; a < 2; ++a) {
            data->order[a] = orders[a];
            data->count[a] = counts[a];
            std::vector<double>& k = data->knots[a];
            if (k.size() != static_cast<std::size_t>(orders[a] + counts[a])) {
                // The clamped uniform vector over [0, count - order + 1].
                k.assign(static_cast<std::size_t>(orders[a] + counts[a]), 0.0);
                for (int i = orders[a]; i < counts[a]; ++i) k[i] = i - orders[a] + 1;
                for (int i = counts[a]; i < orders[a] + counts[a]; ++i) k[i] = counts[a] - orders[a] + 1;
            }
        }
        data->grid.reserve(static_cast<std::size_t>(countU) * countV);
        surface = std::make_unique<Nurbs>(data);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate NURBS");
    }
    Vec3 lo = points[0][0].point, hi = lo;
    for (int i = 0; i < countU; ++i)
        for (int j = 0; j < countV; ++j) {
            NurbsPoint p = points[i][j];
            if (p.weight != 0) data->rational = true;
            if (p.weight == 0) p.weight = 1;
            data->grid.push_back(p);
            for (int a = 0; a < 3; ++a)
                lo[a] = std::min(lo[a], p.point[a]), hi[a] = std::max(hi[a], p.point[a]);
        }
    for (int a = 0; a < 2; ++a) {
        // The parameter window is where the basis functions sum to one.
        const std::vector<double>& k = data->knots[a];
        surface->uvWindow[2 * a] = k[orders[a] - 1];
        surface->uvWindow[2 * a + 1] = k[counts[a]];
    }
    surface->subdivisions[0] = static_cast<std::uint16_t>(std::min(2 * countU, 65535));
    surface->subdivisions[1] = static_cast<std::uint16_t>(std::min(2 * countV, 65535));
    // The control points' box holds the surface wherever the weights are positive.
    surface->setBounds({lo, hi - lo});
    return surface;
}

}  // namespace quorva
