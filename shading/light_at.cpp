// LightAt for every kind, the distance decay, and the transformation of instanced lights.
#include <cmath>
#include <numbers>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "eval/value.h"
#include "shading/light_kinds.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {

double spotSmoothstep(double e0, double e1, double x) {
    if (x < e0) return 0;
    if (x > e1) return 1;
    if (e0 == e1) return 0;
    const double t = (x - e0) / (e1 - e0);
    return t * t * (3 - 2 * t);
}

LightDirection lightDirection(const Light& light, const LightSample& ls, const Vec3& P, double shadowBias) {
    LightDirection out;
    out.L = ls.position - P;
    out.distance = length(out.L);
    if (out.distance < 1e-10) {
        out.L = {1, 0, 0};
        out.distance = 1;
    } else {
        out.L = out.L / out.distance;
    }
    out.K = applyDecay(light, ls.K, out.distance, shadowBias);
    return out;
}

double applyDecay(const Light& light, double K, double d, double shadowBias) {
    const double N = light.decayDistance;
    if (N == 0) {
        switch (light.decayType) {
            case 1:
                return K / d;
            case 2:
            case 4:
                return K / (d * d);
            case 3:
                return K / (d * d * d);
            default:
                return K;
        }
    }
    const double dd = d > shadowBias ? d : shadowBias;
    if (N < 0) return K * N * N / (dd * dd);
    // A positive Range gives a negative factor: the light darkens what it reaches.
    return K * -N / dd;
}

void PointLight::lightAt(RenderContext&, const Vec3&, LightSample& out) const {
    out.K = 1;
    out.position = position;
    out.colour = colour;
    out.radius = radius;
}

void PointLight::applyTransform(const Transform& t) {
    position = transformPoint(t.forward, position);
}

void SpotLight::lightAt(RenderContext&, const Vec3& P, LightSample& out) const {
    out.position = position;
    out.colour = colour;
    out.radius = radius;
    const Vec3 toPoint = P - position;
    const double d = length(toPoint);
    if (d < 1e-8) {
        out.K = 1;
        return;
    }
    const double a = dot(direction, toPoint) / d;
    if (a <= 0) {
        out.K = 0;
        return;
    }
    double K = std::pow(a, exponent);
    // A hotspot of 90 degrees or more leaves the exponent falloff alone.
    if (cosHotspot > 0) K *= spotSmoothstep(cosFalloff, cosHotspot, a);
    out.K = K;
}

void SpotLight::applyTransform(const Transform& t) {
    position = transformPoint(t.forward, position);
    direction = normalized(transformVector(t.forward, direction));
}

void FlatAreaGeometry::setCorners(const Transform* t) {
    const Vec3 square[4] = {{-0.5, 0, -0.5}, {0.5, 0, -0.5}, {0.5, 0, 0.5}, {-0.5, 0, 0.5}};
    for (int i = 0; i < 4; ++i) corners[i] = pointToWorld(t, square[i]);
    edge1 = corners[1] - corners[0];
    edge2 = corners[3] - corners[0];
}

AreaLight::AreaLight(const AreaLight& o)
    : Light(o),
      lightingFunction(o.lightingFunction),
      bulbCentre(o.bulbCentre),
      transform(o.transform ? std::make_unique<Transform>(*o.transform) : nullptr),
      flat(o.flat ? std::make_unique<FlatAreaGeometry>(*o.flat) : nullptr) {}

Vec3 AreaLight::centre() const {
    if (flat) return flat->centre();
    return pointToWorld(transform.get(), bulbCentre);
}

void AreaLight::lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const {
    out.K = 1;
    out.position = centre();
    out.radius = radius;
    out.colour = colour;
    if (!lightingFunction) return;
    // The function is evaluated over the light's own sphere of directions: the direction towards P
    // in the light's frame, with spherical texture coordinates.
    Vec3 dir = vectorToObject(transform.get(), P - out.position);
    normalize(dir);
    ShadingContext sc;
    sc.P = dir;
    sc.Po = dir;
    sc.N = dir;
    double rho = std::sqrt(dir.x * dir.x + dir.z * dir.z);
    double around = 0;
    if (rho >= 1e-8) {
        around = std::acos(std::fmax(-1.0, std::fmin(1.0, dir.x / rho)));
        if (dir.z < 0) around = 2 * std::numbers::pi - around;
    }
    sc.u = around / (2 * std::numbers::pi);
    sc.v = std::asin(std::fmax(-1.0, std::fmin(1.0, dir.y))) / std::numbers::pi + 0.5;
    sc.Puv = {sc.u, sc.v, 0};
    sc.render = &ctx;
    EvalContext ec;
    ec.frames = ctx.frame ? &ctx.frame->frames : nullptr;
    ec.shading = &sc;
    Value v = evaluate(ec, lightingFunction.get());
    if (v.isNumber())
        out.colour = {v.number, v.number, v.number};
    else if (v.isVector())
        out.colour = Color(v.vector);
    else
        internalFailure(InternalFailure::InvalidLightingFunction, "Invalid lighting function");
}

void AreaLight::applyTransform(const Transform& t) {
    if (!transform) transform = std::make_unique<Transform>();
    compose(*transform, t);
    if (flat) flat->setCorners(transform.get());
}

void DirectionalLight::lightAt(RenderContext&, const Vec3& P, LightSample& out) const {
    out.K = 1;
    out.position = P + 1000000.0 * direction;
    out.colour = colour;
    out.radius = radius;
}

void DirectionalLight::applyTransform(const Transform& t) {
    direction = normalized(transformVector(t.forward, direction));
}

}  // namespace quorva
