// The background colour of missed rays.
#include "shading/background.h"

#include <algorithm>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "render/camera_rays.h"
#include "render/frame_buffers.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {

namespace {

// What a background expression sees of the ray that missed: it looks back along the ray from a point
// far out on it.
void setMissedRay(ShadingContext& shading, const Ray& ray) {
    shading.E = ray.origin;
    shading.I = ray.direction;
    shading.V = -ray.direction;
    shading.N = -ray.direction;
    shading.P = ray.at(NoHitDistance);
    shading.Po = shading.P;
}

}  // namespace

void backgroundColour(RenderContext& ctx, int level, const Ray& ray, Color& colour, double& alpha) {
    const Frame& scene = *ctx.frame;
    const BackgroundSettings& background = scene.background;

    if (background.expression) {
        const Camera& camera = scene.camera;
        ShadingContext shading;
        shading.u = static_cast<double>(std::min(ctx.currentColumn, camera.width - 1)) / camera.width;
        shading.v = static_cast<double>(camera.height - std::min(ctx.currentRow, camera.height - 1) - 1) /
                    camera.height;
        shading.Puv = {shading.u, shading.v, 0};
        setMissedRay(shading, ray);
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

void fillBackgroundRow(const Frame& scene, bool hiddenLine, int row, int width, int rows,
                       SBuffer& buffer, const ViewFrame* view) {
    const BackgroundSettings& background = scene.background;
    std::uint8_t* pixels = buffer.row(row);
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(width) + 1, buffer.rows[row].size() / 4);
    for (std::size_t i = 0; i < count; ++i) {
        Color colour{0, 0, 0};
        if (!hiddenLine) {
            if (background.expression) {
                ShadingContext shading;
                shading.u = static_cast<double>(i) / (width + 1);
                shading.v = rows > 0 ? static_cast<double>(rows - row) / rows : 0.0;
                shading.Puv = {shading.u, shading.v, 0};
                if (view) {
                    const Ray ray = primaryRay(scene.camera, *view, static_cast<double>(i), row,
                                               scene.options.shadowBias);
                    setMissedRay(shading, ray);
                }
                EvalContext eval{&scene.frames, &shading};
                Value value = evaluate(eval, background.expression.get());
                if (!value.isVector()) fatal("Unable to resolve Background expression");
                colour = Color(value.vector);
            } else {
                colour = background.colour;
            }
            if (background.skyLightOn && background.skyTint) colour *= background.skyColour;
            colour *= background.intensity;
        }
        std::uint8_t* p = pixels + 4 * i;
        p[0] = colourByte(std::clamp(colour.r, 0.0, 1.0));
        p[1] = colourByte(std::clamp(colour.g, 0.0, 1.0));
        p[2] = colourByte(std::clamp(colour.b, 0.0, 1.0));
        p[3] = 0;
    }
}

}  // namespace quorva
