// Everything a ray mutates while it is traced: on top of what the intersection queries use (statistics,
// search modes, the shape kinds' scratch), the sampler state, the per-level ray records, the dispersion
// and blur state, the per-light shadow caches. One RenderContext per rendering worker; the frame it
// points to is read-only while pixels render.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/intersect_context.h"
#include "geometry/shape.h"
#include "geometry/vec3.h"
#include "trace/photon_gather.h"
#include "trace/quasi_random.h"
#include "trace/random.h"

namespace quorva {

class Shape;
struct Frame;
class GlobalIllumination;
class IrradianceUnit;

// The ray of each level 0..9, as the expression functions read it.
struct LevelRecord {
    Ray ray;
    bool valid = false;
};

class RenderContext : public IntersectContext {
  public:
    RenderContext() = default;
    explicit RenderContext(const Frame* frame) : frame(frame) {}

    const Frame* frame = nullptr;  // null in pure geometry tests

    bool shadowTest = false;  // combination shaders report their combined transmission

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

    // Shadow caches: last occluder per light (by light index) and ray level 0..9.
    std::vector<std::array<const Shape*, 10>> shadowCache;
    std::uint64_t shadowCacheLights = 0;  // serial of the newest light the caches were sized for

    // Room for the per-point light tables of combination shaders, used as a stack (sized with the
    // shadow caches so that shading allocates nothing per ray).
    std::vector<Color> lightTables;
    std::size_t lightTableTop = 0;

    // Irradiance cache and photon maps as shading sees them; null while there are none.
    GlobalIllumination* globalIllumination = nullptr;
    // The work unit this worker renders when the frame's irradiance cache is shared by several workers;
    // null when one worker renders alone.
    IrradianceUnit* irradianceUnit = nullptr;
    bool skyLightMode = false;  // sky-light shading: no direct-light loop, no caustics
    GatherHeap photonHeap;      // the k nearest photons of the latest gather
};

}  // namespace quorva
