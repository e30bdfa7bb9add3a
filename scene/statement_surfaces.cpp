// The free-form surface statements: BicubicPatch, NURBS, Blobby and the four height fields.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "geometry/surface_shapes.h"
#include "image/texture_image.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

// A count written as a number, truncated toward zero; out-of-range values saturate and NaN gives 0.
int countOf(double f) {
    if (std::isnan(f)) return 0;
    if (f >= 2147483647.0) return std::numeric_limits<int>::max();
    if (f <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(f);
}

// A knot vector as written: a number stands for "none" (the default vector); an array must hold numbers
// and have order + count of them, else the warning is printed and the default is used.
std::vector<double> knotVector(const EvalContext& ctx, const RequestPtr& e, int entries, const char* which) {
    const Value v = evaluate(ctx, e);
    if (v.isNumber()) return {};
    if (v.type != Value::Type::Other || !v.other || v.other->kind != RequestKind::Array)
        fatal("Knot vector for NURBS has to be an array");
    std::vector<double> knots;
    for (const RequestPtr& element : v.other->elements) {
        const Value k = evaluate(ctx, element);
        if (!k.isNumber()) fatal("Knot value has to be a float");
        knots.push_back(k.number);
    }
    if (static_cast<long long>(knots.size()) != entries) {
        warning("%s knot vector should have %d entries instead of %d in NURBS", which, entries,
                static_cast<int>(knots.size()));
        return {};
    }
    return knots;
}

const Request* arrayOf(const Value& v) {
    return v.type == Value::Type::Other && v.other && v.other->kind == RequestKind::Array ? v.other : nullptr;
}

// The control points: an array of count u rows, each an array of at least count v points (x, y, z, w).
std::vector<std::vector<NurbsPoint>> controlPoints(const EvalContext& ctx, const RequestPtr& e, int countU,
                                                   int countV) {
    const Request* rows = arrayOf(evaluate(ctx, e));
    if (!rows) fatal("NURBS control points have to be a square array");
    if (countU < 0 || rows->elements.size() < static_cast<std::size_t>(countU))
        fatal("Row entries are missing in NURBS");
    std::vector<std::vector<NurbsPoint>> points(countU);
    for (int i = 0; i < countU; ++i) {
        const Request* row = arrayOf(evaluate(ctx, rows->elements[i]));
        if (!row) fatal("NURBS rows have to be arrays of points");
        if (countV < 0 || row->elements.size() < static_cast<std::size_t>(countV))
            fatal("Column entries are missing in NURBS (row %d)", i);
        for (int j = 0; j < countV; ++j) {
            const Value p = evaluate(ctx, row->elements[j]);
            if (!p.isVector()) fatal("NURBS rows have to be arrays of points");
            points[i].push_back({p.vector, p.fourth});
        }
    }
    return points;
}

}  // namespace

// bicubic-patch := BicubicPatch '(' f ',' f ',' f { ',' v } ')'   (type, u and v subdivisions, at most
// 16 control points)
ShapeBuild Parser::parseBicubicPatch() {
    expectKeyword(Keyword::BicubicPatch);
    expectChar('(');
    double values[3];
    for (int i = 0; i < 3; ++i) {
        if (i) expectChar(',');
        values[i] = parseFloat();
    }
    std::vector<Vec3> points;
    while (acceptChar(',')) {
        Vec3 p = parseVector();
        if (!active()) continue;
        if (points.size() == 16) fatal("More than 16 points found in BicubicPatch");
        points.push_back(p);
    }
    expectChar(')');
    std::unique_ptr<Shape> shape;
    if (active()) shape = makeBicubicPatch(points, values[0], values[1], values[2]);
    return makeBuild(std::move(shape), ShapeKind::BicubicPatch, "BicubicPatch");
}

// nurbs := NURBS '(' f ',' f ',' e ',' f ',' f ',' e ',' e ')'
//          (order and count in u, knots in u, order and count in v, knots in v, control points)
ShapeBuild Parser::parseNurbs() {
    expectKeyword(Keyword::NURBS);
    expectChar('(');
    double numbers[4];
    RequestPtr knotsU, knotsV, points;
    for (int i = 0; i < 7; ++i) {
        if (i) expectChar(',');
        if (i == 2)
            knotsU = parseExpression();
        else if (i == 5)
            knotsV = parseExpression();
        else if (i == 6)
            points = parseExpression();
        else
            numbers[i < 2 ? i : i - 1] = parseFloat();
    }
    expectChar(')');
    std::unique_ptr<Shape> shape;
    if (active()) {
        const int orderU = countOf(numbers[0]), countU = countOf(numbers[1]);
        const int orderV = countOf(numbers[2]), countV = countOf(numbers[3]);
        // An order beyond the count would read past the knots: checked before anything is evaluated.
        for (const auto& [order, count] : {std::pair{orderU, countU}, std::pair{orderV, countV}})
            if (order < 1 || order > count) fatal("NURBS order %d out of range (1..%d)", order, count);
        const EvalContext ctx = evalContext();
        const auto entries = [](int order, int count) {
            return static_cast<int>(
                std::clamp<long long>(static_cast<long long>(order) + count, INT32_MIN, INT32_MAX));
        };
        std::vector<double> u = knotVector(ctx, knotsU, entries(orderU, countU), "First");
        std::vector<double> v = knotVector(ctx, knotsV, entries(orderV, countV), "Second");
        shape = makeNurbs(orderU, countU, std::move(u), orderV, countV, std::move(v),
                          controlPoints(ctx, points, countU, countV));
    }
    return makeBuild(std::move(shape), ShapeKind::Nurbs, "NURBS");
}

// blobby := Blobby '(' f ',' blob-component { ',' blob-component } ')'
// blob-component := Sphere '(' v ',' f ',' f ')'              centre, radius, strength
//                 | Cylinder '(' v ',' v ',' f ',' f ')'      end A, end B, radius, strength
//                 | Plane '(' v ',' f ',' f ',' f ')'         normal, distance, radius, strength
ShapeBuild Parser::parseBlobby() {
    expectKeyword(Keyword::Blobby);
    expectChar('(');
    const double threshold = parseFloat();
    expectChar(',');
    std::vector<BlobComponent> components;
    do {
        BlobComponent c;
        if (acceptKeyword(Keyword::Sphere)) {
            expectChar('(');
            c.type = 0;
            c.first = parseVector();
        } else if (acceptKeyword(Keyword::Cylinder)) {
            expectChar('(');
            c.type = 1;
            c.first = parseVector();
            expectChar(',');
            c.second = parseVector();
        } else if (acceptKeyword(Keyword::Plane)) {
            expectChar('(');
            c.type = 3;
            c.second = parseVector();
            expectChar(',');
            c.distance = parseFloat();
        } else {
            syntaxError();
        }
        expectChar(',');
        c.radius = parseFloat();
        expectChar(',');
        c.strength = parseFloat();
        expectChar(')');
        if (active()) components.push_back(c);
    } while (acceptChar(','));
    expectChar(')');
    std::unique_ptr<Shape> shape;
    if (active()) shape = makeBlobby(components, 0, threshold);
    return makeBuild(std::move(shape), ShapeKind::Blobby, "Blobby");
}

// height-field := PlanarHeightField s | PlanarHeightField '(' s ',' SmoothNormal ')'
//   | ImplicitPlanarHeightField '(' f ',' f ',' f ',' f ',' e ',' f ',' f [ ',' SmoothNormal ] ')'
//       (x0, x1, z0, z1, height of x and z, columns, rows)
//   | SphericalHeightField '(' f ',' f ',' s [ ',' SmoothNormal ] ')'   (base, scale, image)
//   | ImplicitSphericalHeightField '(' f ',' f ',' e ',' f ',' f [ ',' SmoothNormal ] ')'
//       (base, scale, value of x = longitude and z = latitude, columns, rows)
ShapeBuild Parser::parseHeightField(Keyword which) {
    advance();
    auto loadImage = [](const std::string& name) {
        std::shared_ptr<ImageFile> image = loadImageFile(name);
        if (!image) fatal("Failed to load image file \"%s\"", name.c_str());
        return image;
    };
    if (which == Keyword::PlanarHeightField) {
        std::string name;
        bool smooth = false;
        if (atKind(TokenKind::String)) {
            name = parseString();
        } else {
            expectChar('(');
            name = parseString();
            expectChar(',');
            expectKeyword(Keyword::SmoothNormal);
            smooth = true;
            expectChar(')');
        }
        std::unique_ptr<Shape> shape;
        if (active()) shape = makePlanarHeightField(*loadImage(name), smooth);
        return makeBuild(std::move(shape), ShapeKind::HeightField, "PlanarHeightField");
    }
    // Argument patterns: 'f' a number, 'e' an expression, 's' a string.
    const char* pattern = which == Keyword::ImplicitPlanarHeightField ? "ffffeff"
                          : which == Keyword::SphericalHeightField    ? "ffs"
                                                                      : "ffeff";
    std::vector<double> numbers;
    RequestPtr expression;
    std::string name;
    expectChar('(');
    for (const char* p = pattern; *p; ++p) {
        if (p != pattern) expectChar(',');
        if (*p == 'f')
            numbers.push_back(parseFloat());
        else if (*p == 'e')
            expression = parseExpression();
        else
            name = parseString();
    }
    bool smooth = false;
    if (acceptChar(',')) {
        expectKeyword(Keyword::SmoothNormal);
        smooth = true;
    }
    expectChar(')');
    const ShapeKind kind = which == Keyword::ImplicitPlanarHeightField ? ShapeKind::HeightField
                                                                       : ShapeKind::SphericalHeightField;
    const char* statement = which == Keyword::ImplicitPlanarHeightField ? "ImplicitPlanarHeightField"
                            : which == Keyword::SphericalHeightField    ? "SphericalHeightField"
                                                                        : "ImplicitSphericalHeightField";
    if (!active()) return makeBuild(nullptr, kind, statement);
    const EvalContext ctx = evalContext();
    const HeightFunction height = [&](double x, double z) {
        ShadingContext at;
        at.P = {x, 0, z};
        EvalContext c = ctx;
        c.shading = &at;
        const Value v = evaluate(c, expression);
        return v.isNumber() ? v.number : 0.0;
    };
    std::unique_ptr<Shape> shape;
    if (which == Keyword::ImplicitPlanarHeightField)
        shape = makeImplicitPlanarHeightField(numbers[0], numbers[1], numbers[2], numbers[3], height,
                                              numbers[4], numbers[5], smooth);
    else if (which == Keyword::SphericalHeightField)
        shape = makeSphericalHeightField(numbers[0], numbers[1], *loadImage(name), smooth);
    else
        shape =
            makeImplicitSphericalHeightField(numbers[0], numbers[1], height, numbers[2], numbers[3], smooth);
    return makeBuild(std::move(shape), kind, statement);
}

}  // namespace quorva
