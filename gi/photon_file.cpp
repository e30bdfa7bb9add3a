// Saving and loading the ".qpm" photon map file.
#include "gi/photon_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gi/photon_map.h"

namespace quorva {
namespace {

constexpr long HeaderSize = 36;

void putInt(unsigned char* at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(u >> (8 * i));
}
void putDouble(unsigned char* at, double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(u >> (8 * i));
}
std::int32_t getInt(const unsigned char* at) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= std::uint32_t(at[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}
double getDouble(const unsigned char* at) {
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= std::uint64_t(at[i]) << (8 * i);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

void encode(const Photon& p, unsigned char* at) {
    for (int i = 0; i < 3; ++i) putDouble(at + 8 * i, p.position[i]);
    at[24] = p.power[0];
    at[25] = p.power[1];
    at[26] = p.power[2];
    at[27] = p.multiplier;
    at[28] = p.axis;
    at[29] = static_cast<unsigned char>(p.theta);
    at[30] = static_cast<unsigned char>(p.phi);
    at[31] = 0;
}

bool decode(const unsigned char* at, Photon& p) {
    for (int i = 0; i < 3; ++i) p.position[i] = getDouble(at + 8 * i);
    p.power[0] = at[24];
    p.power[1] = at[25];
    p.power[2] = at[26];
    p.multiplier = at[27];
    p.axis = at[28];
    p.theta = static_cast<std::int8_t>(at[29]);
    p.phi = static_cast<std::int8_t>(at[30]);
    p.padding = 0;
    return (p.axis & 7) <= 2 && p.theta != -128 && p.phi != -128;
}

struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

}  // namespace

bool savePhotonFile(const std::string& path, const PhotonMap& caustic, const PhotonMap& media,
                    const PhotonMap& irradiance) {
    // The maps are written under a temporary name beside the final one and linked to it only when the
    // whole file is on disk, so a run cut short never leaves a partial file under the final name. The
    // link fails when the final name exists: a file that appeared since the caller checked is kept.
    std::string temporary = path + ".tmpXXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        std::remove(temporary.c_str());
        return false;
    }
    const PhotonMap* maps[3] = {&caustic, &media, &irradiance};
    unsigned char header[HeaderSize];
    for (int m = 0; m < 3; ++m) {
        putInt(header + 12 * m, maps[m]->count());
        putDouble(header + 12 * m + 4, maps[m]->scale());
    }
    bool ok = std::fwrite(header, 1, HeaderSize, f) == HeaderSize;
    unsigned char record[32];
    for (int m = 0; m < 3 && ok; ++m)
        for (int i = 0; i < maps[m]->count() && ok; ++i) {
            encode((*maps[m])[i], record);
            ok = std::fwrite(record, 1, 32, f) == 32;
        }
    ok = std::fflush(f) == 0 && ok;
    ok = ::fsync(::fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    ::chmod(temporary.c_str(), 0644);
    ok = ok && ::link(temporary.c_str(), path.c_str()) == 0;
    std::remove(temporary.c_str());
    return ok;
}

bool loadPhotonFile(const std::string& path, PhotonMap& caustic, PhotonMap& media, PhotonMap& irradiance,
                    const char** failure) {
    PhotonMap* maps[3] = {&caustic, &media, &irradiance};
    for (PhotonMap* m : maps) m->clear();
    const char* unused = nullptr;
    const char*& why = failure ? *failure : unused;
    why = "cannot be read";
    FileCloser file{std::fopen(path.c_str(), "rb")};
    if (!file.f) return false;
    if (std::fseek(file.f, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file.f);
    if (size < 0 || std::fseek(file.f, 0, SEEK_SET) != 0) return false;
    why = "is shorter than its photon counts say";
    unsigned char header[HeaderSize];
    if (std::fread(header, 1, HeaderSize, file.f) != HeaderSize) return false;
    why = "has a damaged header";
    std::int32_t counts[3];
    double scales[3];
    long long total = 0;
    for (int m = 0; m < 3; ++m) {
        counts[m] = getInt(header + 12 * m);
        scales[m] = getDouble(header + 12 * m + 4);
        if (counts[m] < 0 || counts[m] > PhotonMap::MaxPhotons) return false;
        if (counts[m] > 0 && !(scales[m] > 0 && std::isfinite(scales[m]))) return false;
        total += counts[m];
    }
    // Counts are checked against the file's size before anything is allocated for them.
    why = "is shorter than its photon counts say";
    if (HeaderSize + 32 * total > size) return false;
    why = "holds a damaged photon";
    unsigned char record[32];
    bool ok = true;
    for (int m = 0; m < 3 && ok; ++m) {
        maps[m]->setScale(counts[m] > 0 ? scales[m] : 0);
        for (int i = 0; i < counts[m] && ok; ++i) {
            Photon p;
            ok = std::fread(record, 1, 32, file.f) == 32 && decode(record, p);
            if (ok) maps[m]->append(p);
        }
    }
    if (!ok)
        for (PhotonMap* m : maps) m->clear();
    else
        why = nullptr;
    return ok;
}

}  // namespace quorva
