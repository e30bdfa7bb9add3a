// The shape modifiers both front ends apply from values they have already read: the scene language's
// ShapeSubdivisions, RenderBound, ShadingAttributes and Caustics items and the binary surface-attributes
// record.
#pragma once

namespace quorva {

class Shape;

// One subdivision count (axis 0 = u, 1 = v, 2 = the third); the shape no longer takes the default ones.
void buildShapeSubdivision(Shape& shape, int axis, double count);
// ShapeSubdivisions ( u , v [, w ] ): the `n` counts, then the grid they make bounded as a whole
// (MaxSubdivisionCells, and MaxSubdivisionVolume when w is given) with a warning.
void buildShapeSubdivisions(Shape& shape, const double* counts, int n);
// RenderBound ( u min , u max , v min , v max ): the uv window is put in force.
void buildRenderBound(Shape& shape, const double window[4]);
void buildShadingAttributes(Shape& shape, long long n);
void buildCaustics(Shape& shape, double f, bool internal);

}  // namespace quorva
