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

// bicubic-patch := BicubicPatch '(' f ',' f ',' f { ',' v } ')'   (at most 16 control points)
ShapeBuild Parser::parseBicubicPatch() {
    expectKeyword(Keyword::BicubicPatch);
    expectChar('(');
    std::vector<std::string> args;
    for (int i = 0; i < 3; ++i) {
        if (i) expectChar(',');
        args.push_back(numberText(parseFloat()));
    }
    int points = 0;
    while (acceptChar(',')) {
        Vec3 p = parseVector();
        if (!active()) continue;
        if (++points > 16) fatal("More than 16 points found in BicubicPatch");
        args.push_back(vectorText(p));
    }
    expectChar(')');
    return recordPrimitive(ShapeKind::BicubicPatch, "BicubicPatch", std::move(args));
}

// nurbs := NURBS '(' f ',' f ',' e ',' f ',' f ',' e ',' e ')'
//          (order and count in u, knots in u, order and count in v, knots in v, control points)
ShapeBuild Parser::parseNurbs() {
    expectKeyword(Keyword::NURBS);
    expectChar('(');
    std::vector<std::string> args;
    for (int i = 0; i < 7; ++i) {
        if (i) expectChar(',');
        if (i == 2 || i == 5 || i == 6)
            args.push_back(expressionText(parseExpression()));
        else
            args.push_back(numberText(parseFloat()));
    }
    expectChar(')');
    return recordPrimitive(ShapeKind::Nurbs, "NURBS", std::move(args));
}

// blobby := Blobby '(' f ',' blob-component { ',' blob-component } ')'
// blob-component := Sphere '(' v ',' f ',' f ')' | Cylinder '(' v ',' v ',' f ',' f ')'
//                 | Plane '(' v ',' f ',' f ',' f ')'
ShapeBuild Parser::parseBlobby() {
    expectKeyword(Keyword::Blobby);
    expectChar('(');
    std::vector<std::string> args;
    args.push_back(numberText(parseFloat()));
    expectChar(',');
    do {
        std::string text;
        if (acceptKeyword(Keyword::Sphere)) {
            expectChar('(');
            text = "Sphere(" + vectorText(parseVector());
            for (int i = 0; i < 2; ++i) expectChar(','), text += ", " + numberText(parseFloat());
        } else if (acceptKeyword(Keyword::Cylinder)) {
            expectChar('(');
            text = "Cylinder(" + vectorText(parseVector());
            expectChar(',');
            text += ", " + vectorText(parseVector());
            for (int i = 0; i < 2; ++i) expectChar(','), text += ", " + numberText(parseFloat());
        } else if (acceptKeyword(Keyword::Plane)) {
            expectChar('(');
            text = "Plane(" + vectorText(parseVector());
            for (int i = 0; i < 3; ++i) expectChar(','), text += ", " + numberText(parseFloat());
        } else {
            syntaxError();
        }
        expectChar(')');
        args.push_back(text + ")");
    } while (acceptChar(','));
    expectChar(')');
    return recordPrimitive(ShapeKind::Blobby, "Blobby", std::move(args));
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

// height-field := PlanarHeightField s | PlanarHeightField '(' s ',' SmoothNormal ')'
//   | ImplicitPlanarHeightField '(' f ',' f ',' f ',' f ',' e ',' f ',' f [ ',' SmoothNormal ] ')'
//   | SphericalHeightField '(' f ',' f ',' s [ ',' SmoothNormal ] ')'
//   | ImplicitSphericalHeightField '(' f ',' f ',' e ',' f ',' f [ ',' SmoothNormal ] ')'
ShapeBuild Parser::parseHeightField(Keyword which) {
    advance();
    std::vector<std::string> args;
    if (which == Keyword::PlanarHeightField) {
        if (atKind(TokenKind::String)) {
            args.push_back(stringText(parseString()));
            return recordPrimitive(ShapeKind::HeightField, "PlanarHeightField", std::move(args));
        }
        expectChar('(');
        args.push_back(stringText(parseString()));
        expectChar(',');
        expectKeyword(Keyword::SmoothNormal);
        args.push_back("SmoothNormal");
        expectChar(')');
        return recordPrimitive(ShapeKind::HeightField, "PlanarHeightField", std::move(args));
    }
    // Argument patterns: 'f' a number, 'e' an expression, 's' a string.
    const char* pattern = which == Keyword::ImplicitPlanarHeightField ? "ffffeff"
                          : which == Keyword::SphericalHeightField    ? "ffs"
                                                                      : "ffeff";
    expectChar('(');
    for (const char* p = pattern; *p; ++p) {
        if (p != pattern) expectChar(',');
        if (*p == 'f')
            args.push_back(numberText(parseFloat()));
        else if (*p == 'e')
            args.push_back(expressionText(parseExpression()));
        else
            args.push_back(stringText(parseString()));
    }
    if (acceptChar(',')) {
        expectKeyword(Keyword::SmoothNormal);
        args.push_back("SmoothNormal");
    }
    expectChar(')');
    bool spherical = which != Keyword::ImplicitPlanarHeightField;
    const char* name = which == Keyword::ImplicitPlanarHeightField ? "ImplicitPlanarHeightField"
                       : which == Keyword::SphericalHeightField    ? "SphericalHeightField"
                                                                   : "ImplicitSphericalHeightField";
    return recordPrimitive(spherical ? ShapeKind::SphericalHeightField : ShapeKind::HeightField, name,
                           std::move(args));
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
