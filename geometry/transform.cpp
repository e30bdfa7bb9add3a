// Matrix products, the LU inverse and the transform builders.
#include "geometry/transform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorva {

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a(i, k) * b(k, j);
            r(i, j) = s;
        }
    return r;
}

Matrix4 transpose(const Matrix4& a) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r(i, j) = a(j, i);
    return r;
}

Matrix4 invert(const Matrix4& input) {
    double lu[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) lu[i][j] = input(i, j);

    // Implicit scaling: remember 1/max|element| of every row (1 for a zero row).
    double scale[4];
    for (int i = 0; i < 4; ++i) {
        double big = 0;
        for (int j = 0; j < 4; ++j) big = std::max(big, std::fabs(lu[i][j]));
        scale[i] = big == 0 ? 1.0 : 1.0 / big;
    }

    // Crout's method with partial pivoting.
    int index[4];
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < j; ++i) {
            double sum = lu[i][j];
            for (int k = 0; k < i; ++k) sum -= lu[i][k] * lu[k][j];
            lu[i][j] = sum;
        }
        double big = 0;
        int imax = j;
        for (int i = j; i < 4; ++i) {
            double sum = lu[i][j];
            for (int k = 0; k < j; ++k) sum -= lu[i][k] * lu[k][j];
            lu[i][j] = sum;
            double figure = scale[i] * std::fabs(sum);
            if (figure >= big) {
                big = figure;
                imax = i;
            }
        }
        if (j != imax) {
            for (int k = 0; k < 4; ++k) std::swap(lu[imax][k], lu[j][k]);
            scale[imax] = scale[j];
        }
        index[j] = imax;
        if (lu[j][j] == 0) lu[j][j] = 1e-10;
        if (j != 3) {
            double inv = 1.0 / lu[j][j];
            for (int i = j + 1; i < 4; ++i) lu[i][j] *= inv;
        }
    }

    // One forward and back substitution per unit column.
    Matrix4 result;
    for (int col = 0; col < 4; ++col) {
        double b[4] = {0, 0, 0, 0};
        b[col] = 1;
        int first = -1;
        for (int i = 0; i < 4; ++i) {
            int ip = index[i];
            double sum = b[ip];
            b[ip] = b[i];
            if (first >= 0) {
                for (int j = first; j < i; ++j) sum -= lu[i][j] * b[j];
            } else if (sum != 0) {
                first = i;
            }
            b[i] = sum;
        }
        for (int i = 3; i >= 0; --i) {
            double sum = b[i];
            for (int j = i + 1; j < 4; ++j) sum -= lu[i][j] * b[j];
            b[i] = sum / lu[i][i];
        }
        for (int i = 0; i < 4; ++i) result(i, col) = b[i];
    }
    return result;
}

Transform makeScale(double sx, double sy, double sz) {
    Transform t;
    t.forward(0, 0) = sx;
    t.forward(1, 1) = sy;
    t.forward(2, 2) = sz;
    t.inverse(0, 0) = sx == 0 ? 1000000.0 : 1.0 / sx;
    t.inverse(1, 1) = sy == 0 ? 1000000.0 : 1.0 / sy;
    t.inverse(2, 2) = sz == 0 ? 1000000.0 : 1.0 / sz;
    return t;
}

Transform makeTranslate(const Vec3& v) {
    Transform t;
    t.forward(3, 0) = v.x;
    t.forward(3, 1) = v.y;
    t.forward(3, 2) = v.z;
    t.inverse(3, 0) = -v.x;
    t.inverse(3, 1) = -v.y;
    t.inverse(3, 2) = -v.z;
    return t;
}

Transform makeRotate(double ax, double ay, double az) {
    // Row-vector rotation matrices (the transposes of the column-vector forms).
    Matrix4 rx, ry, rz;
    double c = std::cos(ax), s = std::sin(ax);
    rx(1, 1) = c;
    rx(1, 2) = s;
    rx(2, 1) = -s;
    rx(2, 2) = c;
    c = std::cos(ay);
    s = std::sin(ay);
    ry(0, 0) = c;
    ry(0, 2) = -s;
    ry(2, 0) = s;
    ry(2, 2) = c;
    c = std::cos(az);
    s = std::sin(az);
    rz(0, 0) = c;
    rz(0, 1) = s;
    rz(1, 0) = -s;
    rz(1, 1) = c;
    Transform t;
    t.forward = multiply(multiply(rx, ry), rz);
    t.inverse = transpose(t.forward);
    return t;
}

Transform makeRotateAboutAxis(double angle, Vec3 axis) {
    normalize(axis);
    double c = std::cos(angle), s = std::sin(angle), k = 1 - c;
    double x = axis.x, y = axis.y, z = axis.z;
    // Column form R = cI + s[a]x + (1-c) a a^T; the row form is its transpose.
    Matrix4 m;
    m(0, 0) = c + k * x * x;
    m(0, 1) = k * x * y + s * z;
    m(0, 2) = k * x * z - s * y;
    m(1, 0) = k * x * y - s * z;
    m(1, 1) = c + k * y * y;
    m(1, 2) = k * y * z + s * x;
    m(2, 0) = k * x * z + s * y;
    m(2, 1) = k * y * z - s * x;
    m(2, 2) = c + k * z * z;
    Transform t;
    t.forward = m;
    t.inverse = transpose(m);
    return t;
}

Transform makeShear(double a, double b, double c, double d, double e, double f) {
    Transform t;
    t.forward(0, 1) = a;
    t.forward(0, 2) = b;
    t.forward(1, 0) = c;
    t.forward(1, 2) = d;
    t.forward(2, 0) = e;
    t.forward(2, 1) = f;
    // (I + N)(I - N) = I - N^2: negating the six elements inverts the shear exactly when N^2 vanishes
    // (one element, or elements that do not feed each other). Otherwise the inverse is computed.
    Matrix4 negated;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (r != c) negated(r, c) = -t.forward(r, c);
    t.inverse = multiply(t.forward, negated) == Matrix4::identity() ? negated : invert(t.forward);
    return t;
}

Transform makeMatrixTransform(const Matrix4& forward) {
    Transform t;
    t.forward = forward;
    t.inverse = invert(forward);
    return t;
}

void compose(Transform& t, const Transform& n) {
    t.forward = multiply(t.forward, n.forward);
    t.inverse = multiply(n.inverse, t.inverse);
}

Transform makePlacementFrame(Vec3 direction, double radialScale, double axialScale, const Vec3& offset) {
    normalize(direction);
    Transform frame = makeTranslate(offset);
    Vec3 axis = std::fabs(direction.z) == 1.0 ? Vec3{1, 0, 0} : Vec3{-direction.y, direction.x, 0};
    double cz = std::clamp(direction.z, -1.0, 1.0);
    compose(frame, makeRotateAboutAxis(-std::acos(cz), axis));
    compose(frame, makeScale(1.0 / radialScale, 1.0 / radialScale, 1.0 / axialScale));
    return frame;
}

Vec3 spherical(const Vec3& v) {
    double len = length(v);
    if (len < 1e-8) return {0, 0, 0};
    double latitude = std::asin(std::clamp(v.y / len, -1.0, 1.0));
    double longitude = std::fabs(latitude) + 1e-8 > M_PI / 2 ? 0.0 : std::atan2(v.z, v.x);
    return {longitude, latitude, len};
}

Box transformBox(const Box& box, const Matrix4& m) {
    Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (int i = 0; i < 8; ++i) {
        Vec3 corner{box.min.x + ((i & 1) ? box.size.x : 0), box.min.y + ((i & 2) ? box.size.y : 0),
                    box.min.z + ((i & 4) ? box.size.z : 0)};
        Vec3 p = transformPoint(m, corner);
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    return {lo, hi - lo};
}

Box intersectBoxes(const Box& a, const Box& b) {
    Box r;
    for (int i = 0; i < 3; ++i) {
        double lo = std::max(a.min[i], b.min[i]);
        double hi = std::min(a.min[i] + a.size[i], b.min[i] + b.size[i]);
        r.min[i] = lo;
        r.size[i] = hi - lo;
    }
    if (r.size.x < 0 || r.size.y < 0 || r.size.z < 0)
        return {{-1000000, -1000000, -1000000}, {1e-8, 1e-8, 1e-8}};
    return r;
}

Box unionBoxes(const Box& a, const Box& b) {
    Box r;
    for (int i = 0; i < 3; ++i) {
        double lo = std::min(a.min[i], b.min[i]);
        double hi = std::max(a.min[i] + a.size[i], b.min[i] + b.size[i]);
        r.min[i] = lo;
        r.size[i] = hi - lo;
    }
    return r;
}

std::string toString(const Matrix4& m) {
    std::string s = "[";
    char buf[64];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(buf, sizeof buf, "%s%g", i == 0 ? "" : (i % 4 == 0 ? "; " : " "), m.m[i]);
        s += buf;
    }
    return s + "]";
}
std::string toString(const Transform& t) {
    return "{forward " + toString(t.forward) + ", inverse " + toString(t.inverse) + "}";
}
std::ostream& operator<<(std::ostream& os, const Matrix4& m) {
    return os << toString(m);
}
std::ostream& operator<<(std::ostream& os, const Transform& t) {
    return os << toString(t);
}

}  // namespace quorva
