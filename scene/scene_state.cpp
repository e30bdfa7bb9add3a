// Reset of the per-scene and per-frame records. The output names and the jitter table are set by the
// driver for each scene and are left alone here (OutputTo changes the names only in the first frame).
#include "scene/scene_state.h"

#include "scene/symbol_table.h"

namespace quorva {

SceneState::SceneState() : symbols(std::make_unique<SymbolTable>()) {}
SceneState::~SceneState() = default;

void SceneState::resetFrame() {
    frame.reset();
    fbmTriples.reset();
}

void SceneState::resetScene() {
    resetFrame();
    frame.frames = AnimationCounters{};
    symbols->clear();
    particles.reset();
}

}  // namespace quorva
