// The renderer's run: the scene list, then per scene the reset, options, log, banner and frame loop,
// then the clean-up. main() calls runRenderer and turns a FatalError into status 1.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run_state.h"
#include "render/render_progress.h"

namespace quorva {

struct SceneState;
struct RenderStatistics;
struct FrameBuffers;
class RenderContext;
class PreviewWindow;
class OpenGlPreview;
class KeySource;
class RenderWorkers;

// Runs the whole program on argv[1..]; returns the exit status (0, or the interrupt key).
// Fatal errors propagate as FatalError.
int runRenderer(const std::vector<std::string>& arguments);

// One scene: everything between the scene list and the next scene.
class SceneRun {
  public:
    SceneRun(RunState& run, const std::vector<OptionUse>& options, const std::string& baseName,
             RenderWorkers* workers = nullptr);
    ~SceneRun();
    // Per-scene steps (reset, options, log, banner, driver, delete inputs, release).
    void run();

  private:
    void deriveNames();
    void resetRunSettings();
    void readOptions();
    void openLog();
    void frameLoop();
    // One pass of the frame loop; returns false when the loop ends.
    bool frame(bool firstPass);
    // A cache file request of the command line or the scene: the path it names, -C and -l / -s first.
    void resolveCachePath(bool commandLine, bool& requested, std::string& path) const;
    void parse(bool firstPass);
    // The header of a frame: scene, image or frame buffer, and the frame number of an animation.
    void announceFrame() const;
    void render();
    void renderOutline(FrameBuffers& frame, RenderContext& ctx, int rowStart, int rowEnd);
    void cleanUp(bool lastFrame);
    // The frame-buffer window (-f, -n): started before the scene is parsed, shown on the first frame that
    // renders; without a display the run goes on in batch mode and writes the image file.
    void startWindow();
    void openWindow();
    // Waits for the display probe; a window that cannot open is dropped, with the warnings.
    bool checkWindow();
    void closeWindow();
    // "quorva - scene.qsb", with " - state" when state is not empty.
    std::string windowTitle(const std::string& state) const;
    // After the last frame: the completion text and, where the rule says so, the wait for a key or the
    // window's closing.
    void finishWindows();

    RunState& run_;
    const std::vector<OptionUse>& options_;
    std::string base_;
    SceneState* scene_;
    bool binary_ = false;
    bool shaderParsed_ = false;
    bool optionsWarned_ = false;
    bool stopped_ = false;  // a key ended this frame's pixel loop
    bool escaped_ = false;  // Escape stopped the render
    long parseStart_ = 0, parseEnd_ = 0, renderStart_ = 0, renderEnd_ = 0;
    int startRow_ = 0, endRow_ = 0;
    RenderStatistics* stats_;
    std::unique_ptr<PreviewWindow> window_;
    std::unique_ptr<KeySource> windowKeys_;  // window keys first, then the console's
    KeySource* consoleKeys_ = nullptr;
    bool windowFailed_ = false;
    bool windowShown_ = false;
    std::unique_ptr<OpenGlPreview> openGl_;  // the -O window
    bool openGlFailed_ = false;
    RenderWorkers* workers_;   // the run's render threads
    ProgressCounter skipped_;  // the frames before the first one rendered
};

}  // namespace quorva
