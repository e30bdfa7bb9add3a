// Shader evaluation at a hit: the shader a hit uses, the frames its point and normal are taken into,
// and the default sample.
#include "shading/shader.h"

#include "eval/value.h"
#include "geometry/shape.h"
#include "shading/shade_point.h"
#include "trace/render_context.h"

namespace quorva {

Shader::~Shader() = default;

void Shader::pruneAttributes(std::uint16_t&, bool) const {}

void pruneByShader(const Shader& shader, std::uint16_t& attributes, bool uvWindowIsDefault) {
    shader.pruneAttributes(attributes, uvWindowIsDefault);
}

void Shader::evaluateHit(RenderContext&, ShadePoint&, ShadingContext& sc, SurfaceSample& out) const {
    evaluate(sc, out);
}

const SurfaceSample& defaultSurfaceSample() {
    static const SurfaceSample sample;
    return sample;
}

const Shader* shaderForHit(const Intersection& hit) {
    if (hit.shaderOverride) return hit.shaderOverride;
    return hit.shape ? effectiveShader(*hit.shape) : nullptr;
}

void beginShadePoint(RenderContext& ctx, const Ray& ray, const Intersection& hit, int level, double weight,
                     double mediumIndex, ShadePoint& at, ShadingContext& sc) {
    at.hit = &hit;
    at.shape = hit.shape;
    at.ray = ray;
    at.level = level;
    at.weight = weight;
    at.mediumIndex = mediumIndex;
    at.point = hit.point;
    at.normal = normalized(hit.normal);
    at.storedDistance = hit.shape ? ctx.hitDistance(hit.shape) : 0;
    const Transform* shapeFrame = hit.shape ? hit.shape->transform.get() : nullptr;
    at.frames[0] = shapeFrame;
    at.frameCount = 1;

    sc.P = pointToObject(shapeFrame, hit.point);
    sc.Po = sc.P;
    sc.N = normalized(normalToObject(shapeFrame, at.normal));
    sc.I = ray.direction;
    sc.E = ray.origin;
    sc.V = -ray.direction;
    if (hit.localDeferred) {
        sc.pendingSurfaceCoordinates = &hit;
    } else {
        sc.Puv = hit.local;
        sc.u = sc.Puv.x;
        sc.v = sc.Puv.y;
        sc.w = sc.Puv.z;
    }
    sc.level = level;
    sc.hit = &hit;
    sc.render = &ctx;
}

void evaluateShaderAt(RenderContext& ctx, const Shader& shader, ShadePoint& at, ShadingContext& sc,
                      SurfaceSample& sample) {
    const Transform* frame = shader.transform.get();
    if (frame) {
        sc.P = pointToObject(frame, sc.P);
        sc.N = normalized(normalToObject(frame, sc.N));
    }
    const int savedCount = at.frameCount;
    if (at.frameCount < ShadePoint::MaxFrames) at.frames[at.frameCount++] = frame;
    shader.evaluateHit(ctx, at, sc, sample);
    if (sample.normalModified) {
        // Back through every frame, innermost first.
        Vec3 n = sc.N;
        for (int i = at.frameCount - 1; i >= 0; --i) n = normalToWorld(at.frames[i], n);
        at.normal = normalized(n);
        sample.normalModified = false;
    }
    at.frameCount = savedCount;
}

}  // namespace quorva
