// Vertex hash and smoothing of normals.
#include "converter/smoothing.h"

#include <climits>
#include <cmath>
#include <functional>
#include <unordered_map>

namespace quorva::converter {
namespace {

constexpr unsigned Buckets = 1000;

// Integer part of a product, saturated so that huge and undefined products still hash.
int integerPart(double x) {
    if (!(x == x)) return 0;
    if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(x);
}

// Angle between two unit normals in degrees; 0 when either has no length.
double angleBetween(Point3 a, Point3 b) {
    if (dot(a, a) == 0 || dot(b, b) == 0) return 0;
    double c = dot(a, b);
    if (c <= -1) return 180;
    if (c >= 1) return 0;
    return std::acos(c) * (180.0 / 3.14159265358979323846);
}

}  // namespace

unsigned vertexBucket(const Point3& p) {
    int key = integerPart(p.y * 694.7) ^ integerPart(p.x * 326.4) ^ integerPart(p.z * 1423.6);
    return static_cast<unsigned>(key) % Buckets;
}

std::vector<std::uint32_t> mergePositions(const std::vector<Point3>& positions) {
    // The bucket key alone puts every vertex of a model in small units into one bucket; mixing in the
    // coordinates' bits keeps the search linear whatever the units.
    struct Key {
        double x, y, z;
        bool operator==(const Key& o) const { return x == o.x && y == o.y && z == o.z; }
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            std::size_t h = vertexBucket({k.x, k.y, k.z});
            for (double c : {k.x, k.y, k.z}) h = h * 1000003u ^ std::hash<double>()(c == 0 ? 0.0 : c);
            return h;
        }
    };
    std::unordered_map<Key, std::uint32_t, KeyHash> first;
    first.reserve(positions.size());
    std::vector<std::uint32_t> canonical(positions.size());
    for (std::uint32_t i = 0; i < positions.size(); ++i) {
        const Point3& p = positions[i];
        canonical[i] = i;
        if (p.x != p.x || p.y != p.y || p.z != p.z) continue;  // undefined positions equal nothing
        canonical[i] = first.try_emplace(Key{p.x, p.y, p.z}, i).first->second;
    }
    return canonical;
}

Point3 faceNormal(const Mesh& mesh, const Face& face) {
    Point3 v0 = mesh.positions[face.v[0]], v1 = mesh.positions[face.v[1]], v2 = mesh.positions[face.v[2]];
    return unit(cross(v1 - v0, v2 - v0));
}

std::vector<std::array<Point3, 3>> smoothNormals(const Mesh& mesh, double angle) {
    std::size_t n = mesh.faces.size();
    std::vector<Point3> normals(n);
    for (std::size_t f = 0; f < n; ++f) normals[f] = faceNormal(mesh, mesh.faces[f]);
    std::vector<std::array<Point3, 3>> corners(n);
    if (angle == 0) {
        for (std::size_t f = 0; f < n; ++f) corners[f] = {normals[f], normals[f], normals[f]};
        return corners;
    }
    // Faces at each merged position, listed once per object (offsets into one flat array).
    std::vector<std::uint32_t> canonical = mergePositions(mesh.positions);
    std::vector<std::uint32_t> start(mesh.positions.size() + 1, 0);
    for (const Face& f : mesh.faces)
        for (std::uint32_t v : f.v) ++start[canonical[v] + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1), faces(start.back());
    for (std::uint32_t f = 0; f < n; ++f)
        for (std::uint32_t v : mesh.faces[f].v) faces[fill[canonical[v]]++] = f;
    for (std::size_t f = 0; f < n; ++f) {
        for (int k = 0; k < 3; ++k) {
            std::uint32_t p = canonical[mesh.faces[f].v[k]];
            Point3 sum;
            std::uint32_t last = UINT32_MAX;
            for (std::uint32_t i = start[p]; i < start[p + 1]; ++i) {
                std::uint32_t g = faces[i];
                if (g == last) continue;  // a face that names the position twice counts once
                last = g;
                if (angleBetween(normals[f], normals[g]) < angle) sum = sum + normals[g];
            }
            Point3 u = unit(sum);
            corners[f][k] = dot(u, u) == 0 ? Point3{1, 0, 0} : u;
        }
    }
    return corners;
}

}  // namespace quorva::converter
