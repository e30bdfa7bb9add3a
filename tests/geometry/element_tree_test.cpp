// The per-shape box tree visits every box a ray segment crosses or a point lies in, once.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "geometry/element_tree.h"

namespace quorva {
namespace {

bool segmentCrosses(const Box& b, const Vec3& o, const Vec3& d, double tmin, double tmax) {
    for (int a = 0; a < 3; ++a) {
        double t0 = (b.min[a] - o[a]) / d[a], t1 = (b.max()[a] - o[a]) / d[a];
        if (t0 > t1) std::swap(t0, t1);
        tmin = std::max(tmin, t0);
        tmax = std::min(tmax, t1);
    }
    return tmin <= tmax;
}

TEST(ElementTree, VisitsEveryBoxMet) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Box> boxes;
    for (int i = 0; i < 300; ++i)
        boxes.push_back({{unit(random) * 20, unit(random) * 20, unit(random) * 20},
                         {unit(random) * 2, unit(random) * 2, unit(random) * 2}});
    ElementTree tree;
    tree.build(boxes);
    for (int k = 0; k < 200; ++k) {
        const Vec3 o{unit(random) * 30 - 5, unit(random) * 30 - 5, unit(random) * 30 - 5};
        const Vec3 d = normalized({unit(random) - 0.5, unit(random) - 0.5, unit(random) - 0.5});
        const double tmax = unit(random) * 30;
        std::set<int> visited, expected;
        tree.forEachOnRay(o, d, 0, tmax, [&](int i, double limit) {
            EXPECT_TRUE(visited.insert(i).second);
            return limit;
        });
        for (int i = 0; i < 300; ++i)
            if (segmentCrosses(boxes[i], o, d, 0, tmax)) expected.insert(i);
        EXPECT_TRUE(std::includes(visited.begin(), visited.end(), expected.begin(), expected.end())) << k;
        std::set<int> at, containing;
        tree.forEachAt(o, [&](int i) { EXPECT_TRUE(at.insert(i).second); });
        for (int i = 0; i < 300; ++i) {
            const Vec3 hi = boxes[i].max();
            if (o.x >= boxes[i].min.x && o.x <= hi.x && o.y >= boxes[i].min.y && o.y <= hi.y &&
                o.z >= boxes[i].min.z && o.z <= hi.z)
                containing.insert(i);
        }
        EXPECT_TRUE(std::includes(at.begin(), at.end(), containing.begin(), containing.end())) << k;
    }
}

}  // namespace
}  // namespace quorva
