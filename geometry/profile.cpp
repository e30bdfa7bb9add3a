// Planar profiles shared by the surfaces of revolution and the sweeps.
#include "geometry/profile.h"

#include "geometry/solvers.h"

namespace quorva {

namespace {

ProfileSegment straightPiece(const Vec3& p, const Vec3& q) {
    return {p.x, p.y, (p.x + q.x) / 2, (p.y + q.y) / 2, q.x, q.y, true};
}

// A quadratic run over q[0..m] (m >= 2), or one straight piece for two points.
void appendRun(const std::vector<Vec3>& q, std::vector<ProfileSegment>& out) {
    const std::size_t m = q.size() - 1;
    if (m == 1) {
        out.push_back(straightPiece(q[0], q[1]));
        return;
    }
    for (std::size_t i = 1; i < m; ++i) {
        const Vec3 start = i == 1 ? q[0] : (q[i - 1] + q[i]) * 0.5;
        const Vec3 end = i == m - 1 ? q[m] : (q[i] + q[i + 1]) * 0.5;
        out.push_back({start.x, start.y, q[i].x, q[i].y, end.x, end.y, false});
    }
}

bool isCorner(const Vec3& p) {
    return p.z == 1.0;
}

}  // namespace

std::vector<ProfileSegment> openProfile(const std::vector<Vec3>& points, int type) {
    std::vector<ProfileSegment> out;
    const std::size_t n = points.size();
    if (n < 2) return out;
    if (type == 1) {
        for (std::size_t i = 0; i + 1 < n; ++i) out.push_back(straightPiece(points[i], points[i + 1]));
        return out;
    }
    if (type == 2) {
        appendRun(points, out);
        return out;
    }
    std::vector<Vec3> run{points[0]};
    for (std::size_t i = 1; i < n; ++i) {
        run.push_back(points[i]);
        if (isCorner(points[i]) || i == n - 1) {
            appendRun(run, out);
            run.assign(1, points[i]);
        }
    }
    return out;
}

std::vector<ProfileSegment> closedProfile(const std::vector<Vec3>& points, int type) {
    std::vector<ProfileSegment> out;
    const std::size_t n = points.size();
    if (n < 2) return out;
    if (type == 1) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(straightPiece(points[i], points[(i + 1) % n]));
        return out;
    }
    std::size_t first = n;
    if (type == 3)
        for (std::size_t i = 0; i < n && first == n; ++i)
            if (isCorner(points[i])) first = i;
    if (first == n) {
        // Periodic: every piece runs between the midpoints around its point.
        for (std::size_t i = 0; i < n; ++i) {
            const Vec3& p = points[(i + n - 1) % n];
            const Vec3& q = points[i];
            const Vec3& r = points[(i + 1) % n];
            const Vec3 start = (p + q) * 0.5, end = (q + r) * 0.5;
            out.push_back({start.x, start.y, q.x, q.y, end.x, end.y, false});
        }
        return out;
    }
    // Runs between consecutive corners, starting at the first corner and wrapping round to it.
    std::vector<Vec3> run{points[first]};
    for (std::size_t k = 1; k <= n; ++k) {
        const Vec3& p = points[(first + k) % n];
        run.push_back(p);
        if (isCorner(p) || k == n) {
            appendRun(run, out);
            run.assign(1, p);
        }
    }
    return out;
}

bool profileContains(const std::vector<ProfileSegment>& segments, double x, double y) {
    bool inside = false;
    for (const ProfileSegment& s : segments) {
        if (s.straight) {
            if ((s.ay > y) != (s.ey > y)) {
                const double cross = s.ax + (s.ex - s.ax) * (y - s.ay) / (s.ey - s.ay);
                if (cross > x) inside = !inside;
            }
            continue;
        }
        const double c[3] = {s.ay - 2 * s.cy + s.ey, 2 * (s.cy - s.ay), s.ay - y};
        double roots[2];
        const int count = solveQuadratic(c, 0, 1, roots);
        for (int i = 0; i < count; ++i)
            // Half-open: a crossing at a piece's end belongs to the next piece.
            if (roots[i] < 1 && s.x(roots[i]) > x) inside = !inside;
    }
    return inside;
}

}  // namespace quorva
