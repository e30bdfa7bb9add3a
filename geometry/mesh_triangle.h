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

    // World ray on [tmin, tmax]; records into `hit` (shape = parent, shaderOverride = this->shader), which
    // arrives with only its `hit` field cleared, so a recorded hit must fill every field.
    bool intersectWorldRay(RenderContext& ctx, const Ray& ray, double tmin, double tmax, Intersection& hit) const;
};

}  // namespace quorva
