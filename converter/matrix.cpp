// Matrix helpers of the converter and the split of frame matrices for the transformation statements.
#include "converter/matrix.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorva::converter {

double length(Point3 a) {
    return std::sqrt(dot(a, a));
}

Point3 unit(Point3 a) {
    double l = length(a);
    return l > 0 ? a * (1.0 / l) : Point3{};
}

Matrix Matrix::identity() {
    Matrix r;
    for (int i = 0; i < 4; ++i) r(i, i) = 1;
    return r;
}

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a(i, k) * b(k, j);
            r(i, j) = s;
        }
    return r;
}

Matrix invert(const Matrix& a) {
    Matrix m = a, r = Matrix::identity();
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int i = c + 1; i < 4; ++i)
            if (std::fabs(m(i, c)) > std::fabs(m(pivot, c))) pivot = i;
        if (!(std::fabs(m(pivot, c)) > 1e-20)) return Matrix::identity();
        for (int j = 0; j < 4; ++j) {
            std::swap(m(c, j), m(pivot, j));
            std::swap(r(c, j), r(pivot, j));
        }
        double d = 1.0 / m(c, c);
        for (int j = 0; j < 4; ++j) {
            m(c, j) *= d;
            r(c, j) *= d;
        }
        for (int i = 0; i < 4; ++i) {
            if (i == c) continue;
            double f = m(i, c);
            for (int j = 0; j < 4; ++j) {
                m(i, j) -= f * m(c, j);
                r(i, j) -= f * r(c, j);
            }
        }
    }
    return r;
}

Point3 transformPoint(const Matrix& m, Point3 p) {
    return {p.x * m(0, 0) + p.y * m(1, 0) + p.z * m(2, 0) + m(3, 0),
            p.x * m(0, 1) + p.y * m(1, 1) + p.z * m(2, 1) + m(3, 1),
            p.x * m(0, 2) + p.y * m(1, 2) + p.z * m(2, 2) + m(3, 2)};
}

Decomposition decompose(const Matrix& m) {
    constexpr double Degrees = 180.0 / 3.14159265358979323846;
    Decomposition d;
    d.translate = {m(3, 0), m(3, 1), m(3, 2)};
    // The upper 3x3 block is diag(scale) x R: row i is scale i times the rotation's row i.
    Point3 rows[3];
    double s[3];
    for (int i = 0; i < 3; ++i) {
        rows[i] = {m(i, 0), m(i, 1), m(i, 2)};
        s[i] = length(rows[i]);
        rows[i] = s[i] > 0 ? rows[i] * (1.0 / s[i]) : Point3{};
    }
    // A mirroring matrix keeps a proper rotation by giving the x scale the sign.
    if (dot(cross(rows[0], rows[1]), rows[2]) < 0) {
        s[0] = -s[0];
        rows[0] = rows[0] * -1.0;
    }
    d.scale = {s[0], s[1], s[2]};
    // R = Rx(a) Ry(b) Rz(c) in row form: R02 = -sin b, R12 = sin a cos b, R22 = cos a cos b,
    // R01 = cos b sin c, R00 = cos b cos c.
    auto r = [&](int i, int j) {
        const Point3& p = rows[i];
        return j == 0 ? p.x : j == 1 ? p.y : p.z;
    };
    double sb = std::clamp(-r(0, 2), -1.0, 1.0);
    double b = std::asin(sb), a, c;
    if (std::sqrt(r(1, 2) * r(1, 2) + r(2, 2) * r(2, 2)) > 1e-9) {
        a = std::atan2(r(1, 2), r(2, 2));
        c = std::atan2(r(0, 1), r(0, 0));
    } else {
        // cos b = 0: only a - c (or a + c) is fixed; put it all in a.
        c = 0;
        a = std::atan2(-r(2, 1), r(1, 1));
    }
    d.rotate = {a * Degrees, b * Degrees, c * Degrees};
    return d;
}

}  // namespace quorva::converter
