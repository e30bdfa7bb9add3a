// Points and 4x4 matrices of the converter (row vectors: a point is transformed as p x M, the last
// row holds the translation), and the split of a matrix into scale, rotation and translation.
#pragma once

#include <array>

namespace quorva::converter {

struct Point3 {
    double x = 0, y = 0, z = 0;
};

inline Point3 operator+(Point3 a, Point3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Point3 operator-(Point3 a, Point3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Point3 operator*(Point3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double dot(Point3 a, Point3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Point3 cross(Point3 a, Point3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(Point3 a);
// a / |a|, or (0, 0, 0) when a has no length.
Point3 unit(Point3 a);

struct Matrix {
    std::array<double, 16> m{};
    double& operator()(int r, int c) { return m[4 * r + c]; }
    double operator()(int r, int c) const { return m[4 * r + c]; }
    static Matrix identity();
};

Matrix multiply(const Matrix& a, const Matrix& b);  // a, then b
// Inverse by Gauss-Jordan elimination with partial pivoting; a singular matrix gives the identity.
Matrix invert(const Matrix& a);
Point3 transformPoint(const Matrix& m, Point3 p);

// Scale, rotation (degrees about x, then y, then z) and translation that recompose the matrix as
// Scale, then Rotate, then Translate. Exact for such matrices; other matrices get the nearest fit.
struct Decomposition {
    Point3 scale{1, 1, 1};
    Point3 rotate;
    Point3 translate;
};
Decomposition decompose(const Matrix& m);

}  // namespace quorva::converter
