// The records kept beside a partial image: what a resumed render loads, and what it refuses - another
// frame's file, rows missing before the first one rendered again, a file cut or damaged inside a row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "gi/irradiance_cache.h"
#include "gi/row_records.h"
#include "support/run_program.h"

namespace quorva {
namespace {

IrradianceUnit::Made made(double x) {
    IrradianceUnit::Made m;
    m.record.position = {x, 0, 0};
    m.record.normal = {0, 0, 1};
    m.record.irradiance = {0.5, 0.25, 0.125};
    m.record.radius = 1;
    m.record.nearRadius = 0.5f;
    m.record.nearDirection = {0, 1, 0};
    m.record.gradient[1][2] = 0.03f;
    return m;
}

struct RowRecordsTest : ::testing::Test {
    testing::TemporaryFolder dir;
    std::string path = dir.file("s.tga.records");

    // Rows 0..3, two records each but none in row 2; each row hands on its number.
    void writeRows() {
        auto file = RowRecordFile::create(path, 40, 30, 7, 1234);
        ASSERT_NE(file, nullptr);
        for (int row = 0; row < 4; ++row)
            file->writeRow(row, row == 2 ? std::vector<IrradianceUnit::Made>{} : std::vector{made(row), made(row + 0.5)},
                           std::vector<unsigned char>(3, static_cast<unsigned char>(row)));
    }
    std::string bytes() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void rewrite(const std::string& data) const { std::ofstream(path, std::ios::binary) << data; }
};

TEST_F(RowRecordsTest, ResumeLoadsTheRowsAboveExactlyAndDropsTheRest) {
    writeRows();
    IrradianceCache cache{IrradianceConfig{}};
    std::vector<unsigned char> handOver;
    auto file = RowRecordFile::resume(path, 40, 30, 7, 1234, 0, 3, cache, handOver);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(cache.recordCount(), 4u);  // rows 0, 1 (and the empty row 2)
    EXPECT_EQ(handOver, std::vector<unsigned char>(3, 2));
    // The record comes back bit for bit: the gradient, which a cache file does not keep, too.
    RowRecords parsed;
    const std::string data = bytes();
    ASSERT_TRUE(parseRowRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size(), 40, 30, 7, 1234,
                                parsed));
    ASSERT_EQ(parsed.rows.size(), 3u);  // row 3 was dropped for the rows rendered again
    EXPECT_EQ(parsed.rows[1].records[1].position.x, 1.5);
    EXPECT_EQ(parsed.rows[1].records[1].gradient[1][2], 0.03f);
    // Rows written next follow on.
    file->writeRow(3, {made(9)}, {});
    file.reset();
    const std::string more = bytes();
    ASSERT_TRUE(parseRowRecords(reinterpret_cast<const unsigned char*>(more.data()), more.size(), 40, 30, 7, 1234,
                                parsed));
    EXPECT_EQ(parsed.rows.size(), 4u);
}

TEST_F(RowRecordsTest, ForeignIncompleteOrDamagedFilesLoadNothing) {
    writeRows();
    const std::string good = bytes();
    IrradianceCache cache{IrradianceConfig{}};
    std::vector<unsigned char> handOver;
    // Another frame (checksum, loop or size): refused and removed.
    EXPECT_EQ(RowRecordFile::resume(path, 40, 30, 7, 999, 0, 2, cache, handOver), nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));
    rewrite(good);
    EXPECT_EQ(RowRecordFile::resume(path, 40, 30, 8, 1234, 0, 2, cache, handOver), nullptr);
    // Cut inside row 1: row 0 is whole, but the run resumed at row 2 needs row 1 too.
    rewrite(good.substr(0, good.size() / 3));
    EXPECT_EQ(RowRecordFile::resume(path, 40, 30, 7, 1234, 0, 2, cache, handOver), nullptr);
    // The rows must start at the frame's first row.
    rewrite(good);
    EXPECT_EQ(RowRecordFile::resume(path, 40, 30, 7, 1234, 1, 2, cache, handOver), nullptr);
    EXPECT_EQ(cache.recordCount(), 0u);
    // A record that is not finite ends the rows before it.
    std::string damaged = good;
    const double nan = std::nan("");
    // Row 1 starts after the header (28 bytes) and row 0 (8, two records of 142, 4 and 3 bytes handed on).
    std::memcpy(&damaged[28 + 8 + 2 * 142 + 4 + 3 + 8], &nan, sizeof nan);
    RowRecords parsed;
    ASSERT_TRUE(parseRowRecords(reinterpret_cast<const unsigned char*>(damaged.data()), damaged.size(), 40, 30, 7,
                                1234, parsed));
    EXPECT_EQ(parsed.rows.size(), 1u);
}

}  // namespace
}  // namespace quorva
