// The frame loop of one scene: parse, prepare, render in bands, write, clean up; repeated for every
// frame of an animation (the scene text reads CurrentFrame to animate itself).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <system_error>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "driver/report.h"
#include "driver/run_driver.h"
#include "formats/binary_scene.h"
#include "gi/irradiance_cache.h"
#include "gi/row_records.h"
#include "image/exr_writer.h"
#include "image/png_writer.h"
#include "image/targa_output.h"
#include "prepare/prepare_frame.h"
#include "render/antialias.h"
#include "render/camera_rays.h"
#include "render/image_rows.h"
#include "render/opengl_preview.h"
#include "render/outline_raster.h"
#include "render/preview_shading.h"
#include "render/preview_transform.h"
#include "render/preview_window.h"
#include "render/primary_grid.h"
#include "render/render_job.h"
#include "render/render_progress.h"
#include "render/render_region.h"
#include "render/render_rows.h"
#include "render/render_workers.h"
#include "scene/parser.h"
#include "scene/particles.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "shading/background.h"
#include "shading/light.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// Rows that become final show in the frame-buffer window too.
class WindowRows final : public RowSink {
  public:
    WindowRows(RowSink& writer, PreviewWindow* window) : writer_(writer), window_(window) {}
    void rowFinished(int row) override {
        writer_.rowFinished(row);
        if (window_) window_->rowFinished(row);
    }
    void rowsFinished(int endRow) override { writer_.rowsFinished(endRow); }

  private:
    RowSink& writer_;
    PreviewWindow* window_;
};

}  // namespace

void SceneRun::frameLoop() {
    bool firstPass = true;
    while (frame(firstPass)) firstPass = false;
}

void SceneRun::parse(bool firstPass) {
    SceneState& scene = *scene_;
    // A folder opens like a file on some systems and then reads as nothing at all.
    std::error_code folderCheck;
    if (std::filesystem::is_directory(run_.sceneFile, folderCheck))
        fatal("Scene file %s is a folder, not a file", run_.sceneFile.c_str());
    if (firstPass)
        binary_ = IsBinaryScene(run_.sceneFile);
    else
        IsBinaryScene(run_.sceneFile);
    if (firstPass)
        message(binary_ ? "\nParsing binary scene file...\n" : "\nParsing ASCII scene file(s)...\n");
    parseStart_ = static_cast<long>(std::time(nullptr));

    // The statements may change the output names (OutputTo, first frame only).
    scene.output.imageFile = run_.imageFile;
    scene.output.outputBase = run_.outputBase;
    shaderParsed_ = false;
    if (binary_) {
        if (!fileExists(run_.shaderFile))
            fatal("An ascii .QSH shader file is always required with a binary QSB scene");
        if (parseFile(scene, run_.shaderFile) == 1) fatal("Invalid input specification");
        shaderParsed_ = true;
        ReadBinaryScene(scene, run_.sceneFile);
    } else {
        if (fileExists(run_.shaderFile)) {
            if (parseFile(scene, run_.shaderFile) == 1) fatal("Invalid input specification");
            shaderParsed_ = true;
        }
        if (parseFile(scene, run_.sceneFile) == 1) fatal("Invalid input specification");
    }
    run_.imageFile = scene.output.imageFile;
    run_.outputBase = scene.output.outputBase;
    parseEnd_ = static_cast<long>(std::time(nullptr));

    if (scene.frame.options.version < 0) fatal("Version specification is missing in QSB file");
    // Written so that an undefined number (0/0) fails too.
    if (!(scene.frame.options.version >= 1 && scene.frame.options.version <= 1.3))
        fatal("Wrong version specification in QSB file");
}

void SceneRun::resolveCachePath(bool commandLine, bool& requested, std::string& path) const {
    if (!(commandLine || requested)) return;
    if (commandLine || run_.cacheNamed) path = run_.irradianceFile;
    requested = true;
}

bool SceneRun::frame(bool firstPass) {
    SceneState& scene = *scene_;
    AnimationCounters& frames = scene.frame.frames;
    // 1. From the second pass on, the per-frame state goes back to its defaults.
    if (!firstPass) {
        resetRunSettings();
        scene.resetFrame();
    }
    frames.firstFrameStarted = !firstPass;
    *stats_ = RenderStatistics{};

    // 2-5. Parse, check the version, read the command line again (it wins over the scene).
    parse(firstPass);
    buildSunLight(scene.frame);
    readOptions();
    if (run_.logRequested && !diagnostics().log) openLog();

    // 6. The scene's cache requests count like -l 2 / -s 2, and -C names win over the scene's. A load
    // request needs a save path or an existing cache file.
    IrradianceSettings& cacheFiles = scene.frame.options.irradiance;
    resolveCachePath(run_.irradianceLoad, cacheFiles.loadRequested, cacheFiles.loadPath);
    resolveCachePath(run_.irradianceSave, cacheFiles.saveRequested, cacheFiles.savePath);
    if (cacheFiles.loadRequested) {
        if (cacheFiles.saveRequested || fileExists(cacheFiles.loadPath)) {
            scene.frame.options.renderMode = 1;
            scene.frame.options.irradiance.enabled = true;
            run_.irradianceEnabled = true;
        } else {
            cacheFiles.loadRequested = false;
            cacheFiles.loadPath.clear();
        }
    }
    checkGridSize(scene.frame);
    if (firstPass) message("Parsing completed.\n");

    Camera& camera = scene.frame.camera;
    if (camera.width < 1 || camera.height < 1)
        fatal("Image resolution %dx%d is not valid", camera.width, camera.height);

    // 8. Column range.
    if (run_.xa < 0 || run_.xb < 0) {
        run_.xa = 0;
        run_.xb = camera.width;
    }
    // 10. Row range.
    startRow_ = run_.ya < 0 ? 0 : run_.ya;
    endRow_ = run_.yb < 0 ? camera.height : run_.yb;
    if (startRow_ > endRow_) fatal("Start line %d of image can't be after end line %d", startRow_, endRow_);
    if (startRow_ >= camera.height)
        fatal("Start line %d of image can't be after end of image %d", startRow_, camera.height);
    if (endRow_ > camera.height) {
        warning("End line %d of image has been reset to %d", endRow_, camera.height);
        endRow_ = camera.height;
    }
    camera.firstRow = startRow_;
    camera.lastRow = endRow_;

    // 11. The frame range is fixed on the first pass.
    if (firstPass) {
        if (frames.lastFrame < 0) frames.lastFrame = frames.animationLength;
        frames.currentFrame = frames.firstFrame;
    }

    // 12. Settle the feature mask.
    Options& options = scene.frame.options;
    if (options.featureMask & 0x8000)
        options.featureMask = (options.renderMode == 0 || options.renderMode == 1) ? 127 : 96;

    // 13. Animation frames get numbered names.
    bool animation = frames.lastFrame > frames.firstFrame || frames.animationLength != 0;
    if (animation) makeOutputName(run_.outputBase, frames.currentFrame, run_.imageFile, run_.zChannelBase);

    // 14. The particle generators emit and move; their shapes join this frame's world.
    particlesNewFrame(scene);

    // -K counts frames as -k does (CurrentFrame + 1): the run ends with that frame, later ones are not
    // even parsed; a first frame already past it is not rendered.
    const bool pastEnd = run_.hasEndFrame && frames.currentFrame + 1 > run_.endFrame;
    bool interrupted = false;
    if (frames.currentFrame < run_.startFrame - 1) {
        const int toSkip = std::max(run_.startFrame - 1, 1);
        skipped_.show(std::min((frames.currentFrame + 1) * 100 / toSkip, 100), "Skipping frame: %d",
                      frames.currentFrame + 1);
    } else if (!pastEnd) {
        render();
        interrupted = escaped_;
    }

    // 21-22. A key pressed between frames ends the animation; Escape at once.
    bool last = frames.currentFrame >= frames.lastFrame || interrupted ||
                (run_.hasEndFrame && frames.currentFrame + 1 >= run_.endFrame);
    if (!interrupted && keys().keyWaiting()) {
        run_.interruptKey = keys().readKey();
        if (run_.interruptKey < 0)
            run_.interruptKey = 0;
        else
            last = true;
    }
    // A stop signal between two frames ends the run like Escape during a render.
    if (stopSignalled()) {
        run_.interruptKey = 1;
        last = true;
    }
    cleanUp(last);
    if (frames.currentFrame > run_.startFrame) {
        if (diagnostics().messagesOn)
            printTimes(parseEnd_ - parseStart_, renderEnd_ - static_cast<long>(run_.frameStartTime));
        if (run_.statistics && options.renderMode == 1 && diagnostics().messagesOn)
            printStatistics(*stats_, scene.frame.background.skyLightOn);
    }
    // The last frame released the whole symbol table, static names too: no frame may follow it (one
    // would no longer find them).
    if (last || run_.interruptKey != 0) return false;
    run_.frameStartTime = std::time(nullptr);
    ++frames.currentFrame;
    return frames.currentFrame <= frames.lastFrame;
}

void SceneRun::announceFrame() const {
    if (!diagnostics().messagesOn) return;
    const Camera& camera = scene_->frame.camera;
    const char* shader = shaderParsed_ ? " + qsh " : " ";
    if (run_.writeImage)
        message("\n-= Scene: %s%s- Image: %s (%dx%d) =-\n", run_.sceneFile.c_str(), shader,
                run_.imageFile.c_str(), camera.width, camera.height);
    else
        message("\n-= Scene: %s%s- Framebuffer: %dx%d =-\n", run_.sceneFile.c_str(), shader, camera.width,
                camera.height);
    const AnimationCounters& f = scene_->frame.frames;
    if (f.lastFrame > f.firstFrame || f.animationLength != 0)
        message("\nFrame %d / %d\n", f.currentFrame - f.firstFrame + 1, f.lastFrame - f.firstFrame + 1);
}

void SceneRun::render() {
    SceneState& scene = *scene_;
    Options& options = scene.frame.options;
    Camera& camera = scene.frame.camera;
    stopped_ = false;
    escaped_ = false;

    // Without a display the frame-buffer window is not shown; the image is then written after all, so
    // that the render is not lost.
    openWindow();
    if (windowFailed_ && !run_.writeImage) run_.writeImage = true;

    // 16-17. The world list, the header, the output image, the hierarchy, the photon maps, the cache and
    // its primary grid, the frame buffers.
    TargaOutputPtr output;
    FrameSetup setup;
    setup.workers = workers_;
    // -l 1 loads the scene's file only when it exists; otherwise the maps are shot (and saved).
    PhotonFileRequest& files = setup.photonFiles;
    files.load = options.photons.loadRequested || (run_.photonMapLoad && fileExists(run_.photonMapFile));
    files.loadPath = options.photons.loadRequested ? options.photons.loadPath : run_.photonMapFile;
    files.save = options.photons.saveRequested || run_.photonMapSave;
    files.savePath = options.photons.saveRequested ? options.photons.savePath : run_.photonMapFile;
    setup.firstRow = startRow_;
    setup.endRow = endRow_;
    setup.firstColumn = run_.xa;
    setup.endColumn = run_.xb;
    setup.linearCopy = run_.writeExr;
    setup.openImage = [&]() -> TargaOutput* {
        announceFrame();
        renderStart_ = static_cast<long>(std::time(nullptr));
        if (run_.writeImage)
            output = openTargaOutput(options.writeAntialiasFlag != 0, run_.imageFile, camera.width,
                                     camera.height, true, options.bitsPerPixel);
        return output.get();
    };
    PreparedFrame prepared = prepareFrame(scene.frame, setup);
    if (prepared.stopped) {
        stopped_ = escaped_ = true;
        run_.interruptKey = 1;
    }
    const bool raytracing = prepared.raytracing;
    RenderContext& ctx = prepared.context;
    IrradianceCache* cache = prepared.cache.get();
    FrameBuffers& frame = prepared.buffers;
    const int width = camera.width, height = camera.height;

    // 18. One band covers the frame (the memory budget allows it): the pixels still missing in the
    // requested rows and columns are rendered, with the pixel filter's reach around them.
    // The pixel filter reads two pixels around each one; undersampling works in blocks from the frame's
    // corner. Either way more pixels are rendered than finished, and the others are put back after.
    const bool filtered = camera.pixelFilterType >= 1;
    const int grid = options.undersampling ? UndersamplingBlockSize : 1;
    std::function<bool(int, int)> drawn;
    if (output) drawn = [&output](int x, int y) { return pixelDrawn(*output, x, y); };
    const RenderRegion region =
        planRenderRegion(width, height, run_.xa, run_.xb, startRow_, endRow_, filtered ? 2 : 0, grid, drawn);
    if (output) trackDrawnPixels(*output);
    // The records of the final rows go beside the image, so that the run that finishes it starts from the
    // records an uninterrupted render would have. A render resumed from its first row needs none; one
    // resumed further down loads those of the rows above, or, when they are not there, renders as before.
    // The anti-aliasing loops also keep the corners each row shares with the next. Undersampling shares
    // blocks across rows both ways: those frames keep none.
    std::unique_ptr<RowRecordFile> rowRecords;
    std::vector<unsigned char> firstRowAbove;
    if (raytracing && cache && output && !options.undersampling && region.groups.size() == 1 && !stopped_) {
        const std::string path = rowRecordsNameFor(run_.imageFile);
        const int first = region.groups[0].rowStart;
        const std::uint64_t checksum = cache->finalChecksum();
        // What the rows hand each other depends on the loop: its level and grid, and the unclipped colours.
        const int loop = options.antialiasing * 65536 + options.adaptiveDepth * 2 + (frame.linear.empty() ? 0 : 1);
        rowRecords = first > startRow_ ? RowRecordFile::resume(path, width, height, loop, checksum, startRow_, first,
                                                               *cache, firstRowAbove)
                                       : RowRecordFile::create(path, width, height, loop, checksum);
        cache->writeRowsTo(rowRecords.get());
    }

    // The preview modes with anti-aliasing write each pixel as the mean of its 2 x 2 block.
    const bool averageBlocks =
        (options.renderMode == 2 || options.renderMode == 3) && options.antialiasing > 0;
    ImageRows writer(frame, output.get(), region, camera, averageBlocks);
    WindowRows shownRows(writer, window_.get());
    // A stop signal that came before the pixel loops (while the scene was read or prepared) ends the
    // frame before its first row.
    if (stopSignalled()) {
        stopped_ = escaped_ = true;
        run_.interruptKey = 1;
    }
    if (raytracing && !stopped_) {
        RenderProgress progress;
        if (window_)
            progress.setListener(
                [this](int percent) { window_->setTitle(windowTitle(formatText("%d %%", percent))); });
        for (const RowGroup& group : region.groups) {
            writer.rowsFinished(group.rowStart);
            RenderJob job{scene.frame, ctx, frame, ViewFrame{}};
            job.progress = &progress;
            // The irradiance cache grows while pixels render and later pixels reuse earlier records: the
            // rows then become final in their order, which keeps every image the same whatever -j says.
            job.workers = workers_;
            job.cache = cache;
            job.firstRowAbove = &firstRowAbove;
            job.columnStart = group.columns.begin;
            job.columnEnd = group.columns.end;
            job.rowSink = &writer;
            if (window_) {
                job.display = window_.get();
                job.rowSink = &shownRows;
            }
            renderRows(job, group.rowStart, group.rowEnd);
            // Any key ends the pixel loop (and this frame); Escape also stops the run.
            stopped_ = job.stopRequested || job.keyPressed;
            if (job.stopRequested) {
                escaped_ = true;
                run_.interruptKey = 1;
            }
            // A stopped frame keeps only its finished rows; the image records the others as missing so
            // that running the same command again resumes the render.
            if (stopped_) {
                if (job.stopRequested && output)
                    message("\nStopped at row %d: run the same command to resume.\n",
                            job.lastFinishedRow >= 0 ? job.lastFinishedRow : ctx.currentRow);
                break;
            }
        }
    } else if (!region.empty() && !stopped_) {
        // Preview frames are drawn whole over the requested rows: rows resumed from an older image are
        // drawn again.
        renderOutline(frame, ctx, startRow_, endRow_);
    }
    writer.finish(!stopped_);
    if (window_ && checkWindow()) {
        // The frame as written (filtered, or drawn by a preview mode) shows at once.
        window_->drawRows(frame.color, 0, height - 1);
    }
    if (options.zChannelDepth != 0 && run_.writeImage)
        dumpZChannel(frame, run_.zChannelBase, options.zChannelDepth);
    // The PNG and EXR copies are made of complete images only: every pixel drawn now or kept from before.
    bool complete = output && !stopped_;
    for (int y = 0; complete && y < height; ++y)
        for (int x = 0; complete && x < width; ++x) complete = pixelDrawn(*output, x, y);
    if (cache) cache->writeRowsTo(nullptr);
    if (rowRecords && complete) rowRecords->remove();
    if (output) closeTargaOutput(std::move(output));
    if (complete && run_.writeExr) writeExrImage(frame, exrNameFor(run_.imageFile));
    releaseBand(frame);
    if (complete && run_.writePng) writePngCopy(run_.imageFile, pngNameFor(run_.imageFile));
    renderEnd_ = static_cast<long>(std::time(nullptr));
    *stats_ = ctx.stats;
    if (cache && run_.statistics)
        message("\n%ld irradiance records: %ld computed, %ld reused\n",
                static_cast<long>(cache->recordCount()), cache->computed(), cache->reused());
    // Several threads: how many rows (of the grid and the image) missed records of the rows above and were
    // rendered again. Timing decides it, so it is said only when it happened (one thread never does).
    if (cache && run_.statistics && cache->unitsRedone() > 0)
        message("%ld of %ld rows rendered again for the irradiance cache\n", cache->unitsRedone(),
                cache->unitsCommitted());
}

// The preview modes: the band starts from the background, then every shape of the main list is cut
// into triangles and scan-converted: the faces first, which fill the depth buffer; then the hidden-line
// modes cut the shapes again and draw the visible edges, and the scanline mode shades the covered pixels.
void SceneRun::renderOutline(FrameBuffers& frame, RenderContext& ctx, int rowStart, int rowEnd) {
    SceneState& scene = *scene_;
    Camera& camera = scene.frame.camera;
    const bool hiddenLine = scene.frame.options.renderMode == 3;
    // The OpenGL preview has no band to draw into: its shapes go to the window only.
    const bool draw = hiddenLine || scene.frame.options.renderMode == 2;
    const bool black = hiddenLine && run_.hiddenLineVariant == 0;
    const ViewFrame view = prepareView(camera);
    for (int y = rowStart; y < rowEnd && draw; ++y)
        if (frame.color.hasRow(y))
            fillBackgroundRow(scene.frame, black, y, camera.width, camera.height, frame.color, &view);

    RenderJob job{scene.frame, ctx, frame, view};
    job.columnStart = run_.xa;
    job.columnEnd = run_.xb;
    prepareRenderContext(ctx, scene.frame);
    // Shadow rays of the scanline shading start well clear of the triangles that stand for the surface.
    if (scene.frame.options.renderMode == 2) ctx.settings.shadowBias = 0.1;
    JobPreviewShading shading(job);
    OutlineMode mode = !hiddenLine ? OutlineMode::Scanline
                                   : (black ? OutlineMode::HiddenLineWhite : OutlineMode::HiddenLineColour);
    OutlineRasterizer raster(buildPreviewTransform(camera), mode, camera.width, rowStart, rowEnd, run_.xa,
                             run_.xb);
    // The OpenGL preview: the camera as a look-at view, one GL light per scene light (at most 8).
    if (openGl_) {
        PreviewView view;
        view.location = camera.location;
        view.pointOfInterest = camera.pointOfInterest;
        view.up = camera.up;
        view.fieldOfView = camera.halfAngle * 2 * 180 / 3.14159265358979323846;
        view.aspect = -camera.frameAspectRatio;
        view.nearClip = camera.nearClip > 0 ? camera.nearClip : 0.001;
        view.farClip = camera.farClip > view.nearClip ? camera.farClip : 1000000;
        view.background = scene.frame.background.colour;
        view.polygonMode = scene.frame.options.openGlMode;
        std::vector<PreviewLight> lights;
        for (const auto& light : scene.frame.lights) {
            if (lights.size() == 8) break;
            LightSample sample;
            light->lightAt(ctx, camera.location, sample);
            lights.push_back({sample.position, light->colour, light->decayType});
        }
        openGl_->setShading(&shading);
        openGl_->beginFrame(view, lights);
    }
    TriangleScratch scratch;
    // One pass over the main list; false when a key stopped it.
    auto cutShapes = [&](TriangleSink* sink, bool toWindow) {
        int count = 0;
        const long total = std::max<long>(static_cast<long>(scene.frame.world.mainList.size()), 1);
        ProgressCounter counter;
        for (Shape* shape : scene.frame.world.mainList) {
            if (!shape) continue;
            if (sink) cutIntoTriangles(*shape, *sink, scratch);
            if (toWindow) cutIntoTriangles(*shape, *openGl_, scratch);
            ++count;
            if ((count & 255) == 0)
                counter.show(static_cast<int>(count * 100 / total), "%d shapes done", count);
            if (keys().keyWaiting()) {
                if (keys().readKey() == EscapeKey) {
                    run_.interruptKey = 1;
                    escaped_ = true;
                }
                stopped_ = true;
                return false;
            }
        }
        counter.close("%d shapes done ", count);
        return true;
    };
    // The hidden-line modes cut every shape twice: the second pass replays the first one's cuts.
    if (hiddenLine) scratch.tape = TriangleScratch::Tape::Record;
    bool complete = cutShapes(draw ? &raster : nullptr, openGl_ != nullptr);
    if (openGl_) {
        openGl_->endFrame();
        openGl_->setShading(nullptr);
        // Closing the window acts as Escape.
        if (openGl_->closed()) {
            run_.interruptKey = 1;
            escaped_ = stopped_ = true;
        }
    }
    if (!draw || !complete) return;
    if (hiddenLine) {
        raster.beginEdges(frame, black ? nullptr : &shading);
        scratch.rewind();
        cutShapes(&raster, false);
    } else {
        raster.shadeCovered(shading);
    }
    if (run_.statistics) message("\n%zu preview triangles", raster.triangleCount());
}

void SceneRun::cleanUp(bool lastFrame) {
    SceneState& scene = *scene_;
    scene.frame.world.clear();
    if (lastFrame) {
        message("\nCleaning out allocated memory...");
        scene.symbols->clear();
        particlesFree(scene);
        message(" Done.");
    } else {
        scene.symbols->keepStaticEntries();
    }
    scene.frame.lights.clear();
}

}  // namespace quorva
