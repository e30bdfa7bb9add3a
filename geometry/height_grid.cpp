// Sizing the height grid, its height range and its vertex normals.
#include "geometry/height_grid.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"

namespace quorva {

bool triangleNormal(const Vec3& p0, const Vec3& p1, const Vec3& p2, Vec3& normal) {
    normal = cross(p2 - p0, p1 - p0);
    const double l = length(normal);
    if (!(l >= 1e-8)) {
        normal = {1, 0, 0};
        return false;
    }
    normal = normal / l;
    return true;
}

void allocateGrid(HeightGrid& grid, double columns, double rows, double maxPoints, const char* failure) {
    if (!(columns * rows <= maxPoints)) fatal("%s", failure);
    grid.columns = static_cast<int>(columns);
    grid.rows = static_cast<int>(rows);
    try {
        grid.heights.assign(static_cast<std::size_t>(grid.columns) * grid.rows, 0.0);
    } catch (const std::bad_alloc&) {
        fatal("%s", failure);
    }
}

void findHeightRange(HeightGrid& grid) {
    double lo = grid.heights.empty() ? 0 : grid.heights[0], hi = lo;
    for (double h : grid.heights) lo = std::min(lo, h), hi = std::max(hi, h);
    grid.minHeight = lo - 1e-8;
    grid.maxHeight = hi + 1e-8;
}

void computeVertexNormals(HeightGrid& grid, const GridVertex& vertex, bool wrapColumns) {
    try {
        grid.normals.assign(grid.heights.size(), Vec3{});
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate HeightField normal array");
    }
    // The triangles around vertex (c, r) as (cell column offset, cell row offset, key).
    static constexpr int Around[6][3] = {{0, 0, 0},  {-1, 0, 0}, {-1, 0, 1},
                                         {0, -1, 0}, {0, -1, 1}, {-1, -1, 1}};
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            Vec3 sum;
            int found = 0;
            for (const auto& a : Around) {
                int cc = c + a[0];
                const int cr = r + a[1];
                if (wrapColumns && cc < 0) cc += grid.columns - 1;
                if (wrapColumns && cc > grid.columns - 2) cc -= grid.columns - 1;
                if (cc < 0 || cr < 0 || cc > grid.columns - 2 || cr > grid.rows - 2) continue;
                Vec3 p[3];
                for (int k = 0; k < 3; ++k) {
                    int column, row;
                    triangleCorner(a[2], k, cc, cr, column, row);
                    p[k] = vertex(column, row);
                }
                Vec3 n;
                if (!triangleNormal(p[0], p[1], p[2], n)) continue;
                sum += n;
                ++found;
            }
            if (found == 0) fatal("Failed to compute HeightField normals");
            grid.normals[static_cast<std::size_t>(r) * grid.columns + c] = normalized(sum / found);
        }
    }
}

}  // namespace quorva
