// The BicubicPatch: a 4 x 4 grid of control points under one of four cubic bases. Only evaluated; the
// World cuts it into triangles.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/subdivision.h"
#include "geometry/surface_shapes.h"

namespace quorva {

namespace {

// Basis matrices, rows applied to (t^3, t^2, t, 1), and their scale factors, for types 1 to 4.
constexpr double Bases[4][4][4] = {
    {{-1, 3, -3, 1}, {3, -6, 3, 0}, {-3, 3, 0, 0}, {1, 0, 0, 0}},   // Bezier
    {{-1, 3, -3, 1}, {3, -6, 3, 0}, {-3, 0, 3, 0}, {1, 4, 1, 0}},   // uniform cubic B-spline
    {{-1, 3, -3, 1}, {2, -5, 4, -1}, {-1, 0, 1, 0}, {0, 2, 0, 0}},  // Catmull-Rom
    {{2, -2, 1, 1}, {-3, 3, -2, -1}, {0, 0, 1, 0}, {1, 0, 0, 0}},   // Hermite
};
constexpr double Scales[4] = {1, 1.0 / 6, 1.0 / 2, 1};

struct PatchData {
    int type = 1;
    Vec3 points[4][4];  // points[i][j]: row i runs with u
};

// k (t^3, t^2, t, 1) M and its derivative k (3t^2, 2t, 1, 0) M.
void weights(int type, double t, double w[4], double dw[4]) {
    const double powers[4] = {t * t * t, t * t, t, 1};
    const double slopes[4] = {3 * t * t, 2 * t, 1, 0};
    const auto& m = Bases[type - 1];
    for (int c = 0; c < 4; ++c) {
        w[c] = dw[c] = 0;
        for (int r = 0; r < 4; ++r) {
            w[c] += powers[r] * m[r][c];
            dw[c] += slopes[r] * m[r][c];
        }
        w[c] *= Scales[type - 1];
        dw[c] *= Scales[type - 1];
    }
}

class BicubicPatch final : public Shape {
  public:
    explicit BicubicPatch(std::shared_ptr<const PatchData> data)
        : Shape(ShapeKind::BicubicPatch), data_(std::move(data)) {}
    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new BicubicPatch(*this)); }

  private:
    BicubicPatch(const BicubicPatch&) = default;
    std::shared_ptr<const PatchData> data_;
};

void BicubicPatch::evaluate(double u, double v, SurfacePoint& out) const {
    double bu[4], dbu[4], bv[4], dbv[4];
    weights(data_->type, u, bu, dbu);
    weights(data_->type, v, bv, dbv);
    Vec3 point, du, dv;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const Vec3& p = data_->points[i][j];
            point += p * (bu[i] * bv[j]);
            du += p * (dbu[i] * bv[j]);
            dv += p * (bu[i] * dbv[j]);
        }
    finishSurfacePoint(*this, point, normalized(cross(du, dv)), u, v, out);
}

// A subdivision count from the statement: at least one step, and at most 1024 along each side; the
// grid as a whole is bounded like every subdivision.
std::uint16_t subdivisionCount(double n) {
    return !(n >= 1) ? 1 : n > 1024 ? 1024 : static_cast<std::uint16_t>(n);
}

}  // namespace

std::unique_ptr<Shape> makeBicubicPatch(const std::vector<Vec3>& points, double type, double uSubdivisions,
                                        double vSubdivisions) {
    if (points.size() != 16)
        fatal("%d points are missing on a BicubicPatch", 16 - static_cast<int>(points.size()));
    if (!(type >= 1 && type < 5)) fatal("Type of BicubicPatch out of range");
    std::shared_ptr<PatchData> data;
    std::unique_ptr<BicubicPatch> patch;
    try {
        data = std::make_shared<PatchData>();
        patch = std::make_unique<BicubicPatch>(data);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate BicubicPatch");
    }
    data->type = static_cast<int>(type);
    Vec3 lo = points[0], hi = points[0];
    for (int k = 0; k < 16; ++k) {
        data->points[k / 4][k % 4] = points[k];
        for (int a = 0; a < 3; ++a)
            lo[a] = std::min(lo[a], points[k][a]), hi[a] = std::max(hi[a], points[k][a]);
    }
    patch->subdivisions[0] = subdivisionCount(uSubdivisions);
    patch->subdivisions[1] = subdivisionCount(vSubdivisions);
    boundShapeSubdivisions(*patch, 2);
    patch->setBounds({lo, hi - lo});
    return patch;
}

}  // namespace quorva
