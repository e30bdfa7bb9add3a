// Marching tetrahedra over a regular grid of samples of the field.
#include "geometry/polygoniser.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "geometry/world.h"

namespace quorva {

namespace {

// More cells per axis than this would sample the field billions of times; the counts are limited.
constexpr int MaxCells = 256;

// The six tetrahedra of a cube, as corner indices (bit 1: +x, bit 2: +y, bit 4: +z). All share the
// diagonal from corner 0 to corner 7, which makes the cut of every face agree with its neighbour's.
constexpr int Tetrahedra[6][4] = {{0, 1, 3, 7}, {0, 1, 5, 7}, {0, 2, 3, 7},
                                  {0, 2, 6, 7}, {0, 4, 5, 7}, {0, 4, 6, 7}};

class Polygoniser {
  public:
    Polygoniser(const ImplicitSurfaceDescription& s, std::vector<Vec3>& vertices, std::vector<Vec3>& normals,
                std::vector<MeshFace>& faces)
        : s_(s), vertices_(vertices), normals_(normals), faces_(faces) {
        for (int a = 0; a < 3; ++a) n_[a] = std::clamp(s.cells[a], 1, MaxCells);
        for (int a = 0; a < 3; ++a) step_[a] = s.box.size[a] / n_[a];
    }

    void run() {
        const std::size_t count = static_cast<std::size_t>(n_[0] + 1) * (n_[1] + 1) * (n_[2] + 1);
        samples_.resize(count);
        for (int k = 0; k <= n_[2]; ++k)
            for (int j = 0; j <= n_[1]; ++j)
                for (int i = 0; i <= n_[0]; ++i) {
                    const double f = s_.value(position(i, j, k)) - s_.threshold;
                    samples_[index(i, j, k)] = std::isfinite(f) ? f : -1;
                }
        for (int k = 0; k < n_[2]; ++k)
            for (int j = 0; j < n_[1]; ++j)
                for (int i = 0; i < n_[0]; ++i) cube(i, j, k);
    }

  private:
    std::size_t index(int i, int j, int k) const {
        return (static_cast<std::size_t>(k) * (n_[1] + 1) + j) * (n_[0] + 1) + i;
    }
    Vec3 position(int i, int j, int k) const {
        // The last sample of an axis takes the box's end exactly.
        const Vec3 hi = s_.box.max();
        return {i == n_[0] ? hi.x : s_.box.min.x + i * step_[0],
                j == n_[1] ? hi.y : s_.box.min.y + j * step_[1],
                k == n_[2] ? hi.z : s_.box.min.z + k * step_[2]};
    }

    void cube(int i, int j, int k) {
        std::size_t corner[8];
        Vec3 point[8];
        double value[8];
        bool any = false, all = true;
        for (int c = 0; c < 8; ++c) {
            const int ci = i + (c & 1), cj = j + ((c >> 1) & 1), ck = k + ((c >> 2) & 1);
            corner[c] = index(ci, cj, ck);
            point[c] = position(ci, cj, ck);
            value[c] = samples_[corner[c]];
            any = any || value[c] > 0;
            all = all && value[c] > 0;
        }
        if (!any || all) return;
        for (const auto& t : Tetrahedra) {
            std::size_t g[4];
            Vec3 p[4];
            double f[4];
            for (int m = 0; m < 4; ++m) g[m] = corner[t[m]], p[m] = point[t[m]], f[m] = value[t[m]];
            tetrahedron(g, p, f);
        }
    }

    void tetrahedron(const std::size_t g[4], const Vec3 p[4], const double f[4]) {
        int in[4], out[4], ni = 0, no = 0;
        for (int m = 0; m < 4; ++m) (f[m] > 0 ? in[ni++] : out[no++]) = m;
        if (ni == 0 || no == 0) return;
        Vec3 inside, outside;
        for (int m = 0; m < ni; ++m) inside += p[in[m]] * (1.0 / ni);
        for (int m = 0; m < no; ++m) outside += p[out[m]] * (1.0 / no);
        const Vec3 away = outside - inside;
        auto edge = [&](int a, int b) { return crossing(g[a], p[a], f[a], g[b], p[b], f[b]); };
        if (ni == 1 || no == 1) {
            const int lone = ni == 1 ? in[0] : out[0];
            std::uint32_t v[3];
            int n = 0;
            for (int m = 0; m < 4; ++m)
                if (m != lone) v[n++] = edge(lone, m);
            triangle(v[0], v[1], v[2], away);
        } else {
            const std::uint32_t ac = edge(in[0], out[0]), ad = edge(in[0], out[1]);
            const std::uint32_t bd = edge(in[1], out[1]), bc = edge(in[1], out[0]);
            triangle(ac, ad, bd, away);
            triangle(ac, bd, bc, away);
        }
    }

    void triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c, const Vec3& away) {
        const Vec3 n = cross(vertices_[b] - vertices_[a], vertices_[c] - vertices_[a]);
        if (dot(n, away) < 0) std::swap(b, c);
        faces_.push_back({a, b, c});
    }

    // The vertex where the surface crosses the grid edge (ga, gb), made once per edge.
    std::uint32_t crossing(std::size_t ga, const Vec3& pa, double fa, std::size_t gb, const Vec3& pb,
                           double fb) {
        const std::uint64_t key = ga < gb ? static_cast<std::uint64_t>(ga) * samples_.size() + gb
                                          : static_cast<std::uint64_t>(gb) * samples_.size() + ga;
        auto [it, added] = edges_.try_emplace(key, 0);
        if (!added) return it->second;
        // Secant steps from the linear estimate, kept inside a bracket [a, b] that straddles the surface
        // (the Illinois rule halves the value of an end kept twice, so both ends move).
        double a = 0, b = 1, va = fa, vb = fb;
        double t = va / (va - vb);
        int kept = 0;
        for (int step = 0; step < 12; ++step) {
            const double v = s_.value(pa + (pb - pa) * t) - s_.threshold;
            if (!std::isfinite(v) || std::fabs(v) < 1e-12) break;
            if ((v > 0) == (va > 0)) {
                a = t, va = v;
                if (kept == -1) vb *= 0.5;
                kept = -1;
            } else {
                b = t, vb = v;
                if (kept == 1) va *= 0.5;
                kept = 1;
            }
            t = a + (b - a) * va / (va - vb);
        }
        const Vec3 p = pa + (pb - pa) * t;
        it->second = static_cast<std::uint32_t>(vertices_.size());
        vertices_.push_back(p);
        normals_.push_back(normalized(s_.normal(p)));
        return it->second;
    }

    const ImplicitSurfaceDescription& s_;
    std::vector<Vec3>& vertices_;
    std::vector<Vec3>& normals_;
    std::vector<MeshFace>& faces_;
    int n_[3];
    double step_[3];
    std::vector<double> samples_;
    std::unordered_map<std::uint64_t, std::uint32_t> edges_;
};

}  // namespace

void polygonise(const ImplicitSurfaceDescription& surface, std::vector<Vec3>& vertices,
                std::vector<Vec3>& normals, std::vector<MeshFace>& faces) {
    Polygoniser(surface, vertices, normals, faces).run();
}

void subdivideImplicit(Shape& shape, const ImplicitSurfaceDescription& surface, World& target) {
    auto mesh = std::make_shared<SubdivisionMesh>();
    std::vector<MeshFace> faces;
    polygonise(surface, mesh->vertices, mesh->normals, faces);
    for (Vec3& v : mesh->vertices) v = pointToWorld(shape.transform.get(), v);
    for (Vec3& n : mesh->normals) n = normalized(normalToWorld(shape.transform.get(), n));
    appendMeshTriangles(shape, std::move(mesh), faces, target);
}

}  // namespace quorva
