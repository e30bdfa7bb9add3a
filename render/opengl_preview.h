// The OpenGL preview (-O): the scene's triangles drawn by OpenGL as points, lines or polygons in a
// window of the main thread (its events are handled only when the renderer calls in).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/vec3.h"
#include "render/shape_triangles.h"

namespace quorva {

class PreviewShading;

struct PreviewLight {
    Vec3 position;
    Color colour;
    int decay = 0;  // 0 constant, 1 linear, 2 quadratic attenuation
};

struct PreviewView {
    Vec3 location, pointOfInterest, up;
    double fieldOfView = 35;  // vertical, degrees
    double aspect = 1;        // the frame aspect ratio, negated (the look-at frame is mirrored)
    double nearClip = 0.001, farClip = 1000000;
    Color background;
    int polygonMode = 3;  // 1 points, 2 lines, 3 filled
};

class OpenGlPreview final : public TriangleSink {
  public:
    // Null when no window can open (see openWindowSystem for `problem`).
    static std::unique_ptr<OpenGlPreview> open(int width, int height, std::string& problem,
                                               const std::string& title = "quorva");
    ~OpenGlPreview() override;

    void beginFrame(const PreviewView& view, const std::vector<PreviewLight>& lights);
    // Vertex colours come from `shading` (its shader colour seen from the camera); grey without it.
    void setShading(PreviewShading* shading) { shading_ = shading; }
    void beginSurface(const PreviewSurface& surface) override { surface_ = surface; }
    // Each corner with its colour, its normal (the face normal when the cut gives none), its texture
    // coordinate when it has one, and its position.
    void triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                  unsigned edges) override;
    void grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges) override;
    // Shows the frame and handles window events.
    void endFrame();
    // The frame's pixels (RGBA, rows bottom-up), read before the swap; for tests.
    std::vector<std::uint8_t> lastFrame() const { return lastFrame_; }
    bool closed() const { return closed_; }
    void setTitle(const std::string& title);
    // Handles the window's events (keys, closing, exposure, which draws the last frame again).
    void handleEvents();
    // Keys typed in the window, oldest first (taken by handleEvents). False when none.
    bool takeKey(int& key);

  private:
    OpenGlPreview(int width, int height, int windowId)
        : width_(width), height_(height), windowId_(windowId) {}
    static OpenGlPreview* ofCallback();
    static void onDisplay();
    static void onKeyboard(unsigned char key, int x, int y);
    static void onClose();
    int width_, height_, windowId_;
    bool closed_ = false;
    std::vector<int> keys_;
    Vec3 eye_;  // filled faces turn their normals towards it
    bool filled_ = true;
    const Vec3* eyeIfFilled() const { return filled_ ? &eye_ : nullptr; }
    PreviewShading* shading_ = nullptr;
    PreviewSurface surface_;
    std::vector<Color> gridColours_;
    Color colourAt(const PreviewVertex& v);
    std::vector<std::uint8_t> lastFrame_;
};

}  // namespace quorva
