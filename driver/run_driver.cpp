// Program start and the per-scene sequence.
#include "driver/run_driver.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "diagnostics/allocation.h"
#include "diagnostics/console.h"
#include "diagnostics/diagnostics.h"
#include "driver/jitter_table.h"
#include "driver/scene_list.h"
#include "driver/usage.h"
#include "driver/window_wait.h"
#include "render/opengl_preview.h"
#include "render/preview_window.h"
#include "render/render_workers.h"
#include "scene/scene_state.h"
#include "scene/search_path.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// While the window is open, keys typed in it (and its closing, as Escape) come before the console's.
class WindowKeys final : public KeySource {
  public:
    WindowKeys(PreviewWindow& window, KeySource& console) : window_(window), console_(console) {}
    bool keyWaiting() override {
        if (pending_ >= 0) return true;
        int key;
        if (window_.takeKey(key)) {
            pending_ = key;
            return true;
        }
        return console_.keyWaiting();
    }
    int readKey() override {
        if (pending_ >= 0 || keyWaiting()) {
            if (pending_ >= 0) {
                int key = pending_;
                pending_ = -1;
                return key;
            }
        }
        return console_.readKey();
    }

  private:
    PreviewWindow& window_;
    KeySource& console_;
    int pending_ = -1;
};

}  // namespace

int runRenderer(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] == "-help") {
        printUsage();
        return 1;
    }
    // Help and the version are answered, and options that cannot be read refused, before any scene is
    // looked at: nothing is rendered or deleted on their account.
    OptionRequest request = longOption(arguments[0]);
    std::vector<OptionUse> options;
    if (request == OptionRequest::Render) {
        std::vector<std::string> words(arguments.begin() + 1, arguments.end());
        options = parseOptionWords(words, true, &request);
    }
    if (request == OptionRequest::Usage) {
        printUsage();
        return 0;
    }
    if (request == OptionRequest::Version) {
        printBanner();
        return 0;
    }
    RunState run;
    buildSceneList(arguments[0], run);
    searchPath().scanFromEnvironment();

    // The render threads serve every scene and frame of the run.
    RenderWorkers workers(settleThreadCount(requestedThreads(options)));
    for (const std::string& name : run.sceneNames) {
        if (run.interruptKey != 0) break;
        SceneRun scene(run, options, name, &workers);
        scene.run();
    }
    if (run.inputKind == InputKind::ListFile) std::remove(run.listFile.c_str());
    closeLog();
    return run.interruptKey;
}

SceneRun::SceneRun(RunState& run, const std::vector<OptionUse>& options, const std::string& baseName,
                   RenderWorkers* workers)
    : run_(run),
      options_(options),
      base_(baseName),
      scene_(new SceneState),
      stats_(new RenderStatistics),
      workers_(workers) {}

SceneRun::~SceneRun() {
    closeWindow();
    delete scene_;
    delete stats_;
}

void SceneRun::deriveNames() {
    run_.sceneFile = base_ + ".qsb";
    run_.imageFile = base_ + ".tga";
    run_.shaderFile = base_ + ".qsh";
    run_.photonMapFile = base_ + ".qpm";
    run_.irradianceFile = base_ + ".qic";
    run_.cacheNamed = false;
    run_.logFile = base_ + ".log";
    run_.outputBase = base_;
    run_.zChannelBase = base_;
    scene_->output.imageFile = run_.imageFile;
    scene_->output.outputBase = run_.outputBase;
    scene_->output.photonMapFile = run_.photonMapFile;
    scene_->output.irradianceCacheFile = run_.irradianceFile;
}

// The settings the command line controls, back to their defaults (per scene and per frame).
void SceneRun::resetRunSettings() {
    run_.showFrameBuffer = false;
    run_.gamma = 2.2;
    run_.inverseGamma = 1.0 / 2.2;
    run_.statistics = false;
    run_.pauseOnError = false;
    run_.deleteInputs = false;
    run_.xa = run_.xb = run_.ya = run_.yb = -1;
    run_.startFrame = -1;
    run_.hasEndFrame = false;
    run_.writePng = false;
    run_.writeExr = false;
    run_.writeImage = true;
    run_.zDepth = 0;
    run_.logRequested = false;
    run_.hiddenLineVariant = 0;
    DiagnosticsState& d = diagnostics();
    d.messagesOn = d.warningsOn = d.errorsOn = true;
    d.pauseOnError = false;
}

void SceneRun::readOptions() {
    applyOptions(options_, run_, *scene_, run_.sceneNames.size(), !optionsWarned_);
    optionsWarned_ = true;
}

void SceneRun::openLog() {
    closeLog();
    if (!run_.logRequested) return;
    std::FILE* f = std::fopen(run_.logFile.c_str(), "w");
    if (!f) fatal("Failed to write log file \"%s\"", run_.logFile.c_str());
    diagnostics().log = f;
}

void SceneRun::run() {
    deriveNames();
    resetRunSettings();
    scene_->resetScene();
    fillJitterTable(scene_->jitter);
    readOptions();
    openLog();
    printBanner();
    startWindow();
    switch (scene_->frame.options.renderMode) {
        case 3:
            message("\nHidden line removal rendering mode enabled.\n");
            break;
        case 2:
            message("\nExperimentall scanline rendering mode enabled.\n");
            break;
        case 0:
            message("\nOpenGL rendering mode enabled.\n");
            break;
        default:
            break;
    }
    run_.frameStartTime = std::time(nullptr);
    frameLoop();
    finishWindows();
    if (run_.deleteInputs) {
        std::remove(run_.sceneFile.c_str());
        std::remove(run_.shaderFile.c_str());
    }
    trackedReleaseAll();
}

void SceneRun::openWindow() {
    if (scene_->frame.options.renderMode == 0 && !openGl_ && !openGlFailed_) {
        std::string problem;
        openGl_ = OpenGlPreview::open(scene_->frame.camera.width, scene_->frame.camera.height, problem, windowTitle(""));
        if (!openGl_) {
            openGlFailed_ = true;
            if (!problem.empty()) warning("%s", problem.c_str());
            warning("No display window available: rendering in batch mode");
        }
        return;
    }
    if (!window_ || windowShown_) return;
    // Without an image file (-n) the file is written after all when no window can open, which must be
    // known now. With one the render need not wait for the display: a window that cannot open is
    // reported when the frame ends.
    if (!run_.writeImage && !checkWindow()) return;
    window_->show(scene_->frame.camera.width, scene_->frame.camera.height, windowTitle(""));
    windowShown_ = true;
    consoleKeys_ = &keys();
    windowKeys_ = std::make_unique<WindowKeys>(*window_, *consoleKeys_);
    setKeySource(windowKeys_.get());
}

bool SceneRun::checkWindow() {
    std::string problem;
    if (window_->started(problem)) return true;
    if (windowKeys_) {
        setKeySource(consoleKeys_);
        windowKeys_.reset();
    }
    window_.reset();
    windowFailed_ = true;
    if (!problem.empty()) warning("%s", problem.c_str());
    warning("No display window available: rendering in batch mode");
    return false;
}

// The display opens while the scene is read: under load a server takes a while to answer.
void SceneRun::startWindow() {
    if (window_ || windowFailed_ || !run_.showFrameBuffer || scene_->frame.options.renderMode == 0) return;
    window_ = PreviewWindow::start();
}

void SceneRun::closeWindow() {
    if (windowKeys_) {
        setKeySource(consoleKeys_);
        windowKeys_.reset();
    }
    window_.reset();
    openGl_.reset();
}

std::string SceneRun::windowTitle(const std::string& state) const {
    std::string title = "quorva - " + std::filesystem::path(run_.sceneFile).filename().string();
    return state.empty() ? title : title + " - " + state;
}

// The 0xA3 option closes the windows at once, without the completion text. A window already closed, a
// stopped run or a stop signal does not wait either.
void SceneRun::finishWindows() {
    const bool frameBuffer = window_ && windowShown_;
    if (!frameBuffer && !openGl_) return;
    if (frameBuffer) window_->setTitle(windowTitle("done"));
    if (openGl_) openGl_->setTitle(windowTitle("done"));
    const char* completed = frameBuffer ? "Rendering completed." : "OpenGL rendering completed.";
    const WindowWait rule = windowWaitRule();
    const bool open = frameBuffer ? !window_->closed() : !openGl_->closed();
    const bool wait = !run_.noCompletionBox && rule.wait && open && run_.interruptKey == 0 && !stopSignalled();
    if (wait) {
        message("\n%s Press a key or close the window.\n", completed);
        if (frameBuffer) {
            // Keys typed in the window and its closing come through the window's key source.
            waitUntil([&] { return keys().keyWaiting() || stopSignalled(); }, rule.seconds);
        } else {
            waitUntil(
                [&] {
                    openGl_->handleEvents();
                    int key;
                    return openGl_->takeKey(key) || openGl_->closed() || keys().keyWaiting() ||
                           stopSignalled();
                },
                rule.seconds);
        }
        if (keys().keyWaiting()) keys().readKey();
    } else if (!run_.noCompletionBox) {
        message("\n%s\n", completed);
    }
    closeWindow();
}

}  // namespace quorva
