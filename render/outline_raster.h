// The fast preview modes: every shape is cut into triangles, projected through the camera and
// scan-converted into the band with a depth test. The hidden-line modes draw the triangles' edges over
// the faces that hide them; the scanline mode shades each covered pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec3.h"
#include "render/render_job.h"
#include "render/shape_triangles.h"

namespace quorva {

class Shape;
struct SceneState;
struct FrameBuffers;
class RenderContext;

enum class OutlineMode {
    HiddenLineWhite,   // white edges on black
    HiddenLineColour,  // edges in the surface colour on the background
    Scanline,          // covered pixels shaded
};

// Camera-space projection of the perspective view: a point lands on the pixel whose primary ray
// passes through it (pixel centres at integer image coordinates, row 0 at the top).
struct PreviewProjection {
    Vec3 location, right, up, view;
    double tanHalf = 1, tanHalfAspect = 1;
    int width = 1, height = 1;

    static PreviewProjection fromView(const Vec3& location, const ViewFrame& frame, int width, int height);
    // Camera-space coordinates (along right, up, view).
    Vec3 toCamera(const Vec3& world) const;
    // Image position (x, y) and the camera depth of a camera-space point with depth > 0.
    void toImage(const Vec3& camera, double& x, double& y) const;
};

class OutlineRasterizer final : public TriangleSink {
  public:
    // Rows rowStart..rowEnd-1 and columns columnStart..columnEnd-1 of `frame` are drawn.
    OutlineRasterizer(const PreviewProjection& projection, OutlineMode mode, int rowStart, int rowEnd,
                      int columnStart, int columnEnd);

    // Cuts a shape into triangles (groups and mesh triangles directly) and fills the depth buffer.
    void addShape(const Shape& shape);
    // Adds one world-space triangle.
    void addTriangle(const Vec3& a, const Vec3& b, const Vec3& c);
    void triangle(const Vec3& a, const Vec3& b, const Vec3& c) override { addTriangle(a, b, c); }
    // Draws the result into the band: edges (hidden line) or the shaded covered pixels (scanline). The
    // scanline pixels and the edges on the background are coloured by the primary ray through them,
    // traced with `job` (set up for ray tracing; without it the scanline draws nothing and edges are
    // white). The background is already in the band.
    void finish(FrameBuffers& frame, RenderJob* job);

    std::size_t triangleCount() const { return triangles_; }
    // Depth at a band pixel (infinity when uncovered); for tests.
    float depthAt(int x, int y) const { return depth_[index(x, y)]; }

  private:
    struct ScreenPoint {
        float x, y, invDepth;
    };
    struct Edge {
        ScreenPoint a, b;
    };
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y - rowStart_) * static_cast<std::size_t>(bandWidth_) +
               static_cast<std::size_t>(x - columnStart_);
    }
    void fillTriangle(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c);
    void drawEdge(FrameBuffers& frame, const Edge& edge, RenderJob* job);
    void drawEdgePixel(FrameBuffers& frame, RenderJob* job, int x, int y);
    // Colours a pixel with the primary ray through it.
    void shadePixel(RenderJob& job, int x, int y);

    PreviewProjection projection_;
    OutlineMode mode_;
    int rowStart_, rowEnd_, columnStart_, columnEnd_, bandWidth_;
    std::vector<float> depth_;
    std::vector<Edge> edges_;
    std::vector<Vec3> grid_;  // vertices of the parametric cut, reused
    std::size_t triangles_ = 0;
};

}  // namespace quorva
