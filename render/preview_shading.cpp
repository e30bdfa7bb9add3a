#include "render/preview_shading.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "render/render_job.h"
#include "shading/shade.h"
#include "shading/shade_point.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// The hit a primary ray from `eye` would record at the vertex; returns the ray.
Ray hitAt(const Vec3& eye, const PreviewSurface& surface, const PreviewVertex& vertex, Intersection& hit) {
    Vec3 d = vertex.point - eye;
    const double distance = length(d);
    // A vertex at the eye is seen along +x.
    const Vec3 direction = distance < 1e-10 ? Vec3{1, 0, 0} : d / distance;
    hit.hit = 1;
    hit.distance = distance;
    hit.point = vertex.point;
    // The bite of a CSG difference shows its surface from inside.
    hit.normal = surface.clip && surface.clip->reverseNormal ? -vertex.normal : vertex.normal;
    hit.local = vertex.hasTexcoord ? vertex.texcoord : Vec3{0, 0, 0};
    hit.shape = surface.shape;
    hit.shaderOverride = surface.shaderOverride;
    return Ray{eye, direction};
}

}  // namespace

Color JobPreviewShading::vertexColour(const PreviewSurface& surface, const PreviewVertex& vertex) {
    RenderContext& ctx = job_.ctx;
    Intersection hit;
    const Ray ray = hitAt(job_.scene.camera.location, surface, vertex, hit);
    const Shader* shader = shaderForHit(hit);
    if (!shader) return defaultSurfaceSample().kaColor;
    ShadePoint at;
    ShadingContext sc;
    beginShadePoint(ctx, ray, hit, 0, 1, 1, at, sc);
    SurfaceSample sample;
    evaluateShaderAt(ctx, *shader, at, sc, sample);
    return sample.kaColor;
}

void JobPreviewShading::shadePixel(const PreviewSurface& surface, int x, int y, const PreviewVertex& vertex) {
    if (!(length(vertex.normal) > 1e-10)) {
        if (!badNormalReported_) message("Bad normal on triangle preview");
        badNormalReported_ = true;
        return;
    }
    RenderContext& ctx = job_.ctx;
    ctx.currentRow = y;
    ctx.currentColumn = x;
    ctx.beginSample(x, y);
    Intersection hit;
    const Ray ray = hitAt(job_.scene.camera.location, surface, vertex, hit);
    ctx.levels[0] = {ray, true};
    if (surface.shape) ctx.storeHitDistance(surface.shape, hit.distance);
    Color colour{0, 0, 0};
    shadeHit(ctx, 0, ray, hit, 1, 1, colour);
    applyExposure(job_.scene.camera, job_.scene.options, colour);
    finishPixel(job_, x, y, colour, 1.0, hit.distance);
}

}  // namespace quorva
