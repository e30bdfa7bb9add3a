// Ear clipping of simple polygons in their projection plane.
#include "geometry/polygon_splitter.h"

#include <cstdint>
#include <limits>

namespace quorva {

namespace {

class EarClipper {
  public:
    EarClipper(const std::vector<Vec3>& vertices, int axis0, int axis1) : count_(vertices.size()) {
        x_.resize(count_);
        y_.resize(count_);
        next_.resize(count_);
        prev_.resize(count_);
        double twiceArea = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            x_[i] = vertices[i][axis0];
            y_[i] = vertices[i][axis1];
            next_[i] = static_cast<std::uint32_t>(i + 1 == count_ ? 0 : i + 1);
            prev_[i] = static_cast<std::uint32_t>(i == 0 ? count_ - 1 : i - 1);
        }
        for (std::size_t i = 0; i < count_; ++i) {
            const std::uint32_t j = next_[i];
            twiceArea += x_[i] * y_[j] - x_[j] * y_[i];
        }
        // Work as if the outline ran counter-clockwise: convex corners then turn left.
        sign_ = twiceArea < 0 ? -1.0 : 1.0;
    }

    std::vector<MeshFace> split() {
        std::vector<MeshFace> faces;
        if (count_ < 3) return faces;
        faces.reserve(count_ - 2);
        std::size_t remaining = count_;
        std::uint32_t current = 0;
        while (remaining > 3) {
            const std::uint32_t ear = findEar(current, remaining);
            faces.push_back({prev_[ear], ear, next_[ear]});
            current = next_[ear];
            next_[prev_[ear]] = next_[ear];
            prev_[next_[ear]] = prev_[ear];
            --remaining;
        }
        faces.push_back({prev_[current], current, next_[current]});
        return faces;
    }

  private:
    // Positive when p -> q -> r turns left in the counter-clockwise sense of the outline.
    double turn(std::uint32_t p, std::uint32_t q, std::uint32_t r) const {
        return sign_ * ((x_[q] - x_[p]) * (y_[r] - y_[p]) - (y_[q] - y_[p]) * (x_[r] - x_[p]));
    }

    bool samePoint(std::uint32_t a, std::uint32_t b) const { return x_[a] == x_[b] && y_[a] == y_[b]; }

    // A convex corner is an ear when no reflex corner of what is left lies inside its triangle or on
    // its border (only reflex corners can). Corners that repeat the ear's own points, as the two ends
    // of a cut into a hole do, do not block it.
    bool isEar(std::uint32_t corner, std::size_t remaining) const {
        const std::uint32_t p = prev_[corner], r = next_[corner];
        std::uint32_t j = next_[r];
        for (std::size_t k = 3; k < remaining; ++k, j = next_[j]) {
            if (turn(prev_[j], j, next_[j]) > 0) continue;
            if (samePoint(j, p) || samePoint(j, corner) || samePoint(j, r)) continue;
            if (turn(p, corner, j) >= 0 && turn(corner, r, j) >= 0 && turn(r, p, j) >= 0) return false;
        }
        return true;
    }

    // Some corner to clip, starting the search at `start`. A corner whose neighbours are in line with it
    // goes first whenever it is met: dropping it leaves the outline's area unchanged. When rounding or a
    // self-crossing outline leaves no ear, the most convex corner is clipped so that the split ends.
    std::uint32_t findEar(std::uint32_t start, std::size_t remaining) const {
        std::uint32_t corner = start;
        std::uint32_t fallback = start;
        double best = -std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < remaining; ++k, corner = next_[corner]) {
            const double t = turn(prev_[corner], corner, next_[corner]);
            if (t == 0) return corner;
            if (t > 0 && isEar(corner, remaining)) return corner;
            if (t > best) {
                best = t;
                fallback = corner;
            }
        }
        return fallback;
    }

    std::size_t count_;
    std::vector<double> x_, y_;
    std::vector<std::uint32_t> next_, prev_;
    double sign_ = 1;
};

}  // namespace

std::vector<MeshFace> splitPolygon(const std::vector<Vec3>& vertices, int axis0, int axis1) {
    return EarClipper(vertices, axis0, axis1).split();
}

}  // namespace quorva
