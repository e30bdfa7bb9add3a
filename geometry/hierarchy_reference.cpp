// The hierarchy build as the sort per range does it, kept as the reference the fast build is checked and
// timed against.
#include "geometry/hierarchy_reference.h"

#include <algorithm>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"

namespace quorva {

namespace {

// The state of one build: the element array (shapes first, then the groups each pass appends).
class ReferenceBuilder {
  public:
    ReferenceBuilder(World& world, std::vector<Shape*>& elements) : world_(world), elements_(elements) {}
    int nextFree = 0;
    Shape* lastGroup = nullptr;

    bool rangeStep(int first, int last) {  // true when it split
        const int count = last - first;
        if (count <= 0) return false;
        auto begin = elements_.begin() + first, end = elements_.begin() + last;
        Vec3 lo = (*begin)->boundsMin, hi = lo + (*begin)->boundsSize;
        for (auto it = begin; it != end; ++it) extend(lo, hi, **it);
        Vec3 extent = hi - lo;
        int axis = 0;
        if (extent.y > extent.x) axis = 1;
        if (extent.z > extent[axis]) axis = 2;
        std::vector<std::pair<double, Shape*>> keyed(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const Shape* e = elements_[first + i];
            keyed[i] = {2.0 * e->boundsMin[axis] + e->boundsSize[axis], elements_[first + i]};
        }
        std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (int i = 0; i < count; ++i) elements_[first + i] = keyed[i].second;
        std::vector<double> left(static_cast<std::size_t>(count)), right(static_cast<std::size_t>(count));
        Vec3 runLo{1000000, 1000000, 1000000}, runHi{-1000000, -1000000, -1000000};
        for (int i = 0; i < count; ++i) {
            extend(runLo, runHi, *elements_[first + i]);
            left[i] = area(runLo, runHi);
        }
        runLo = {1000000, 1000000, 1000000};
        runHi = {-1000000, -1000000, -1000000};
        for (int i = count - 1; i >= 0; --i) {
            extend(runLo, runHi, *elements_[first + i]);
            right[i] = area(runLo, runHi);
        }
        double best = (count - 3) * right[0];
        int split = -1;
        for (int i = 0; i + 1 < count; ++i) {
            double cost = (i + 1) * left[i] + (count - 1 - i) * right[i + 1];
            if (cost < best) best = cost, split = first + i;
        }
        if (count > 4 && split >= 0) {
            rangeStep(first, split + 1);
            rangeStep(split + 1, last);
            return true;
        }
        auto group = std::make_unique<BoundingGroup>();
        group->members.assign(begin, end);
        lo = group->members.front()->boundsMin;
        hi = lo + group->members.front()->boundsSize;
        for (const Shape* m : group->members) {
            extend(lo, hi, *m);
            group->headerFlags = m->headerFlags;
            group->headerWords[0] = m->headerWords[0];
            group->headerWords[1] = m->headerWords[1];
        }
        group->boundsMin = lo;
        group->boundsSize = hi - lo;
        group->refreshMemberBoxes();
        if (nextFree >= static_cast<int>(elements_.size())) fatal("Failure in Slabs initialization");
        elements_[nextFree++] = lastGroup = world_.adopt(std::move(group));
        return false;
    }

  private:
    static double area(const Vec3& lo, const Vec3& hi) {
        double x = hi.x - lo.x, y = hi.y - lo.y, z = hi.z - lo.z;
        return 2.0 * (x * y + y * z + z * x);
    }
    static void extend(Vec3& lo, Vec3& hi, const Shape& s) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], s.boundsMin[a]);
            hi[a] = std::max(hi[a], s.boundsMin[a] + s.boundsSize[a]);
        }
    }
    World& world_;
    std::vector<Shape*>& elements_;
};

}  // namespace

const Shape* buildHierarchyBySortPerRange(World& world) {
    std::vector<Shape*> elements;
    world.forEachInListOrder([&](Shape* s) {
        if (s->kind != ShapeKind::LightEntry) elements.push_back(s);
    });
    const int n = static_cast<int>(elements.size());
    if (n == 0) return nullptr;
    elements.resize(2 * elements.size());
    ReferenceBuilder builder(world, elements);
    builder.nextFree = n;
    int first = 0, last = n;
    while (builder.rangeStep(first, last)) first = last, last = builder.nextFree;
    return builder.lastGroup;
}

}  // namespace quorva
