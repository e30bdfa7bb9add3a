// What a ray sees when it hits nothing: the background colour or expression, the sky tint and the
// background intensity.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;

// Background seen by `ray` at recursion `level`. A background expression is evaluated with the surface
// coordinates u (0 at the left edge, (width - 1)/width in the last column) and v (0 in the bottom row)
// of the pixel being rendered (ctx.currentColumn, ctx.currentRow) and with the missed ray as the
// incident ray; it must yield a colour. Alpha is 0 for primary rays, so the image's alpha channel
// separates the scene from the background, and 1 for every other ray.
void backgroundColour(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha);

}  // namespace quorva
