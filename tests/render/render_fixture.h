// A small scene, frame buffers and render job for the render-loop tests, and a scripted key source.
#pragma once

#include <deque>
#include <memory>

#include "diagnostics/console.h"
#include "render/frame_buffers.h"
#include "render/render_job.h"
#include "scene/scene_state.h"
#include "trace/render_context.h"

namespace quorva::testing {

// Keys handed out one per keyWaiting() poll that finds `pollsBeforeKey` exhausted.
class ScriptedKeys final : public KeySource {
  public:
    ScriptedKeys() { setKeySource(this); }
    ~ScriptedKeys() override { setKeySource(nullptr); }
    // The key becomes available after `polls` polls have found nothing.
    void pressAfter(int polls, int key) {
        pollsLeft_ = polls;
        keys_.push_back(key);
    }
    bool keyWaiting() override {
        if (keys_.empty()) return false;
        if (pollsLeft_ > 0) {
            --pollsLeft_;
            return false;
        }
        return true;
    }
    int readKey() override {
        if (keys_.empty()) return -1;
        int k = keys_.front();
        keys_.pop_front();
        return k;
    }

  private:
    int pollsLeft_ = 0;
    std::deque<int> keys_;
};

// A camera at (0, 0, -1) looking at the origin over a width x height image, an empty world, and buffers
// for every row filled as a fresh band (colour 0, depth 1000000).
struct RenderFixture {
    SceneState scene;
    RenderContext ctx;
    FrameBuffers frame;
    RenderJob job{scene.frame, ctx, frame, {}};

    explicit RenderFixture(int width = 8, int height = 6) {
        scene.frame.camera.width = width;
        scene.frame.camera.height = height;
        scene.frame.camera.lastRow = height;
        scene.frame.options.featureMask = 127;
        job.columnStart = 0;
        job.columnEnd = width;
        allocateBuffers(0, height);
        ctx.frame = &scene.frame;
    }

    void allocateBuffers(int firstRow, int lastRow) {
        const int w = scene.frame.camera.width, h = scene.frame.camera.height;
        frame.color.width = frame.depth.width = w;
        frame.color.height = frame.depth.height = h;
        frame.color.rows.assign(h + 1, {});
        frame.depth.rows.assign(h + 1, {});
        for (int y = firstRow; y < lastRow && y <= h; ++y) {
            frame.color.rows[y].assign(4 * (w + 1), 0);
            frame.depth.rows[y].assign(w + 1, 1000000.0);
        }
        frame.hasDepth = true;
    }

    const std::uint8_t* pixel(int x, int y) const { return frame.color.row(y) + 4 * x; }
    double depth(int x, int y) const { return frame.depth.rows[y][x]; }
};

}  // namespace quorva::testing
