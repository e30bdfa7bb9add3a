// The irradiance cache of one frame: Monte Carlo hemisphere sampling at sparse points, kept as records in
// a loose octree and reused by weighted interpolation.
//
// This object is the one shared structure the rendering workers consult and update. Every lookup and
// every insert goes through it: lookups take the worker's own reader slot of the lock, inserts (and the
// N-Rooks tables made on first use) take every slot. A record depends only on its inputs - its quasi-random stream restarts
// from a scramble of P, the normal and the level - so a renderer that runs the primary grid and a record
// pass in a fixed order and then only looks up gets the same image whatever the number of workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gi/irradiance_octree.h"
#include "gi/irradiance_unit.h"
#include "gi/read_mostly_lock.h"
#include "trace/global_illumination.h"

namespace quorva {

struct Frame;
class RenderContext;
class PhotonMap;
class PhotonDirections;
class RowRecordFile;

// The settings of one frame, resolved from the options (and from SkyLight when the sky lights the scene).
struct IrradianceConfig {
    double maxError = 0.8;   // a
    int samples = 100;       // N
    double maxDistance = 0;  // D; 0 with automaticDistance
    bool automaticDistance = true;
    int distribution = 6;
    int bounceLevel = 3;
    int blending = 8;  // K
    double scale = IrradianceScale;
    double spacing = MinimumSpacingFactor;  // m
    Vec3 camera;                            // camera location
    bool skyLight = false;                  // Diffuse Solar Radiation: the sky lights the scene
};

IrradianceConfig irradianceConfig(const Frame& scene);

class IrradianceCache final : public GlobalIllumination {
  public:
    explicit IrradianceCache(const IrradianceConfig& config);
    ~IrradianceCache() override;
    IrradianceCache(const IrradianceCache&) = delete;
    IrradianceCache& operator=(const IrradianceCache&) = delete;

    const IrradianceConfig& config() const { return config_; }

    // Opens `path` for saving, creating it exclusively (an existing file is never overwritten); returns
    // false when that fails, saving stays off.
    bool openSaveFile(const std::string& path);
    // Loads a cache file; false when it does not exist. Prints the outcome.
    bool loadFile(const std::string& path);
    bool loaded() const { return loaded_; }
    bool saving() const { return save_ != nullptr; }
    bool gridComplete() const { return gridComplete_; }
    void markGridComplete() { gridComplete_ = true; }
    void setScale(double s) { config_.scale = s; }
    // Irradiance photons that steer the hemisphere samples of a record towards bright indirect light
    // where enough of them lie near its point; null (the default) samples without them.
    void guideWith(const PhotonMap* map, const PhotonDirections* directions) {
        guide_ = map;
        guideDirections_ = directions;
    }

    // Shading's request: the scaled irradiance at P for the normal n, computing a record when too few
    // qualify. `samples` < 0 takes the setting; `rayLevel` is the level of the ray that hit P.
    Color irradiance(RenderContext& ctx, const Vec3& P, const Vec3& n, int samples, int rayLevel,
                     double weight) override;
    bool hasPhotonMaps() const override { return false; }
    Color caustics(RenderContext&, const ShadePoint&, const Vec3&, double, const SurfaceSample&) override {
        return {};
    }

    // Weighted blend of the records of bounce `level` near P with error bound `a` (before the level
    // factor); returns the number of records used and leaves `result` alone when none qualifies. Inside
    // a work unit, only the records made before in the order of one worker count, and the lookup is
    // written down for the unit's check.
    int lookup(const Vec3& P, const Vec3& n, int level, double a, Color& result,
               IrradianceUnit* unit = nullptr) const;
    // Samples the hemisphere at P and inserts a record; false when none was made.
    bool computeRecord(RenderContext& ctx, const Vec3& P, const Vec3& n, int samples, int level, int rayLevel,
                       double weight);
    // Inserts a record (its cell from P +- a R with the current a) and writes it to an open save file.
    // A failed write is the fatal error "Failed to write irradiance cache file %s". A record made inside
    // a work unit is only kept until the unit is final (`commitUnit` writes it).
    void insert(const IrradianceRecord& record, IrradianceUnit* unit = nullptr);

    // Work units rendered on several workers (see gi/irradiance_unit.h). `reserveUnits` numbers `count`
    // units that follow every record made so far and returns the first number; `beginUnit` starts one.
    std::uint64_t reserveUnits(int count);
    // How many workers read the cache at once (a unit's `slot` is below it); only while none does.
    void setReaders(int count) { mutex_.setReaders(count); }
    void beginUnit(IrradianceUnit& unit, std::uint64_t number) const;
    // Whether a lookup of the unit missed, or used, a change that the units before it made afterwards;
    // every unit before it must be final.
    bool unitConflicts(const IrradianceUnit& unit) const;
    // Starts the unit's second pass, against final records.
    void restartUnit(IrradianceUnit& unit) const;
    // Makes the unit's records final: withdraws those of the first pass that the second did not make
    // again, counts them, writes them to an open save file. Units commit in their order.
    void commitUnit(IrradianceUnit& unit);
    // How many units were rendered twice, of how many committed.
    long unitsRedone() const { return unitsRedone_; }
    long unitsCommitted() const { return unitsCommitted_; }
    // Where the records of final image rows go (null: nowhere), beside a partial image.
    void writeRowsTo(RowRecordFile* file) { rows_ = file; }
    // A checksum of the final records so far, in their order.
    std::uint64_t finalChecksum() const;
    // Writes the scale item (253) or the grid-complete item (255) to an open save file (fatal on failure).
    void writeScaleItem();
    void writeGridCompleteItem();

    std::size_t recordCount() const;
    long computed() const { return computed_.load(); }
    long reused() const { return reused_.load(); }
    // Mean irradiance (all channels) of the level-1 records made so far; 0 when none.
    double meanPrimaryIrradiance() const;

  private:
    OctreeCell cellOf(const IrradianceRecord& record) const;
    void recordChange(const IrradianceRecord& record, RecordKey key, bool withdrawn = false);
    void recordFinal(const IrradianceRecord& record);
    const std::vector<int>& nRooksTable(int n, int slot = 0);
    [[noreturn]] void saveFailed();

    IrradianceConfig config_;
    mutable ReadMostlyLock mutex_;
    IrradianceOctree octree_;
    std::map<int, std::vector<int>> nRooks_;
    std::FILE* save_ = nullptr;
    std::string savePath_;
    const PhotonMap* guide_ = nullptr;
    const PhotonDirections* guideDirections_ = nullptr;
    bool loaded_ = false;
    bool gridComplete_ = false;
    double primarySum_ = 0;
    long primaryCount_ = 0;
    // Every record inserted or withdrawn, in that order: what a unit's lookups are checked against.
    struct Change {
        Vec3 position, normal;
        double radius = 0;
        RecordKey key = 0;
        int level = 1;
        bool withdrawn = false;
    };
    std::vector<Change> changes_;
    RecordKey serialKey_ = 0;  // the key of the next record made outside a unit
    long unitsRedone_ = 0;
    long unitsCommitted_ = 0;
    RowRecordFile* rows_ = nullptr;
    std::uint64_t checksum_ = 0;
    std::atomic<long> computed_{0};
    std::atomic<long> reused_{0};
};

}  // namespace quorva
