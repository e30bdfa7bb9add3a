// Fuzz target: bytes read as a ".qic" irradiance cache file. Any input must end with the records read so
// far: no crash, hang or read past the end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "diagnostics/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "gi/irradiance_cache.h"
#include "gi/irradiance_file.h"

using namespace quorva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silenceDiagnostics();
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!in) return 0;
    IrradianceCache cache(IrradianceConfig{});
    ReadIrradianceFile(in, cache);
    std::fclose(in);
    Color E;
    cache.lookup({0, 0, 0}, {0, 0, 1}, 1, 0.8, E);
    return 0;
}
