// The background colour of missed rays.
#include "shading/background.h"

#include <algorithm>

#include "diagnostics/diagnostics.h"
#include "render/render_context.h"
#include "scene/scene_state.h"
#include "scene/value.h"

namespace quorva {

void backgroundColour(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha) {
    const SceneState& scene = *ctx.scene;
    const BackgroundSettings& background = scene.background;

    if (background.expression) {
        const Camera& camera = scene.camera;
        ShadingContext shading;
        shading.u = static_cast<double>(std::min(ctx.currentColumn, camera.width - 1)) / camera.width;
        shading.v = static_cast<double>(camera.height - std::min(ctx.currentRow, camera.height - 1) - 1) /
                    camera.height;
        shading.Puv = {shading.u, shading.v, 0};
        shading.E = ray.origin;
        shading.I = ray.direction;
        shading.V = -ray.direction;
        shading.N = -ray.direction;
        shading.P = ray.at(NoHitDistance);
        shading.Po = shading.P;
        shading.level = level;
        shading.render = &ctx;
        EvalContext eval{&scene.frames, &shading};
        Value value = evaluate(eval, background.expression.get());
        if (!value.isVector()) {
            if (background.skyLightOn) fatal("Unable to resolve skylight expression");
            fatal("Unable to resolve background expression");
        }
        colour = Color(value.vector);
    } else {
        colour = background.colour;
    }
    if (background.skyLightOn && background.skyTint) colour *= background.skyColour;
    colour *= background.intensity;
    alpha = level > 0 ? 1.0 : 0.0;
}

}  // namespace quorva
