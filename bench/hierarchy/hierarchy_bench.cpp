// Times the hierarchy build on the shapes of one scene file: the plain build that sorts every range on
// its own, then the fast build with each thread count asked for; then the tree of every mesh placed in
// the scene (once per mesh), with each thread count. Prints the median wall and processor seconds of
// the runs, and checks that every build made the same tree.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "geometry/hierarchy_reference.h"
#include "geometry/mesh_parts.h"
#include "geometry/mesh_tree.h"
#include "geometry/placed_mesh.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "tests/support/thread_workers.h"

using namespace quorva;

namespace {

double processorSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A digest of the tree: every group's member count and every leaf, depth first.
void digest(const Shape* node, std::uint64_t& hash, long& groups) {
    auto mix = [&](std::uint64_t v) { hash = (hash ^ v) * 1099511628211ull; };
    if (node->kind != ShapeKind::BoundingGroup) {
        mix(reinterpret_cast<std::uintptr_t>(node));
        return;
    }
    ++groups;
    const auto* g = static_cast<const BoundingGroup*>(node);
    mix(g->members.size());
    for (const Shape* m : g->members) digest(m, hash, groups);
}

struct Timing {
    double wall, cpu;
    std::uint64_t hash = 14695981039346656037ull;
    long groups = 0;
};

// One build; the groups it made are released again, so that every run starts from the same World.
Timing timeBuild(World& world, const std::function<const Shape*()>& build) {
    const std::size_t owned = world.owned.size();
    Timing t{};
    t.hash = 14695981039346656037ull;
    auto start = std::chrono::steady_clock::now();
    double cpu = processorSeconds();
    const Shape* root = build();
    t.cpu = processorSeconds() - cpu;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (root) digest(root, t.hash, t.groups);
    world.root = nullptr;
    world.owned.resize(owned);
    return t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 5;
    std::vector<int> threadCounts{1, 2};
    bool reference = true;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--threads" && i + 1 < argc) {
            threadCounts.clear();
            std::istringstream list(argv[++i]);
            for (int n; list >> n;) threadCounts.push_back(std::max(1, n));
        } else if (a == "--no-reference") {
            reference = false;
        } else if (path.empty() && a[0] != '-') {
            path = a;
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        std::fprintf(
            stderr,
            "usage: quorva_hierarchy_bench [--repeat N] [--threads \"1 2\"] [--no-reference] scene.qsb\n");
        return 2;
    }
    SceneState scene;
    try {
        parseFile(scene, path);
    } catch (const FatalError& e) {
        std::fprintf(stderr, "%s\n", e.report().c_str());
        return 1;
    }
    World& world = scene.frame.world;
    std::printf("%s: %zu shapes on the main list, median of %d runs\n", path.c_str(), world.mainCount(),
                repeat);

    struct Row {
        std::string name;
        std::vector<double> wall, cpu;
        Timing last;
    };
    std::vector<Row> rows;
    auto measure = [&](const std::string& name, const std::function<const Shape*()>& build) {
        Row row{name, {}, {}, {}};
        for (int r = 0; r < repeat; ++r) {
            row.last = timeBuild(world, build);
            row.wall.push_back(row.last.wall);
            row.cpu.push_back(row.last.cpu);
        }
        rows.push_back(row);
    };
    if (reference) measure("sort per range", [&] { return buildHierarchyBySortPerRange(world); });
    for (int threads : threadCounts) {
        const HierarchyWorkers workers = testing::threadWorkers(threads);
        measure("fast, " + std::to_string(threads) + (threads == 1 ? " thread" : " threads"), [&] {
            buildHierarchy(world, threads > 1 ? &workers : nullptr);
            return world.root;
        });
    }

    bool same = true;
    std::printf("%-18s %9s %9s %9s %s\n", "build", "wall s", "cpu s", "groups", "tree");
    for (const Row& row : rows) {
        same = same && row.last.hash == rows.front().last.hash && row.last.groups == rows.front().last.groups;
        std::printf("%-18s %9.3f %9.3f %9ld %016llx\n", row.name.c_str(), median(row.wall), median(row.cpu),
                    row.last.groups, static_cast<unsigned long long>(row.last.hash));
    }

    // The trees of the placed meshes, each mesh once.
    std::vector<const MeshParts*> meshes;
    for (const Shape* s : world.mainList)
        if (s->kind == ShapeKind::PlacedMesh) {
            const MeshParts* m = static_cast<const PlacedMesh*>(s)->parts.get();
            if (std::find(meshes.begin(), meshes.end(), m) == meshes.end()) meshes.push_back(m);
        }
    for (const MeshParts* mesh : meshes) {
        std::printf("mesh of %zu triangles\n", mesh->size());
        std::vector<std::uint8_t> first;
        for (int threads : threadCounts) {
            const HierarchyWorkers workers = testing::threadWorkers(threads);
            std::vector<double> wall, cpu;
            MeshTree tree;
            for (int r = 0; r < repeat; ++r) {
                const auto start = std::chrono::steady_clock::now();
                const double c = processorSeconds();
                tree = buildMeshTree(mesh->size(), [mesh](std::size_t i) { return mesh->bounds(i); },
                                     threads > 1 ? &workers : nullptr);
                cpu.push_back(processorSeconds() - c);
                wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            }
            std::vector<std::uint8_t> bytes(tree.nodes.size() * sizeof(MeshTreeNode));
            if (!bytes.empty()) std::memcpy(bytes.data(), tree.nodes.data(), bytes.size());
            if (first.empty()) first = bytes;
            same = same && bytes == first;
            std::printf("%-18s %9.3f %9.3f %9zu nodes, depth %d\n",
                        ("mesh, " + std::to_string(threads) + (threads == 1 ? " thread" : " threads")).c_str(),
                        median(wall), median(cpu), tree.nodes.size(), tree.depth);
        }
    }
    std::printf(same ? "every build made the same tree\n" : "THE TREES DIFFER\n");
    return same ? 0 : 1;
}
