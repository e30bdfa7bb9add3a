// Writing and reading the items of a ".qic" file.
#include "gi/irradiance_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "gi/irradiance_cache.h"

namespace quorva {
namespace {

// Items are assembled in memory and written with one call each, so that a failed write is seen at once.
struct ItemBuffer {
    unsigned char bytes[96];
    std::size_t size = 0;
    void put(std::uint64_t bits, int count) {
        for (int i = 0; i < count; ++i) bytes[size++] = static_cast<unsigned char>(bits >> (8 * i));
    }
    void putDouble(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        put(bits, 8);
    }
    void putFloat(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        put(bits, 4);
    }
    void putDirection(const Vec3& v) {
        for (int k = 0; k < 3; ++k) {
            const auto code = static_cast<std::int32_t>(std::floor((v[k] + 1) * 127 + 0.499999));
            put(static_cast<std::uint32_t>(code), 4);
        }
    }
    // Writes the item and flushes it: a run cut short keeps every complete item.
    bool write(std::FILE* out) const {
        return std::fwrite(bytes, 1, size, out) == size && std::fflush(out) == 0;
    }
};

// Reads the fixed-size payloads of items; a payload the file ends inside is told from a damaged one.
enum class ItemRead { Whole, Cut, Damaged };

struct ItemReader {
    const unsigned char* at;
    std::uint64_t get(int count) {
        std::uint64_t bits = 0;
        for (int i = 0; i < count; ++i) bits |= static_cast<std::uint64_t>(at[i]) << (8 * i);
        at += count;
        return bits;
    }
    double getDouble() {
        const std::uint64_t bits = get(8);
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    float getFloat() {
        const auto bits = static_cast<std::uint32_t>(get(4));
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    bool getDirection(Vec3& v) {
        for (int k = 0; k < 3; ++k) {
            const auto code = static_cast<std::int32_t>(static_cast<std::uint32_t>(get(4)));
            v[k] = code / 127.0 - 1;
        }
        const double len = length(v);
        if (!(len > 0) || !std::isfinite(len)) return false;
        v = v / len;
        return true;
    }
};

// level 2, normal 12, near direction 12, position 24, irradiance 24, R 4, Rmin 4
constexpr std::size_t RecordPayload = 82;
constexpr std::size_t ScalePayload = 8;

bool readPayload(std::FILE* in, unsigned char* bytes, std::size_t size) {
    return std::fread(bytes, 1, size, in) == size;
}

ItemRead readRecord(std::FILE* in, IrradianceRecord& r) {
    unsigned char bytes[RecordPayload];
    if (!readPayload(in, bytes, RecordPayload)) return ItemRead::Cut;
    ItemReader item{bytes};
    r.level = static_cast<std::int16_t>(static_cast<std::uint16_t>(item.get(2)));
    if (!item.getDirection(r.normal) || !item.getDirection(r.nearDirection)) return ItemRead::Damaged;
    for (int k = 0; k < 3; ++k) r.position[k] = item.getDouble();
    for (int k = 0; k < 3; ++k) r.irradiance[k] = item.getDouble();
    r.radius = item.getFloat();
    r.nearRadius = item.getFloat();
    for (int k = 0; k < 3; ++k)
        if (!std::isfinite(r.position[k]) || !std::isfinite(r.irradiance[k]) ||
            std::fabs(r.position[k]) > 1e7)
            return ItemRead::Damaged;
    if (!std::isfinite(r.radius) || !std::isfinite(r.nearRadius) || !(r.radius > 0)) return ItemRead::Damaged;
    return ItemRead::Whole;
}

ItemRead readScale(std::FILE* in, double& s) {
    unsigned char bytes[ScalePayload];
    if (!readPayload(in, bytes, ScalePayload)) return ItemRead::Cut;
    s = ItemReader{bytes}.getDouble();
    return std::isfinite(s) ? ItemRead::Whole : ItemRead::Damaged;
}

}  // namespace

bool WriteIrradianceRecord(const IrradianceRecord& r, std::FILE* out) {
    if (r.level < 1) return true;
    ItemBuffer item;
    item.put(QicRecordTag, 1);
    item.put(static_cast<std::uint16_t>(r.level), 2);
    item.putDirection(r.normal);
    item.putDirection(r.nearDirection);
    for (int k = 0; k < 3; ++k) item.putDouble(r.position[k]);
    for (int k = 0; k < 3; ++k) item.putDouble(r.irradiance[k]);
    item.putFloat(r.radius);
    item.putFloat(r.nearRadius);
    return item.write(out);
}

bool WriteIrradianceScale(double scale, std::FILE* out) {
    ItemBuffer item;
    item.put(QicScaleTag, 1);
    item.putDouble(scale);
    return item.write(out);
}

bool WriteIrradianceGridComplete(std::FILE* out) {
    ItemBuffer item;
    item.put(QicGridTag, 1);
    return item.write(out);
}

long ReadIrradianceFile(std::FILE* in, IrradianceCache& cache, const std::string& name) {
    long count = 0;
    ItemRead outcome = ItemRead::Whole;
    for (int tag; outcome == ItemRead::Whole && (tag = std::fgetc(in)) != EOF;) {
        if (tag == QicRecordTag) {
            IrradianceRecord r;
            outcome = readRecord(in, r);
            if (outcome != ItemRead::Whole) break;
            cache.insert(r);
            ++count;
        } else if (tag == QicScaleTag) {
            double s;
            outcome = readScale(in, s);
            if (outcome == ItemRead::Whole) cache.setScale(s);
        } else if (tag == QicGridTag) {
            cache.markGridComplete();
        } else {
            outcome = ItemRead::Damaged;
        }
    }
    // A file that ends inside its last item was cut while it was written (a run stopped or a full
    // disk): the complete records before it are kept, and the loss is said.
    if (outcome == ItemRead::Cut)
        warning(
            "Irradiance cache file %s ends inside an item: %ld complete records read, the last one dropped",
            name.c_str(), count);
    else if (count > 0 && outcome == ItemRead::Whole)
        message("\n%ld values read with success from irradiance data cache file.\n", count);
    else
        message(
            "\nUnexpected error encountered while reading irradiance data cache file.\nOnly %ld read...\n",
            count);
    return count;
}

}  // namespace quorva
