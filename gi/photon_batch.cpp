// The photon batch: start rays collected in shooting order, paths traced on the workers into records,
// records committed in order (gi/photon_batch.h states the rule).
#include "gi/photon_batch.h"

#include <algorithm>
#include <atomic>

#include "gi/photon_map.h"
#include "render/render_workers.h"
#include "shading/light.h"

namespace quorva {
namespace {

// The generators of a context that a scene expression or a light may draw from.
struct Generators {
    RandomGenerator random;
    std::uint32_t media = 0;
    QuasiRandom aperture, blur, shadow, areaLight, fbm;
};

Generators generatorsOf(const RenderContext& ctx) {
    return {ctx.random,        ctx.mediaRandom,    ctx.aperturePairs, ctx.blurPairs,
            ctx.shadowTriples, ctx.areaLightPairs, ctx.fbmTriples};
}

// Whether two generators are at the same point of their streams, told by what copies of them draw
// next (the generators keep their state to themselves): two draws from distinct points agree only by
// a chance of about 2^-60.
bool sameDraws(RandomGenerator a, RandomGenerator b) {
    return a.next() == b.next() && a.next() == b.next();
}
bool sameDraws(QuasiRandom a, QuasiRandom b) {
    return a.next() == b.next() && a.next() == b.next();
}

// Whether nothing drew from the generators of `ctx` since `before` was taken.
bool unchanged(const Generators& before, const RenderContext& ctx) {
    return before.media == ctx.mediaRandom && sameDraws(before.random, ctx.random) &&
           sameDraws(before.fbm, ctx.fbmTriples) && sameDraws(before.aperture, ctx.aperturePairs) &&
           sameDraws(before.blur, ctx.blurPairs) && sameDraws(before.shadow, ctx.shadowTriples) &&
           sameDraws(before.areaLight, ctx.areaLightPairs);
}

void restoreGenerators(RenderContext& ctx, const Generators& g) {
    ctx.random = g.random;
    ctx.mediaRandom = g.media;
    ctx.aperturePairs = g.aperture;
    ctx.blurPairs = g.blur;
    ctx.shadowTriples = g.shadow;
    ctx.areaLightPairs = g.areaLight;
    ctx.fbmTriples = g.fbm;
}

// Photons a worker takes from the batch at a time.
constexpr int Chunk = 16;

}  // namespace

DeferredBounce& PhotonRecord::newBounce() {
    if (bounceCount == static_cast<int>(bounces.size())) bounces.emplace_back();
    DeferredBounce& b = bounces[static_cast<std::size_t>(bounceCount++)];
    b.events.clear();
    b.drew = false;
    return b;
}

PhotonBatch::PhotonBatch(PhotonMaps& maps, RenderWorkers& workers) : maps_(maps), workers_(workers) {
    pending_.resize(Capacity);
}

RenderContext& PhotonBatch::contextOf(int worker) {
    return worker == 0 ? own_ : workers_.context(worker);
}

// Every worker traces with the calling thread's settings and modes, and nothing left from what it
// traced before (hit distances, shadow caches, level records).
void PhotonBatch::prepareContexts(const RenderContext& main) {
    for (int w = 0; w < workers_.count(); ++w) {
        RenderContext& c = contextOf(w);
        c.frame = main.frame;
        c.settings = main.settings;
        c.shadowCache.assign(main.shadowCache.size(), {});
        c.shadowCacheLights = main.shadowCacheLights;
        c.lightTables.resize(main.lightTables.size());
        c.lightTableTop = 0;
        c.startWorkUnit();
        c.anyHit = main.anyHit;
        c.particleCollision = main.particleCollision;
        c.shadowTest = main.shadowTest;
        c.eye = main.eye;
        c.hasEye = main.hasEye;
        c.dispersing = main.dispersing;
        c.dispersionIndex = main.dispersionIndex;
        c.dispersionCount = main.dispersionCount;
        c.blurDepth = main.blurDepth;
        c.irradianceDepth = main.irradianceDepth;
        c.photonPass = main.photonPass;
        c.primaryGrid = main.primaryGrid;
        c.globalIllumination = main.globalIllumination;
        c.skyLightMode = main.skyLightMode;
    }
}

template <class Body>
void PhotonBatch::forEach(int n, const Body& body) {
    std::atomic<int> next{0};
    workers_.run([&](int worker) {
        RenderContext& c = contextOf(worker);
        for (;;) {
            const int first = next.fetch_add(Chunk, std::memory_order_relaxed);
            if (first >= n) return;
            const int last = std::min(n, first + Chunk);
            for (int i = first; i < last; ++i) body(i, c);
        }
    });
}

void PhotonBatch::add(RenderContext& ctx, const Ray& ray, Color power, double pathLength,
                      const PhotonPath& path) {
    Pending& p = pending_[static_cast<std::size_t>(count_++)];
    p.ray = ray;
    p.power = power;
    p.pathLength = pathLength;
    p.path = path;
    if (count_ == Capacity) flush(ctx);
}

void PhotonBatch::flush(RenderContext& ctx) {
    const int n = count_;
    if (n == 0) return;
    count_ = 0;
    prepareContexts(ctx);
    // 1. The paths up to their diffuse bounces.
    forEach(n, [this](int i, RenderContext& c) {
        Pending& p = pending_[static_cast<std::size_t>(i)];
        p.record.events.clear();
        p.record.bounceCount = 0;
        p.record.deferBounces = true;
        c.stats = {};
        const Generators before = generatorsOf(c);
        maps_.followPhoton(c, p.ray, p.power, 0, 1, p.pathLength, p.path, &p.record);
        p.stats = c.stats;
        p.drew = !unchanged(before, c);
    });
    int cut = n;
    for (int i = 0; i < n; ++i)
        if (pending_[static_cast<std::size_t>(i)].drew) {
            cut = i;
            break;
        }
    // 2. The bounce directions in photon order, then the branches after them.
    bounceList_.clear();
    for (int i = 0; i < cut; ++i) {
        Pending& p = pending_[static_cast<std::size_t>(i)];
        p.bounceStateBefore = maps_.bounceState_;
        for (int k = 0; k < p.record.bounceCount; ++k) {
            DeferredBounce& b = p.record.bounces[static_cast<std::size_t>(k)];
            b.direction = maps_.bounceDirection(b.N, b.g);
            bounceList_.push_back({i, k});
        }
    }
    if (!bounceList_.empty())
        forEach(static_cast<int>(bounceList_.size()), [this](int j, RenderContext& c) {
            const auto [i, k] = bounceList_[static_cast<std::size_t>(j)];
            DeferredBounce& b =
                pending_[static_cast<std::size_t>(i)].record.bounces[static_cast<std::size_t>(k)];
            PhotonRecord branch;
            branch.deferBounces = false;
            branch.events.swap(b.events);
            branch.events.clear();
            c.stats = {};
            const Generators before = generatorsOf(c);
            ++c.stats.photonReflected;
            maps_.followPhoton(c, {b.point, b.direction}, b.carried, b.level, b.mediumIndex, -1, b.path,
                               &branch);
            b.events.swap(branch.events);
            b.stats = c.stats;
            b.drew = !unchanged(before, c);
        });
    int kept = cut;
    for (int i = 0; i < cut && kept == cut; ++i) {
        const PhotonRecord& r = pending_[static_cast<std::size_t>(i)].record;
        for (int k = 0; k < r.bounceCount; ++k)
            if (r.bounces[static_cast<std::size_t>(k)].drew) {
                kept = i;
                break;
            }
    }
    // The bounce stream goes back to where the first photon traced again left it.
    if (kept < cut) maps_.bounceState_ = pending_[static_cast<std::size_t>(kept)].bounceStateBefore;
    // 3. The records in photon order.
    for (int i = 0; i < kept; ++i) commit(ctx, pending_[static_cast<std::size_t>(i)]);
    if (kept == n) return;
    // A path drew from a shared generator: from that photon on this light shoots on this thread.
    serial_ = true;
    for (int i = kept; i < n; ++i) {
        const Pending& p = pending_[static_cast<std::size_t>(i)];
        maps_.followPhoton(ctx, p.ray, p.power, 0, 1, p.pathLength, p.path);
    }
}

void PhotonBatch::replay(const PhotonPath& path, const std::vector<PhotonEvent>& events,
                         const PhotonRecord& record, RenderContext& ctx) {
    for (const PhotonEvent& e : events) {
        switch (e.kind) {
            case PhotonEvent::Kind::Store:
                e.map->store(e.power, e.position, e.previous);
                break;
            case PhotonEvent::Kind::Media:
                maps_.storeMediaPhoton(*path.light, e.power, {e.position, e.previous}, e.limit, e.pathLength);
                break;
            case PhotonEvent::Kind::Bounce: {
                const DeferredBounce& b = record.bounces[static_cast<std::size_t>(e.bounce)];
                addStatistics(ctx.stats, b.stats);
                replay(b.path, b.events, record, ctx);
                break;
            }
        }
    }
}

void PhotonBatch::commit(RenderContext& ctx, Pending& p) {
    addStatistics(ctx.stats, p.stats);
    replay(p.path, p.record.events, p.record, ctx);
}

// PhotonMaps' side of the batch.

void PhotonMaps::beginPhotonLight(RenderContext& ctx, bool parallel) {
    flushPhotons(ctx);
    if (!batch_ && workers && workers->count() > 1) batch_ = std::make_unique<PhotonBatch>(*this, *workers);
    if (batch_) batch_->beginLight(parallel);
}

void PhotonMaps::flushPhotons(RenderContext& ctx) {
    if (batch_) batch_->flush(ctx);
}

void PhotonMaps::emitPhoton(RenderContext& ctx, const Ray& ray, Color power, double pathLength,
                            const Path& path) {
    if (batch_ && !batch_->serial())
        batch_->add(ctx, ray, power, pathLength, path);
    else
        followPhoton(ctx, ray, power, 0, 1, pathLength, path);
}

void PhotonMaps::lightAtInOrder(RenderContext& ctx, const Light& light, const Vec3& P, LightSample& out) {
    if (!batch_ || batch_->serial() || batch_->empty()) {
        light.lightAt(ctx, P, out);
        return;
    }
    const Generators before = generatorsOf(ctx);
    light.lightAt(ctx, P, out);
    if (unchanged(before, ctx)) return;
    // The light drew: the photons before it draw first (one thread would have traced them already).
    restoreGenerators(ctx, before);
    flushPhotons(ctx);
    light.lightAt(ctx, P, out);
}

}  // namespace quorva
