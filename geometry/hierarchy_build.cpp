// The build of the Slabs hierarchy: bottom-up in passes, each pass partitioning its elements top down by
// the surface-area cost rule.
//
// Each range is sorted by the centre of its elements' boxes along its widest axis, swept for the areas of
// every prefix and suffix, and split where the cost is lowest. A sort per range makes a pass cost
// n log^2 n and read every box through its shape; instead the boxes are copied into one flat array per
// pass, the elements are sorted once per axis, and a split partitions the three orders stably, so that
// every range finds its sorted order ready. A sorted order is unique only when no two centres in the range
// are equal; where some are, the range is sorted the way a range is sorted when it is built on its own,
// from its elements in the order its parent left them, which keeps ties exactly where that sort puts
// them. The tree is therefore the one the sort per range gives, for any number of threads: every range
// writes only its own slice of the pass's arrays, and the groups are made afterwards, left to right.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"

namespace quorva {

namespace {

// A range of at most this many elements is never split.
constexpr int MaxGroupSize = 4;
// Ranges up to this size are sorted on their own: cheaper than keeping the three orders partitioned.
constexpr int SmallRange = 48;
// Ranges up to this size become one task of a worker; bigger ones are split first by the calling thread.
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

// How a range finds its sorted order: from the pass's three axis orders (kept partitioned by every
// split above it), or by sorting its elements in the order it arrived in.
enum class Mode : std::uint8_t { Orders, Sort };
struct Range {
    int first, last;
    Mode mode;
};
struct Step {
    int split;       // last position of the left part, or -1 when the range became one group
    int axis;        // the axis it was sorted along
    Mode partsMode;  // how its parts find their orders
};

// What one thread needs to work on ranges.
struct RangeScratch {
    std::vector<std::pair<double, std::int32_t>> keyed;
    std::vector<double> areaLeft, areaRight;
    std::vector<std::int32_t> spill;
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
            boxes_.resize(n);
            placed_.resize(n);
            order_.resize(n);
            side_.resize(n);
            groupStart_.assign(n, 0);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate Slabs");
        }
        // Small lists are read by this thread alone.
        const std::size_t parts = n >= 65536 ? static_cast<std::size_t>(threads_) : 1;
        std::vector<std::uint8_t> notANumber(parts, 0);
        auto read = [&](int w) {
            const std::size_t from = n * static_cast<std::size_t>(w) / parts;
            const std::size_t to = n * static_cast<std::size_t>(w + 1) / parts;
            for (std::size_t i = from; i < to; ++i) {
                const Shape& s = *elements[i];
                ElementBox& b = boxes_[i];
                for (int a = 0; a < 3; ++a) {
                    b.lo[a] = s.boundsMin[a];
                    b.size[a] = s.boundsSize[a];
                    if (std::isnan(b.key(a))) notANumber[static_cast<std::size_t>(w)] = 1;
                }
                placed_[i] = b;
                order_[i] = static_cast<std::int32_t>(i);
            }
        };
        if (parts > 1)
            everyWorker(read);
        else
            read(0);
        // A centre that is not a number has no place in a sorted order: such a pass sorts every range on
        // its own.
        sortEveryRange_ = std::find(notANumber.begin(), notANumber.end(), 1) != notANumber.end();
    }

    // Partitions the pass's elements into groups.
    void run() {
        const int n = static_cast<int>(elements_.size());
        const int threads = threads_;
        std::vector<RangeScratch> scratch(static_cast<std::size_t>(threads));

        // The whole list is sorted on its own; when few of its centres are equal, the other two axes
        // are sorted too and the parts keep the three orders from there on.
        Step top = stepRange(0, n, Mode::Sort, scratch[0]);
        if (top.split < 0) return;
        Mode mode = Mode::Sort;
        if (!sortEveryRange_ && n > SmallRange && fewTies(0, n, top.axis)) {
            mode = Mode::Orders;
            try {
                for (auto& axis : byAxis_) axis.resize(static_cast<std::size_t>(n));
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate Slabs");
            }
            std::copy(order_.begin(), order_.end(), byAxis_[top.axis].begin());
            const int others[2] = {top.axis == 0 ? 1 : 0, top.axis == 2 ? 1 : 2};
            everyWorker([&](int w) {
                for (int k = w; k < 2; k += threads) sortAxis(others[k]);
            });
            splitOrders(0, n, top.split, top.axis, false, scratch[0]);
        }

        // The top of the tree is split level by level, the ranges of a level shared out, until the
        // ranges are small enough to be whole tasks.
        const int taskSize = threads > 1 ? std::max(MinTaskSize, n / (8 * threads)) : n;
        std::vector<Range> tasks, level{{0, top.split + 1, mode}, {top.split + 1, n, mode}}, big;
        std::vector<std::vector<Range>> parts(static_cast<std::size_t>(threads));
        for (;;) {
            big.clear();
            for (const Range& r : level) (r.last - r.first > taskSize ? big : tasks).push_back(r);
            level.clear();
            if (big.empty()) break;
            std::atomic<std::size_t> next{0};
            everyWorker([&](int w) {
                std::vector<Range>& out = parts[static_cast<std::size_t>(w)];
                for (std::size_t i; (i = next.fetch_add(1)) < big.size();) {
                    const Range r = big[i];
                    Step step = stepRange(r.first, r.last, r.mode, scratch[static_cast<std::size_t>(w)]);
                    if (step.split < 0) continue;
                    out.push_back({r.first, step.split + 1, step.partsMode});
                    out.push_back({step.split + 1, r.last, step.partsMode});
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
        if (tasks.size() == 1 || n <= MinTaskSize) {
            for (const Range& r : tasks) buildRange(r, scratch[0]);
            return;
        }
        std::atomic<std::size_t> next{0};
        everyWorker([&](int w) {
            for (std::size_t t; (t = next.fetch_add(1)) < tasks.size();)
                buildRange(tasks[t], scratch[static_cast<std::size_t>(w)]);
        });
    }

    // The groups, left to right: members [start, end) of order().
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

    // Sorts the pass's elements along one axis (equal centres in element order).
    void sortAxis(int a) {
        const std::size_t n = elements_.size();
        std::vector<std::pair<double, std::int32_t>> keyed;
        try {
            keyed.resize(n);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate Slabs");
        }
        for (std::size_t i = 0; i < n; ++i) keyed[i] = {boxes_[i].key(a), static_cast<std::int32_t>(i)};
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t i = 0; i < n; ++i) byAxis_[a][i] = keyed[i].second;
    }

    // True when at most one in 64 neighbours of the sorted range [first, last) share their centre: a
    // few equal centres are sorted range by range where they occur, many are cheaper to sort throughout.
    bool fewTies(int first, int last, int axis) const {
        int ties = 0;
        for (int i = first; i + 1 < last; ++i) ties += !(placed_[i].key(axis) < placed_[i + 1].key(axis));
        return ties * 64 <= last - first;
    }

    // Builds the whole subtree of a range.
    void buildRange(Range range, RangeScratch& s) {
        s.stack.clear();
        s.stack.push_back(range);
        while (!s.stack.empty()) {
            Range r = s.stack.back();
            s.stack.pop_back();
            Step step = stepRange(r.first, r.last, r.mode, s);
            if (step.split >= 0) {
                s.stack.push_back({step.split + 1, r.last, step.partsMode});
                s.stack.push_back({r.first, step.split + 1, step.partsMode});
            }
        }
    }

    // Splits the axis orders of [first, last) after `split` stably; the sort axis's order is already
    // split when it is the range's sorted order.
    void splitOrders(int first, int last, int split, int axis, bool axisSplit, RangeScratch& s) {
        const int count = last - first, leftCount = split + 1 - first;
        const std::int32_t* order = order_.data() + first;
        for (int i = 0; i < count; ++i) side_[order[i]] = i < leftCount ? 0 : 1;
        ensureSize(s.spill, static_cast<std::size_t>(count));
        for (int a = 0; a < 3; ++a) {
            if (a == axis && !axisSplit) continue;
            std::int32_t* list = byAxis_[a].data() + first;
            int left = 0, right = 0;
            for (int i = 0; i < count; ++i) {
                std::int32_t id = list[i];
                if (side_[id] == 0)
                    list[left++] = id;
                else
                    s.spill[right++] = id;
            }
            std::copy(s.spill.begin(), s.spill.begin() + right, list + left);
        }
    }

    // One range: sorts it, and either splits it or marks it as one group.
    Step stepRange(int first, int last, Mode mode, RangeScratch& s) {
        const int count = last - first;
        if (count <= 0) return {-1, 0, Mode::Sort};
        std::int32_t* order = order_.data() + first;
        ElementBox* placed = placed_.data() + first;

        // The widest axis of the range's union box; ties keep the earlier axis.
        double lo[3], hi[3];
        {
            const ElementBox& b = placed[0];
            for (int a = 0; a < 3; ++a) lo[a] = b.lo[a], hi[a] = b.hi(a);
        }
        for (int i = 0; i < count; ++i) extend(lo, hi, placed[i]);
        double extent[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
        int axis = 0;
        if (extent[1] > extent[0]) axis = 1;
        if (extent[2] > extent[axis]) axis = 2;

        // The sorted order: taken from the axis order when the centres are all different, else sorted
        // from the order the range arrived in.
        if (count <= SmallRange) mode = Mode::Sort;
        Mode partsMode = mode;
        bool fromOrder = false;
        if (mode == Mode::Orders) {
            const std::int32_t* sorted = byAxis_[axis].data() + first;
            int ties = 0;
            for (int i = 0; i + 1 < count; ++i)
                ties += !(boxes_[sorted[i]].key(axis) < boxes_[sorted[i + 1]].key(axis));
            fromOrder = ties == 0;
            if (fromOrder) {
                std::copy(sorted, sorted + count, order);
                for (int i = 0; i < count; ++i) placed[i] = boxes_[order[i]];
            }
            if (ties * 64 > count) partsMode = Mode::Sort;
        }
        if (!fromOrder) {
            ensureSize(s.keyed, static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) s.keyed[i] = {placed[i].key(axis), i};
            std::sort(s.keyed.begin(), s.keyed.begin() + count,
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            // The elements and their boxes follow the sorted keys.
            ensureSize(s.spill, static_cast<std::size_t>(count));
            ensureSize(s.boxes, static_cast<std::size_t>(count));
            std::copy(order, order + count, s.spill.begin());
            std::copy(placed, placed + count, s.boxes.begin());
            for (int i = 0; i < count; ++i) {
                order[i] = s.spill[s.keyed[i].second];
                placed[i] = s.boxes[s.keyed[i].second];
            }
        }
        if (count <= MaxGroupSize) {
            groupStart_[first] = 1;
            return {-1, axis, partsMode};
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
        if (split < 0) {
            groupStart_[first] = 1;
            return {-1, axis, partsMode};
        }
        // The parts' axis orders, unless both parts are small enough to sort on their own.
        if (partsMode == Mode::Orders && (split + 1 - first > SmallRange || last - split - 1 > SmallRange))
            splitOrders(first, last, split, axis, !fromOrder, s);
        return {split, axis, partsMode};
    }

    const std::vector<Shape*>& elements_;
    std::vector<ElementBox> boxes_;         // by element
    std::vector<ElementBox> placed_;        // by position: the box of the element there
    std::vector<std::int32_t> order_;       // by position: the element there
    std::vector<std::int32_t> byAxis_[3];   // by position: per range, its elements in order of centre
    std::vector<std::uint8_t> side_;        // by element: the part of its range's split it went to
    std::vector<std::uint8_t> groupStart_;  // by position: 1 where a group begins
    bool sortEveryRange_ = false;
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
