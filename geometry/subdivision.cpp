// Placeholder for the generic parametric subdivision until it lands.
#include "geometry/shape.h"
#include "geometry/world.h"

namespace quorva {
void Shape::subdivide(World&) {}
}  // namespace quorva
