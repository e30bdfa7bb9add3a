// Reset of the per-scene and per-frame records. The output names and the jitter table are set by the
// driver for each scene and are left alone here (OutputTo changes the names only in the first frame).
#include "scene/scene_state.h"

#include "scene/symbol_table.h"
#include "shading/light.h"

namespace quorva {

// The world reads the frame counters (displacement expressions may use CurrentFrame).
SceneState::SceneState() : symbols(std::make_unique<SymbolTable>()) {
    world.frames = &frames;
}
SceneState::~SceneState() = default;

void SceneState::resetFrame() {
    options = Options{};
    camera = Camera{};
    world.clear();
    lights.clear();
    background = BackgroundSettings{};
    fog = FogSettings{};
    media = MediaSettings{};
    sun = SunLightSettings{};
    fbmTriples.reset();
}

void SceneState::resetScene() {
    resetFrame();
    frames = AnimationCounters{};
    symbols->clear();
    particles.reset();
}

}  // namespace quorva
