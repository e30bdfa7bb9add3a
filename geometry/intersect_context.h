// What an intersection query reads and writes: the search modes, the settings every intersection
// reads, the traversal counters, and the scratch the shape kinds use so that nothing allocates per ray.
// The rendering worker's context extends it; geometry sees only this part.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/shape.h"
#include "geometry/vec3.h"

namespace quorva {

// Counters printed by -d; zeroed at the start of every frame. The traversal counters (bounds, objects,
// queue, traversals) are kept by geometry, the ray counters by the tracer, the shaders and the
// global-illumination passes.
struct RenderStatistics {
    std::uint32_t primaryRays = 0;
    std::uint32_t shadowRays = 0;
    std::uint32_t reflectedRays = 0;
    std::uint32_t refractedRays = 0;
    std::uint32_t dispersionRays = 0;
    std::uint32_t internalReflectionRays = 0;
    std::uint32_t jitteredRays = 0;
    std::uint32_t irradianceRays = 0;
    std::uint32_t photonRays = 0;  // emitted
    std::uint32_t photonRefracted = 0;
    std::uint32_t photonDispersion = 0;
    std::uint32_t photonReflected = 0;
    std::uint32_t photonInternalReflected = 0;
    std::uint32_t surfacePhotonsGathered = 0;
    std::uint32_t mediaPhotonsGathered = 0;
    std::uint32_t shadowChecks = 0;
    std::uint32_t shadowCacheHits = 0;
    std::uint32_t boundsChecked = 0;
    std::uint32_t objectsChecked = 0;
    std::uint32_t queuePushes = 0;
    std::uint32_t queuePeak = 0;
    std::uint32_t traversals = 0;
};

// Adds the counters of `from` to `into` (the queue peak is the larger of the two).
void addStatistics(RenderStatistics& into, const RenderStatistics& from);
// Only the photon pass's counters (rays, bounces, photons stored).
void addPhotonStatistics(RenderStatistics& into, const RenderStatistics& from);

// Process-wide settings every intersection reads; copied from the options when a frame starts.
struct TraceSettings {
    int renderMode = 1;  // RenderMode: 0 OpenGL, 1 ray tracing, 2 scanline, 3 hidden line, 4 subdividing
    std::uint16_t featureMask = 127;  // settled FeatureMask
    double minRayDistance = 0.001;    // origin-advance threshold of the one-shape step
    double shadowBias = 0.001;        // smallest hit distance of every non-primary ray
    int maxRayLevel = 6;
};

class IntersectContext {
  public:
    TraceSettings settings;
    RenderStatistics stats;

    // Search modes of the current intersection query.
    bool anyHit = false;             // shadow rays: only casting shapes, stop at the first opaque hit
    bool particleCollision = false;  // particle shapes are skipped

    // Set by the hierarchy while it tests a placed mesh: the start of its own search, from which the
    // mesh starts each triangle's search as the hierarchy starts a shape's.
    bool fromHierarchy = false;
    double hierarchyStart = 0;

    Vec3 eye;             // camera location: primary rays from exactly here start at the camera frontier
    bool hasEye = false;  // the frontier rule applies only when set

    // Hit record the one-shape intersection step hands to a kind's intersect(), kept here so that the
    // innermost loop does not clear a fresh record for every shape tested; busy while in use.
    Intersection scratchHit;
    bool scratchHitBusy = false;

    // Hit distances stored for the shaders (absorption): the distance of the latest hit on a shape,
    // kept in a small direct-mapped table instead of in the read-only shape.
    void storeHitDistance(const Shape* shape, double distance);
    double hitDistance(const Shape* shape) const;
    void clearHitDistances() { hitSlots_.fill({}); }

    // Scratch of the surface kinds, so that their intersections allocate nothing per ray: the cell
    // triangles the height fields built last (found by shape, triangle key and first vertex; a new one
    // takes the next slot round robin), and the enter and exit events of a Blobby's elements on a ray.
    struct HeightFieldTriangle {
        const Shape* owner = nullptr;
        int key = 0, column = 0, row = 0;  // key 0: first triangle of the cell, 1: second
        Vec3 vertex[3];
        Vec3 vertexNormal[3];  // smooth fields only
        Vec3 normal;           // unit plane normal
        double planeConstant = 0;
        bool usable = false;  // false for a triangle too thin to have a normal
    };
    std::array<HeightFieldTriangle, 8> heightFieldCache{};
    int heightFieldCacheCount = 0;
    int heightFieldCacheNext = 0;
    struct BlobEvent {
        double t;
        int element;
        bool enter;
        double coefficients[5];  // the element's quartic in t, highest power first
    };
    std::vector<BlobEvent> blobEvents;

  private:
    struct HitSlot {
        const Shape* shape = nullptr;
        double distance = 0;
    };
    std::array<HitSlot, 64> hitSlots_{};
};

}  // namespace quorva
