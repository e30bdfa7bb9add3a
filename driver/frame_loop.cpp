// The frame loop of one scene: parse, prepare, render in bands, write, clean up; repeated for every
// frame of an animation (the scene text reads CurrentFrame to animate itself).
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "driver/report.h"
#include "driver/run_driver.h"
#include "geometry/hierarchy.h"
#include "image/png_writer.h"
#include "image/targa_output.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "render/render_context.h"
#include "render/render_job.h"
#include "render/render_rows.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "shading/light.h"

namespace quorva {
namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// Binary scene files start with these 11 bytes.
constexpr char BinaryMagic[] = "QUILLBARROW";

// Opens the scene file to tell ascii from binary; "Unable to find scene file %s" when it cannot be read.
bool isBinaryScene(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fatal("Unable to find scene file %s", path.c_str());
    char head[11] = {};
    std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && std::memcmp(head, BinaryMagic, sizeof head) == 0;
}

// Writes rows to the image as soon as they are final, so that a render cut short loses at most the row
// it was drawing. With a pixel filter rows change until the band is filtered: they are written then.
class ImageRowWriter final : public RowSink {
  public:
    ImageRowWriter(FrameBuffers& frame, TargaOutput* output, bool immediate)
        : frame_(frame), output_(output), immediate_(immediate) {}

    void startBand(int first) { next_ = first; }
    void rowsFinished(int endRow) override {
        if (immediate_) writeUpTo(endRow);
    }
    // Writes the rows from the next unwritten one up to endRow (exclusive).
    void writeUpTo(int endRow) {
        if (!output_ || endRow <= next_) return;
        writeTargaRows(next_, frame_, *output_, endRow - 1);
        next_ = endRow;
    }

  private:
    FrameBuffers& frame_;
    TargaOutput* output_;
    bool immediate_;
    int next_ = 0;
};

}  // namespace

void SceneRun::frameLoop() {
    bool firstPass = true;
    while (frame(firstPass)) firstPass = false;
}

void SceneRun::parse(bool firstPass) {
    SceneState& scene = *scene_;
    if (firstPass)
        binary_ = isBinaryScene(run_.sceneFile);
    else
        isBinaryScene(run_.sceneFile);
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
        fatal("Binary scene files cannot be read by this version: %s", run_.sceneFile.c_str());
    }
    if (fileExists(run_.shaderFile)) {
        if (parseFile(scene, run_.shaderFile) == 1) fatal("Invalid input specification");
        shaderParsed_ = true;
    }
    if (parseFile(scene, run_.sceneFile) == 1) fatal("Invalid input specification");
    run_.imageFile = scene.output.imageFile;
    run_.outputBase = scene.output.outputBase;
    parseEnd_ = static_cast<long>(std::time(nullptr));

    if (scene.options.version < 0) fatal("Version specification is missing in QSB file");
    if (scene.options.version < 1 || scene.options.version > 1.3)
        fatal("Wrong version specification in QSB file");
}

bool SceneRun::frame(bool firstPass) {
    SceneState& scene = *scene_;
    AnimationCounters& frames = scene.frames;
    // 1. From the second pass on, the per-frame state goes back to its defaults.
    if (!firstPass) {
        resetRunSettings();
        scene.resetFrame();
    }
    frames.firstFrameStarted = !firstPass;
    *stats_ = RenderStatistics{};

    // 2-5. Parse, check the version, read the command line again (it wins over the scene).
    parse(firstPass);
    buildSunLight(scene);
    readOptions();
    if (run_.logRequested && !diagnostics().log) openLog();

    // 6. A cache load request needs a save path or an existing cache file.
    if (run_.irradianceLoad) {
        if (run_.irradianceSave || fileExists(run_.irradianceFile)) {
            scene.options.renderMode = 1;
            scene.options.irradiance.enabled = true;
            run_.irradianceEnabled = true;
        } else {
            run_.irradianceLoad = false;
        }
    }
    if (firstPass) message("Parsing completed.\n");

    Camera& camera = scene.camera;
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
    Options& options = scene.options;
    if (options.featureMask & 0x8000)
        options.featureMask = (options.renderMode == 0 || options.renderMode == 1) ? 127 : 96;

    // 13. Animation frames get numbered names.
    bool animation = frames.lastFrame > frames.firstFrame || frames.animationLength != 0;
    if (animation) makeOutputName(run_.outputBase, frames.currentFrame, run_.imageFile, run_.zChannelBase);

    // -K counts frames as -k does (CurrentFrame + 1): the run ends with that frame, later ones are not
    // even parsed; a first frame already past it is not rendered.
    const bool pastEnd = run_.hasEndFrame && frames.currentFrame + 1 > run_.endFrame;
    bool interrupted = false;
    if (frames.currentFrame < run_.startFrame - 1) {
        progressMessage("\rSkipping frame: %d", frames.currentFrame + 1);
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
    cleanUp(last);
    if (frames.currentFrame > run_.startFrame) {
        if (diagnostics().messagesOn)
            printTimes(parseEnd_ - parseStart_, renderEnd_ - static_cast<long>(run_.frameStartTime));
        if (run_.statistics && options.renderMode == 1 && diagnostics().messagesOn)
            printStatistics(*stats_, scene.background.skyLightOn);
    }
    if (interrupted || run_.interruptKey != 0) return false;
    run_.frameStartTime = std::time(nullptr);
    ++frames.currentFrame;
    return frames.currentFrame <= frames.lastFrame;
}

void SceneRun::render() {
    SceneState& scene = *scene_;
    Options& options = scene.options;
    Camera& camera = scene.camera;
    stopped_ = false;
    escaped_ = false;

    // 16. The world list, the header.
    prepareLightEntries(scene.world, scene);
    if (scene.lights.empty() && !scene.background.skyLightOn) warning("No light source in this scene");
    if (diagnostics().messagesOn) {
        const char* shader = shaderParsed_ ? " + qsh " : " ";
        if (run_.writeImage)
            message("\n-= Scene: %s%s- Image: %s (%dx%d) =-\n", run_.sceneFile.c_str(), shader,
                    run_.imageFile.c_str(), camera.width, camera.height);
        else
            message("\n-= Scene: %s%s- Framebuffer: %dx%d =-\n", run_.sceneFile.c_str(), shader, camera.width,
                    camera.height);
        const AnimationCounters& f = scene.frames;
        if (f.lastFrame > f.firstFrame || f.animationLength != 0)
            message("\nFrame %d / %d\n", f.currentFrame - f.firstFrame + 1, f.lastFrame - f.firstFrame + 1);
    }

    // 17. The output image and the hierarchy.
    renderStart_ = static_cast<long>(std::time(nullptr));
    TargaOutputPtr output;
    if (run_.writeImage)
        output = openTargaOutput(options.writeAntialiasFlag != 0, run_.imageFile, camera.width, camera.height,
                                 true, options.bitsPerPixel);
    // The camera's own transformation is applied before the hierarchy is cut for the eye point.
    applyCameraTransform(camera);
    bool raytracing = options.renderMode == 1 || (options.renderMode == 2 && (options.featureMask & 14));
    if (raytracing) {
        message("\nBuilding hierarchical bounding volumes...");
        buildHierarchy(scene.world);
        message(" Done.");
        message("\nSorting object hierarchy...");
        buildCameraFrontier(scene.world, camera.location);
        message(" Done.");
    }

    // 18. Bands of rows; the memory budget makes one band cover the frame.
    long width = camera.width, height = camera.height;
    long band = ((width + 1) * (height + 1) * 8) / ((width + 1) * 8);
    if (band < 3) band = 3;
    if (band > height + 1) band = height + 1;

    RenderContext ctx(&scene);
    FrameBuffers frame;
    ImageRowWriter writer(frame, output.get(), camera.pixelFilterType < 1);
    for (long bandStart = 0; bandStart < height && !stopped_; bandStart += band) {
        long bandEnd = bandStart + band;  // exclusive
        if (bandEnd > height) bandEnd = height;
        message("\nInitializing rendering pipeline...");
        int first = static_cast<int>(bandStart), last = static_cast<int>(bandEnd - 1);
        prepareBand(frame, camera, output.get(), first, last, options.zChannelDepth != 0);
        message(" Done.\n\n");
        writer.startBand(first);

        int rowStart = startRow_ > first ? startRow_ : first;
        int rowEnd = endRow_ < bandEnd ? endRow_ : static_cast<int>(bandEnd);
        // Rows found complete in an older image of the same name are not rendered again.
        if (output) {
            const std::vector<unsigned char>& done = rowsDone(*output);
            while (rowStart < rowEnd && rowStart < static_cast<int>(done.size()) && done[rowStart])
                ++rowStart;
        }
        // The rows before the first one rendered are already final (resumed, or outside the row range).
        writer.rowsFinished(rowStart < rowEnd ? rowStart : first);
        int finalEnd = static_cast<int>(bandEnd);
        if (rowStart < rowEnd) {
            if (raytracing) {
                RenderJob job{scene, ctx, frame, ViewFrame{}};
                job.workers = workers_;
                job.columnStart = run_.xa;
                job.columnEnd = run_.xb;
                job.rowSink = &writer;
                renderRows(job, rowStart, rowEnd);
                // Any key ends the pixel loop (and this frame's bands); Escape also stops the run.
                stopped_ = job.stopRequested || job.keyPressed;
                if (job.stopRequested) {
                    escaped_ = true;
                    run_.interruptKey = 1;
                }
                // A stopped band keeps only its finished rows; the image file marks the others as
                // missing so that running the same command again resumes the render.
                if (stopped_) finalEnd = job.finishedEnd > rowStart ? job.finishedEnd : rowStart;
            } else {
                renderOutline();
            }
        }
        filterBand(frame, camera, first, last, workers_);
        writer.writeUpTo(finalEnd);
        if (options.zChannelDepth != 0 && run_.writeImage)
            dumpZChannel(frame, run_.zChannelBase, options.zChannelDepth);
        releaseBand(frame);
    }
    // The PNG copy is made of complete images only: every row rendered now or kept from before.
    bool complete = output && !stopped_;
    if (complete)
        for (unsigned char done : rowsDone(*output)) complete = complete && done;
    if (output) closeTargaOutput(std::move(output));
    if (complete && run_.writePng) writePngCopy(run_.imageFile, pngNameFor(run_.imageFile));
    renderEnd_ = static_cast<long>(std::time(nullptr));
    *stats_ = ctx.stats;
}

// The outline modes (OpenGL preview, scanline and hidden-line) draw shape after shape.
void SceneRun::renderOutline() {
    int count = 0;
    for (std::size_t i = 0; i < scene_->world.mainList.size(); ++i) {
        ++count;
        progressMessage("\r%d shapes done", count);
        if (keys().keyWaiting()) {
            if (keys().readKey() == EscapeKey) {
                run_.interruptKey = 1;
                escaped_ = true;
            }
            stopped_ = true;
            break;
        }
    }
    progressMessage("\r%d shapes done ", count);
}

void SceneRun::cleanUp(bool lastFrame) {
    SceneState& scene = *scene_;
    scene.world.clear();
    if (lastFrame) {
        message("\nCleaning out allocated memory...");
        scene.symbols->clear();
        message(" Done.");
    } else {
        scene.symbols->keepStaticEntries();
    }
    scene.lights.clear();
}

}  // namespace quorva
