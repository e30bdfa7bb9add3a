// Lookup, lookup-or-compute and the computation of a record by hemisphere sampling.
#include "gi/irradiance_cache.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "diagnostics/diagnostics.h"
#include "gi/hemisphere_directions.h"
#include "gi/irradiance_blend.h"
#include "gi/irradiance_file.h"
#include "gi/photon_importance.h"
#include "gi/photon_map.h"
#include "gi/row_records.h"
#include "trace/frame.h"
#include "trace/quasi_random.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

std::uint64_t mix(std::uint64_t h, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    h ^= bits + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

// The scramble a record's quasi-random stream restarts from: what the record is made of, nothing else.
std::uint32_t recordScramble(const Vec3& P, const Vec3& n, int level) {
    std::uint64_t h = static_cast<std::uint64_t>(level) * 0x2545f4914f6cdd1dULL;
    for (int k = 0; k < 3; ++k) h = mix(h, P[k]);
    for (int k = 0; k < 3; ++k) h = mix(h, n[k]);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// Blending count, sample count and distance factor of a bounce level: deeper levels use fewer and
// longer rays and are satisfied by fewer records.
int blendingAt(int K, int level) {
    return level > 2 ? 1 : level > 1 ? 2 : K;
}

// How far the photons that guide a record may lie from it: the irradiance map's own gather radius.
double guideRadius(const PhotonMap& map) {
    return map.gatherRadius > 0 ? map.gatherRadius : 1e7;
}

}  // namespace

IrradianceConfig irradianceConfig(const Frame& scene) {
    const IrradianceSettings& s = scene.options.irradiance;
    IrradianceConfig c;
    // The statements bound these; a binary scene's records are bounded here as well.
    const double a = boundedMaxError(s.maxError);
    c.maxError = a == -1 ? 0.8 : a;
    c.samples = boundedCount(s.samples, 5, MaxIrradianceSamples);
    c.maxDistance = s.maxDistance > 0 ? std::fmin(s.maxDistance, MaxIrradianceDistance) : 0;
    c.automaticDistance = c.maxDistance == 0;
    if (c.automaticDistance)
        c.maxDistance = 0.2 * length(scene.camera.location - scene.camera.pointOfInterest);
    c.distribution = s.distribution;
    c.bounceLevel = s.bounceLevel;
    c.blending = s.blendingArea < 1 ? 1 : (s.blendingArea > 19 ? 19 : s.blendingArea);
    c.camera = scene.camera.location;
    if (scene.background.skyLightOn && s.skySamples > 0) {
        c.skyLight = true;
        c.samples = boundedCount(s.skySamples, 5, MaxIrradianceSamples);
        if (s.skyScale > 0) c.scale = s.skyScale;
    }
    return c;
}

IrradianceCache::IrradianceCache(const IrradianceConfig& config) : config_(config) {
    if (config_.distribution == 6) {
        // One table per bounce level, for the sample count of that level.
        int n = config_.samples;
        for (int level = 1; level <= config_.bounceLevel; ++level) {
            if (level == 2) n /= 3;
            if (level == 3) n /= 2;
            nRooksTable(n < 5 ? 5 : n);
        }
    }
}

IrradianceCache::~IrradianceCache() {
    if (save_) std::fclose(save_);
}

bool IrradianceCache::openSaveFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wbx");
    if (!f) return false;
    save_ = f;
    savePath_ = path;
    return true;
}

bool IrradianceCache::loadFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    ReadIrradianceFile(f, *this, path);
    std::fclose(f);
    loaded_ = true;
    return true;
}

std::size_t IrradianceCache::recordCount() const {
    ReadMostlyLock::Shared lock(mutex_, 0);
    return octree_.size();
}

double IrradianceCache::meanPrimaryIrradiance() const {
    ReadMostlyLock::Shared lock(mutex_, 0);
    return primaryCount_ ? primarySum_ / primaryCount_ : 0;
}

const std::vector<int>& IrradianceCache::nRooksTable(int n, int slot) {
    {
        ReadMostlyLock::Shared lock(mutex_, slot);
        auto it = nRooks_.find(n);
        if (it != nRooks_.end()) return it->second;
    }
    std::vector<int> table = makeNRooksTable(n);
    std::unique_lock lock(mutex_);
    return nRooks_.try_emplace(n, std::move(table)).first->second;
}

int IrradianceCache::lookup(const Vec3& P, const Vec3& n, int level, double a, Color& result,
                            IrradianceUnit* unit) const {
    const double bound = a * std::ldexp(1.0, level - 1);
    IrradianceBlend blend(P, n, bound);
    IrradianceHits hits;
    ReadMostlyLock::Shared lock(mutex_, unit ? unit->slot : 0);
    // The octree has applied the tests that reject most records, distance and bend of the normal; for a
    // positive bound a record failing the bend fails the error bound of the blend anyway (dist / Re >= 0).
    octree_.forEachBatchWithin(
        P, n, level, bound, hits, [&blend](const IrradianceHits& h) { blend.add(h); },
        unit ? unit->below() : EveryRecord);
    if (unit && !unit->again) unit->lookups.push_back({P, n, bound, changes_.size(), level});
    if (blend.count() > 0) result = blend.value();
    return blend.count();
}

Color IrradianceCache::irradiance(RenderContext& ctx, const Vec3& P, const Vec3& n, int samples, int rayLevel,
                                  double weight) {
    const int level = ctx.irradianceDepth < 1 ? 1 : ctx.irradianceDepth;
    double a = config_.maxError * (ctx.primaryGrid ? GridErrorFactor : 1.0);
    if (weight < 0.25) a += 0.25 - weight;
    Color E;
    IrradianceUnit* const unit = ctx.irradianceUnit;
    const int q = lookup(P, n, level, a, E, unit);
    const int K = blendingAt(config_.blending, level);
    // At the top of a primary grid ray the colour is not kept: only whether a record is made counts.
    const bool colourKept = !ctx.primaryGrid || ctx.irradianceDepth > 1;
    if (unit && !unit->again && !colourKept) {
        IrradianceUnit::Lookup& logged = unit->lookups.back();
        logged.use = IrradianceUnit::Use::Decision;
        logged.found = q;
        logged.enough = K;
    }
    if (q < K && (ctx.primaryGrid || q == 0 || !loaded_)) {
        computeRecord(ctx, P, n, samples, level, rayLevel, weight);
        lookup(P, n, level, a, E, unit);
        if (unit && !unit->again && !colourKept) unit->lookups.back().use = IrradianceUnit::Use::None;
        if (unit)
            ++unit->computed;
        else
            ++computed_;
    } else if (unit) {
        ++unit->reused;
    } else {
        ++reused_;
    }
    return E * config_.scale;
}

bool IrradianceCache::computeRecord(RenderContext& ctx, const Vec3& P, const Vec3& n, int samples, int level,
                                    int rayLevel, double weight) {
    if (!std::isfinite(P.x) || !std::isfinite(P.y) || !std::isfinite(P.z)) return false;
    int N = samples > 0 ? samples : config_.samples;
    const double cameraDistance = length(config_.camera - P);
    double D = config_.automaticDistance ? 0.2 * cameraDistance : config_.maxDistance;
    double m = config_.spacing;
    if (level > 1) {
        m *= 2;
        D *= 2;
        N /= 3;
    }
    if (level > 2) {
        D *= 2;
        N /= 2;
    }
    if (N < 5) N = 5;
    if (!(D > 0)) return false;

    // Tangent frame: the auxiliary axis is never nearly parallel to n.
    const Vec3 aux = std::fabs(std::fabs(n.z) - 1) < 0.1 ? Vec3{1, 0, 0} : Vec3{0, 0, 1};
    const Vec3 tu = normalized(cross(aux, n));
    const Vec3 tv = normalized(cross(n, tu));

    const std::vector<int>* table =
        config_.distribution == 6 ? &nRooksTable(N, ctx.irradianceUnit ? ctx.irradianceUnit->slot : 0) : nullptr;
    QuasiRandom pairs(2);
    pairs.restart(recordScramble(P, n, level));

    // With enough irradiance photons near P the samples follow their importance table, each weighted
    // by the uniform density over the table's, and the mean of the weighted colours stays an unbiased
    // estimate. The table is this record's own (a deeper record made while tracing builds another),
    // kept on the stack: nothing is allocated per record or sample.
    PhotonImportance importance;
    const bool guided =
        guide_ && guideDirections_ &&
        importance.build(*guide_, *guideDirections_, ctx.photonHeap, guideRadius(*guide_), P, tu, tv, n);

    Color sum;
    double inverseSum = 0;
    double gradInverse = 0, gradDistance = 0;
    int gradCount = 0;
    double gradient[3][3] = {};
    double nearest = 1e300;
    Vec3 nearDirection = n;

    const int savedDepth = ctx.irradianceDepth;
    ctx.irradianceDepth = level + 1;
    for (int k = 0; k < N; ++k) {
        Vec3 dir;
        double w = 1;  // the sample's weight
        bool above = false;
        for (int attempt = 0; attempt < 4 && !above; ++attempt) {
            Vec3 local;
            if (table) {
                double r1, r2;
                pairs.nextPair(r1, r2);
                const int i = k % N;
                local = cosineDirection((i + r1) / N, ((*table)[i] + r2) / N);
            } else {
                local = fixedDirection(config_.distribution, k, N);
            }
            if (guided) {
                double xi, u;
                hemispherePoint(local, xi, u);
                importance.draw(xi, u, w);
                local = cosineDirection(xi, u);
            }
            dir = normalized(tu * local.x + tv * local.y + n * local.z);
            above = dot(dir, n) > 0;
        }
        if (!above) {
            dir = n;
            w = guided ? 1 / importance.density(1, 0) : 1;
        }

        Color colour;
        double alpha = 0;
        traceRay(ctx, rayLevel + 1, Ray{P, dir}, colour, alpha, &ctx.stats.irradianceRays, weight);
        double t = ctx.lastTraceDistance;
        if (SampleColourClamp > 0 && colour.maxChannel() > SampleColourClamp)
            colour *= SampleColourClamp / colour.maxChannel();
        if (!(t > 0)) t = 1e-9;

        if (t < 10 * D) {
            gradInverse += 1 / t;
            gradDistance += t;
            ++gradCount;
            for (int axis = 0; axis < 3; ++axis) {
                const double c = dir[axis] * std::fabs(dir[axis]) / t * w;
                for (int ch = 0; ch < 3; ++ch) gradient[axis][ch] += c * colour[ch];
            }
        }
        if (t > D) t = D;
        if (t < nearest) {
            nearest = t;
            nearDirection = dir;
        }
        sum += colour * w;
        inverseSum += 1 / t;
    }
    ctx.irradianceDepth = savedDepth;

    IrradianceRecord r;
    r.position = P;
    r.normal = n;
    r.irradiance = sum / N;
    double R = N / inverseSum;
    if (!(R > D * 0.0001)) return false;
    if (R < m * cameraDistance) R = m * cameraDistance;
    r.radius = static_cast<float>(std::fmin(R, 1e30));  // a camera far out of range still gives a finite R
    r.nearRadius = static_cast<float>(nearest);
    r.nearDirection = nearDirection;
    r.level = static_cast<std::int16_t>(level);
    if (gradCount > 10) {
        const double f = 1 / ((gradDistance / gradCount) * gradInverse);
        for (int axis = 0; axis < 3; ++axis)
            for (int ch = 0; ch < 3; ++ch) r.gradient[axis][ch] = static_cast<float>(gradient[axis][ch] * f);
    }
    insert(r, ctx.irradianceUnit);
    return true;
}

OctreeCell IrradianceCache::cellOf(const IrradianceRecord& record) const {
    const double reach = config_.maxError * record.radius;
    const Vec3 half{reach, reach, reach};
    return cellForCube(record.position - half, record.position + half);
}

void IrradianceCache::recordChange(const IrradianceRecord& record, RecordKey key, bool withdrawn) {
    changes_.push_back({record.position, record.normal, record.radius, key, record.level, withdrawn});
}

// A record is final: the mean of the first grid and the checksum count it.
void IrradianceCache::recordFinal(const IrradianceRecord& record) {
    std::uint64_t h = checksum_ ^ static_cast<std::uint64_t>(record.level);
    for (int k = 0; k < 3; ++k) {
        h = mix(h, record.position[k]);
        h = mix(h, record.normal[k]);
        h = mix(h, record.irradiance[k]);
        h = mix(h, record.nearDirection[k]);
        for (int c = 0; c < 3; ++c) h = mix(h, record.gradient[k][c]);
    }
    h = mix(h, record.radius);
    checksum_ = mix(h, record.nearRadius);
    if (record.level == 1) {
        primarySum_ += (record.irradiance.r + record.irradiance.g + record.irradiance.b) / 3;
        ++primaryCount_;
    }
}

namespace {

template <typename T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether two records hold the same values, bit for bit.
bool sameRecord(const IrradianceRecord& a, const IrradianceRecord& b) {
    return sameBits(a.position, b.position) && sameBits(a.normal, b.normal) && sameBits(a.gradient, b.gradient) &&
           sameBits(a.irradiance, b.irradiance) && sameBits(a.radius, b.radius) &&
           sameBits(a.nearRadius, b.nearRadius) && sameBits(a.nearDirection, b.nearDirection) &&
           a.level == b.level;
}

}  // namespace

void IrradianceCache::insert(const IrradianceRecord& record, IrradianceUnit* unit) {
    const OctreeCell cell = cellOf(record);
    std::unique_lock lock(mutex_);
    if (!unit) {
        recordFinal(record);
        if (save_ && !WriteIrradianceRecord(record, save_)) saveFailed();
        const RecordKey key = serialKey_++;
        recordChange(record, key);
        octree_.insert(std::make_unique<IrradianceRecord>(record), cell, key);
        return;
    }
    const std::uint32_t index = unit->next++;
    const RecordKey key = unit->key(index);
    if (unit->again && index < unit->before.size()) {
        IrradianceUnit::Made& old = unit->before[index];
        // Made the same again: the record stays where it is, and nothing changed for later units.
        if (sameRecord(old.record, record)) {
            unit->made.push_back(old);
            return;
        }
        if (octree_.withdraw(old.cell, old.record.level, old.key)) recordChange(old.record, old.key, true);
        old.withdrawn = true;
    }
    unit->made.push_back({record, cell, key, false});
    recordChange(record, key);
    octree_.insert(std::make_unique<IrradianceRecord>(record), cell, key);
}

std::uint64_t IrradianceCache::finalChecksum() const {
    ReadMostlyLock::Shared lock(mutex_, 0);
    return checksum_;
}

std::uint64_t IrradianceCache::reserveUnits(int count) {
    std::unique_lock lock(mutex_);
    const std::uint64_t first = (serialKey_ >> 32) + 1;
    serialKey_ = (first + static_cast<std::uint64_t>(count > 0 ? count : 0)) << 32;
    return first;
}

void IrradianceCache::beginUnit(IrradianceUnit& unit, std::uint64_t number) const {
    unit.unit = number;
    unit.next = 0;
    unit.again = false;
    unit.lookups.clear();
    unit.made.clear();
    unit.before.clear();
    unit.handOver.clear();
    unit.computed = unit.reused = 0;
}

bool IrradianceCache::unitConflicts(const IrradianceUnit& unit) const {
    if (unit.lookups.empty()) return false;
    const RecordKey first = unit.key(0);
    // Per decision lookup, how many records that may qualify came and went unseen.
    std::vector<int> came(unit.lookups.size()), went(unit.lookups.size());
    ReadMostlyLock::Shared lock(mutex_, unit.slot);
    // The lookups saw ever more changes: change i is new to the lookups, from the first, that saw no
    // more than i changes.
    for (std::size_t i = unit.lookups.front().seen; i < changes_.size(); ++i) {
        const Change& c = changes_[i];
        if (c.key >= first) continue;  // this unit's own, or a later unit's
        for (std::size_t k = 0; k < unit.lookups.size() && unit.lookups[k].seen <= i; ++k) {
            const IrradianceUnit::Lookup& q = unit.lookups[k];
            if (q.level != c.level || q.use == IrradianceUnit::Use::None) continue;
            const Vec3 d = q.P - c.position;
            const double dist2 = d.x * d.x + d.y * d.y + d.z * d.z;
            const double r = c.radius * q.reach;
            // The octree's tests of distance and bend, with a margin: a record they might pass counts.
            if (dist2 >= r * r * (1 + 1e-9)) continue;
            if (q.reach > 0 && std::fabs(1 - dot(q.n, c.normal)) > IrradianceOctree::bendLimit(q.reach) * (1 + 1e-9))
                continue;
            if (q.use == IrradianceUnit::Use::Value) return true;
            ++(c.withdrawn ? went : came)[k];
        }
    }
    // A decision stands while the count stays on the same side of enough, whichever records came or went.
    for (std::size_t k = 0; k < unit.lookups.size(); ++k) {
        const IrradianceUnit::Lookup& q = unit.lookups[k];
        if (q.use != IrradianceUnit::Use::Decision) continue;
        const bool computed = q.found < q.enough;
        if (computed ? q.found + came[k] >= q.enough : q.found - went[k] < q.enough) return true;
    }
    return false;
}

void IrradianceCache::restartUnit(IrradianceUnit& unit) const {
    unit.before = std::move(unit.made);
    unit.made.clear();
    unit.next = 0;
    unit.again = true;
    unit.lookups.clear();
    unit.computed = unit.reused = 0;
}

void IrradianceCache::commitUnit(IrradianceUnit& unit) {
    std::unique_lock lock(mutex_);
    ++unitsCommitted_;
    if (unit.again) {
        ++unitsRedone_;
        for (std::size_t i = unit.next; i < unit.before.size(); ++i) {
            IrradianceUnit::Made& old = unit.before[i];
            if (old.withdrawn) continue;
            if (octree_.withdraw(old.cell, old.record.level, old.key)) recordChange(old.record, old.key, true);
            old.withdrawn = true;
        }
    }
    for (const IrradianceUnit::Made& m : unit.made) {
        recordFinal(m.record);
        if (save_ && !WriteIrradianceRecord(m.record, save_)) saveFailed();
    }
    if (rows_ && unit.row >= 0) rows_->writeRow(unit.row, unit.made, unit.handOver);
    computed_ += unit.computed;
    reused_ += unit.reused;
}

void IrradianceCache::writeScaleItem() {
    std::unique_lock lock(mutex_);
    if (save_ && !WriteIrradianceScale(config_.scale, save_)) saveFailed();
}

void IrradianceCache::writeGridCompleteItem() {
    std::unique_lock lock(mutex_);
    if (save_ && !WriteIrradianceGridComplete(save_)) saveFailed();
}

void IrradianceCache::saveFailed() {
    // The file keeps the complete items written before; later runs load those and say the last is cut.
    std::fclose(save_);
    save_ = nullptr;
    fatal("Failed to write irradiance cache file %s", savePath_.c_str());
}

}  // namespace quorva
