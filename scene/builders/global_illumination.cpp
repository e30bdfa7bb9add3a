// Builders of the global-illumination statements.
#include "scene/builders/global_illumination.h"

#include <algorithm>

#include "gi/media.h"
#include "scene/builders/option_items.h"
#include "scene/scene_state.h"

namespace quorva {

void buildPhotons(SceneState& scene, const double* values, int count) {
    PhotonSettings& photons = scene.frame.options.photons;
    photons.requested = true;
    photons.parameterCount = count;
    for (int i = 0; i < 4; ++i) photons.parameters[i] = i < count && values[i] == values[i] ? values[i] : 0;
    photons.parameters[0] = boundedCount(photons.parameters[0], 0, MaxPhotonGatherCount);
    photons.parameters[1] = std::clamp(photons.parameters[1], 0.0, MaxPhotonsPerTarget);
}

void buildComputeIrradiance(SceneState& scene, double f) {
    IrradianceSettings& irr = scene.frame.options.irradiance;
    irr.computeSetting = f;
    if (!(f >= 1)) return;
    const int n = f > 1e6 ? 1000000 : static_cast<int>(f);
    irr.enabled = true;
    irr.forced = true;
    irr.gridSize = n < 4 ? 4 : n;
    irr.gridSpacing = 1.0 / irr.gridSize;
}

void buildSkyLight(SceneState& scene, double samples, BackgroundValue sky, double scale, double tint) {
    buildBackground(scene, std::move(sky));
    scene.frame.background.skyLightOn = true;
    scene.frame.background.skyTint = tint != 0;
    IrradianceSettings& irr = scene.frame.options.irradiance;
    irr.skySamples = boundedCount(samples, 5, MaxIrradianceSamples);
    irr.skyScale = scale > 0 ? scale : 0;
    if (scene.frame.options.renderMode == 1) irr.enabled = true;
}

void buildMedia(SceneState& scene, double model, double samples, double density, double intensity, double mix,
                double depth, const Color& colour) {
    // Counts below 1 are the media statement's own error; larger ones are bounded.
    if (samples > MaxMediaSamples) samples = reducedSampleCount("Media", samples, MaxMediaSamples);
    mediaSetup(scene.frame.media, model, samples, density, intensity, mix, depth, colour);
}

}  // namespace quorva
