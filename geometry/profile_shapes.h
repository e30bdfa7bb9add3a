// Constructors of the shapes built from a planar profile and of the formula surfaces: the
// SurfaceOfRevolution, the sweep (ExtrudedSurface), the ImplicitSurface and the ParametricSurface.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

// Profile points are (radius, height, flag) for revolutions and (x, y, flag) for sweeps; the flag
// marks the corners of the mixed type (see geometry/profile.h). Types: 1 straight, 2 quadratic, 3 mixed.
//
// Two points make a Cone along the object's y axis whatever the axis; more turn the profile about
// `axis` through the object origin.
std::unique_ptr<Shape> makeSurfaceOfRevolution(int type, const Vec3& axis, const std::vector<Vec3>& points);
// The closed profile in the plane z = 0 of a frame whose z runs along `sweep`, from 0 to the full vector.
std::unique_ptr<Shape> makeSweep(int type, const Vec3& sweep, const std::vector<Vec3>& points);

// The value of an implicit surface at an object-space point; a failed evaluation yields NaN.
using FieldFunction = std::function<double(const Vec3&)>;
// The surface f = 0 inside the shape's bounds (object space (-1, -1, -1) to (1, 1, 1) until transformed);
// f < 0 is inside.
std::unique_ptr<Shape> makeImplicitSurface(FieldFunction value);

// The object-space point of a parametric surface at (u, v); the statement's function raises the fatal
// error for a formula that gives no vector.
using PointFunction = std::function<Vec3(double u, double v)>;
std::unique_ptr<Shape> makeParametricSurface(PointFunction point);

}  // namespace quorva
