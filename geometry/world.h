// The World: the lists of top-level shapes of one frame and the bounding-hierarchy root.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/shape.h"

namespace quorva {

class IntersectContext;
class BoundingGroup;
struct AnimationCounters;

// Lists are kept in order of addition; "list order" (newest first) is the reverse. Use the
// *InListOrder helpers where the order matters.
class World {
  public:
    World();
    ~World();
    World(World&&) noexcept;
    World& operator=(World&&) noexcept;

    std::vector<Shape*> mainList;                           // top-level shapes and subdivision groups
    std::vector<std::unique_ptr<Shape>> solids;             // Solids, kept for release
    std::vector<std::unique_ptr<Shape>> subdividedSources;  // shapes replaced by their subdivision
    std::vector<Shape*> cameraFrontier;                     // filled by buildCameraFrontier
    std::vector<Shape*> lightEntries;                       // kind-10 entries (they stay on mainList)
    int temporaryA = 0, temporaryB = 0;                     // 64 and 4 in a temporary World
    Shape* root = nullptr;                                  // bounding-hierarchy root
    // Frame counters the expressions evaluated while shapes are cut into triangles read (displacement
    // mapping); null reads every counter as 0. Kept by clear(); addToWorld hands it to the temporary
    // World a shape is subdivided into.
    const AnimationCounters* frames = nullptr;

    // Ownership of every shape on mainList (and of mesh triangles and groups made for them).
    std::vector<std::unique_ptr<Shape>> owned;

    // Pushes a shape onto the main list and takes ownership.
    Shape* push(std::unique_ptr<Shape> shape);
    // Takes ownership of a shape that is referenced elsewhere (hierarchy groups, mesh triangles).
    Shape* adopt(std::unique_ptr<Shape> shape);
    // Moves all owned shapes of `other` into this World (its lists are dropped, shapes kept).
    void adoptAll(World&& other);

    std::size_t mainCount() const { return mainList.size(); }
    // Main list in list order (newest first).
    template <typename F>
    void forEachInListOrder(F&& f) const {
        for (auto it = mainList.rbegin(); it != mainList.rend(); ++it) f(*it);
    }

    // Releases everything (the end-of-frame clean-up).
    void clear();
};

// Settings the World add step reads.
struct AddSettings {
    int renderMode = 1;               // 1 ray tracing, 2 scanline, ...
    std::uint16_t featureMask = 127;  // after settling
};

// Sets hit.hit = 0; walks the hierarchy when the World has a root, else tests every main-list shape
// in list order (one "objects checked" each). Returns hit.hit.
bool intersectWorld(Intersection& hit, const Ray& ray, const World& world, IntersectContext& ctx, double tmin,
                    double tmax);

// The add step's rules, shared with the Solids' components: the kinds that are always cut into
// triangles, whether the render mode traces rays, and the cut itself (`failure` is the fatal message
// when the pieces get no hierarchy root).
bool alwaysSubdivided(ShapeKind kind);
bool tracesSurfaces(const AddSettings& settings);
void addSubdivided(World& world, std::unique_ptr<Shape> shape, const char* failure);

// Attribute pruning, then subdivision (displacement, BicubicPatch, NURBS, ParametricSurface) or a push
// onto the main list; Solids go to the Solid list.
void addToWorld(std::unique_ptr<Shape> shape, World& world, const AddSettings& settings);

}  // namespace quorva
