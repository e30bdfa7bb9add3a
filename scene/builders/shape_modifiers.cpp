// Builders of the shape modifiers.
#include "scene/builders/shape_modifiers.h"

#include <cstdint>

#include "geometry/shape.h"
#include "geometry/subdivision.h"

namespace quorva {

void buildShapeSubdivision(Shape& shape, int axis, double count) {
    // A count is a 16-bit number of steps; at least one step keeps the subdivision well defined.
    shape.subdivisions[axis] = !(count >= 1) ? 1 : count > 65535 ? 65535 : static_cast<std::uint16_t>(count);
    shape.attributes &= static_cast<std::uint16_t>(~ShapeAttr::DefaultSubdivisions);
}

void buildShapeSubdivisions(Shape& shape, const double* counts, int n) {
    for (int i = 0; i < n; ++i) buildShapeSubdivision(shape, i, counts[i]);
    boundShapeSubdivisions(shape, n);
}

void buildRenderBound(Shape& shape, const double window[4]) {
    for (int i = 0; i < 4; ++i) shape.uvWindow[i] = window[i];
    shape.attributes |= ShapeAttr::UvWindow;
}

void buildShadingAttributes(Shape& shape, long long n) {
    shape.attributes = static_cast<std::uint16_t>(n + ShapeAttr::DefaultSubdivisions);
}

void buildCaustics(Shape& shape, double f, bool internal) {
    shape.caustics = f;
    shape.internalCaustics = internal;
}

}  // namespace quorva
