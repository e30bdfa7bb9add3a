// Caustic targets of a frame and the emitting positions of a light.
#include "gi/photon_targets.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "eval/value.h"
#include "geometry/hierarchy.h"
#include "geometry/world.h"
#include "shading/light_kinds.h"
#include "shading/shader.h"
#include "trace/frame.h"
#include "trace/render_context.h"

namespace quorva {
namespace {

// Finer grids (and more bulb samples than its square) shoot from this coarser set: the photons per
// light and target are capped anyway, and each position costs a cone of its own.
constexpr int MaxPositionsPerSide = 128;

// How one shape marks itself: by the modifier, by its own shader, or not at all.
struct Marking {
    bool marked = false;
    CausticTarget target;
};

Marking markingOf(RenderContext& ctx, const Shape& shape) {
    Marking m;
    m.target.shape = &shape;
    if (!(shape.attributes & ShapeAttr::Default80)) return m;
    if (shape.caustics > 0) {
        m.marked = true;
        m.target.spacingFactor = shape.caustics;
        m.target.internal = shape.internalCaustics;
    }
    if (shape.shader) {
        // The shader's value where the photons are aimed: the centre of the shape's bounds.
        const Box box = shape.bounds();
        ShadingContext sc;
        sc.P = sc.Po = box.min + box.size * 0.5;
        sc.N = {0, 1, 0};
        sc.render = &ctx;
        SurfaceSample s;
        shape.shader->evaluate(sc, s);
        if (s.caustics > 0) {
            m.marked = true;
            m.target.powerFactor = s.caustics;
            m.target.internal = m.target.internal || s.internalCaustics;
        }
    }
    return m;
}

}  // namespace

std::vector<CausticTarget> findCausticTargets(RenderContext& ctx, const World& world) {
    std::vector<CausticTarget> targets;
    std::unordered_set<const Shape*> taken;
    std::unordered_map<const Shape*, Marking> markings;
    auto marking = [&](const Shape& s) -> const Marking& {
        auto it = markings.find(&s);
        if (it == markings.end()) it = markings.emplace(&s, markingOf(ctx, s)).first;
        return it->second;
    };
    std::vector<const Shape*> stack;
    for (const Shape* entry : world.mainList) {
        stack.push_back(entry);
        while (!stack.empty()) {
            const Shape* s = stack.back();
            stack.pop_back();
            if (!s || s->kind == ShapeKind::LightEntry) continue;
            if (s->kind == ShapeKind::BoundingGroup) {
                const auto& members = static_cast<const BoundingGroup*>(s)->members;
                for (auto it = members.rbegin(); it != members.rend(); ++it) stack.push_back(*it);
                continue;
            }
            // A mesh triangle stands for the shape it was cut from (its hits are recorded on it).
            if (s->kind == ShapeKind::MeshTriangle && s->parent) s = s->parent;
            const Marking* outermost = nullptr;
            for (const Shape* up = s; up; up = up->parent)
                if (const Marking& m = marking(*up); m.marked) outermost = &m;
            if (outermost && taken.insert(outermost->target.shape).second)
                targets.push_back(outermost->target);
        }
    }
    return targets;
}

std::vector<Vec3> emittingPositions(RenderContext& ctx, const Light& light, const Vec3& towards) {
    LightSample ls;
    light.lightAt(ctx, towards, ls);
    const auto* area = dynamic_cast<const AreaLight*>(&light);
    if (!area) return {ls.position};
    if (const FlatAreaGeometry* g = area->flat.get()) {
        if ((light.attributes & 8) && dot(towards - g->centre(), g->normal()) < 0) return {};
        Vec3 corner = g->corners[0], e1 = g->edge1, e2 = g->edge2;
        if (light.attributes & 4) faceFlatAreaLight(*g, towards, corner, e1, e2);
        const int nx = std::min(g->nx, MaxPositionsPerSide), ny = std::min(g->ny, MaxPositionsPerSide);
        std::vector<Vec3> positions;
        positions.reserve(static_cast<std::size_t>(nx) * ny);
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i)
                positions.push_back(corner + e1 * ((i + 0.5) / nx) + e2 * ((j + 0.5) / ny));
        return positions;
    }
    if (!(light.radius > 0)) return {ls.position};
    // As many positions as the bulb's shadow samples, spread evenly (a sunflower spiral) over the
    // disc the bulb shows the target.
    int n = light.softShadowSamples;
    if (n <= 0) n = std::max(4, ctx.frame ? ctx.frame->options.softShadowSamples : 16);
    n = std::min(n, MaxPositionsPerSide * MaxPositionsPerSide);
    Vec3 w = towards - ls.position;
    if (!(lengthSquared(w) > 0)) return {ls.position};
    normalize(w);
    const Vec3 a = std::fabs(w.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    const Vec3 u = normalized(cross(a, w)), v = cross(w, u);
    const double golden = M_PI * (3 - std::sqrt(5.0));
    std::vector<Vec3> positions;
    positions.reserve(n);
    for (int k = 0; k < n; ++k) {
        const double r = light.radius * std::sqrt((k + 0.5) / n), t = k * golden;
        positions.push_back(ls.position + u * (r * std::cos(t)) + v * (r * std::sin(t)));
    }
    return positions;
}

const Shape& shapeNeverHit() {
    static const BoundingGroup none;
    return none;
}

}  // namespace quorva
