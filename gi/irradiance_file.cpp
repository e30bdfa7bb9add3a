// Writing and reading the items of a ".qic" file.
#include "gi/irradiance_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "gi/irradiance_cache.h"

namespace quorva {
namespace {

void putBytes(std::uint64_t bits, int count, std::FILE* out) {
    unsigned char bytes[8];
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    std::fwrite(bytes, 1, static_cast<std::size_t>(count), out);
}

void putDouble(double v, std::FILE* out) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    putBytes(bits, 8, out);
}

void putFloat(float v, std::FILE* out) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    putBytes(bits, 4, out);
}

void putDirection(const Vec3& v, std::FILE* out) {
    for (int k = 0; k < 3; ++k) {
        const auto code = static_cast<std::int32_t>(std::floor((v[k] + 1) * 127 + 0.499999));
        putBytes(static_cast<std::uint32_t>(code), 4, out);
    }
}

bool getBytes(std::FILE* in, int count, std::uint64_t& bits) {
    unsigned char bytes[8];
    if (std::fread(bytes, 1, static_cast<std::size_t>(count), in) != static_cast<std::size_t>(count))
        return false;
    bits = 0;
    for (int i = 0; i < count; ++i) bits |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return true;
}

bool getDouble(std::FILE* in, double& v) {
    std::uint64_t bits;
    if (!getBytes(in, 8, bits)) return false;
    std::memcpy(&v, &bits, 8);
    return std::isfinite(v);
}

bool getFloat(std::FILE* in, float& v) {
    std::uint64_t bits;
    if (!getBytes(in, 4, bits)) return false;
    const auto b32 = static_cast<std::uint32_t>(bits);
    std::memcpy(&v, &b32, 4);
    return std::isfinite(v);
}

bool getDirection(std::FILE* in, Vec3& v) {
    for (int k = 0; k < 3; ++k) {
        std::uint64_t bits;
        if (!getBytes(in, 4, bits)) return false;
        const auto code = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
        v[k] = code / 127.0 - 1;
    }
    const double len = length(v);
    if (!(len > 0) || !std::isfinite(len)) return false;
    v = v / len;
    return true;
}

bool readRecord(std::FILE* in, IrradianceRecord& r) {
    std::uint64_t bits;
    if (!getBytes(in, 2, bits)) return false;
    r.level = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    if (!getDirection(in, r.normal) || !getDirection(in, r.nearDirection)) return false;
    for (int k = 0; k < 3; ++k)
        if (!getDouble(in, r.position[k])) return false;
    for (int k = 0; k < 3; ++k)
        if (!getDouble(in, r.irradiance[k])) return false;
    if (!getFloat(in, r.radius) || !getFloat(in, r.nearRadius)) return false;
    if (!(r.radius > 0)) return false;
    for (int k = 0; k < 3; ++k)
        if (std::fabs(r.position[k]) > 1e7) return false;
    return true;
}

}  // namespace

void WriteIrradianceRecord(const IrradianceRecord& r, std::FILE* out) {
    if (r.level < 1) return;
    std::fputc(QicRecordTag, out);
    putBytes(static_cast<std::uint16_t>(r.level), 2, out);
    putDirection(r.normal, out);
    putDirection(r.nearDirection, out);
    for (int k = 0; k < 3; ++k) putDouble(r.position[k], out);
    for (int k = 0; k < 3; ++k) putDouble(r.irradiance[k], out);
    putFloat(r.radius, out);
    putFloat(r.nearRadius, out);
    std::fflush(out);
}

void WriteIrradianceScale(double scale, std::FILE* out) {
    std::fputc(QicScaleTag, out);
    putDouble(scale, out);
    std::fflush(out);
}

void WriteIrradianceGridComplete(std::FILE* out) {
    std::fputc(QicGridTag, out);
    std::fflush(out);
}

long ReadIrradianceFile(std::FILE* in, IrradianceCache& cache) {
    long count = 0;
    bool failed = false;
    for (int tag; (tag = std::fgetc(in)) != EOF;) {
        if (tag == QicRecordTag) {
            IrradianceRecord r;
            if (!readRecord(in, r)) {
                failed = true;
                break;
            }
            cache.insert(r);
            ++count;
        } else if (tag == QicScaleTag) {
            double s;
            if (!getDouble(in, s)) {
                failed = true;
                break;
            }
            cache.setScale(s);
        } else if (tag == QicGridTag) {
            cache.markGridComplete();
        } else {
            failed = true;
            break;
        }
    }
    if (count > 0 && !failed)
        message("\n%ld values read with success from irradiance data cache file.\n", count);
    else
        message(
            "\nUnexpected error encountered while reading irradiance data cache file.\nOnly %ld read...\n",
            count);
    return count;
}

}  // namespace quorva
