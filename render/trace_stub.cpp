// Placeholder TraceRay until the render loop lands.
#include "render/render_context.h"
#include "render/trace.h"

namespace quorva {
double traceRay(RenderContext&, int, const Ray&, Color& colour, double& alpha, std::uint32_t* counter, double,
                double) {
    if (counter) ++*counter;
    colour = {0, 0, 0};
    alpha = 0;
    return 1000000.0;
}
}  // namespace quorva
