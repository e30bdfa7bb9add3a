// The renderer's run: the scene list, then per scene the reset, options, log, banner and frame loop,
// then the clean-up. main() calls runRenderer and turns a FatalError into status 1.
#pragma once

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run_state.h"

namespace quorva {

struct SceneState;
struct RenderStatistics;
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
    void parse(bool firstPass);
    void render();
    void renderOutline();
    void cleanUp(bool lastFrame);

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
    RenderWorkers* workers_;  // the run's render threads
};

}  // namespace quorva
