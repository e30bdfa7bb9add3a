// The build of the Slabs hierarchy: bottom-up in passes, each pass partitioning its elements top down by
// the surface-area cost rule.
//
// Each range is sorted by the centre of its elements' boxes along its widest axis, swept for the areas of
// every prefix and suffix, and split where the cost is lowest. The tree depends on where the sort puts
// equal centres, and meshes are full of them (the two triangles of a quad often share their box on an
// axis; mirror-symmetric models pair up whole rows), so every range is sorted just as a sort per range
// sorts it: the same algorithm on the same keys in the same arrival order. What is saved is the rest: the
// boxes are copied once per pass into flat arrays that follow the elements as they are sorted, so that
// the sweeps read memory in order instead of visiting every shape; the ranges of one level are split on
// all workers, then whole subtrees; and the groups are made on all workers too. Every range writes only
// its own slice of the pass's arrays and the groups are adopted left to right, so the tree is the same
// for any number of threads.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "geometry/placed_mesh.h"

namespace quorva {

namespace {

// A range of at most this many elements is never split.
constexpr int MaxGroupSize = 4;
// Ranges up to this size become one task of a worker; bigger ones are split a level at a time first.
constexpr int MinTaskSize = 2048;

// An element's box as its shape holds it: minimum corner and extent. The maximum (minimum + extent) and
// the sort key (twice the centre: 2 minimum + extent) are computed from them where they are needed, always
// by the same expressions, so that every comparison sees the same values.
struct ElementBox {
    double lo[3];
    double size[3];
    double hi(int a) const { return lo[a] + size[a]; }
    double key(int a) const { return 2.0 * lo[a] + size[a]; }
};

double surfaceArea(const double lo[3], const double hi[3]) {
    double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
    return 2.0 * (x * y + y * z + z * x);
}

void extend(double lo[3], double hi[3], const ElementBox& b) {
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], b.lo[a]);
        hi[a] = std::max(hi[a], b.hi(a));
    }
}

template <class T>
void ensureSize(std::vector<T>& v, std::size_t n) {
    if (v.size() >= n) return;
    try {
        v.resize(n);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Slabs");
    }
}

struct Range {
    int first, last;
};

// What one thread needs to work on ranges.
struct RangeScratch {
    std::vector<std::pair<double, std::int32_t>> keyed;
    std::vector<double> areaLeft, areaRight;
    std::vector<std::int32_t> elements;
    std::vector<ElementBox> boxes;
    std::vector<Range> stack;
};

// One pass over a list of elements.
class SlabsPass {
  public:
    SlabsPass(const std::vector<Shape*>& elements, const HierarchyWorkers* workers)
        : elements_(elements),
          threads_(workers && workers->run ? std::max(1, workers->count) : 1),
          workers_(workers) {
        const std::size_t n = elements.size();
        try {
            placed_.resize(n);
            order_.resize(n);
            groupStart_.assign(n, 0);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate Slabs");
        }
        // Small lists are read by this thread alone.
        const std::size_t parts = n >= 65536 ? static_cast<std::size_t>(threads_) : 1;
        auto read = [&](int w) {
            const std::size_t from = n * static_cast<std::size_t>(w) / parts;
            const std::size_t to = n * static_cast<std::size_t>(w + 1) / parts;
            for (std::size_t i = from; i < to; ++i) {
                const Shape& s = *elements[i];
                ElementBox& b = placed_[i];
                for (int a = 0; a < 3; ++a) {
                    b.lo[a] = s.boundsMin[a];
                    b.size[a] = s.boundsSize[a];
                }
                order_[i] = static_cast<std::int32_t>(i);
            }
        };
        if (parts > 1)
            everyWorker(read);
        else
            read(0);
    }

    // Partitions the pass's elements into groups.
    void run() {
        const int n = static_cast<int>(elements_.size());
        std::vector<RangeScratch> scratch(static_cast<std::size_t>(threads_));
        if (threads_ == 1 || n <= MinTaskSize) {
            buildRange({0, n}, scratch[0]);
            return;
        }

        // The top of the tree is split level by level, the ranges of a level shared out, until the
        // ranges are small enough to be whole tasks.
        std::vector<Range> tasks, level{{0, n}}, big;
        std::vector<std::vector<Range>> parts(static_cast<std::size_t>(threads_));
        const int taskSize = std::max(MinTaskSize, n / (8 * threads_));
        while (!level.empty()) {
            big.clear();
            for (const Range& r : level) (r.last - r.first > taskSize ? big : tasks).push_back(r);
            level.clear();
            if (big.empty()) break;
            std::atomic<std::size_t> next{0};
            everyWorker([&](int w) {
                std::vector<Range>& out = parts[static_cast<std::size_t>(w)];
                for (std::size_t i; (i = next.fetch_add(1)) < big.size();) {
                    const Range r = big[i];
                    int split = stepRange(r.first, r.last, scratch[static_cast<std::size_t>(w)]);
                    if (split < 0) continue;
                    out.push_back({r.first, split + 1});
                    out.push_back({split + 1, r.last});
                }
            });
            for (auto& out : parts) {
                level.insert(level.end(), out.begin(), out.end());
                out.clear();
            }
        }
        // Biggest first, so that no thread is left with a big range at the end.
        std::sort(tasks.begin(), tasks.end(), [](const Range& x, const Range& y) {
            return x.last - x.first > y.last - y.first ||
                   (x.last - x.first == y.last - y.first && x.first < y.first);
        });
        std::atomic<std::size_t> next{0};
        everyWorker([&](int w) {
            for (std::size_t t; (t = next.fetch_add(1)) < tasks.size();)
                buildRange(tasks[t], scratch[static_cast<std::size_t>(w)]);
        });
    }

    // The groups, left to right: members [start, end) of the sorted positions.
    template <class F>
    void forEachGroup(F&& f) const {
        const int n = static_cast<int>(elements_.size());
        int start = 0;
        for (int i = 1; i <= n; ++i)
            if (i == n || groupStart_[i]) {
                f(start, i);
                start = i;
            }
    }

    const ElementBox& box(int position) const { return placed_[position]; }
    Shape* element(int position) const { return elements_[order_[position]]; }

  private:
    // Runs body(worker) on every worker at once (on this thread alone without workers).
    void everyWorker(const std::function<void(int)>& body) const {
        if (threads_ > 1)
            workers_->run(body);
        else
            body(0);
    }

    // Builds the whole subtree of a range.
    void buildRange(Range range, RangeScratch& s) {
        s.stack.clear();
        s.stack.push_back(range);
        while (!s.stack.empty()) {
            Range r = s.stack.back();
            s.stack.pop_back();
            int split = stepRange(r.first, r.last, s);
            if (split >= 0) {
                s.stack.push_back({split + 1, r.last});
                s.stack.push_back({r.first, split + 1});
            }
        }
    }

    // One range: sorts it, and either splits it (returns the last position of the left part) or marks it
    // as one group (returns -1).
    int stepRange(int first, int last, RangeScratch& s) {
        const int count = last - first;
        if (count <= 0) return -1;
        std::int32_t* order = order_.data() + first;
        ElementBox* placed = placed_.data() + first;

        // The widest axis of the range's union box; ties keep the earlier axis.
        double lo[3], hi[3];
        for (int a = 0; a < 3; ++a) lo[a] = placed[0].lo[a], hi[a] = placed[0].hi(a);
        for (int i = 0; i < count; ++i) extend(lo, hi, placed[i]);
        double extent[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
        int axis = 0;
        if (extent[1] > extent[0]) axis = 1;
        if (extent[2] > extent[axis]) axis = 2;

        // Sorted by the key alone, from the order the range arrived in; the elements and their boxes
        // follow the keys.
        ensureSize(s.keyed, static_cast<std::size_t>(count));
        bool increasing = true;
        for (int i = 0; i < count; ++i) {
            s.keyed[i] = {placed[i].key(axis), i};
            if (i > 0 && !(s.keyed[i - 1].first < s.keyed[i].first)) increasing = false;
        }
        // Keys that arrive strictly increasing (a part split along the axis its parent was sorted by)
        // have one sorted order: the one they are in.
        if (!increasing) {
            std::sort(s.keyed.begin(), s.keyed.begin() + count,
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            ensureSize(s.elements, static_cast<std::size_t>(count));
            ensureSize(s.boxes, static_cast<std::size_t>(count));
            std::copy(order, order + count, s.elements.begin());
            std::copy(placed, placed + count, s.boxes.begin());
            for (int i = 0; i < count; ++i) {
                order[i] = s.elements[s.keyed[i].second];
                placed[i] = s.boxes[s.keyed[i].second];
            }
        }
        if (count <= MaxGroupSize) {
            groupStart_[first] = 1;
            return -1;
        }

        // Surface areas of every prefix and every suffix of the sorted range.
        ensureSize(s.areaLeft, static_cast<std::size_t>(count));
        ensureSize(s.areaRight, static_cast<std::size_t>(count));
        double runLo[3] = {1000000, 1000000, 1000000}, runHi[3] = {-1000000, -1000000, -1000000};
        for (int i = 0; i < count; ++i) {
            extend(runLo, runHi, placed[i]);
            s.areaLeft[i] = surfaceArea(runLo, runHi);
        }
        for (int a = 0; a < 3; ++a) runLo[a] = 1000000, runHi[a] = -1000000;
        for (int i = count - 1; i >= 0; --i) {
            extend(runLo, runHi, placed[i]);
            s.areaRight[i] = surfaceArea(runLo, runHi);
        }

        // Not splitting costs (count - 3) x area, which keeps small ranges whole; ties keep the earlier
        // split.
        double best = (count - 3) * s.areaRight[0];
        int split = -1;
        for (int i = 0; i + 1 < count; ++i) {
            double cost = (i + 1) * s.areaLeft[i] + (count - 1 - i) * s.areaRight[i + 1];
            if (cost < best) {
                best = cost;
                split = first + i;
            }
        }
        if (split < 0) groupStart_[first] = 1;
        return split;
    }

    const std::vector<Shape*>& elements_;
    std::vector<ElementBox> placed_;        // by position: the box of the element there
    std::vector<std::int32_t> order_;       // by position: the element there
    std::vector<std::uint8_t> groupStart_;  // by position: 1 where a group begins
    const int threads_;
    const HierarchyWorkers* workers_;
};

// Makes the group over positions [start, end) of a pass: members in their sorted order, the union box,
// and the header words carried up from the members (the last member's remain).
std::unique_ptr<BoundingGroup> makeGroup(const SlabsPass& pass, int start, int end) {
    auto group = std::make_unique<BoundingGroup>();
    group->members.resize(static_cast<std::size_t>(end - start));
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) lo[a] = pass.box(start).lo[a], hi[a] = pass.box(start).hi(a);
    for (int p = start; p < end; ++p) {
        Shape* m = pass.element(p);
        group->members[static_cast<std::size_t>(p - start)] = m;
        extend(lo, hi, pass.box(p));
        group->headerFlags = m->headerFlags;
        group->headerWords[0] = m->headerWords[0];
        group->headerWords[1] = m->headerWords[1];
    }
    group->boundsMin = {lo[0], lo[1], lo[2]};
    group->boundsSize = Vec3{hi[0], hi[1], hi[2]} - group->boundsMin;
    group->parent = nullptr;
    group->refreshMemberBoxes();
    return group;
}

}  // namespace

int buildHierarchy(World& world, const HierarchyWorkers* workers) {
    world.root = nullptr;
    buildMeshTrees(world, workers);
    if (world.mainList.empty()) return 0;
    std::vector<Shape*> elements;
    try {
        elements.reserve(world.mainList.size());
    } catch (const std::bad_alloc&) {
        fatal("Insufficient memory to reference the objects");
    }
    world.forEachInListOrder([&](Shape* s) {
        if (s->kind != ShapeKind::LightEntry) elements.push_back(s);
    });
    const std::size_t n = elements.size();
    if (n == 0) return 0;
    // The element array of the sort per range holds the shapes and every group of every pass in 2n slots.
    const std::size_t capacity = 2 * n;
    std::size_t nextFree = n;
    const int threads = workers && workers->run ? std::max(1, workers->count) : 1;

    for (;;) {
        SlabsPass pass(elements, workers);
        pass.run();
        std::vector<std::pair<int, int>> spans;
        pass.forEachGroup([&](int start, int end) { spans.push_back({start, end}); });
        std::vector<std::unique_ptr<BoundingGroup>> made(spans.size());
        auto makeSome = [&](std::size_t from, std::size_t step) {
            for (std::size_t g = from; g < spans.size(); g += step)
                made[g] = makeGroup(pass, spans[g].first, spans[g].second);
        };
        if (threads > 1 && spans.size() >= 1024)
            workers->run(
                [&](int w) { makeSome(static_cast<std::size_t>(w), static_cast<std::size_t>(threads)); });
        else
            makeSome(0, 1);

        std::vector<Shape*> groups;
        groups.reserve(made.size());
        for (auto& group : made) {
            if (nextFree >= capacity) fatal("Failure in Slabs initialization");
            ++nextFree;
            groups.push_back(world.adopt(std::move(group)));
        }
        // The pass that made one group over all its elements made the root.
        if (groups.size() == 1) {
            world.root = groups.back();
            return 1;
        }
        elements.swap(groups);
    }
}

}  // namespace quorva
