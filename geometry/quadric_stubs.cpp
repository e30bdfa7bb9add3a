// Placeholder constructors of the quadrics until they land.
#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"

namespace quorva {
std::unique_ptr<Shape> makeCone(const Vec3&, double, const Vec3&, double) {
    fatal("Cone is not available yet");
}
std::unique_ptr<Shape> makeCylinder(const Vec3&, const Vec3&, double) {
    fatal("Cylinder is not available yet");
}
std::unique_ptr<Shape> makeParaboloid(const Vec3&, const Vec3&, double) {
    fatal("Paraboloid is not available yet");
}
std::unique_ptr<Shape> makeDisk(const Vec3&, const Vec3&, double) {
    fatal("Disk is not available yet");
}
std::unique_ptr<Shape> makeRing(const Vec3&, const Vec3&, double, double) {
    fatal("Ring is not available yet");
}
}  // namespace quorva
