// The planar HeightField: a grid of heights cut into two triangles per cell. A ray is carried into grid
// units (x along the columns, y the height, z along the rows) and walks the cells it crosses in order,
// stopping at the first cell whose triangles it hits.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/height_grid.h"
#include "geometry/intersect_context.h"
#include "geometry/subdivision.h"
#include "geometry/surface_shapes.h"
#include "geometry/world.h"
#include "image/texture_image.h"

namespace quorva {

namespace {

// Slack of the footprint tests, so that a ray through an edge shared by two triangles or two cells
// finds one of them despite rounding.
constexpr double EdgeSlack = 1e-9;
// The most grid points a field may have (a 4096 x 4096 image): beyond it the heights, normals and the
// time to fill them grow out of reach.
constexpr double MaxPoints = 1 << 24;

struct PlanarGrid {
    HeightGrid grid;
    Transform gridTransform;  // grid units to object space
};

using CachedTriangle = IntersectContext::HeightFieldTriangle;

void buildTriangle(const HeightGrid& g, int key, int c, int r, CachedTriangle& t) {
    for (int k = 0; k < 3; ++k) {
        int column, row;
        triangleCorner(key, k, c, r, column, row);
        t.vertex[k] = {static_cast<double>(column), g.height(column, row), static_cast<double>(row)};
        if (g.smooth) t.vertexNormal[k] = g.normal(column, row);
    }
    t.key = key;
    t.column = c;
    t.row = r;
    t.usable = triangleNormal(t.vertex[0], t.vertex[1], t.vertex[2], t.normal);
    t.planeConstant = -dot(t.normal, t.vertex[0]);
}

// The smooth normal at the cell position (fx, fz): along x between the two corners that share a grid row,
// then along z towards the third corner, normalised after each step.
Vec3 smoothNormal(const CachedTriangle& t, double fx, double fz) {
    if (t.key == 0) {
        const double along = fz < 1 ? std::clamp(fx / (1 - fz), 0.0, 1.0) : 0;
        const Vec3 row = normalized(t.vertexNormal[0] + (t.vertexNormal[1] - t.vertexNormal[0]) * along);
        return normalized(row + (t.vertexNormal[2] - row) * std::clamp(fz, 0.0, 1.0));
    }
    // Corners 2 (x = c) and 1 (x = c + 1) share row r + 1; corner 0 lies on row r.
    const double along = fz > 0 ? std::clamp((fx - 1 + fz) / fz, 0.0, 1.0) : 0;
    const Vec3 row = normalized(t.vertexNormal[2] + (t.vertexNormal[1] - t.vertexNormal[2]) * along);
    return normalized(row + (t.vertexNormal[0] - row) * std::clamp(1 - fz, 0.0, 1.0));
}

// The triangle test in grid units: the distance (1000000 when there is no hit) and the normal.
double testTriangle(const CachedTriangle& t, const Vec3& o, const Vec3& d, bool smooth, Vec3& normal) {
    if (!t.usable) return 1000000;
    const double denominator = dot(t.normal, d);
    if (denominator == 0) return 1000000;
    const double distance = -(dot(t.normal, o) + t.planeConstant) / denominator;
    if (!(distance >= 1e-8)) return 1000000;
    const Vec3 p = o + d * distance;
    const double fx = p.x - t.column, fz = p.z - t.row;
    const bool inside = t.key == 0 ? fx >= -EdgeSlack && fz >= -EdgeSlack && fx + fz <= 1 + EdgeSlack
                                   : fx <= 1 + EdgeSlack && fz <= 1 + EdgeSlack && fx + fz >= 1 - EdgeSlack;
    if (!inside) return 1000000;
    normal = smooth ? smoothNormal(t, fx, fz) : t.normal;
    return distance;
}

class HeightField final : public Shape {
  public:
    explicit HeightField(std::shared_ptr<const PlanarGrid> data)
        : Shape(ShapeKind::HeightField), data_(std::move(data)) {}

    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override { return std::unique_ptr<Shape>(new HeightField(*this)); }
    void subdivide(World& target) override;

  private:
    HeightField(const HeightField&) = default;

    const CachedTriangle& cachedTriangle(IntersectContext& ctx, int key, int c, int r) const;

    std::shared_ptr<const PlanarGrid> data_;
};

const CachedTriangle& HeightField::cachedTriangle(IntersectContext& ctx, int key, int c, int r) const {
    for (int i = 0; i < ctx.heightFieldCacheCount; ++i) {
        const CachedTriangle& t = ctx.heightFieldCache[i];
        if (t.owner == this && t.key == key && t.column == c && t.row == r) return t;
    }
    CachedTriangle& slot = ctx.heightFieldCache[ctx.heightFieldCacheNext];
    ctx.heightFieldCacheNext = (ctx.heightFieldCacheNext + 1) % static_cast<int>(ctx.heightFieldCache.size());
    ctx.heightFieldCacheCount =
        std::min(ctx.heightFieldCacheCount + 1, static_cast<int>(ctx.heightFieldCache.size()));
    buildTriangle(data_->grid, key, c, r, slot);
    slot.owner = this;
    return slot;
}

bool HeightField::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                            Intersection& hit) const {
    const HeightGrid& g = data_->grid;
    const Vec3 o = transformPoint(data_->gridTransform.inverse, ray.origin);
    Vec3 d = transformVector(data_->gridTransform.inverse, ray.direction);
    const double s = normalize(d);
    double t0 = tmin * s, t1 = tmax * s;
    // Clip against the grid box.
    const double lo[3] = {0, g.minHeight, 0};
    const double hi[3] = {static_cast<double>(g.columns - 1), g.maxHeight, static_cast<double>(g.rows - 1)};
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(d[a]) < 1e-12) {
            if (o[a] < lo[a] || o[a] > hi[a]) return false;
            continue;
        }
        double n = (lo[a] - o[a]) / d[a], f = (hi[a] - o[a]) / d[a];
        if (n > f) std::swap(n, f);
        t0 = std::max(t0, n);
        t1 = std::min(t1, f);
    }
    if (!(t0 <= t1)) return false;
    const Vec3 entry = o + d * t0;
    if (!std::isfinite(entry.x) || !std::isfinite(entry.z)) return false;
    int c = std::clamp(static_cast<int>(std::floor(entry.x)), 0, g.columns - 2);
    int r = std::clamp(static_cast<int>(std::floor(entry.z)), 0, g.rows - 2);

    // The walk: per axis the step, the t of the next cell boundary and the t per cell.
    constexpr double Far = std::numeric_limits<double>::infinity();
    const int stepX = d.x > 0 ? 1 : d.x < 0 ? -1 : 0;
    const int stepZ = d.z > 0 ? 1 : d.z < 0 ? -1 : 0;
    double nextX = stepX > 0 ? (c + 1 - o.x) / d.x : stepX < 0 ? (c - o.x) / d.x : Far;
    double nextZ = stepZ > 0 ? (r + 1 - o.z) / d.z : stepZ < 0 ? (r - o.z) / d.z : Far;
    const double perX = stepX ? std::fabs(1 / d.x) : Far;
    const double perZ = stepZ ? std::fabs(1 / d.z) : Far;

    double enter = t0;
    for (;;) {
        const double exit = std::min({nextX, nextZ, t1});
        // Skip the cell when the ray passes wholly above or below its four corners.
        const double y0 = o.y + d.y * enter, y1 = o.y + d.y * exit;
        const double h00 = g.height(c, r), h10 = g.height(c + 1, r), h01 = g.height(c, r + 1),
                     h11 = g.height(c + 1, r + 1);
        const double cellLow = std::min({h00, h10, h01, h11}) - 1e-8;
        const double cellHigh = std::max({h00, h10, h01, h11}) + 1e-8;
        if (!(std::min(y0, y1) > cellHigh || std::max(y0, y1) < cellLow)) {
            double best = 1000000;
            Vec3 bestNormal;
            for (int key = 0; key < 2; ++key) {
                Vec3 n;
                const double t = testTriangle(cachedTriangle(ctx, key, c, r), o, d, g.smooth, n);
                if (t < best && t >= tmin * s && t <= tmax * s) best = t, bestNormal = n;
            }
            if (best < 1000000) {
                const Vec3 gridPoint = o + d * best;
                const Vec3 point = transformPoint(data_->gridTransform.forward, gridPoint);
                const Vec3 normal = transformByTranspose(data_->gridTransform.inverse, bestNormal);
                return recordHit(ctx, *this, normal, best / s, point, hit, point);
            }
        }
        if (exit >= t1) return false;
        // Stop once the ray has left the height range in the direction it travels.
        if ((d.y > 0 && y1 > g.maxHeight) || (d.y < 0 && y1 < g.minHeight)) return false;
        if (nextX <= nextZ) {
            c += stepX;
            if (c < 0 || c > g.columns - 2) return false;
            enter = nextX;
            nextX += perX;
        } else {
            r += stepZ;
            if (r < 0 || r > g.rows - 2) return false;
            enter = nextZ;
            nextZ += perZ;
        }
    }
}

bool HeightField::inside(const Vec3& worldPoint) const {
    const HeightGrid& g = data_->grid;
    const Vec3 p = transformPoint(data_->gridTransform.inverse, pointToObject(transform.get(), worldPoint));
    if (!(p.x >= 0 && p.x <= g.columns - 1 && p.z >= 0 && p.z <= g.rows - 1)) return false;
    const int c = std::min(static_cast<int>(p.x), g.columns - 2),
              r = std::min(static_cast<int>(p.z), g.rows - 2);
    const double h[4] = {g.height(c, r), g.height(c + 1, r), g.height(c, r + 1), g.height(c + 1, r + 1)};
    if (p.y > *std::max_element(h, h + 4)) return false;
    if (p.y < *std::min_element(h, h + 4)) return true;
    for (int key = 0; key < 2; ++key) {
        CachedTriangle t;
        buildTriangle(g, key, c, r, t);
        Vec3 n;
        if (testTriangle(t, p, {0, 1, 0}, false, n) < 1000000) return true;
    }
    return false;
}

// The cell triangles, with the vertex normals of a smooth grid.
void HeightField::subdivide(World& target) {
    const HeightGrid& g = data_->grid;
    auto mesh = std::make_shared<SubdivisionMesh>();
    mesh->vertices.reserve(g.heights.size());
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c) {
            const Vec3 object =
                transformPoint(data_->gridTransform.forward, {double(c), g.height(c, r), double(r)});
            mesh->vertices.push_back(pointToWorld(transform.get(), object));
            if (g.smooth)
                mesh->normals.push_back(normalized(normalToWorld(
                    transform.get(), transformByTranspose(data_->gridTransform.inverse, g.normal(c, r)))));
        }
    std::vector<MeshFace> faces;
    faces.reserve(static_cast<std::size_t>(g.columns - 1) * (g.rows - 1) * 2);
    for (int r = 0; r + 1 < g.rows; ++r)
        for (int c = 0; c + 1 < g.columns; ++c)
            for (int key = 0; key < 2; ++key) {
                MeshFace f;
                for (int k = 0; k < 3; ++k) {
                    int column, row;
                    triangleCorner(key, k, c, r, column, row);
                    f[k] = static_cast<std::uint32_t>(row * g.columns + column);
                }
                faces.push_back(f);
            }
    appendMeshTriangles(*this, std::move(mesh), faces, target);
}

std::unique_ptr<Shape> finishHeightField(std::shared_ptr<PlanarGrid> data) {
    HeightGrid& g = data->grid;
    findHeightRange(g);
    if (g.smooth) {
        const HeightGrid* grid = &g;
        computeVertexNormals(g, [grid](int c, int r) {
            return Vec3{double(c), grid->height(c, r), double(r)};
        });
    }
    const Box gridBox{{0, g.minHeight, 0},
                      {double(g.columns - 1), g.maxHeight - g.minHeight, double(g.rows - 1)}};
    const Box bounds = transformBox(gridBox, data->gridTransform.forward);
    std::unique_ptr<HeightField> field;
    try {
        field = std::make_unique<HeightField>(std::move(data));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate HeightField");
    }
    field->setBounds(bounds);
    return field;
}

std::shared_ptr<PlanarGrid> newPlanarGrid() {
    try {
        return std::make_shared<PlanarGrid>();
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate HeightField");
    }
}

// A grid count as an int for a message, without an undefined conversion.
int countText(double v) {
    return std::isnan(v) ? 0 : static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
}

}  // namespace

std::unique_ptr<Shape> makePlanarHeightField(const ImageFile& image, bool smooth) {
    if (image.width < 2 || image.height < 2)
        fatal("HeightField too small (%dx%d)", static_cast<int>(image.width), static_cast<int>(image.height));
    auto data = newPlanarGrid();
    HeightGrid& g = data->grid;
    g.smooth = smooth;
    allocateGrid(g, image.width, image.height, MaxPoints, "Failed to allocate HeightField");
    if (g.columns < 2 || g.rows < 2) fatal("Grid size (%d,%d) < 2", g.columns, g.rows);
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c)
            g.heights[std::size_t(r) * g.columns + c] = imageHeightAt(image, c, r);
    data->gridTransform = makeScale(1.0 / (g.columns - 1), 1, 1.0 / (g.rows - 1));
    return finishHeightField(std::move(data));
}

std::unique_ptr<Shape> makeImplicitPlanarHeightField(double x0, double x1, double z0, double z1,
                                                     const HeightFunction& expression, double columns,
                                                     double rows, bool smooth) {
    if (!(columns >= 2) || !(rows >= 2)) fatal("Grid size (%d,%d) < 2", countText(columns), countText(rows));
    if (x0 == x1 || z0 == z1) fatal("Degenerate HeightField");
    auto data = newPlanarGrid();
    HeightGrid& g = data->grid;
    g.smooth = smooth;
    allocateGrid(g, std::floor(columns), std::floor(rows), MaxPoints, "Failed to allocate HeightField");
    const double dx = (x1 - x0) / (g.columns - 1), dz = (z1 - z0) / (g.rows - 1);
    if (!std::isfinite(dx) || !std::isfinite(dz) || !std::isfinite(x0) || !std::isfinite(z0))
        fatal("Degenerate HeightField");
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c) {
            const double h = expression(x0 + c * dx, z0 + r * dz);
            g.heights[std::size_t(r) * g.columns + c] = std::isfinite(h) ? h : 0;
        }
    data->gridTransform = makeScale(dx, 1, dz);
    compose(data->gridTransform, makeTranslate({x0, 0, z0}));
    return finishHeightField(std::move(data));
}

}  // namespace quorva
