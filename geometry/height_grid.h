// The grid of heights behind the planar and spherical height fields: sizes, heights, vertex normals and
// the two triangles of every cell.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "geometry/vec3.h"

namespace quorva {

struct HeightGrid {
    int columns = 0, rows = 0;
    bool smooth = false;
    std::vector<double> heights;  // heights[row * columns + column]
    std::vector<Vec3> normals;    // unit vertex normals, smooth grids only
    double minHeight = 0, maxHeight = 0;

    double height(int column, int row) const {
        return heights[static_cast<std::size_t>(row) * columns + column];
    }
    const Vec3& normal(int column, int row) const {
        return normals[static_cast<std::size_t>(row) * columns + column];
    }
};

// Where a grid vertex lies (grid units for planar fields, object space for spherical ones).
using GridVertex = std::function<Vec3(int column, int row)>;

// The grid point (column, row) of corner `corner` of triangle `key` of cell (c, r): triangle 0 runs
// through (c, r), (c + 1, r), (c, r + 1); triangle 1 through (c + 1, r), (c + 1, r + 1), (c, r + 1).
inline void triangleCorner(int key, int corner, int c, int r, int& column, int& row) {
    static constexpr int Offsets[2][3][2] = {{{0, 0}, {1, 0}, {0, 1}}, {{1, 0}, {1, 1}, {0, 1}}};
    column = c + Offsets[key][corner][0];
    row = r + Offsets[key][corner][1];
}

// The unit normal of a triangle, e2 x e1 with e1 = P1 - P0 and e2 = P2 - P0: up on a planar field and
// outward on a spherical one. False for a triangle too thin to have one (length below 1e-8).
bool triangleNormal(const Vec3& p0, const Vec3& p1, const Vec3& p2, Vec3& normal);

// Sizes the arrays; `failure` when the grid has more than `maxPoints` points or cannot be held.
void allocateGrid(HeightGrid& grid, double columns, double rows, double maxPoints, const char* failure);

// Minimum and maximum height, padded by 1e-8.
void findHeightRange(HeightGrid& grid);

// Vertex normals of a smooth grid: the normalised mean of the usable triangles around each vertex
// (cell (c, r) triangle 0; cell (c - 1, r) both; cell (c, r - 1) both; cell (c - 1, r - 1) triangle 1).
// "Failed to compute HeightField normals" for a vertex with none. With `wrapColumns` (spherical grids,
// whose last column meets the first) the cells across the seam count as neighbours.
void computeVertexNormals(HeightGrid& grid, const GridVertex& vertex, bool wrapColumns = false);

}  // namespace quorva
