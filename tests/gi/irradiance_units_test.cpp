// Work units sharing one irradiance cache: a lookup sees only what one worker would have made before it,
// and a unit is told to render again exactly when a record it would have used came or went later.
#include <gtest/gtest.h>

#include "gi/irradiance_cache.h"

namespace quorva {
namespace {

IrradianceRecord near(const Vec3& P, float R = 1) {
    IrradianceRecord r;
    r.position = P;
    r.normal = {0, 0, 1};
    r.irradiance = {0.5, 0.4, 0.3};
    r.radius = r.nearRadius = R;
    r.nearDirection = {0, 0, 1};
    return r;
}

struct Units : ::testing::Test {
    IrradianceCache cache{IrradianceConfig{}};
    IrradianceUnit above, row, below;
    const Vec3 P{0, 0, 0}, up{0, 0, 1};

    Units() {
        const std::uint64_t first = cache.reserveUnits(3);
        cache.beginUnit(above, first);
        cache.beginUnit(row, first + 1);
        cache.beginUnit(below, first + 2);
    }
    int look(IrradianceUnit& unit) {
        Color E;
        return cache.lookup(P, up, 1, 0.8, E, &unit);
    }
};

TEST_F(Units, LateRecordsOfEarlierUnitsAreConflictsAndOthersAreNot) {
    cache.insert(near({0.1, 0, 0}), &above);  // before the row's lookup: seen, no conflict
    cache.insert(near({0.2, 0, 0}), &below);  // a later unit's: never seen
    EXPECT_EQ(look(row), 1);
    EXPECT_FALSE(cache.unitConflicts(row));
    cache.insert(near({50, 0, 0}), &above);  // too far to matter
    cache.insert(near({0, 0.1, 0}, 1), &row);  // the row's own
    EXPECT_FALSE(cache.unitConflicts(row));
    cache.insert(near({0, -0.1, 0}), &above);  // would have been used
    EXPECT_TRUE(cache.unitConflicts(row));
    // Records made before a unit starts (and loaded ones) are seen by every unit.
    EXPECT_EQ(cache.recordCount(), 5u);
}

TEST_F(Units, SecondPassKeepsWhatItMakesAgainAndWithdrawsTheRest) {
    cache.insert(near({0.1, 0, 0}), &above);
    cache.insert(near({0.3, 0, 0}), &above);
    EXPECT_EQ(look(row), 2);
    // The unit above renders again and makes its first record the same: nothing changed for the row.
    cache.restartUnit(above);
    cache.insert(near({0.1, 0, 0}), &above);
    EXPECT_FALSE(cache.unitConflicts(row));
    // ... but not its second, which is withdrawn when the unit is final: the row used it.
    cache.commitUnit(above);
    EXPECT_TRUE(cache.unitConflicts(row));
    EXPECT_EQ(cache.recordCount(), 1u);
    cache.restartUnit(row);
    EXPECT_EQ(look(row), 1);
    EXPECT_EQ(cache.unitsRedone(), 1);
}

// At the top of a primary grid ray only whether a record was made counts: records the lookup missed
// matter once they would have been enough.
TEST_F(Units, GridDecisionsStandWhileTooFewRecordsCame) {
    EXPECT_EQ(look(row), 0);
    IrradianceUnit::Lookup& decided = row.lookups.back();
    decided.use = IrradianceUnit::Use::Decision;
    decided.found = 0;
    decided.enough = 2;
    cache.insert(near({0.1, 0, 0}), &above);
    EXPECT_FALSE(cache.unitConflicts(row));
    cache.insert(near({-0.1, 0, 0}), &above);
    EXPECT_TRUE(cache.unitConflicts(row));
}

}  // namespace
}  // namespace quorva
