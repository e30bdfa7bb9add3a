// Reset of the per-frame records.
#include "trace/frame.h"

#include "shading/light.h"

namespace quorva {

// The world reads the frame counters (displacement expressions may use CurrentFrame).
Frame::Frame() { world.frames = &frames; }
Frame::~Frame() = default;

void Frame::reset() {
    options = Options{};
    camera = Camera{};
    world.clear();
    lights.clear();
    background = BackgroundSettings{};
    fog = FogSettings{};
    media = MediaSettings{};
    sun = SunLightSettings{};
}

}  // namespace quorva
