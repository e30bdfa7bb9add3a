// Primitives whose shape kinds are not built yet: each is parsed with all its checks and its
// evaluated arguments are handed, as text, to the stand-in of its owner, which records the call.
#include "diagnostics/diagnostics.h"
#include "geometry/placeholder_shapes.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

ShapeBuild Parser::recordPrimitive(ShapeKind kind, const char* name, std::vector<std::string> arguments) {
    if (active()) recordPlaceholderShape(scene_, name, std::move(arguments));
    ShapeBuild b;
    b.kind = kind;
    b.hasKind = true;
    b.description = name;
    return b;
}

// implicit-surface := ImplicitSurface '(' e ')'
ShapeBuild Parser::parseImplicitSurface() {
    expectKeyword(Keyword::ImplicitSurface);
    expectChar('(');
    std::string e = expressionText(parseExpression());
    expectChar(')');
    return recordPrimitive(ShapeKind::ImplicitSurface, "ImplicitSurface", {e});
}

// parametric-surface := ParametricSurface e
ShapeBuild Parser::parseParametricSurface() {
    expectKeyword(Keyword::ParametricSurface);
    std::string e = expressionText(parseExpression());
    return recordPrimitive(ShapeKind::ParametricSurface, "ParametricSurface", {e});
}

// sweep := ( SurfaceOfRevolution | ExtrudedSurface ) '(' f ',' f ',' v ',' v ',' v { ',' v } ')'
ShapeBuild Parser::parseSweep(Keyword which) {
    advance();
    expectChar('(');
    std::vector<std::string> args;
    args.push_back(numberText(parseFloat()));
    expectChar(',');
    args.push_back(numberText(parseFloat()));
    int points = 0;
    while (acceptChar(',')) {
        args.push_back(vectorText(parseVector()));
        ++points;
    }
    if (points < 3) syntaxError();
    expectChar(')');
    if (which == Keyword::SurfaceOfRevolution)
        return recordPrimitive(ShapeKind::SurfaceOfRevolution, "SurfaceOfRevolution", std::move(args));
    return recordPrimitive(ShapeKind::Sweep, "ExtrudedSurface", std::move(args));
}

}  // namespace quorva
