// A scene, a render context and a plain shape for shading tests.
#pragma once

#include <memory>

#include "eval/value.h"
#include "geometry/shape.h"
#include "scene/scene_state.h"
#include "shading/light.h"
#include "shading/shade.h"
#include "shading/shader.h"
#include "trace/render_context.h"

namespace quorva::testing {

class PlainShape final : public Shape {
  public:
    PlainShape() : Shape(ShapeKind::Sphere) {}
    std::unique_ptr<Shape> clone() const override { return std::make_unique<PlainShape>(*this); }
};

inline RequestPtr num(double v) {
    return makeFloatRequest(v);
}
inline RequestPtr vec(double x, double y, double z, double fourth = 0) {
    return makeVectorRequest({x, y, z}, fourth, fourth != 0);
}

struct ShadingScene {
    SceneState scene;
    RenderContext ctx{&scene.frame};
    PlainShape shape;

    ShadingScene() { ctx.settings.featureMask = 127; }

    Light& addPointLight(const Vec3& position, const Color& colour = {1, 1, 1}) {
        LightItems items;
        items.intensity = vec(colour.r, colour.g, colour.b);
        items.hasIntensity = true;
        addLight(scene.frame, makePointLight(position, items));
        return *scene.frame.lights.back();
    }

    // Shades a hit at `point` with `normal` seen along `direction`.
    Color shadeAt(const Vec3& point, const Vec3& normal, const Vec3& direction, int level = 0,
                  double mediumIndex = 1) {
        Intersection hit;
        hit.hit = 1;
        hit.point = point;
        hit.normal = normal;
        hit.shape = &shape;
        hit.distance = 1;
        Color c;
        shadeHit(ctx, level, Ray{point - direction, direction}, hit, 1.0, mediumIndex, c);
        return c;
    }
};

inline SurfaceDescription plainSurface() {
    return SurfaceDescription{};
}

// Surfaces of the photon tests, ambient off: a diffuse one, a perfect mirror, and a clear glass of index
// 1.5 (dispersive and absorbing when asked).
inline SurfaceDescription matte(double kd = 1) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    d.slots[17] = num(kd);
    return d;
}
inline SurfaceDescription mirror() {
    SurfaceDescription d;
    d.slots[13] = num(0);
    d.slots[17] = num(0);
    d.slots[20] = vec(1, 1, 1);
    d.slots[21] = num(1);
    return d;
}
inline SurfaceDescription glass(double dispersion = 0, double absorption = 0) {
    SurfaceDescription d;
    d.slots[13] = num(0);
    d.slots[17] = num(0);
    d.slots[23] = vec(1, 1, 1);
    d.slots[24] = num(1);
    if (absorption > 0) d.slots[26] = num(absorption);
    d.slots[29] = num(1.5);
    if (dispersion > 0) d.slots[30] = num(dispersion);
    return d;
}

}  // namespace quorva::testing
