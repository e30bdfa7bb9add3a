// 4x4 matrices, the forward/inverse Transform pair, the transform builders and axis-aligned boxes.
//
// Conventions: matrices are row-major (element (r, c) at index 4r + c); points are row vectors
// multiplied on the left, p' = p x M, so the translation sits in row 3 and A x B applies A first.
// A Transform's forward matrix maps object to world, its inverse world to object. A null Transform
// pointer means identity everywhere.
#pragma once

#include <array>
#include <ostream>
#include <string>

#include "geometry/vec3.h"

namespace quorva {

struct Matrix4 {
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    static constexpr Matrix4 identity() { return Matrix4{}; }
    constexpr double& operator()(int r, int c) { return m[4 * r + c]; }
    constexpr double operator()(int r, int c) const { return m[4 * r + c]; }
    constexpr bool operator==(const Matrix4&) const = default;
};

Matrix4 multiply(const Matrix4& a, const Matrix4& b);  // a x b
Matrix4 transpose(const Matrix4& a);
// General inverse by LU decomposition with partial pivoting and implicit row scaling (each row scaled by
// 1/max|element|, a zero row by 1); a zero pivot is replaced by 1e-10.
Matrix4 invert(const Matrix4& a);

// Row vector times matrix.
inline Vec3 transformPoint(const Matrix4& m, const Vec3& p) {
    return {p.x * m(0, 0) + p.y * m(1, 0) + p.z * m(2, 0) + m(3, 0),
            p.x * m(0, 1) + p.y * m(1, 1) + p.z * m(2, 1) + m(3, 1),
            p.x * m(0, 2) + p.y * m(1, 2) + p.z * m(2, 2) + m(3, 2)};
}
inline Vec3 transformVector(const Matrix4& m, const Vec3& v) {
    return {v.x * m(0, 0) + v.y * m(1, 0) + v.z * m(2, 0), v.x * m(0, 1) + v.y * m(1, 1) + v.z * m(2, 1),
            v.x * m(0, 2) + v.y * m(1, 2) + v.z * m(2, 2)};
}
// n x M^T: n'_i = M(i,0) n.x + M(i,1) n.y + M(i,2) n.z.
inline Vec3 transformByTranspose(const Matrix4& m, const Vec3& n) {
    return {m(0, 0) * n.x + m(0, 1) * n.y + m(0, 2) * n.z, m(1, 0) * n.x + m(1, 1) * n.y + m(1, 2) * n.z,
            m(2, 0) * n.x + m(2, 1) * n.y + m(2, 2) * n.z};
}

struct Transform {
    Matrix4 forward;  // object to world
    Matrix4 inverse;  // world to object
};

// Null-tolerant helpers: a null Transform copies the input.
inline Vec3 pointToWorld(const Transform* t, const Vec3& p) {
    return t ? transformPoint(t->forward, p) : p;
}
inline Vec3 vectorToWorld(const Transform* t, const Vec3& v) {
    return t ? transformVector(t->forward, v) : v;
}
inline Vec3 normalToWorld(const Transform* t, const Vec3& n) {
    return t ? transformByTranspose(t->inverse, n) : n;
}
inline Vec3 pointToObject(const Transform* t, const Vec3& p) {
    return t ? transformPoint(t->inverse, p) : p;
}
inline Vec3 vectorToObject(const Transform* t, const Vec3& v) {
    return t ? transformVector(t->inverse, v) : v;
}
inline Vec3 normalToObject(const Transform* t, const Vec3& n) {
    return t ? transformByTranspose(t->forward, n) : n;
}

// Builders. Angles are radians.
Transform makeScale(double sx, double sy, double sz);  // an exactly-zero factor inverts to 1000000
Transform makeTranslate(const Vec3& t);
Transform makeRotate(double ax, double ay, double az);   // about x, then y, then z
Transform makeRotateAboutAxis(double angle, Vec3 axis);  // right-hand rule; axis normalised first
Transform makeShear(double a, double b, double c, double d, double e, double f);
Transform makeMatrixTransform(const Matrix4& forward);  // the Transform statement: inverse by invert()
// t becomes "t, then n": t.forward = t.forward x n.forward, t.inverse = n.inverse x t.inverse.
void compose(Transform& t, const Transform& n);
// World-to-canonical frame used by Cone, Cylinder, Paraboloid, Torus and others: translate by offset,
// rotate direction onto +z, scale by (1/r, 1/r, 1/h). Forward maps object points into the canonical
// frame, inverse maps back.
Transform makePlacementFrame(Vec3 direction, double radialScale, double axialScale, const Vec3& offset);

// (longitude, latitude, length) of v; all 0 when |v| < 1e-8.
Vec3 spherical(const Vec3& v);

// Axis-aligned box as minimum corner and extent.
struct Box {
    Vec3 min;
    Vec3 size;
    Vec3 max() const { return min + size; }
};

Box transformBox(const Box& box, const Matrix4& m);  // box of the 8 transformed corners
// Per-axis overlap; an empty overlap is the box at (-1000000,-1000000,-1000000) of extent 1e-8.
Box intersectBoxes(const Box& a, const Box& b);
Box unionBoxes(const Box& a, const Box& b);

std::string toString(const Matrix4& m);
std::string toString(const Transform& t);
std::ostream& operator<<(std::ostream& os, const Matrix4& m);
std::ostream& operator<<(std::ostream& os, const Transform& t);

}  // namespace quorva
