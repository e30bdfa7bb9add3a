// IrradianceInit: the irradiance cache of a frame, with its save file opened or its load file read.
#pragma once

#include <memory>

#include "gi/irradiance_cache.h"

namespace quorva {

struct Frame;

// Null when the cache is off. A save file is created when one is named (never overwriting a file); when
// none is open and a load file is named, it is read. The cache, and with it the open save file, ends
// with the frame (IrradianceFree).
std::unique_ptr<IrradianceCache> IrradianceInit(const Frame& scene);

}  // namespace quorva
