// Patch data compared to the last bit.
#pragma once

#include <cstddef>
#include <cstring>

#include "geometry/flat_shapes.h"

namespace quorva::testing {

// Every field up to the flag is a double, so the bytes before it have no padding.
inline bool samePatchData(const PatchData& a, const PatchData& b) {
    return std::memcmp(&a, &b, offsetof(PatchData, degenerate)) == 0 && a.degenerate == b.degenerate;
}

}  // namespace quorva::testing
