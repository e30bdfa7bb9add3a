// The glow of lights seen along a ray.
#include <cmath>
#include <numbers>

#include "shading/light.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {

void applyLightGlow(const RenderContext& ctx, const Ray& ray, double length, bool missed, Color& colour) {
    if (!ctx.frame) return;
    for (auto it = ctx.frame->lights.rbegin(); it != ctx.frame->lights.rend(); ++it) {
        const Light& light = **it;
        if (light.glow <= 0) continue;
        switch (light.kind) {
            case LightKind::Point:
            case LightKind::PointSun:
            case LightKind::Area:
            case LightKind::AreaSun:
                break;
            default:
                continue;
        }
        if (light.subtracts()) continue;
        const Vec3 P = light.glowPosition();
        const double h = dot(ray.origin - P, ray.direction);
        const Vec3 C = ray.origin - h * ray.direction;
        const double d2 = lengthSquared(C - P);
        const double k = 1 / (std::sqrt(d2 + 1) + std::sqrt(d2));
        const double a0 = std::atan(h * k);
        const double amount =
            missed ? k * (std::numbers::pi / 2 - a0) : k * (std::atan(k * (length + h)) - a0);
        colour += light.colour * (amount * light.glow);
    }
}

}  // namespace quorva
