// Fuzz target: scene text parsed, the world built (lights, bounding hierarchy, camera frontier) and a
// few pixels rendered, so that faults in shape set-up, intersection and shading meet the fuzzer. When
// the scene asks for them, the photon maps are shot, the irradiance cache is seeded by its primary grid
// and the medium is applied, as a frame of the renderer does. The work per input is bounded: a 4 x 3
// frame, shallow rays, few samples, small photon counts and no cache or photon files.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "diagnostics/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "prepare/prepare_frame.h"
#include "render/frame_buffers.h"
#include "render/render_job.h"
#include "render/render_rows.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "shading/light.h"

using namespace quorva;

namespace {

// Lights and photon targets multiply the photon work; past these the photons are left out.
constexpr std::size_t MaxPhotonLights = 4;
constexpr double MaxGridPhotons = 256;

// Caps every setting that multiplies the work of one pixel or of the passes before the pixels.
void boundWork(SceneState& scene) {
    Options& o = scene.frame.options;
    Camera& c = scene.frame.camera;
    c.width = std::clamp(c.width, 1, 4);
    c.height = std::clamp(c.height, 1, 3);
    o.maxRayLevel = std::clamp(o.maxRayLevel, 0, 3);
    o.maxBlurLevel = std::clamp(o.maxBlurLevel, 0, 1);
    o.maxBlurSamples = std::clamp(o.maxBlurSamples, 0, 2);
    o.softShadowSamples = std::clamp(o.softShadowSamples, 0, 2);
    o.depthOfFieldSamples = std::clamp(o.depthOfFieldSamples, 0, 2);
    o.adaptiveDepth = std::clamp(o.adaptiveDepth, 1, 2);
    o.antialiasing = std::min(o.antialiasing, 2);

    IrradianceSettings& irr = o.irradiance;
    irr.samples = std::min(irr.samples, 6);
    irr.skySamples = std::min(irr.skySamples, 6);
    irr.bounceLevel = std::min(irr.bounceLevel, 2);
    irr.gridSize = 0;  // a grid size is at least 4, more than half of this frame: the automatic grid
    irr.photons[0] = std::min(irr.photons[0], 1000);
    irr.photons[1] = std::min(irr.photons[1], 20);
    irr.loadRequested = irr.saveRequested = false;

    PhotonSettings& p = o.photons;
    p.parameters[0] = std::min(p.parameters[0], 20.0);
    p.parameters[1] = std::min(p.parameters[1], 64.0);
    p.parameterCount = std::min(p.parameterCount, 3);  // a fixed spacing could be any fine grid
    p.parameters[3] = 0;
    p.gatherRange[0] = std::min(p.gatherRange[0], 20);
    p.gatherRange[1] = std::min(p.gatherRange[1], 20);
    p.loadRequested = p.saveRequested = false;
    if (scene.frame.lights.size() > MaxPhotonLights) {
        p.requested = false;
        irr.photons[0] = 0;
    }

    scene.frame.media.samples = std::min(scene.frame.media.samples, 3);
    scene.frame.media.depth = std::min(scene.frame.media.depth, 1);
    // The pixel loops are what this target covers: every scene is ray traced, preview modes too.
    o.renderMode = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silenceDiagnostics();
    // Statements past the first few hundred bytes mostly add parse work, which the parser target covers.
    if (size > 4096) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    // ReadArchive, meshes and images open files by name; device files would never end.
    for (const char* device : {"/dev", "/proc", "/sys"})
        if (text.find(device) != std::string::npos) return 0;
    // One scene state for the whole run, reset before each input like the driver does between scenes.
    static SceneState* scene = new SceneState;
    scene->resetScene();
    try {
        if (parseText(*scene, text, "fuzz.qsb") != 0) return 0;
        boundWork(*scene);
        buildSunLight(scene->frame);
        // The passes before the pixels, as a frame of the renderer makes them.
        FrameSetup setup;
        setup.gridPhotonLimit = MaxGridPhotons;
        PreparedFrame prepared = prepareFrame(scene->frame, setup);
        const Camera& camera = scene->frame.camera;
        RenderJob job{scene->frame, prepared.context, prepared.buffers, ViewFrame{}};
        job.columnStart = 0;
        job.columnEnd = camera.width;
        job.cache = prepared.cache.get();  // the rows as units of the growing cache, as the driver has them
        renderRows(job, 0, camera.height);
        filterBand(prepared.buffers, camera, 0, camera.height - 1);
    } catch (const FatalError&) {
    }
    scene->resetScene();
    return 0;
}
