// Building the per-shape box tree: median splits along the widest spread of the item centres.
#include "geometry/element_tree.h"

#include <algorithm>

namespace quorva {

namespace {
constexpr int LeafSize = 4;
}

void ElementTree::build(const std::vector<Box>& boxes) {
    nodes_.clear();
    items_.clear();
    if (boxes.empty()) return;
    std::vector<int> order(boxes.size());
    std::vector<Vec3> centres(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        order[i] = static_cast<int>(i);
        centres[i] = boxes[i].min + boxes[i].size * 0.5;
    }
    nodes_.reserve(2 * boxes.size() / LeafSize + 2);
    items_.reserve(boxes.size());
    buildNode(order, centres, boxes, 0, static_cast<int>(boxes.size()), 0);
}

int ElementTree::buildNode(std::vector<int>& order, std::vector<Vec3>& centres, const std::vector<Box>& boxes,
                           int begin, int end, int depth) {
    const int index = static_cast<int>(nodes_.size());
    nodes_.push_back({});
    Node n{};
    Vec3 cmin = centres[order[begin]], cmax = cmin;
    for (int a = 0; a < 3; ++a)
        n.min[a] = boxes[order[begin]].min[a], n.max[a] = boxes[order[begin]].max()[a];
    for (int i = begin; i < end; ++i) {
        const Box& b = boxes[order[i]];
        const Vec3 hi = b.max();
        for (int a = 0; a < 3; ++a) {
            n.min[a] = std::min(n.min[a], b.min[a]);
            n.max[a] = std::max(n.max[a], hi[a]);
            cmin[a] = std::min(cmin[a], centres[order[i]][a]);
            cmax[a] = std::max(cmax[a], centres[order[i]][a]);
        }
    }
    // Median splits halve the count, so the depth stays near log2(count / LeafSize), far below MaxDepth.
    if (end - begin <= LeafSize || depth >= MaxDepth - 1) {
        n.first = static_cast<std::int32_t>(items_.size());
        n.count = end - begin;
        for (int i = begin; i < end; ++i) items_.push_back(order[i]);
        nodes_[index] = n;
        return index;
    }
    const Vec3 spread = cmax - cmin;
    const int axis = spread.x >= spread.y && spread.x >= spread.z ? 0 : spread.y >= spread.z ? 1 : 2;
    const int middle = begin + (end - begin) / 2;
    std::nth_element(order.begin() + begin, order.begin() + middle, order.begin() + end,
                     [&](int a, int b) { return centres[a][axis] < centres[b][axis]; });
    n.count = 0;
    n.first = buildNode(order, centres, boxes, begin, middle, depth + 1);
    n.right = buildNode(order, centres, boxes, middle, end, depth + 1);
    nodes_[index] = n;
    return index;
}

}  // namespace quorva
