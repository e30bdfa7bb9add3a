// Soft shadows of flat area lights: a grid of shadow rays over the light's rectangle, refined where
// the visibility changes.
#include <cmath>

#include "shading/light.h"
#include "shading/light_kinds.h"
#include "shading/light_visibility.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// Grids wider than this (on their smaller side) are sampled as if they had this many columns.
constexpr int MaxGridColumns = 128;

class FlatAreaSampler {
  public:
    FlatAreaSampler(RenderContext& ctx, const Light& light, const FlatAreaGeometry& g, const Vec3& P,
                    double tmin, int level)
        : ctx_(ctx), light_(light), g_(g), P_(P), tmin_(tmin), level_(level) {
        corner_ = g.corners[0];
        edge1_ = g.edge1;
        edge2_ = g.edge2;
        threshold_ = ctx.frame ? ctx.frame->options.adaptiveThreshold : 0.005;
        if (light.attributes & 4) faceFlatAreaLight(g, P, corner_, edge1_, edge2_);
    }

    Color run() {
        const int nx = g_.nx < MaxGridColumns ? g_.nx : MaxGridColumns;
        const int ny = g_.ny;
        Color rowA[MaxGridColumns + 1], rowB[MaxGridColumns + 1];
        Color* lower = rowA;
        Color* upper = rowB;
        const double du = 1.0 / nx, dv = 1.0 / ny;
        for (int i = 0; i <= nx; ++i) lower[i] = sample(i * du, 0, du, dv);
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i <= nx; ++i) upper[i] = sample(i * du, (j + 1) * dv, du, dv);
            for (int i = 0; i < nx; ++i)
                refine(i * du, j * dv, du, dv, lower[i], lower[i + 1], upper[i], upper[i + 1], 1);
            Color* t = lower;
            lower = upper;
            upper = t;
        }
        return count_ ? sum_ / count_ : Color{1, 1, 1};
    }

  private:
    // The filter of one shadow ray to the rectangle point (u, v), jittered within a cell of du x dv.
    Color sample(double u, double v, double du, double dv) {
        if (g_.jitter) {
            double ju, jv;
            ctx_.areaLightPairs.nextPair(ju, jv);
            u = clamp01(u + (ju - 0.5) * du);
            v = clamp01(v + (jv - 0.5) * dv);
        }
        const Vec3 target = corner_ + edge1_ * u + edge2_ * v;
        Ray ray{P_, target - P_};
        const double distance = normalize(ray.direction);
        const Color f = traceShadowRay(ctx_, light_, ray, tmin_, distance, level_, false);
        sum_ += f;
        ++count_;
        return f;
    }

    static double clamp01(double x) { return x < 0 ? 0 : (x > 1 ? 1 : x); }

    bool differ(const Color& a, const Color& b) const {
        const Color d = a - b;
        return d.r * d.r + d.g * d.g + d.b * d.b > threshold_;
    }

    // Splits a cell into four while the light is coarse at the top level or its corners disagree.
    void refine(double u, double v, double du, double dv, const Color& f00, const Color& f10,
                const Color& f01, const Color& f11, int depth) {
        if (depth >= g_.maxDepth) return;
        const bool split = (depth == 1 && g_.maxDepth > 2) || differ(f00, f10) || differ(f00, f01) ||
                           differ(f00, f11) || differ(f10, f01) || differ(f10, f11) || differ(f01, f11);
        if (!split) return;
        const double hu = du * 0.5, hv = dv * 0.5;
        const Color bottom = sample(u + hu, v, hu, hv);
        const Color left = sample(u, v + hv, hu, hv);
        const Color middle = sample(u + hu, v + hv, hu, hv);
        const Color right = sample(u + du, v + hv, hu, hv);
        const Color top = sample(u + hu, v + dv, hu, hv);
        refine(u, v, hu, hv, f00, bottom, left, middle, depth + 1);
        refine(u + hu, v, hu, hv, bottom, f10, middle, right, depth + 1);
        refine(u, v + hv, hu, hv, left, middle, f01, top, depth + 1);
        refine(u + hu, v + hv, hu, hv, middle, right, top, f11, depth + 1);
    }

    RenderContext& ctx_;
    const Light& light_;
    const FlatAreaGeometry& g_;
    Vec3 P_;
    double tmin_;
    int level_;
    Vec3 corner_, edge1_, edge2_;
    double threshold_;
    Color sum_{0, 0, 0};
    int count_ = 0;
};

}  // namespace

void faceFlatAreaLight(const FlatAreaGeometry& g, const Vec3& P, Vec3& corner, Vec3& edge1, Vec3& edge2) {
    const Vec3 centre = g.centre();
    const Vec3 w = normalized(centre - P);
    const double l1 = length(g.edge1), l2 = length(g.edge2);
    Vec3 a = g.edge1 - dot(g.edge1, w) * w;
    if (lengthSquared(a) < 1e-20) a = g.edge2 - dot(g.edge2, w) * w;
    normalize(a);
    Vec3 b = cross(w, a);
    normalize(b);
    // Keep the rectangle's handedness (its normal still points the same way round).
    if (dot(cross(a, b), cross(g.edge1, g.edge2)) < 0) b = -b;
    edge1 = a * l1;
    edge2 = b * l2;
    corner = centre - (edge1 + edge2) * 0.5;
}

Color sampleFlatAreaLight(RenderContext& ctx, const Light& light, const FlatAreaGeometry& geometry,
                          const Vec3& P, double tmin, int level) {
    if ((light.attributes & 8) && dot(P - geometry.centre(), geometry.normal()) < 0) return {0, 0, 0};
    return FlatAreaSampler(ctx, light, geometry, P, tmin, level).run();
}

}  // namespace quorva
