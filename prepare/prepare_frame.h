// What a frame needs before its pixel loops, made in one fixed order: the light entries, the bounding
// hierarchy and the camera frontier, the photon maps, the irradiance cache seeded by its primary grid,
// and the frame buffers. The driver, the fuzz targets and the tests that render whole frames all go
// through it, so that they prepare a frame the same way.
#pragma once

#include <functional>
#include <memory>

#include "gi/irradiance_cache.h"
#include "gi/photon_maps.h"
#include "render/frame_buffers.h"
#include "trace/render_context.h"

namespace quorva {

struct Frame;
struct TargaOutput;
class RenderWorkers;

// What the caller decides about the frame.
struct FrameSetup {
    RenderWorkers* workers = nullptr;  // share the hierarchy build and the photon shooting when given
    PhotonFileRequest photonFiles;     // where the photon maps are loaded from or saved to
    double gridPhotonLimit = 0;        // the photon maps' bound on grid photons; 0 keeps their own
    // The pixels the primary grid seeds the cache from: rows [firstRow, endRow), columns
    // [firstColumn, endColumn); an end below 0 is the image's edge.
    int firstRow = 0, endRow = -1;
    int firstColumn = 0, endColumn = -1;
    bool linearCopy = false;  // keep the unclipped colours for an EXR copy (only with an image)
    // Called once the lights are counted, before the hierarchy is built: announces the frame and opens
    // the image its rows go to, returning it (null when there is none). The frame buffers start from
    // the pixels already in that image.
    std::function<TargaOutput*()> openImage;
};

// What the pixel loops of the frame read and fill.
struct PreparedFrame {
    bool raytracing = false;  // render mode 1: the pixel loops run; the preview modes draw outlines
    bool stopped = false;     // Escape ended the photon shooting or the primary grid
    RenderContext context;    // the calling thread's context, with the photon passes' counts in it
    std::unique_ptr<PhotonMaps> photonMaps;  // null when no photons were asked for
    std::unique_ptr<IrradianceCache> cache;  // null when the cache is off
    FrameBuffers buffers;                    // one band over the whole frame
};

// Prepares `frame` (its camera takes its own transformation, its world gets its hierarchy) and returns
// what the render needs, printing the progress messages of every step. The frame is read-only after it.
PreparedFrame prepareFrame(Frame& frame, const FrameSetup& setup);

}  // namespace quorva
