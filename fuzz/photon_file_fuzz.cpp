// Fuzz target: bytes read as a ".qpm" photon map file. Any input must load or be refused: no crash,
// hang, read past the end or allocation sized by an unchecked count.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "gi/photon_file.h"
#include "gi/photon_map.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/photon_file_fuzz." + std::to_string(::getpid()) + ".qpm";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    PhotonMap caustic, media, irradiance;
    if (loadPhotonFile(path, caustic, media, irradiance)) {
        caustic.gatherCount = 8;
        GatherHeap heap;
        double r = 0;
        if (caustic.count() > 0) caustic.gather(heap, caustic[0].point(), 1, nullptr, r);
    }
    return 0;
}
