// What one work unit (a row of pixels, a row of the primary grid) does with the irradiance cache when a
// frame renders on several workers.
//
// One worker renders its unit against the records there are, its own included, while the units before
// it may still be adding theirs. Every record carries its unit and its place in the unit, so that a
// lookup sees only what was made before it in the order of one worker; every lookup is written down.
// When the unit's turn comes - all units before it are final - the lookups are checked against what
// changed since each was made: if a record of an earlier unit that a lookup would have used arrived (or
// went) after it, the unit is rendered again, now against final records only, and what it makes then
// replaces what it made before (a record made the same again stays, so that the units after it need not
// follow). Then its records are final: they are counted and written to the cache file in that order.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec3.h"
#include "gi/irradiance_octree.h"
#include "gi/irradiance_record.h"

namespace quorva {

// Each worker's unit is written at every lookup: on cache lines of its own, so that the workers' units,
// kept side by side, do not slow each other down.
class alignas(64) IrradianceUnit {
  public:
    // What a lookup's result decided. Its value, blended into a pixel or a record; or, at the top of a
    // primary grid ray, whose colour nobody keeps, only whether a record was computed (`found` records
    // qualified, `enough` would have been enough); or, there after the record was made, nothing.
    enum class Use : unsigned char { Value, Decision, None };
    struct Lookup {
        Vec3 P, n;
        double reach = 0;   // the error bound of the lookup's level
        std::size_t seen = 0;  // the changes of the cache the lookup saw
        int level = 1;
        Use use = Use::Value;
        int found = 0, enough = 0;
    };
    struct Made {
        IrradianceRecord record;
        OctreeCell cell;
        RecordKey key = 0;
        bool withdrawn = false;  // (records of the first pass) replaced on the second
    };

    std::uint64_t unit = 0;
    int row = -1;            // the image row the unit renders (-1: a row of the primary grid)
    int slot = 0;            // the worker's reader slot of the cache's lock
    std::uint32_t next = 0;  // records made so far in this pass
    bool again = false;      // the second pass: rendered against final records
    std::vector<Lookup> lookups;
    std::vector<Made> made;
    std::vector<Made> before;  // on the second pass: what the first one made
    // What the pixel loop hands from this row to the next (the anti-aliasing loops' shared corners), set
    // before the unit commits; kept with the row's records beside a partial image.
    std::vector<unsigned char> handOver;
    long computed = 0, reused = 0;

    RecordKey key(std::uint32_t index) const { return unit << 32 | index; }
    // A lookup sees the records of the units before and those this pass has made.
    RecordKey below() const { return key(next); }
};

}  // namespace quorva
