// The irradiance records each final row of a partial image made, kept beside the image ("name.tga" ->
// "name.tga.records") so that the render that finishes the image starts from exactly the records an
// uninterrupted one would have had: its pixels are then those of one uninterrupted run.
//
// Little-endian: the 8 bytes "QIRROWS1", int32 width and height, int32 the pixel loop (what its rows
// hand each other depends on: the anti-aliasing level and grid), uint64 the checksum of the records the
// rows started from (the primary grid or a loaded cache); then per row, written whole and flushed when
// the row is final: int32 row, uint32 count, count records of 142 bytes (position, normal, irradiance
// and near direction as three doubles each, the gradient as nine floats, radius and near radius as
// floats, int16 level, in the order position, normal, gradient, irradiance, radius, near radius, near
// direction, level), uint32 size and that many bytes the row hands to the next (the corners of the
// anti-aliasing loops). A file cut inside a row ends before it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gi/irradiance_unit.h"

namespace quorva {

class IrradianceCache;

std::string rowRecordsNameFor(const std::string& imagePath);

class RowRecordFile {
  public:
    ~RowRecordFile();
    RowRecordFile(const RowRecordFile&) = delete;
    RowRecordFile& operator=(const RowRecordFile&) = delete;

    // A new file for a frame rendered from its first row; null (with a warning) when it cannot be made.
    static std::unique_ptr<RowRecordFile> create(const std::string& path, int width, int height, int loop,
                                                 std::uint64_t checksum);
    // For a render resumed at `firstRow`: when the file belongs to this frame (size, loop and checksum)
    // and holds every row from `startRow` up to `firstRow`, inserts their records into `cache` in their
    // order, gives what the row above `firstRow` handed on in `handOver`, and keeps the file open after
    // them (rows from firstRow on are dropped); otherwise loads nothing and returns null.
    static std::unique_ptr<RowRecordFile> resume(const std::string& path, int width, int height, int loop,
                                                 std::uint64_t checksum, int startRow, int firstRow,
                                                 IrradianceCache& cache, std::vector<unsigned char>& handOver);

    // Appends the records of a final row and what it hands on. A failed write stops the file (with a
    // warning), removes it and leaves the render alone: only the exact resume is lost.
    void writeRow(int row, const std::vector<IrradianceUnit::Made>& made, const std::vector<unsigned char>& handOver);
    // The image is complete: the file goes.
    void remove();

  private:
    RowRecordFile(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    std::FILE* file_;
    std::string path_;
    std::vector<unsigned char> buffer_;
};

// Parses the rows of a file's bytes after its header; what `resume` reads. Stops at a row cut short, a
// row out of order or a record that is not finite; returns the rows read whole and where they end.
struct RowRecords {
    struct Row {
        int row = 0;
        std::vector<IrradianceRecord> records;
        std::vector<unsigned char> handOver;
        std::size_t end = 0;  // where the row ends in the file
    };
    std::vector<Row> rows;
    std::size_t end = 0;  // bytes read whole, header included
};
bool parseRowRecords(const unsigned char* data, std::size_t size, int width, int height, int loop,
                     std::uint64_t checksum, RowRecords& out);

}  // namespace quorva
