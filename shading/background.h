// What a ray sees when it hits nothing: the background colour or expression, the sky tint and the
// background intensity.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

struct ViewFrame;

class RenderContext;

// Background seen by `ray` at recursion `level`. A background expression is evaluated with the surface
// coordinates u (0 at the left edge, (width - 1)/width in the last column) and v (0 in the bottom row)
// of the pixel being rendered (ctx.currentColumn, ctx.currentRow) and with the missed ray as the
// incident ray; it must yield a colour. Alpha is 0 for primary rays, so the image's alpha channel
// separates the scene from the background, and 1 for every other ray.
void backgroundColour(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha);

struct Frame;
struct SBuffer;

// Fills row `row` of a preview's frame buffer with the background: for each column i (the spare last
// column included) the background expression at u = i / (width + 1), v = (rows - row) / rows, or the
// background colour; black for the hidden-line preview (`hiddenLine`, -h 1). Sky tint and intensity
// apply as for missed rays; channels are clamped to 0..1 before they become bytes, and the alpha byte is
// 0 as for a primary ray that misses. The row must be present in `buffer`.
// With `view`, an expression also sees the primary ray of each pixel (E, I, V, N and P as for a ray
// that misses), so that a background that depends on the ray direction (an environment map) shows in
// the previews as it does in the ray-traced image.
void fillBackgroundRow(const Frame& scene, bool hiddenLine, int row, int width, int rows,
                       SBuffer& buffer, const ViewFrame* view = nullptr);

}  // namespace quorva
