// Constructors of the shape kinds, called by the scene statements with the values in the order the
// scene writes them. Each validates its arguments (fatal messages), fills the kind's data, the
// default subdivision counts and the world bounds.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

// Quadrics.
std::unique_ptr<Shape> makeSphere(const Vec3& centre, double radius);
std::unique_ptr<Shape> makeBox(const Vec3& corner1, const Vec3& corner2);
// Becomes a Cylinder (kind 6) when the radii are (nearly) equal.
std::unique_ptr<Shape> makeCone(const Vec3& point1, double radius1, const Vec3& point2, double radius2);
std::unique_ptr<Shape> makeCylinder(const Vec3& base, const Vec3& top, double radius);
std::unique_ptr<Shape> makeParaboloid(const Vec3& vertex, const Vec3& top, double radius);
std::unique_ptr<Shape> makeDisk(const Vec3& centre, const Vec3& normal, double radius);
std::unique_ptr<Shape> makeRing(const Vec3& centre, const Vec3& normal, double innerRadius,
                                double outerRadius);

// Algebraic shapes.
std::unique_ptr<Shape> makeTorus(const Vec3& centre, const Vec3& axis, double majorRadius,
                                 double minorRadius);
// One monomial coefficient * x^i y^j z^k of a PolynomialSurface.
struct PolynomialTerm {
    double coefficient = 0;
    int i = 0, j = 0, k = 0;
};
// "Maximum Polynomial order reached" when the order exceeds 32.
// Solved by Sturm sequences unless a quartic asks for another method.
std::unique_ptr<Shape> makePolynomialSurface(const std::vector<PolynomialTerm>& terms);
// The first exponent shapes the profile along z, the second the cross-section in the xy plane; both are
// raised to at least 1e-8.
std::unique_ptr<Shape> makeSuperquadric(double exponent1, double exponent2);

// Flat shapes. The readers reject fewer than three vertices before calling makePolygon.
std::unique_ptr<Shape> makePolygon(const std::vector<Vec3>& vertices);
struct PatchCorner {
    Vec3 point;
    Vec3 normal;
    double u = 1000000, v = 1000000;  // 1000000: not given
};
std::unique_ptr<Shape> makeTriangularPatch(const PatchCorner& c0, const PatchCorner& c1,
                                           const PatchCorner& c2);

}  // namespace quorva
