// Splines of the `spline` built-in: a curve through control points, evaluated at a parameter.
//
// Types: 1 linear, 2 closed linear (the last point joins the first), 3 Catmull-Rom, 4 closed
// Catmull-Rom, 5 cubic Hermite whose first and last array entries are the start and end derivatives
// (with respect to the parameter). Without given parameters the knots follow the chord lengths (a zero
// chord counts 1) and are normalised so that the curve runs over 0..1; given parameters are the knots
// themselves (a closed curve's closing segment then spans the mean of the other spans). Outside the
// knot range an open curve holds its end point and a closed curve wraps around.
#pragma once

#include <memory>
#include <vector>

#include "eval/request.h"
#include "geometry/vec3.h"

namespace quorva {

struct Spline {
    int type = 1;
    std::vector<Vec3> points;             // control points (derivatives excluded)
    std::vector<double> knots;            // one per point, plus the closing knot for closed types
    Vec3 startDerivative, endDerivative;  // type 5
    double length = 0;                    // sum of the segment spans (chord lengths, or the parameter range)
    bool closed() const { return type == 2 || type == 4; }
};

// Builds the record from the call's arguments (evaluated now, without shading context); a null type
// means type 1. The checks end the run with their messages ("Invalid spline type specified", "Spline
// must have an array of control points", ...).
std::shared_ptr<const Spline> buildSpline(const Request* type, const Request* points,
                                          const Request* parameters);

// The curve point at parameter t.
Vec3 evaluateSpline(const Spline& spline, double t);

}  // namespace quorva
