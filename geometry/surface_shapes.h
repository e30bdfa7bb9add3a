// Constructors of the free-form surface kinds: Blobby, the planar and spherical height fields, the
// BicubicPatch and the NURBS surface. Called by the scene statements (and the binary scene reader) with
// the values in the order the scene writes them; each validates its input with a fatal message.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

struct ImageFile;

// ---- Blobby ----
// One component as the statements collect it. Types: 0 sphere (first = centre), 1 cylinder with rounded
// ends (first = A, second = B), 3 plane (second = normal, distance), 4 counted but making no element.
struct BlobComponent {
    int type = 0;
    Vec3 first;
    Vec3 second;
    double distance = 0;
    double radius = 0;
    double strength = 0;
};
std::unique_ptr<Shape> makeBlobby(const std::vector<BlobComponent>& components, int solverCode,
                                  double threshold);
// The summed field of a Blobby at an object-space point (0 for any other kind).
double blobbyFieldValue(const Shape& blobby, const Vec3& objectPoint);

// ---- height fields ----
// Heights of an image: 0 + 1 x the pixel value; the grid covers x, z in [0, 1].
std::unique_ptr<Shape> makePlanarHeightField(const ImageFile& image, bool smooth);
// The value of a height expression at (x, z); the statements evaluate the scene expression (0 where it
// yields no number).
using HeightFunction = std::function<double(double x, double z)>;
// Heights of an expression of x and z over [x0, x1] x [z0, z1].
std::unique_ptr<Shape> makeImplicitPlanarHeightField(double x0, double x1, double z0, double z1,
                                                     const HeightFunction& expression, double columns,
                                                     double rows, bool smooth);
// Heights base + scale x value around the origin; x = longitude and z = latitude for the expression.
std::unique_ptr<Shape> makeSphericalHeightField(double base, double scale, const ImageFile& image,
                                                bool smooth);
std::unique_ptr<Shape> makeImplicitSphericalHeightField(double base, double scale,
                                                        const HeightFunction& expression, double columns,
                                                        double rows, bool smooth);

// ---- patches ----
// Type 1 Bezier, 2 uniform cubic B-spline, 3 Catmull-Rom, 4 Hermite; 16 points in four rows of four
// (the row index runs with u).
std::unique_ptr<Shape> makeBicubicPatch(const std::vector<Vec3>& points, double type, double uSubdivisions,
                                        double vSubdivisions);

// A NURBS surface: count u rows of count v homogeneous points (x, y, z, w; a weight of 0 stands for 1,
// any other weight makes the surface rational). Empty knot vectors take the clamped uniform default.
struct NurbsPoint {
    Vec3 point;
    double weight = 0;
};
std::unique_ptr<Shape> makeNurbs(int orderU, int countU, std::vector<double> knotsU, int orderV, int countV,
                                 std::vector<double> knotsV,
                                 const std::vector<std::vector<NurbsPoint>>& points);

}  // namespace quorva
