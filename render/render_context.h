// Everything a ray mutates while it is traced: statistics, sampler state, the per-level ray records,
// the dispersion and blur state, the per-light shadow caches. One RenderContext per rendering worker;
// the frame it points to is read-only while pixels render.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/shape.h"
#include "geometry/vec3.h"
#include "gi/photon_gather.h"
#include "gi/quasi_random.h"
#include "scene/random.h"

namespace quorva {

class Shape;
struct Frame;
class GlobalIllumination;

// Counters printed by -d; zeroed at the start of every frame.
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

// Process-wide settings every intersection reads; copied from the options when a frame starts.
struct TraceSettings {
    int renderMode = 1;  // RenderMode: 0 OpenGL, 1 ray tracing, 2 scanline, 3 hidden line, 4 subdividing
    std::uint16_t featureMask = 127;  // settled FeatureMask
    double minRayDistance = 0.001;    // origin-advance threshold of the one-shape step
    double shadowBias = 0.001;        // smallest hit distance of every non-primary ray
    int maxRayLevel = 6;
};

// The ray of each level 0..9, as the expression functions read it.
struct LevelRecord {
    Ray ray;
    bool valid = false;
};

class RenderContext {
  public:
    RenderContext() = default;
    explicit RenderContext(const Frame* frame) : frame(frame) {}

    const Frame* frame = nullptr;  // null in pure geometry tests
    TraceSettings settings;
    RenderStatistics stats;

    // Search modes of the current intersection query.
    bool anyHit = false;             // shadow rays: only casting shapes, stop at the first opaque hit
    bool particleCollision = false;  // particle shapes are skipped
    bool shadowTest = false;         // combination shaders report their combined transmission

    Vec3 eye;             // camera location: primary rays from exactly here start at the camera frontier
    bool hasEye = false;  // the frontier rule applies only when set

    // Restarts every sampler from the image position of a camera sample, so that what a sample draws
    // depends only on where it is: a resumed render, or one split differently, makes the same pixels.
    void beginSample(double x, double y);
    // Empties what one sample leaves behind for the next (the shadow caches, the per-level ray records,
    // the hit-distance slots) at the start of a work unit, so that what a unit traces, and counts, does
    // not depend on which unit the worker rendered before.
    void startWorkUnit();

    // Samplers. `random` serves the expression built-in of the same name while shading.
    RandomGenerator random;
    std::uint32_t mediaRandom = 1;  // the participating medium's jitter (gi/media.h)
    QuasiRandom aperturePairs{2};
    QuasiRandom blurPairs{2};
    QuasiRandom shadowTriples{3};
    QuasiRandom areaLightPairs{2};
    QuasiRandom fbmTriples{3};  // the fBm expression built-in

    std::array<LevelRecord, 10> levels{};

    // Dispersion and blur state, saved and restored around recursive traces.
    bool dispersing = false;
    int dispersionIndex = 0;
    int dispersionCount = 0;
    int blurDepth = 0;

    // Global-illumination state.
    // Irradiance depth: 1 on camera paths (mirror views too), L + 1 on the hemisphere rays of a record
    // made at depth L.
    int irradianceDepth = 1;
    double lastTraceDistance = 0;  // distance along the ray of the latest traceRay hit (1000000: none)
    bool photonPass = false;
    bool primaryGrid = false;

    // Pixel being rendered (background expressions read it).
    int currentRow = 0;
    int currentColumn = 0;

    // Hit record the one-shape intersection step hands to a kind's intersect(), kept here so that the
    // innermost loop does not clear a fresh record for every shape tested; busy while in use.
    Intersection scratchHit;
    bool scratchHitBusy = false;

    // Shadow caches: last occluder per light (by light index) and ray level 0..9.
    std::vector<std::array<const Shape*, 10>> shadowCache;
    std::uint64_t shadowCacheLights = 0;  // serial of the newest light the caches were sized for

    // Room for the per-point light tables of combination shaders, used as a stack (sized with the
    // shadow caches so that shading allocates nothing per ray).
    std::vector<Color> lightTables;
    std::size_t lightTableTop = 0;

    // Irradiance cache and photon maps as shading sees them; null while there are none.
    GlobalIllumination* globalIllumination = nullptr;
    bool skyLightMode = false;  // sky-light shading: no direct-light loop, no caustics
    GatherHeap photonHeap;      // the k nearest photons of the latest gather

    // Hit distances stored for the shaders (absorption): the distance of the latest hit on a shape,
    // kept in a small direct-mapped table instead of in the read-only shape.
    void storeHitDistance(const Shape* shape, double distance);
    double hitDistance(const Shape* shape) const;

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
