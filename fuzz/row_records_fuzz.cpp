// Fuzz target: bytes read as the records kept beside a partial image ("name.tga.records"), with the size,
// loop and checksum its own header names. Any input must end with the rows read whole so far: no crash, hang or
// read past the end; the records read go into a cache and are looked up.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "diagnostics/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "gi/irradiance_cache.h"
#include "gi/row_records.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silenceDiagnostics();
    if (size < 28) return 0;
    std::int32_t width, height, loop;
    std::uint64_t checksum;
    std::memcpy(&width, data + 8, 4);
    std::memcpy(&height, data + 12, 4);
    std::memcpy(&loop, data + 16, 4);
    std::memcpy(&checksum, data + 20, 8);
    RowRecords rows;
    if (!parseRowRecords(data, size, width, height, loop, checksum, rows)) return 0;
    if (rows.end > size) __builtin_trap();
    IrradianceCache cache(IrradianceConfig{});
    for (const RowRecords::Row& row : rows.rows)
        for (const IrradianceRecord& r : row.records) cache.insert(r);
    Color E;
    cache.lookup({0, 0, 0}, {0, 0, 1}, 1, 0.8, E);
    return 0;
}
