// A triangle of the mesh a shape was cut into (kind 24). Its vertices live in the parent's `mesh`; it
// is intersected in world space by its own routine, not through the operation table.
#pragma once

#include <cstdint>

#include "geometry/shape.h"

namespace quorva {

class MeshTriangle final : public Shape {
  public:
    MeshTriangle() : Shape(ShapeKind::MeshTriangle) {}
    std::uint32_t index[3] = {0, 0, 0};  // vertex indices into parent->mesh
    std::unique_ptr<Shape> clone() const override;

    // Ray-test data taken from the parent's mesh once by prepare(), so that the ray test reads one
    // record. A triangle that was never prepared derives it from the mesh for every ray.
    Vec3 origin;      // vertex 0 (world space)
    Vec3 faceNormal;  // unit normal of the vertex plane
    Vec3 axis1;       // (p - origin) . axis1 is the weight of vertex 1 at a plane point p
    Vec3 axis2;       // ... and (p - origin) . axis2 the weight of vertex 2
    bool prepared = false;
    bool degenerate = false;  // no area, non-finite vertices or indices outside the mesh: never hit

    // Fills the ray-test data from parent->mesh (the mesh must not change afterwards). False when the
    // triangle can never be hit.
    bool prepare();

    // World ray on [tmin, tmax]; records into `hit` (shape = parent, shaderOverride = this->shader), which
    // arrives with only its `hit` field cleared, so a recorded hit must fill every field.
    bool intersectWorldRay(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                           Intersection& hit) const;
};

}  // namespace quorva
