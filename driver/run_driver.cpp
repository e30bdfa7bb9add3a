// Program start and the per-scene sequence.
#include "driver/run_driver.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "diagnostics/allocation.h"
#include "diagnostics/diagnostics.h"
#include "driver/jitter_table.h"
#include "driver/scene_list.h"
#include "driver/usage.h"
#include "render/render_context.h"
#include "render/render_workers.h"
#include "scene/scene_state.h"
#include "scene/search_path.h"

namespace quorva {

int runRenderer(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] == "-help") {
        printUsage();
        return 1;
    }
    RunState run;
    buildSceneList(arguments[0], run);
    std::vector<std::string> words(arguments.begin() + 1, arguments.end());
    std::vector<OptionUse> options = parseOptionWords(words, true);
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
    delete scene_;
    delete stats_;
}

void SceneRun::deriveNames() {
    run_.sceneFile = base_ + ".qsb";
    run_.imageFile = base_ + ".tga";
    run_.shaderFile = base_ + ".qsh";
    run_.photonMapFile = base_ + ".qpm";
    run_.irradianceFile = base_ + ".qic";
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
    switch (scene_->options.renderMode) {
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
    // Without a window system the frame buffer window and the OpenGL preview are not available; the
    // scene is rendered in batch mode instead (the image file is still written unless -n or -O).
    if (run_.showFrameBuffer || scene_->options.renderMode == 0)
        warning("No display window available: rendering in batch mode");
    frameLoop();
    if (run_.deleteInputs) {
        std::remove(run_.sceneFile.c_str());
        std::remove(run_.shaderFile.c_str());
    }
    trackedReleaseAll();
}

}  // namespace quorva
