// Vec3, Color and Ray: the value types every subsystem passes around.
#pragma once

#include <cmath>
#include <ostream>
#include <string>

namespace quorva {

// Three doubles for points, directions and normals.
struct Vec3 {
    double x = 0, y = 0, z = 0;

    constexpr Vec3() = default;
    constexpr Vec3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

    constexpr double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }

    constexpr Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vec3 operator-() const { return {-x, -y, -z}; }
    constexpr Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    constexpr Vec3 operator/(double s) const { return {x / s, y / s, z / s}; }
    constexpr Vec3& operator+=(const Vec3& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    constexpr Vec3& operator-=(const Vec3& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    constexpr Vec3& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    constexpr bool operator==(const Vec3& o) const = default;
};

constexpr Vec3 operator*(double s, const Vec3& v) {
    return v * s;
}
constexpr double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
constexpr Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
constexpr double lengthSquared(const Vec3& v) {
    return dot(v, v);
}
inline double length(const Vec3& v) {
    return std::sqrt(dot(v, v));
}
// Component-wise product.
constexpr Vec3 multiply(const Vec3& a, const Vec3& b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}

// Scales v to unit length and returns its former length. A vector whose squared length is below
// 1e-20 becomes (1, 0, 0) and the result is 1.
inline double normalize(Vec3& v) {
    double l2 = dot(v, v);
    if (l2 < 1e-20) {
        v = {1, 0, 0};
        return 1.0;
    }
    double l = std::sqrt(l2);
    double inv = 1.0 / l;
    v.x *= inv;
    v.y *= inv;
    v.z *= inv;
    return l;
}
inline Vec3 normalized(Vec3 v) {
    normalize(v);
    return v;
}

std::string toString(const Vec3& v);
std::ostream& operator<<(std::ostream& os, const Vec3& v);

// Linear colour: red, green, blue, nominally 0..1 while shading.
struct Color {
    double r = 0, g = 0, b = 0;

    constexpr Color() = default;
    constexpr Color(double r_, double g_, double b_) : r(r_), g(g_), b(b_) {}
    constexpr explicit Color(const Vec3& v) : r(v.x), g(v.y), b(v.z) {}

    constexpr double operator[](int i) const { return i == 0 ? r : (i == 1 ? g : b); }
    constexpr double& operator[](int i) { return i == 0 ? r : (i == 1 ? g : b); }

    constexpr Color operator+(const Color& o) const { return {r + o.r, g + o.g, b + o.b}; }
    constexpr Color operator-(const Color& o) const { return {r - o.r, g - o.g, b - o.b}; }
    constexpr Color operator*(const Color& o) const { return {r * o.r, g * o.g, b * o.b}; }
    constexpr Color operator*(double s) const { return {r * s, g * s, b * s}; }
    constexpr Color operator/(double s) const { return {r / s, g / s, b / s}; }
    constexpr Color& operator+=(const Color& o) {
        r += o.r;
        g += o.g;
        b += o.b;
        return *this;
    }
    constexpr Color& operator-=(const Color& o) {
        r -= o.r;
        g -= o.g;
        b -= o.b;
        return *this;
    }
    constexpr Color& operator*=(const Color& o) {
        r *= o.r;
        g *= o.g;
        b *= o.b;
        return *this;
    }
    constexpr Color& operator*=(double s) {
        r *= s;
        g *= s;
        b *= s;
        return *this;
    }
    constexpr bool operator==(const Color& o) const = default;
    constexpr bool isBlack() const { return r == 0 && g == 0 && b == 0; }
    constexpr double maxChannel() const { return r > g ? (r > b ? r : b) : (g > b ? g : b); }
};

constexpr Color operator*(double s, const Color& c) {
    return c * s;
}

std::string toString(const Color& c);
std::ostream& operator<<(std::ostream& os, const Color& c);

// Origin then direction. World rays carry a unit direction; distances are in units of the direction.
struct Ray {
    Vec3 origin;
    Vec3 direction;
    constexpr Vec3 at(double t) const { return origin + direction * t; }
};

std::string toString(const Ray& r);
std::ostream& operator<<(std::ostream& os, const Ray& r);

// Distance that stands for "infinitely far"; a ray that misses reports it.
constexpr double NoHitDistance = 1000000.0;

}  // namespace quorva
