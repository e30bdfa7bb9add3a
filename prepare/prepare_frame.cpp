#include "prepare/prepare_frame.h"

#include "diagnostics/diagnostics.h"
#include "geometry/hierarchy.h"
#include "gi/irradiance_init.h"
#include "render/camera_rays.h"
#include "render/primary_grid.h"
#include "render/render_rows.h"
#include "render/render_workers.h"
#include "trace/frame.h"

namespace quorva {
namespace {

void buildWorldHierarchy(Frame& frame, RenderWorkers* workers) {
    message("\nBuilding hierarchical bounding volumes...");
    // The render threads share the build; the tree does not depend on their number.
    HierarchyWorkers buildWorkers;
    if (workers && workers->count() > 1) {
        buildWorkers.count = workers->count();
        buildWorkers.run = [workers](const std::function<void(int)>& body) { workers->run(body); };
    }
    buildHierarchy(frame.world, &buildWorkers);
    message(" Done.");
    message("\nSorting object hierarchy...");
    buildCameraFrontier(frame.world, frame.camera.location);
    message(" Done.");
}

// The photon maps are shot (or loaded) once before the rows and only read while pixels render.
void buildPhotonMaps(Frame& frame, const FrameSetup& setup, PreparedFrame& out) {
    const Options& options = frame.options;
    const bool photonsAsked = options.photons.requested || options.irradiance.photons[0] > 0;
    if (!photonsAsked || frame.lights.empty() || !options.irradiance.enabled) return;
    out.photonMaps = std::make_unique<PhotonMaps>(frame);
    out.photonMaps->workers = setup.workers;
    if (setup.gridPhotonLimit > 0) out.photonMaps->gridPhotonLimit = setup.gridPhotonLimit;
    RenderContext photonCtx(&frame);
    prepareRenderContext(photonCtx, frame);
    if (!out.photonMaps->build(photonCtx, setup.photonFiles)) out.stopped = true;
    addPhotonStatistics(out.context.stats, photonCtx.stats);
}

// The irradiance cache of the frame, seeded by the primary grid unless a file was loaded.
void startIrradianceCache(Frame& frame, const FrameSetup& setup, PreparedFrame& out) {
    out.cache = IrradianceInit(frame);
    PhotonMaps* maps = out.photonMaps.get();
    IrradianceCache* cache = out.cache.get();
    // Shading asks the photon maps, which hand the indirect term on to the cache.
    if (maps) maps->irradianceSource = cache;
    if (maps && cache) cache->guideWith(&maps->irradianceMap, &maps->directions());
    RenderContext& ctx = out.context;
    ctx.globalIllumination = maps ? static_cast<GlobalIllumination*>(maps) : cache;
    ctx.skyLightMode =
        cache && frame.background.skyLightOn && frame.lights.empty() && !frame.options.irradiance.forced;
    if (!cache || cache->loaded()) return;
    const int endRow = setup.endRow < 0 ? frame.camera.height : setup.endRow;
    const int endColumn = setup.endColumn < 0 ? frame.camera.width : setup.endColumn;
    prepareRenderContext(ctx, frame);
    if (!computePrimaryGrid(frame, ctx, *cache, setup.firstRow, endRow, setup.firstColumn, endColumn,
                            setup.workers))
        out.stopped = true;
}

}  // namespace

PreparedFrame prepareFrame(Frame& frame, const FrameSetup& setup) {
    PreparedFrame out;
    out.context = RenderContext(&frame);
    Options& options = frame.options;
    Camera& camera = frame.camera;

    prepareLightEntries(frame.world);
    if (frame.lights.empty() && !frame.background.skyLightOn) warning("No light source in this scene");
    TargaOutput* image = setup.openImage ? setup.openImage() : nullptr;

    // The camera's own transformation is applied before the hierarchy is cut for the eye point.
    applyCameraTransform(camera);
    // The scanline preview shades through the hierarchy too; only ray tracing uses the pixel loops.
    out.raytracing = options.renderMode == 1;
    if (out.raytracing || (options.renderMode == 2 && (options.featureMask & 14)))
        buildWorldHierarchy(frame, setup.workers);
    if (out.raytracing) {
        buildPhotonMaps(frame, setup, out);
        startIrradianceCache(frame, setup, out);
    }

    message("\nInitializing rendering pipeline...");
    prepareBand(out.buffers, camera, image, 0, camera.height - 1, options.zChannelDepth != 0);
    // The EXR copy keeps the colours before they are clipped: only then is there a float per pixel.
    if (setup.linearCopy && image) keepUnclippedColours(out.buffers);
    message(" Done.\n\n");
    return out;
}

}  // namespace quorva
