// The ImplicitSurface: the zero set of a scalar field inside the shape's box, found by walking the ray
// through a grid of cells and refining each change of sign by false position.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/polygoniser.h"
#include "geometry/profile_shapes.h"

namespace quorva {

namespace {

constexpr double Infinite = std::numeric_limits<double>::infinity();

// The grid over the object-space box: `count` samples per axis, `cell` apart.
struct Grid {
    Box box;
    int count[3];
    double cell[3];
};

class ImplicitSurface final : public Shape {
  public:
    explicit ImplicitSurface(std::shared_ptr<const FieldFunction> value)
        : Shape(ShapeKind::ImplicitSurface), value_(std::move(value)) {}

    void subdivide(World& target) override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override {
        return std::unique_ptr<Shape>(new ImplicitSurface(*this));
    }

  private:
    ImplicitSurface(const ImplicitSurface&) = default;

    // The grid follows the current bounds and subdivision counts. The bounds are world space once the
    // shape is transformed, so they are brought back through the inverse first. Working it out from
    // the shape's record keeps the shape free of mutable state while pixels render.
    Grid grid() const;
    double refine(double a, double fa, double b, double fb, const Ray& ray) const;
    Vec3 gradient(const Vec3& p, double step) const;

    std::shared_ptr<const FieldFunction> value_;
};

Grid ImplicitSurface::grid() const {
    Grid g;
    g.box = transform ? transformBox(bounds(), transform->inverse) : bounds();
    for (int a = 0; a < 3; ++a) {
        g.count[a] = std::max(2, static_cast<int>(subdivisions[a]));
        g.cell[a] = g.box.size[a] / (g.count[a] - 1);
    }
    return g;
}

// False position on [a, b] whose ends differ in sign; NaN when the field fails to evaluate.
double ImplicitSurface::refine(double a, double fa, double b, double fb, const Ray& ray) const {
    const FieldFunction& f = *value_;
    for (int round = 0; round < 20; ++round) {
        if (std::fabs(fa) < 1e-8) return a;
        if (std::fabs(fb) < 1e-8) return b;
        const double t = a + (b - a) * std::fabs(fa) / std::fabs(fb - fa);
        const double ft = f(ray.at(t));
        if (!std::isfinite(ft)) return std::numeric_limits<double>::quiet_NaN();
        if ((ft > 0 && fa > 0 && fb > 0) || (ft < 0 && fa < 0 && fb < 0))
            fatal("(Internal failure 0x30) Bisecting");
        if ((ft > 0) == (fa > 0)) {
            a = t;
            fa = ft;
        } else {
            b = t;
            fb = ft;
        }
    }
    return std::fabs(fa) < std::fabs(fb) ? a : b;
}

Vec3 ImplicitSurface::gradient(const Vec3& p, double step) const {
    const FieldFunction& f = *value_;
    const Vec3 dx{step, 0, 0}, dy{0, step, 0}, dz{0, 0, step};
    return {f(p + dx) - f(p - dx), f(p + dy) - f(p - dy), f(p + dz) - f(p - dz)};
}

bool ImplicitSurface::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                                Intersection& hit) const {
    const Grid g = grid();
    const Vec3 lo = g.box.min, hi = g.box.max();
    // Clip to the box, and to the interval: a root behind the origin or beyond tmax is never recorded.
    double enter = tmin, exit = tmax;
    for (int a = 0; a < 3; ++a) {
        if (ray.direction[a] == 0) {
            if (ray.origin[a] < lo[a] || ray.origin[a] > hi[a]) return false;
            continue;
        }
        double t0 = (lo[a] - ray.origin[a]) / ray.direction[a];
        double t1 = (hi[a] - ray.origin[a]) / ray.direction[a];
        if (t0 > t1) std::swap(t0, t1);
        enter = std::max(enter, t0);
        exit = std::min(exit, t1);
    }
    if (!(enter < exit)) return false;

    // The three-axis walk: the distance to each axis's next cell boundary and per cell.
    double next[3], delta[3];
    const Vec3 start = ray.at(enter);
    for (int a = 0; a < 3; ++a) {
        const double d = ray.direction[a];
        if (std::fabs(d) < 1e-12 || !(g.cell[a] > 0)) {
            next[a] = delta[a] = Infinite;
            continue;
        }
        int index = static_cast<int>(std::floor((start[a] - lo[a]) / g.cell[a]));
        index = std::clamp(index, 0, g.count[a] - 1);
        const double boundary = lo[a] + (index + (d > 0 ? 1 : 0)) * g.cell[a];
        next[a] = std::max(enter, (boundary - ray.origin[a]) / d);
        delta[a] = g.cell[a] / std::fabs(d);
    }

    const FieldFunction& f = *value_;
    double t0 = enter;
    double f0 = f(start);
    const int limit = g.count[0] + g.count[1] + g.count[2] + 8;
    for (int steps = 0; t0 < exit && steps < limit; ++steps) {
        int axis = 0;
        if (next[1] < next[axis]) axis = 1;
        if (next[2] < next[axis]) axis = 2;
        const double t1 = std::min(next[axis], exit);
        next[axis] += delta[axis];
        const double f1 = f(ray.at(t1));
        if (std::isfinite(f0) && std::isfinite(f1) && f0 * f1 <= 0) {
            const double root = refine(t0, f0, t1, f1, ray);
            if (root > tmin && root < tmax) {
                const Vec3 point = ray.at(root);
                const double step = 1e-4 * std::min({g.cell[0], g.cell[1], g.cell[2]});
                if (recordHit(ctx, *this, gradient(point, step), root, point, hit, point)) return true;
            }
        }
        t0 = t1;
        f0 = f1;
    }
    return false;
}

bool ImplicitSurface::inside(const Vec3& worldPoint) const {
    return (*value_)(pointToObject(transform.get(), worldPoint)) < 0;
}

void ImplicitSurface::subdivide(World& target) {
    const Grid g = grid();
    ImplicitSurfaceDescription description;
    description.box = g.box;
    for (int a = 0; a < 3; ++a) description.cells[a] = g.count[a];
    std::shared_ptr<const FieldFunction> value = value_;
    // The polygoniser's inside is where its value exceeds the threshold; here it is where f < 0.
    description.value = [value](const Vec3& p) { return -(*value)(p); };
    description.threshold = 0;
    const double step = 1e-4 * std::min({g.cell[0], g.cell[1], g.cell[2]});
    description.normal = [this, step](const Vec3& p) { return gradient(p, step); };
    subdivideImplicit(*this, description, target);
}

}  // namespace

std::unique_ptr<Shape> makeImplicitSurface(FieldFunction value) {
    std::unique_ptr<ImplicitSurface> shape;
    try {
        shape = std::make_unique<ImplicitSurface>(std::make_shared<const FieldFunction>(std::move(value)));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate ImplicitSurface");
    }
    shape->setBounds({{-1, -1, -1}, {2, 2, 2}});
    for (auto& s : shape->subdivisions) s = 32;
    return shape;
}

}  // namespace quorva
