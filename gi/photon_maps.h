// The photon maps of one frame: built (or loaded) before the pixels render and read-only afterwards.
// Shading reaches them through the render context as its global-illumination provider; the gather
// heap is the context's own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "gi/photon.h"
#include "gi/photon_map.h"
#include "trace/global_illumination.h"

namespace quorva {

struct Frame;
class Light;
class Shape;
struct RenderStatistics;
struct CausticTarget;
class RenderWorkers;
struct LightSample;
struct PhotonRecord;
class PhotonBatch;

// The state a photon carries along its path.
struct PhotonPath {
    const Light* light = nullptr;
    const Shape* target = nullptr;  // caustic photons: the target shot at
    bool irradiance = false;        // an irradiance photon
    bool bounced = false;           // irradiance: its diffuse bounce is behind it
    bool specular = false;          // a mirror or glass passed it on
    int dispersionIndex = 0;        // 1..count once a dispersive surface split it
    int dispersionCount = 0;
    bool inside = false;  // the segment ahead runs inside a transmitting material
    Color ktColour;       // that material's transmission colour and absorption
    double absorption = 0;
};

// Where the maps come from and go to this frame.
struct PhotonFileRequest {
    bool load = false;
    std::string loadPath;
    bool save = false;
    std::string savePath;
};

class PhotonMaps : public GlobalIllumination {
  public:
    explicit PhotonMaps(const Frame& scene);
    ~PhotonMaps() override;

    // Loads the maps, or shoots, balances and (when asked) saves them; prints the progress messages.
    // False when Escape stopped the shooting (the render stops too).
    bool build(RenderContext& ctx, const PhotonFileRequest& files);
    // Shoots the caustic photons of every light at every target (not balanced yet).
    void shootCaustics(RenderContext& ctx);

    PhotonMap caustic, media, irradianceMap;
    // One light-target grid shoots at most this many photons; a finer one is widened. Callers that
    // must bound their time (the fuzz target) lower it.
    double gridPhotonLimit = 16.0 * 1024 * 1024;
    // The pool the photons are traced and the maps balanced on; null (or one worker) keeps all of it
    // on the calling thread. The maps are the same either way.
    RenderWorkers* workers = nullptr;
    const PhotonDirections& directions() const { return directions_; }

    // The irradiance provider (the irradiance cache) shading's indirect term goes to; null gives none.
    GlobalIllumination* irradianceSource = nullptr;

    Color irradiance(RenderContext& ctx, const Vec3& P, const Vec3& N, int samples, int level,
                     double weight) override;
    bool hasPhotonMaps() const override { return caustic.count() > 0; }
    Color caustics(RenderContext& ctx, const ShadePoint& at, const Vec3& N, double opacity,
                   const SurfaceSample& sample) override;

    Color mediaPhotons(RenderContext& ctx, const Vec3& point, const Vec3& direction) override;
    bool hasMediaPhotons() const override { return media.count() > 0; }

    // Caustic irradiance at P for the normal N (photons arriving from N's side only).
    Color causticIrradiance(RenderContext& ctx, const Vec3& P, const Vec3& N) const;

  private:
    // Caustic photons of one light at one target; false when a key ended this light's photons.
    bool shootAt(RenderContext& ctx, const Light& light, const CausticTarget& target);
    // The rings of photon directions from `origin` over the cone of the target's bounding sphere.
    bool shootCone(RenderContext& ctx, const Light& light, const Vec3& origin, const Vec3& centre, double r,
                   double spacing, double share, double powerFactor, const Shape& excluded);
    void estimateRadii(RenderContext& ctx);

    const Frame& scene_;
    PhotonDirections directions_;
    std::uint64_t jitterState_ = 0;
    double jitter_ = 0;
    bool escaped_ = false;
    bool mediaPhotons_ = false;     // the medium is on: photon rays from media lights store media photons
    std::uint32_t mediaState_ = 1;  // the free-path generator, restarted from 1 every frame
    double drawJitter();

    // Irradiance photons and the state a photon carries along its path (gi/irradiance_photons.cpp,
    // gi/photon_trace.cpp).
  public:
    // Shoots every light's share of the irradiance photons over its whole emission; a photon bounces
    // once off a diffuse surface and is stored where it next meets one (not balanced yet).
    void shootIrradiance(RenderContext& ctx);

  private:
    friend class PhotonBatch;
    using Path = PhotonPath;
    // With a record the photon's stores, media segments and diffuse bounces are kept there in path order
    // for PhotonBatch to commit; without one they are made at once.
    void followPhoton(RenderContext& ctx, const Ray& ray, Color power, int level, double mediumIndex,
                      double pathLength, const Path& path, PhotonRecord* record = nullptr);
    // A light starts shooting: on the workers when `parallel` and a pool is there, else on this thread.
    void beginPhotonLight(RenderContext& ctx, bool parallel);
    // Traces and commits the photons still pending.
    void flushPhotons(RenderContext& ctx);
    // Shoots one photon through the batch (or at once when it traces on this thread).
    void emitPhoton(RenderContext& ctx, const Ray& ray, Color power, double pathLength, const Path& path);
    // The light's sample at P, drawn in shooting order (a lighting function may draw from the context's
    // generators, which the photons already in the batch must have drawn from first).
    void lightAtInOrder(RenderContext& ctx, const Light& light, const Vec3& P, LightSample& out);
    // A media photon where a free path drawn from the frame's stream ends before `limit` on the ray.
    void storeMediaPhoton(const Light& light, const Color& power, const Ray& ray, double limit,
                          double pathLength);
    // The direction of a diffuse bounce about N above the geometric normal g (two bounce draws).
    Vec3 bounceDirection(const Vec3& N, const Vec3& g);
    bool shootIrradianceFrom(RenderContext& ctx, const Light& light, int photons);
    double drawBounce();
    std::uint64_t bounceState_ = 0;
    std::unique_ptr<PhotonBatch> batch_;
};

}  // namespace quorva
