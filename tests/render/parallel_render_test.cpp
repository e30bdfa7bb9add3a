// The pixel loops on several workers: every loop, with depth of field, area lights, blurred mirrors and
// glass, gives the pixels, depths and statistics of one worker; a fatal error in a worker ends the render.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diagnostics/diagnostics.h"
#include "prepare/prepare_frame.h"
#include "render/frame_buffers.h"
#include "render/render_job.h"
#include "render/render_rows.h"
#include "render/render_workers.h"
#include "scene/parser.h"
#include "scene/scene_state.h"
#include "shading/light.h"
#include "support/parallel_scene.h"
#include "support/progress_text.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

std::string sceneText(const std::string& cameraExtra) {
    return testing::parallelScene("Format (47, 31) " + cameraExtra);
}

struct Rendered {
    FrameBuffers frame;
    RenderStatistics stats;
    std::string console;
};

// Parses and prepares the scene as the frame loop does, then renders rows [first, end) of one band
// covering the frame, and filters it.
Rendered render(const std::string& text, RenderWorkers* workers, int antialiasing, bool undersampling,
                int first = 0) {
    SceneState scene;
    parseText(scene, text, "p.qsb");
    scene.frame.options.antialiasing = antialiasing;
    scene.frame.options.undersampling = undersampling;
    scene.frame.options.zChannelDepth = 1;  // the depths are compared too
    buildSunLight(scene.frame);
    Rendered out;
    PreparedFrame prepared = prepareFrame(scene.frame, FrameSetup{});
    out.frame = std::move(prepared.buffers);
    Camera& camera = scene.frame.camera;
    RenderContext& ctx = prepared.context;
    RenderJob job{scene.frame, ctx, out.frame, {}};
    job.columnStart = 0;
    job.columnEnd = camera.width;
    job.workers = workers;
    ConsoleCapture console;
    renderRows(job, first, camera.height);
    filterBand(out.frame, camera, 0, camera.height - 1, workers);
    out.stats = ctx.stats;
    out.console = testing::withoutTimes(console.text());  // the clock differs from run to run
    return out;
}

void expectSame(const Rendered& a, const Rendered& b, const std::string& what) {
    EXPECT_EQ(a.frame.color.rows, b.frame.color.rows) << what;
    EXPECT_EQ(a.frame.depth.rows, b.frame.depth.rows) << what;
    EXPECT_EQ(0, std::memcmp(&a.stats, &b.stats, sizeof a.stats)) << what;
    EXPECT_EQ(a.console, b.console) << what;
}

TEST(ParallelRender, EveryLoopGivesTheImageDepthsAndCountsOfOneWorker) {
    RenderWorkers three(3), eight(8);
    struct Mode {
        const char* name;
        int antialiasing;
        bool undersampling;
        const char* camera;
    };
    const Mode modes[] = {{"plain", 0, false, ""},
                          {"plain, depth of field", 0, false, "DepthOfField (0.1, 7, 2)"},
                          {"adaptive, depth of field", 3, false, "DepthOfField (0.1, 7, 1)"},
                          {"super-adaptive", 12, false, ""},
                          {"undersampling", 6, true, ""},
                          {"plain, Bessel filter", 0, false, "PixelFilter (7, 3, 3)"}};
    for (const Mode& m : modes) {
        const std::string text = sceneText(m.camera);
        for (int first : {0, 5}) {
            const Rendered one = render(text, nullptr, m.antialiasing, m.undersampling, first);
            EXPECT_GT(one.stats.reflectedRays, 0u);
            EXPECT_GT(one.stats.refractedRays, 0u);
            expectSame(one, render(text, &three, m.antialiasing, m.undersampling, first), m.name);
            expectSame(one, render(text, &eight, m.antialiasing, m.undersampling, first), m.name);
        }
    }
}

TEST(ParallelRender, AFatalErrorInAWorkerEndsTheRender) {
    // The background expression does not give a colour: the first sample of every worker fails.
    const std::string text =
        "Version : 1.3\nCamera [ (0, 0, -5), (0, 0, 0), (0, 1, 0) Format (12, 9) ]\n"
        "Background (x < 1000 ? 3 : 2)\n";
    RenderWorkers four(4);
    for (int antialiasing : {0, 4}) {
        try {
            render(text, &four, antialiasing, false);
            ADD_FAILURE() << "no error";
        } catch (const FatalError& e) {
            EXPECT_STREQ(e.what(), "Unable to resolve background expression");
        }
    }
}

TEST(ParallelRender, ThreadCounts) {
    EXPECT_GE(settleThreadCount(0), 1);
    EXPECT_EQ(settleThreadCount(-3), settleThreadCount(0));
    EXPECT_EQ(settleThreadCount(5), 5);
    EXPECT_EQ(settleThreadCount(100000), MaxRenderThreads);
}

}  // namespace
}  // namespace quorva
