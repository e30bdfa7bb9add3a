// Writing, checking and loading the records of a partial image's final rows.
#include "gi/row_records.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "diagnostics/diagnostics.h"
#include "gi/irradiance_cache.h"

namespace quorva {
namespace {

constexpr char Magic[8] = {'Q', 'I', 'R', 'R', 'O', 'W', 'S', '1'};
constexpr std::size_t HeaderSize = 8 + 4 + 4 + 4 + 8;
constexpr std::size_t RecordSize = 3 * 8 * 4 + 9 * 4 + 2 * 4 + 2;
// More records than any row can make, more than any loop hands on: a count past them is damage.
constexpr std::uint32_t MaxRowRecords = 1u << 24;
constexpr std::uint32_t MaxHandOver = 1u << 28;

template <typename T>
void put(std::vector<unsigned char>& out, T value) {
    // Little-endian machines only, as for the other binary files.
    const std::size_t at = out.size();
    out.resize(at + sizeof value);
    std::memcpy(out.data() + at, &value, sizeof value);
}

template <typename T>
T take(const unsigned char*& p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    p += sizeof value;
    return value;
}

void putRecord(std::vector<unsigned char>& out, const IrradianceRecord& r) {
    for (int k = 0; k < 3; ++k) put(out, r.position[k]);
    for (int k = 0; k < 3; ++k) put(out, r.normal[k]);
    for (const auto& axis : r.gradient)
        for (float g : axis) put(out, g);
    for (int k = 0; k < 3; ++k) put(out, r.irradiance[k]);
    put(out, r.radius);
    put(out, r.nearRadius);
    for (int k = 0; k < 3; ++k) put(out, r.nearDirection[k]);
    put(out, r.level);
}

bool takeRecord(const unsigned char*& p, IrradianceRecord& r) {
    bool finite = true;
    const auto number = [&finite](double v) {
        finite = finite && std::isfinite(v);
        return v;
    };
    for (int k = 0; k < 3; ++k) r.position[k] = number(take<double>(p));
    for (int k = 0; k < 3; ++k) r.normal[k] = number(take<double>(p));
    for (auto& axis : r.gradient)
        for (float& g : axis) g = static_cast<float>(number(take<float>(p)));
    for (int k = 0; k < 3; ++k) r.irradiance[k] = number(take<double>(p));
    r.radius = static_cast<float>(number(take<float>(p)));
    r.nearRadius = static_cast<float>(number(take<float>(p)));
    for (int k = 0; k < 3; ++k) r.nearDirection[k] = number(take<double>(p));
    r.level = take<std::int16_t>(p);
    // What the cache itself makes: finite values, a positive radius, a level from 1, and, as in a cache
    // file, a position within 1e7 of the origin (the octree's cells cover no more).
    for (int k = 0; k < 3; ++k) finite = finite && std::fabs(r.position[k]) <= 1e7;
    return finite && r.radius > 0 && r.nearRadius >= 0 && r.level >= 1;
}

std::vector<unsigned char> header(int width, int height, int loop, std::uint64_t checksum) {
    std::vector<unsigned char> out(sizeof Magic);
    std::memcpy(out.data(), Magic, sizeof Magic);
    put(out, static_cast<std::int32_t>(width));
    put(out, static_cast<std::int32_t>(height));
    put(out, static_cast<std::int32_t>(loop));
    put(out, checksum);
    return out;
}

}  // namespace

std::string rowRecordsNameFor(const std::string& imagePath) {
    return imagePath + ".records";
}

bool parseRowRecords(const unsigned char* data, std::size_t size, int width, int height, int loop,
                     std::uint64_t checksum, RowRecords& out) {
    out = RowRecords{};
    const std::vector<unsigned char> expected = header(width, height, loop, checksum);
    if (size < HeaderSize || std::memcmp(data, expected.data(), HeaderSize) != 0) return false;
    std::size_t at = HeaderSize;
    out.end = at;
    while (size - at >= 8) {
        const unsigned char* p = data + at;
        const auto row = take<std::int32_t>(p);
        const auto count = take<std::uint32_t>(p);
        if (count > MaxRowRecords || (size - at - 8) / RecordSize < count) break;
        if (!out.rows.empty() && row != out.rows.back().row + 1) break;
        RowRecords::Row parsed;
        parsed.row = row;
        parsed.records.resize(count);
        bool good = true;
        for (IrradianceRecord& r : parsed.records) good = good && takeRecord(p, r);
        if (!good || static_cast<std::size_t>(data + size - p) < 4) break;
        const auto handed = take<std::uint32_t>(p);
        if (handed > MaxHandOver || static_cast<std::size_t>(data + size - p) < handed) break;
        parsed.handOver.assign(p, p + handed);
        p += handed;
        at = static_cast<std::size_t>(p - data);
        parsed.end = at;
        out.rows.push_back(std::move(parsed));
        out.end = at;
    }
    return true;
}

RowRecordFile::~RowRecordFile() {
    if (file_) std::fclose(file_);
}

std::unique_ptr<RowRecordFile> RowRecordFile::create(const std::string& path, int width, int height, int loop,
                                                     std::uint64_t checksum) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const std::vector<unsigned char> head = header(width, height, loop, checksum);
    if (!f || std::fwrite(head.data(), 1, head.size(), f) != head.size() || std::fflush(f) != 0) {
        if (f) std::fclose(f);
        warning("Cannot write %s: a resumed render of this image may differ slightly", path.c_str());
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return nullptr;
    }
    return std::unique_ptr<RowRecordFile>(new RowRecordFile(f, path));
}

std::unique_ptr<RowRecordFile> RowRecordFile::resume(const std::string& path, int width, int height, int loop,
                                                     std::uint64_t checksum, int startRow, int firstRow,
                                                     IrradianceCache& cache, std::vector<unsigned char>& handOver) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
        const std::size_t at = data.size();
        data.resize(at + n);
        std::memcpy(data.data() + at, chunk, n);
    }
    std::fclose(f);
    RowRecords parsed;
    const bool ours = parseRowRecords(data.data(), data.size(), width, height, loop, checksum, parsed);
    // Every row before the first one rendered now, from the first of the frame.
    const std::size_t needed = firstRow > startRow ? static_cast<std::size_t>(firstRow - startRow) : 0;
    bool complete = ours && parsed.rows.size() >= needed && (needed == 0 || parsed.rows[0].row == startRow);
    const std::size_t keep = complete && needed > 0 ? parsed.rows[needed - 1].end : HeaderSize;
    std::error_code ignored;
    if (!complete) {
        if (ours || !data.empty()) {
            warning("%s does not hold the records of the finished rows: the resumed image may differ slightly",
                    path.c_str());
            std::filesystem::remove(path, ignored);
        }
        return nullptr;
    }
    if (::truncate(path.c_str(), static_cast<off_t>(keep)) != 0) return nullptr;
    std::FILE* out = std::fopen(path.c_str(), "ab");
    if (!out) return nullptr;
    for (std::size_t i = 0; i < needed; ++i)
        for (const IrradianceRecord& r : parsed.rows[i].records) cache.insert(r);
    handOver = needed > 0 ? std::move(parsed.rows[needed - 1].handOver) : std::vector<unsigned char>{};
    return std::unique_ptr<RowRecordFile>(new RowRecordFile(out, path));
}

void RowRecordFile::writeRow(int row, const std::vector<IrradianceUnit::Made>& made,
                             const std::vector<unsigned char>& handOver) {
    if (!file_) return;
    buffer_.clear();
    put(buffer_, static_cast<std::int32_t>(row));
    put(buffer_, static_cast<std::uint32_t>(made.size()));
    for (const IrradianceUnit::Made& m : made) putRecord(buffer_, m.record);
    put(buffer_, static_cast<std::uint32_t>(handOver.size()));
    const std::size_t at = buffer_.size();
    buffer_.resize(at + handOver.size());
    if (!handOver.empty()) std::memcpy(buffer_.data() + at, handOver.data(), handOver.size());
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size() && std::fflush(file_) == 0) return;
    std::fclose(file_);
    file_ = nullptr;
    warning("Cannot write %s: a resumed render of this image may differ slightly", path_.c_str());
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void RowRecordFile::remove() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace quorva
