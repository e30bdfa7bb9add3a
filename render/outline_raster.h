// The fast preview modes: every shape is cut into triangles, projected through the preview transform,
// clipped against the band's window in homogeneous coordinates and scan-converted with a depth test.
// The hidden-line modes draw the triangles' edges over the faces that hide them; the scanline mode
// shades each covered pixel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/vec3.h"
#include "render/preview_transform.h"
#include "render/shape_triangles.h"

namespace quorva {

struct FrameBuffers;
class PreviewShading;

enum class OutlineMode {
    HiddenLineWhite,   // white edges on black
    HiddenLineColour,  // edges in the surface colour on the background
    Scanline,          // covered pixels shaded
};

// Two passes over the same triangles: the faces (depth, and for the scanline mode what is seen at
// each pixel), then, for the hidden-line modes, the edges.
class OutlineRasterizer final : public TriangleSink {
  public:
    // Draws rows rowStart..rowEnd-1 and columns columnStart..columnEnd-1 of an image `width` wide.
    OutlineRasterizer(const PreviewTransform& transform, OutlineMode mode, int width, int rowStart,
                      int rowEnd, int columnStart, int columnEnd);

    // Ends the faces pass (their distances from the eye go to the frame's ZBuffer when it has one): the
    // triangles that follow draw their edges into `frame`, coloured by `shading` in the coloured mode
    // (white without it).
    void beginEdges(FrameBuffers& frame, PreviewShading* shading);
    // Scanline mode, after the faces pass: shades every covered pixel.
    void shadeCovered(PreviewShading& shading);

    void beginSurface(const PreviewSurface& surface) override;
    void triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                  unsigned edges) override;
    void grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges) override;
    // A bare world-space triangle with all its edges (face normal, no surface).
    void addTriangle(const Vec3& a, const Vec3& b, const Vec3& c);

    // Triangles handed in during the faces pass.
    std::size_t triangleCount() const { return triangles_; }
    // Whether a pixel of the band (rows and columns drawn) is covered by a face.
    bool covered(int x, int y) const { return invDepth_[index(x, y)] > 0; }

    // A projected corner: homogeneous image position and what the scanline mode interpolates.
    struct ClipVertex {
        double X, Y, W;
        Vec3 normal, texcoord;
    };

  private:
    static constexpr unsigned NotFinite = 64;
    struct Projected {
        double X, Y, W;
        unsigned code;  // planes of the window the point lies outside, or NotFinite
    };
    struct ScreenVertex {
        double x, y, invW;
        const ClipVertex* source;
    };
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y - rowStart_) * static_cast<std::size_t>(bandWidth_) +
               static_cast<std::size_t>(x - columnStart_);
    }
    unsigned outcode(double X, double Y, double W) const;
    Projected projectPoint(const Vec3& point) const;
    void projectedTriangle(const PreviewVertex* const* corner, const Projected* const* q, unsigned edges);
    void fillPolygon(const ClipVertex* polygon, int count, unsigned orCodes);
    void fillTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c);
    void drawEdges(const PreviewVertex* const* corners, const Projected* const* projected, unsigned edges);
    void drawSegment(double x0, double y0, double iw0, const Color& c0, double x1, double y1, double iw1,
                     const Color& c1);

    PreviewTransform transform_;
    OutlineMode mode_;
    int width_, rowStart_, rowEnd_, columnStart_, columnEnd_, bandWidth_;
    bool edgesPass_ = false;
    FrameBuffers* frame_ = nullptr;
    PreviewShading* shading_ = nullptr;
    // 1 / depth of the nearest face per band pixel (0: none).
    std::vector<float> invDepth_;
    // Scanline mode: per pixel the surface (index into surfaces_, -1 none), normal and texture coordinate.
    std::vector<std::int32_t> pixelSurface_;
    std::vector<Vec3> pixelNormal_, pixelTexcoord_;
    std::vector<std::uint8_t> pixelHasTexcoord_;
    std::vector<PreviewSurface> surfaces_;
    PreviewSurface surface_;                    // of the triangles now handed in
    std::array<ClipVertex, 12> clipA_, clipB_;  // polygons being clipped
    std::vector<Projected> projected_;          // the vertices of a grid
    bool texcoords_ = false;                    // the current triangle carries texture coordinates
    std::size_t triangles_ = 0;
};

}  // namespace quorva
