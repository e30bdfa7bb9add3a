// Opening the cache of a frame.
#include "gi/irradiance_init.h"

#include "trace/frame.h"

namespace quorva {

std::unique_ptr<IrradianceCache> IrradianceInit(const Frame& scene) {
    const IrradianceSettings& s = scene.options.irradiance;
    if (!s.enabled || scene.options.renderMode != 1) return nullptr;
    auto cache = std::make_unique<IrradianceCache>(irradianceConfig(scene));
    const bool saving = s.saveRequested && !s.savePath.empty() && cache->openSaveFile(s.savePath);
    if (!saving && s.loadRequested && !s.loadPath.empty()) cache->loadFile(s.loadPath);
    return cache;
}

}  // namespace quorva
