// Photons shot on every worker with the maps one thread builds. The rule the batch keeps: what the
// shooting draws from a stream shared along the light's photons (start jitter, bounce directions, media
// free paths) is drawn on the calling thread in photon order; the paths, which draw nothing shared, are
// traced in parallel into one record per photon; the records are then committed in photon order, so the
// maps, their power scales and the counters are those of one thread. A path that does draw from the
// context's shared generators (random or fBm in a scene expression) ends the parallel shooting of its
// light: it and every later photon of that light are traced on the calling thread, as one thread would.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec3.h"
#include "gi/photon_maps.h"
#include "trace/render_context.h"

namespace quorva {

class PhotonMap;

// One thing a path does to the maps, in path order.
struct PhotonEvent {
    enum class Kind : std::uint8_t { Store, Media, Bounce };
    Kind kind = Kind::Store;
    PhotonMap* map = nullptr;  // Store: the map it goes to
    int bounce = 0;            // Bounce: index into the record's bounces
    Color power;
    Vec3 position, previous;  // Store: where and from where; Media: the segment's origin and direction
    double limit = 0;         // Media: where the segment ends (its hit, or nothing hit)
    double pathLength = 0;    // Media: length travelled before the segment (< 0: a parallel light)
};

// A diffuse bounce of an irradiance photon: its direction is drawn at commit time, the branch after it
// (which stores only) is traced in a second parallel step.
struct DeferredBounce {
    Vec3 point, N, g;
    Color carried;
    int level = 0;
    double mediumIndex = 1;
    PhotonPath path;
    Vec3 direction;
    std::vector<PhotonEvent> events;
    RenderStatistics stats;
    bool drew = false;
};

struct PhotonRecord {
    std::vector<PhotonEvent> events;
    std::vector<DeferredBounce> bounces;
    int bounceCount = 0;  // bounces in use (the vector keeps its storage from batch to batch)
    bool deferBounces = true;
    DeferredBounce& newBounce();
};

// The pending photons of one light: start rays in shooting order.
class PhotonBatch {
  public:
    static constexpr int Capacity = 4096;

    PhotonBatch(PhotonMaps& maps, RenderWorkers& workers);

    // A light starts: its photons go to the workers until one of them draws from a shared generator.
    // A light whose start rays themselves draw from the bounce stream is shot on one thread.
    void beginLight(bool parallel) { serial_ = !parallel; }
    bool serial() const { return serial_; }
    bool empty() const { return count_ == 0; }

    void add(RenderContext& ctx, const Ray& ray, Color power, double pathLength, const PhotonPath& path);
    // Traces the pending photons and commits them in order.
    void flush(RenderContext& ctx);

  private:
    struct Pending {
        Ray ray;
        Color power;
        double pathLength = 0;
        PhotonPath path;
        PhotonRecord record;
        RenderStatistics stats;
        bool drew = false;
        std::uint64_t bounceStateBefore = 0;
    };
    void prepareContexts(const RenderContext& main);
    RenderContext& contextOf(int worker);
    // Runs body(index, context) for index 0..n-1 over the workers.
    template <class Body>
    void forEach(int n, const Body& body);
    void commit(RenderContext& ctx, Pending& p);
    void replay(const PhotonPath& path, const std::vector<PhotonEvent>& events, const PhotonRecord& record,
                RenderContext& ctx);

    PhotonMaps& maps_;
    RenderWorkers& workers_;
    RenderContext own_;  // worker 0's context: the calling thread's own stays as one thread leaves it
    std::vector<Pending> pending_;
    int count_ = 0;
    bool serial_ = false;
    std::vector<std::pair<int, int>> bounceList_;  // (photon, bounce) pairs of the second step
};

}  // namespace quorva
