// Fuzz target: scene text parsed, the world built (lights, bounding hierarchy, camera frontier) and a
// few pixels rendered, so that faults in shape set-up, intersection and shading meet the fuzzer. The
// work per input is bounded: a 4 x 3 frame, shallow rays, few samples, no global illumination.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_context.h"
#include "render/render_job.h"
#include "render/render_rows.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "shading/light.h"

using namespace quorva;

namespace {

// Caps every setting that multiplies the work of one pixel.
void boundWork(SceneState& scene) {
    Options& o = scene.options;
    Camera& c = scene.camera;
    c.width = std::clamp(c.width, 1, 4);
    c.height = std::clamp(c.height, 1, 3);
    o.maxRayLevel = std::clamp(o.maxRayLevel, 0, 3);
    o.maxBlurLevel = std::clamp(o.maxBlurLevel, 0, 1);
    o.maxBlurSamples = std::clamp(o.maxBlurSamples, 0, 2);
    o.softShadowSamples = std::clamp(o.softShadowSamples, 0, 2);
    o.depthOfFieldSamples = std::clamp(o.depthOfFieldSamples, 0, 2);
    o.adaptiveDepth = std::clamp(o.adaptiveDepth, 1, 2);
    o.antialiasing = std::min(o.antialiasing, 2);
    o.irradiance.enabled = false;
    o.photons.requested = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool silenced = [] {
        diagnostics().console = [](const std::string&) {};
        return true;
    }();
    (void)silenced;
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
        buildSunLight(*scene);
        prepareLightEntries(scene->world, *scene);
        Camera& camera = scene->camera;
        applyCameraTransform(camera);
        buildHierarchy(scene->world);
        buildCameraFrontier(scene->world, camera.location);
        RenderContext ctx(scene);
        FrameBuffers frame;
        prepareBand(frame, camera, nullptr, 0, camera.height - 1, true);
        RenderJob job{*scene, ctx, frame, ViewFrame{}};
        job.columnStart = 0;
        job.columnEnd = camera.width;
        renderRows(job, 0, camera.height);
        filterBand(frame, camera, 0, camera.height - 1);
    } catch (const FatalError&) {
    }
    scene->resetScene();
    return 0;
}
