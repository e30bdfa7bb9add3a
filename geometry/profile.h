// Planar profiles of the surfaces of revolution and the sweeps: the chain of straight and quadratic
// pieces built from the points, and the even-odd containment test both kinds use for `inside`.
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

// One piece of a profile: p(s) = a + 2(c - a)s + (a - 2c + e)s^2 for s in [0, 1]. A straight piece
// keeps its control point at the middle of its ends, where the formula reduces to the straight line.
struct ProfileSegment {
    double ax, ay, cx, cy, ex, ey;
    bool straight;

    double x(double s) const { return ax + 2 * (cx - ax) * s + (ax - 2 * cx + ex) * s * s; }
    double y(double s) const { return ay + 2 * (cy - ay) * s + (ay - 2 * cy + ey) * s * s; }
    double dx(double s) const { return 2 * (cx - ax) + 2 * (ax - 2 * cx + ex) * s; }
    double dy(double s) const { return 2 * (cy - ay) + 2 * (ay - 2 * cy + ey) * s; }
};

// Profile types: 1 straight pieces, 2 quadratic pieces, 3 mixed. In the mixed type a point whose flag
// (its z) is exactly 1.0 is a corner; between two corners two points give a straight piece and more
// points a quadratic run that starts and ends at the corners.
//
// A quadratic run over q0..qm has m - 1 pieces: piece i has control point qi and ends at the midpoints
// of its neighbouring points, except that the first starts at q0 and the last ends at qm.
std::vector<ProfileSegment> openProfile(const std::vector<Vec3>& points, int type);
// The same for a closed profile (the last point joins the first). Without corners, quadratic pieces
// form a periodic B-spline through the midpoints of all the edges.
std::vector<ProfileSegment> closedProfile(const std::vector<Vec3>& points, int type);

// Even-odd test of (x, y) against the closed chain of pieces; crossings of quadratic pieces are solved
// exactly.
bool profileContains(const std::vector<ProfileSegment>& segments, double x, double y);

}  // namespace quorva
