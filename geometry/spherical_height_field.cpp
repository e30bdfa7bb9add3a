// The SphericalHeightField: the height grid wrapped around the origin, grid vertex (column, row) at
// distance height in the direction of longitude 2 pi column / (columns - 1) and latitude
// -pi/2 + pi row / (rows - 1). Its cell triangles are kept in a box tree of their own and intersected
// directly; smooth normals are blended from the vertex normals by the barycentric weights of the hit.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/element_tree.h"
#include "geometry/height_grid.h"
#include "geometry/subdivision.h"
#include "geometry/surface_shapes.h"
#include "geometry/world.h"
#include "image/texture_image.h"

namespace quorva {

namespace {

constexpr double Pi = 3.14159265358979323846;
// The most grid points a spherical field may have (a 1024 x 512 image): each cell keeps two prepared
// triangles and their place in the element tree, about 530 bytes a point (280 MB at this bound).
constexpr double MaxPoints = 1 << 19;

struct SphereTriangle {
    Vec3 p0, e1, e2;  // corner 0 and the edges to corners 1 and 2
    Vec3 normal;      // unit, outward
    std::uint32_t corner[3];
};

struct SphericalGrid {
    HeightGrid grid;
    std::vector<Vec3> vertices;  // object space, row by row
    std::vector<SphereTriangle> triangles;
    ElementTree tree;
};

class SphericalHeightField final : public Shape {
  public:
    explicit SphericalHeightField(std::shared_ptr<const SphericalGrid> data)
        : Shape(ShapeKind::SphericalHeightField), data_(std::move(data)) {}

    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    std::unique_ptr<Shape> clone() const override {
        return std::unique_ptr<Shape>(new SphericalHeightField(*this));
    }
    void subdivide(World& target) override;

  private:
    SphericalHeightField(const SphericalHeightField&) = default;
    std::shared_ptr<const SphericalGrid> data_;
};

bool SphericalHeightField::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                                     Intersection& hit) const {
    const SphericalGrid& g = *data_;
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    int best = -1;
    double bestT = 0, bestU = 0, bestV = 0;
    const double low = std::max(tmin, 1e-8);
    g.tree.forEachOnRay(o, d, low, tmax, [&](int i, double limit) {
        const SphereTriangle& t = g.triangles[i];
        const Vec3 p = cross(d, t.e2);
        const double det = dot(t.e1, p);
        if (std::fabs(det) < 1e-20) return limit;
        const double inv = 1 / det;
        const Vec3 s = o - t.p0;
        const double u = dot(s, p) * inv;
        if (u < -1e-9 || u > 1 + 1e-9) return limit;
        const Vec3 q = cross(s, t.e1);
        const double v = dot(d, q) * inv;
        if (v < -1e-9 || u + v > 1 + 1e-9) return limit;
        const double distance = dot(t.e2, q) * inv;
        if (!(distance >= low && distance <= limit)) return limit;
        best = i, bestT = distance, bestU = u, bestV = v;
        return distance;
    });
    if (best < 0) return false;
    const SphereTriangle& t = g.triangles[best];
    Vec3 normal = t.normal;
    if (g.grid.smooth) {
        const Vec3* n = g.grid.normals.data();
        normal = normalized(n[t.corner[0]] * (1 - bestU - bestV) + n[t.corner[1]] * bestU +
                            n[t.corner[2]] * bestV);
    }
    const Vec3 point = ray.at(bestT);
    return recordHit(ctx, *this, normal, bestT, point, hit, point);
}

void SphericalHeightField::subdivide(World& target) {
    const SphericalGrid& g = *data_;
    auto mesh = std::make_shared<SubdivisionMesh>();
    for (const Vec3& v : g.vertices) mesh->vertices.push_back(pointToWorld(transform.get(), v));
    if (g.grid.smooth)
        for (const Vec3& n : g.grid.normals)
            mesh->normals.push_back(normalized(normalToWorld(transform.get(), n)));
    std::vector<MeshFace> faces;
    faces.reserve(g.triangles.size());
    for (const SphereTriangle& t : g.triangles) faces.push_back({t.corner[0], t.corner[1], t.corner[2]});
    appendMeshTriangles(*this, std::move(mesh), faces, target);
}

int countText(double v) {
    return std::isnan(v) ? 0 : static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
}

// Places the vertices, builds the usable cell triangles and their tree, and makes the shape.
std::unique_ptr<Shape> finishSphericalField(std::shared_ptr<SphericalGrid> data, const char* failure) {
    HeightGrid& g = data->grid;
    findHeightRange(g);
    try {
        data->vertices.resize(g.heights.size());
        data->triangles.reserve(static_cast<std::size_t>(g.columns - 1) * (g.rows - 1) * 2);
    } catch (const std::bad_alloc&) {
        fatal("%s", failure);
    }
    double reach = 0;
    for (int r = 0; r < g.rows; ++r) {
        const double latitude = -Pi / 2 + Pi * r / (g.rows - 1);
        for (int c = 0; c < g.columns; ++c) {
            const double longitude = 2 * Pi * c / (g.columns - 1);
            const double h = g.height(c, r);
            const Vec3 direction{std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                                 std::cos(latitude) * std::sin(longitude)};
            data->vertices[std::size_t(r) * g.columns + c] = direction * h;
            reach = std::max(reach, std::fabs(h));
        }
    }
    const SphericalGrid* grid = data.get();
    if (g.smooth)
        computeVertexNormals(
            g, [grid](int c, int r) { return grid->vertices[std::size_t(r) * grid->grid.columns + c]; },
            true);
    std::vector<Box> boxes;
    boxes.reserve(data->triangles.capacity());
    for (int r = 0; r + 1 < g.rows; ++r)
        for (int c = 0; c + 1 < g.columns; ++c)
            for (int key = 0; key < 2; ++key) {
                SphereTriangle t;
                Vec3 p[3];
                for (int k = 0; k < 3; ++k) {
                    int column, row;
                    triangleCorner(key, k, c, r, column, row);
                    t.corner[k] = static_cast<std::uint32_t>(row * g.columns + column);
                    p[k] = data->vertices[t.corner[k]];
                }
                if (!triangleNormal(p[0], p[1], p[2], t.normal)) continue;
                t.p0 = p[0];
                t.e1 = p[1] - p[0];
                t.e2 = p[2] - p[0];
                Vec3 lo = p[0], hi = p[0];
                for (int k = 1; k < 3; ++k)
                    for (int a = 0; a < 3; ++a)
                        lo[a] = std::min(lo[a], p[k][a]), hi[a] = std::max(hi[a], p[k][a]);
                const Vec3 pad{1e-8, 1e-8, 1e-8};
                boxes.push_back({lo - pad, hi - lo + pad * 2});
                data->triangles.push_back(t);
            }
    data->tree.build(boxes);
    std::unique_ptr<SphericalHeightField> field;
    try {
        field = std::make_unique<SphericalHeightField>(std::move(data));
    } catch (const std::bad_alloc&) {
        fatal("%s", failure);
    }
    field->setBounds({{-reach, -reach, -reach}, {2 * reach, 2 * reach, 2 * reach}});
    return field;
}

std::shared_ptr<SphericalGrid> newSphericalGrid(const char* failure) {
    try {
        return std::make_shared<SphericalGrid>();
    } catch (const std::bad_alloc&) {
        fatal("%s", failure);
    }
}

}  // namespace

std::unique_ptr<Shape> makeSphericalHeightField(double base, double scale, const ImageFile& image,
                                                bool smooth) {
    if (image.width < 2 || image.height < 2)
        fatal("HeightField too small (%dx%d)", static_cast<int>(image.width), static_cast<int>(image.height));
    if (image.width < 4 || image.height < 4)
        fatal("Spherical grid size (%d,%d) < 4", static_cast<int>(image.width),
              static_cast<int>(image.height));
    auto data = newSphericalGrid("Failed to allocate SphericalHeightField");
    HeightGrid& g = data->grid;
    g.smooth = smooth;
    allocateGrid(g, image.width, image.height, MaxPoints, "Failed to allocate SphericalHeightField");
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c) {
            const double h = base + scale * imageHeightAt(image, c, r);
            g.heights[std::size_t(r) * g.columns + c] = std::isfinite(h) ? h : 0;
        }
    return finishSphericalField(std::move(data), "Failed to allocate SphericalHeightField");
}

std::unique_ptr<Shape> makeImplicitSphericalHeightField(double base, double scale,
                                                        const HeightFunction& expression, double columns,
                                                        double rows, bool smooth) {
    if (!(columns >= 2) || !(rows >= 2)) fatal("Grid size (%d,%d) < 2", countText(columns), countText(rows));
    if (!(columns >= 4) || !(rows >= 4))
        fatal("Spherical grid size (%d,%d) < 4", countText(columns), countText(rows));
    auto data = newSphericalGrid("Failed to allocate ImplicitSphericalHeightField");
    HeightGrid& g = data->grid;
    g.smooth = smooth;
    allocateGrid(g, std::floor(columns), std::floor(rows), MaxPoints,
                 "Failed to allocate ImplicitSphericalHeightField");
    for (int r = 0; r < g.rows; ++r) {
        const double latitude = -Pi / 2 + Pi * r / (g.rows - 1);
        for (int c = 0; c < g.columns; ++c) {
            const double h = base + scale * expression(2 * Pi * c / (g.columns - 1), latitude);
            g.heights[std::size_t(r) * g.columns + c] = std::isfinite(h) ? h : 0;
        }
    }
    return finishSphericalField(std::move(data), "Failed to allocate ImplicitSphericalHeightField");
}

}  // namespace quorva
