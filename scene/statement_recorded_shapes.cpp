// The formula and profile shape statements: ImplicitSurface, ParametricSurface, SurfaceOfRevolution and
// ExtrudedSurface. The formulas are kept as expression trees and evaluated by the shapes as they need
// values, with x, y, z (or u, v) bound through a shading context of their own.
#include <cmath>
#include <limits>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "geometry/profile_shapes.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

// implicit-surface := ImplicitSurface '(' e ')'
ShapeBuild Parser::parseImplicitSurface() {
    expectKeyword(Keyword::ImplicitSurface);
    expectChar('(');
    RequestPtr tree = parseExpression();
    expectChar(')');
    if (!active()) return makeBuild(nullptr, ShapeKind::ImplicitSurface, "ImplicitSurface");
    // The counters are copied: the shape may outlive this parse.
    FieldFunction field = [tree, frames = scene_.frame.frames](const Vec3& p) {
        ShadingContext at;
        at.P = p;
        EvalContext c;
        c.frames = &frames;
        c.shading = &at;
        const Value v = evaluate(c, tree);
        return v.isNumber() ? v.number : std::numeric_limits<double>::quiet_NaN();
    };
    return makeBuild(makeImplicitSurface(std::move(field)), ShapeKind::ImplicitSurface, "ImplicitSurface");
}

// parametric-surface := ParametricSurface e
ShapeBuild Parser::parseParametricSurface() {
    expectKeyword(Keyword::ParametricSurface);
    RequestPtr tree = parseExpression();
    if (!active()) return makeBuild(nullptr, ShapeKind::ParametricSurface, "ParametricSurface");
    PointFunction point = [tree, frames = scene_.frame.frames](double u, double v) {
        ShadingContext at;
        at.u = u;
        at.v = v;
        EvalContext c;
        c.frames = &frames;
        c.shading = &at;
        const Value p = evaluate(c, tree);
        if (!p.isVector()) fatal("Bad formula for ParametricSurface");
        return p.vector;
    };
    return makeBuild(makeParametricSurface(std::move(point)), ShapeKind::ParametricSurface,
                     "ParametricSurface");
}

// sweep := ( SurfaceOfRevolution | ExtrudedSurface ) '(' f ',' f ',' v ',' v ',' v { ',' v } ')'
// The numbers are the profile type and the point count; the first vector is the axis (or the sweep
// vector), the others the profile points. Fewer points than the count: those given are used.
ShapeBuild Parser::parseSweep(Keyword which) {
    const bool revolution = which == Keyword::SurfaceOfRevolution;
    const char* name = revolution ? "SurfaceOfRevolution" : "ExtrudedSurface";
    const ShapeKind kind = revolution ? ShapeKind::SurfaceOfRevolution : ShapeKind::Sweep;
    advance();
    expectChar('(');
    const double type = parseFloat();
    expectChar(',');
    const double count = parseFloat();
    if (active() && !(count >= 2)) fatal("At least two points must be in %s", name);
    expectChar(',');
    const Vec3 direction = parseVector();
    std::vector<Vec3> points;
    int written = 0;
    while (acceptChar(',')) {
        const Vec3 p = parseVector();
        ++written;
        if (!active()) continue;
        if (static_cast<double>(points.size()) >= count) fatal("More points than expected for %s", name);
        points.push_back(p);
    }
    if (written < 2) syntaxError();
    expectChar(')');
    if (!active()) return makeBuild(nullptr, kind, name);
    const int profileType = type >= 1 && type < 4 ? static_cast<int>(type) : 0;
    if (revolution) return makeBuild(makeSurfaceOfRevolution(profileType, direction, points), kind, name);
    return makeBuild(makeSweep(profileType, direction, points), kind, name);
}

}  // namespace quorva
