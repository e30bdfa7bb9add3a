// Placeholder constructors of the algebraic shapes until they land.
#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"

namespace quorva {
std::unique_ptr<Shape> makeTorus(const Vec3&, const Vec3&, double, double) { fatal("Torus is not available yet"); }
std::unique_ptr<Shape> makePolynomialSurface(const std::vector<PolynomialTerm>&) {
    fatal("PolynomialSurface is not available yet");
}
std::unique_ptr<Shape> makeSuperquadric(double, double) { fatal("Superquadric is not available yet"); }
}  // namespace quorva
