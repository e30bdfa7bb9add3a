// The ParametricSurface: a vector formula of (u, v), never traced directly but cut into triangles over
// its uv window by the generic subdivision.
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/profile_shapes.h"

namespace quorva {

namespace {

class ParametricSurface final : public Shape {
  public:
    explicit ParametricSurface(std::shared_ptr<const PointFunction> point)
        : Shape(ShapeKind::ParametricSurface), point_(std::move(point)) {}

    bool hasEvaluate() const override { return true; }
    void evaluate(double u, double v, SurfacePoint& out) const override;
    std::unique_ptr<Shape> clone() const override {
        return std::unique_ptr<Shape>(new ParametricSurface(*this));
    }

  private:
    ParametricSurface(const ParametricSurface&) = default;
    // The derivative along one parameter: central differences with a step of 1e-5 of the window,
    // one-sided where a central step would leave the window.
    Vec3 derivative(double u, double v, bool alongU, const Vec3& here) const;

    std::shared_ptr<const PointFunction> point_;
};

Vec3 ParametricSurface::derivative(double u, double v, bool alongU, const Vec3& here) const {
    const PointFunction& p = *point_;
    const double low = alongU ? uvWindow[0] : uvWindow[2];
    const double high = alongU ? uvWindow[1] : uvWindow[3];
    const double x = alongU ? u : v;
    double h = 1e-5 * (high - low);
    if (h == 0) h = 1e-5;
    auto at = [&](double s) { return alongU ? p(s, v) : p(u, s); };
    if (x - h < low) return (at(x + h) - here) * (1 / h);
    if (x + h > high) return (here - at(x - h)) * (1 / h);
    return (at(x + h) - at(x - h)) * (0.5 / h);
}

void ParametricSurface::evaluate(double u, double v, SurfacePoint& out) const {
    const Vec3 here = (*point_)(u, v);
    const Vec3 du = derivative(u, v, true, here);
    const Vec3 dv = derivative(u, v, false, here);
    finishSurfacePoint(*this, here, -cross(du, dv), u, v, out);
}

}  // namespace

std::unique_ptr<Shape> makeParametricSurface(PointFunction point) {
    std::unique_ptr<ParametricSurface> shape;
    try {
        shape = std::make_unique<ParametricSurface>(std::make_shared<const PointFunction>(std::move(point)));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate ParametricSurface");
    }
    for (auto& s : shape->subdivisions) s = 32;
    shape->uvWindow[0] = 0;
    shape->uvWindow[1] = 1;
    shape->uvWindow[2] = 0;
    shape->uvWindow[3] = 1;
    return shape;
}

}  // namespace quorva
