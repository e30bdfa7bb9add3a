// Cutting shapes into the triangles the previews draw: the same triangles ray tracing would use.
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

class Shape;

class TriangleSink {
  public:
    virtual ~TriangleSink() = default;
    // One world-space triangle (corners in the order of the cut).
    virtual void triangle(const Vec3& a, const Vec3& b, const Vec3& c) = 0;
};

// Hands every triangle of `shape` to `sink`: groups recurse, mesh triangles go as they are, parametric
// kinds are evaluated on their subdivision grid (`scratch` holds the grid, reused between calls), other
// kinds are cut into a temporary World (a copy is cut, so the shape keeps its own mesh). Kinds without
// a cut give nothing.
void cutIntoTriangles(const Shape& shape, TriangleSink& sink, std::vector<Vec3>& scratch);

}  // namespace quorva
