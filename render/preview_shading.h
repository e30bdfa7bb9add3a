// What the preview modes ask of the shading code: the shader's colour at a vertex, seen from the camera,
// and the shading of one pixel at an interpolated point and normal.
#pragma once

#include "geometry/vec3.h"
#include "render/shape_triangles.h"

namespace quorva {

struct RenderJob;

class PreviewShading {
  public:
    virtual ~PreviewShading() = default;
    // The colour the surface's shader gives at the vertex (its normal must be set).
    virtual Color vertexColour(const PreviewSurface& surface, const PreviewVertex& vertex) = 0;
    // Shades pixel (x, y), where the surface is seen at `vertex` (interpolated), into the band.
    virtual void shadePixel(const PreviewSurface& surface, int x, int y, const PreviewVertex& vertex) = 0;
};

// The preview shading of a band being rendered: the shaders are evaluated, and pixels shaded, as a
// primary ray from the camera location would see the point.
class JobPreviewShading final : public PreviewShading {
  public:
    explicit JobPreviewShading(RenderJob& job) : job_(job) {}
    Color vertexColour(const PreviewSurface& surface, const PreviewVertex& vertex) override;
    void shadePixel(const PreviewSurface& surface, int x, int y, const PreviewVertex& vertex) override;

  private:
    RenderJob& job_;
    bool badNormalReported_ = false;
};

}  // namespace quorva
