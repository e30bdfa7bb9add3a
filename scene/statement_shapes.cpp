// Shape and Solid statements: the primitives with a constructor, CSG expressions over solids,
// instances of declared solids, and the modifier items applied to the shape in the order written.
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "geometry/world.h"
#include "scene/builders/shape_modifiers.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

// shape-statement := ( Shape | Solid ) shape-body
void Parser::parseShapeStatement(bool solid) {
    advance();
    addShape(parseShapeBody(solid));
}

// shape-body := '[' primitive { modifier-item } ']'
ShapeBuild Parser::parseShapeBody(bool solid) {
    NestingGuard guard(*this);
    expectChar('[');
    if (solid) ++solidNesting_;
    ShapeBuild build = parsePrimitive();
    if (solid) --solidNesting_;
    return closeShapeBody(std::move(build));
}

// The rest of a shape body after its primitive: { modifier-item } ']'.
ShapeBuild Parser::closeShapeBody(ShapeBuild build) {
    // A CSG expression becomes the Solid that the modifiers written after it apply to; its operands
    // keep their own.
    if (build.csg) {
        build.shape = std::make_unique<Solid>(std::move(build.csg));
        build.kind = ShapeKind::Solid;
        build.hasKind = true;
    }
    parseShapeModifiers(build);
    expectChar(']');
    return build;
}

// Hands a finished top-level shape to the World.
void Parser::addShape(ShapeBuild build) {
    if (!active()) return;
    if (build.shape)
        addToWorld(std::move(build.shape), scene_.frame.world,
                   AddSettings{scene_.frame.options.renderMode, scene_.frame.options.featureMask});
}

ShapeBuild Parser::makeBuild(std::unique_ptr<Shape> shape, ShapeKind kind, const std::string& name) {
    ShapeBuild b;
    b.kind = shape ? shape->kind : kind;
    b.hasKind = true;
    b.shape = std::move(shape);
    b.description = name;
    return b;
}

// primitive := simple-primitive | csg-expression
ShapeBuild Parser::parsePrimitive() {
    const ParserToken& t = peek();
    if (t.kind == static_cast<int>(TokenKind::Keyword)) {
        switch (t.keyword) {
            case Keyword::Shape:
            case Keyword::Solid:
                return parseCsgExpression(true);
            default:
                return parseSimplePrimitive(t.keyword);
        }
    }
    if (atChar('(') || atChar('~') || atDeclared(SymbolKind::Solid)) return parseCsgExpression(true);
    if (atKind(TokenKind::NewName) || atKind(TokenKind::DeclaredName))
        fatal("Can't find Shape \"%s\" in symbol table", t.text.c_str());
    syntaxError();
}

// simple-primitive := Sphere '(' v ',' f ')' | Box '(' v ',' v ')' | Cone '(' v ',' f ',' v ',' f ')'
//   | Cylinder '(' v ',' v ',' f ')' | Disk '(' v ',' v ',' f ')' | Ring '(' v ',' v ',' f ',' f ')'
//   | Torus '(' v ',' v ',' f ',' f ')' | Paraboloid '(' v ',' v ',' f ')' | Superquadric '(' f ',' f ')'
//   | polygon | triangular-patch | polynomial-surface | a primitive that is only recorded
ShapeBuild Parser::parseSimplePrimitive(Keyword which) {
    switch (which) {
        case Keyword::Polygon:
            return parsePolygon();
        case Keyword::TriangularPatch:
            return parseTriangularPatch();
        case Keyword::PolynomialSurface:
            return parsePolynomialSurface();
        case Keyword::BicubicPatch:
            return parseBicubicPatch();
        case Keyword::NURBS:
            return parseNurbs();
        case Keyword::Blobby:
            return parseBlobby();
        case Keyword::ImplicitSurface:
            return parseImplicitSurface();
        case Keyword::ParametricSurface:
            return parseParametricSurface();
        case Keyword::PlanarHeightField:
        case Keyword::ImplicitPlanarHeightField:
        case Keyword::SphericalHeightField:
        case Keyword::ImplicitSphericalHeightField:
            return parseHeightField(which);
        case Keyword::SurfaceOfRevolution:
        case Keyword::ExtrudedSurface:
            return parseSweep(which);
        case Keyword::Sphere:
        case Keyword::Box:
        case Keyword::Cone:
        case Keyword::Cylinder:
        case Keyword::Disk:
        case Keyword::Ring:
        case Keyword::Torus:
        case Keyword::Paraboloid:
        case Keyword::Superquadric:
            break;
        default:
            syntaxError();
    }
    advance();
    expectChar('(');
    auto comma = [&] { expectChar(','); };
    std::unique_ptr<Shape> shape;
    ShapeKind kind = ShapeKind::Sphere;
    const char* name = "";
    switch (which) {
        case Keyword::Sphere: {
            Vec3 c = parseVector();
            comma();
            double r = parseFloat();
            kind = ShapeKind::Sphere, name = "Sphere";
            if (active()) shape = makeSphere(c, r);
            break;
        }
        case Keyword::Box: {
            Vec3 a = parseVector();
            comma();
            Vec3 b = parseVector();
            kind = ShapeKind::Box, name = "Box";
            if (active()) shape = makeBox(a, b);
            break;
        }
        case Keyword::Cone: {
            Vec3 p1 = parseVector();
            comma();
            double r1 = parseFloat();
            comma();
            Vec3 p2 = parseVector();
            comma();
            double r2 = parseFloat();
            kind = ShapeKind::Cone, name = "Cone";
            if (active()) shape = makeCone(p1, r1, p2, r2);
            break;
        }
        case Keyword::Cylinder:
        case Keyword::Paraboloid:
        case Keyword::Disk: {
            Vec3 a = parseVector();
            comma();
            Vec3 b = parseVector();
            comma();
            double r = parseFloat();
            if (which == Keyword::Cylinder) {
                kind = ShapeKind::Cylinder, name = "Cylinder";
                if (active()) shape = makeCylinder(a, b, r);
            } else if (which == Keyword::Paraboloid) {
                kind = ShapeKind::Paraboloid, name = "Paraboloid";
                if (active()) shape = makeParaboloid(a, b, r);
            } else {
                kind = ShapeKind::Disk, name = "Disk";
                if (active()) shape = makeDisk(a, b, r);
            }
            break;
        }
        case Keyword::Ring:
        case Keyword::Torus: {
            Vec3 a = parseVector();
            comma();
            Vec3 b = parseVector();
            comma();
            double r1 = parseFloat();
            comma();
            double r2 = parseFloat();
            if (which == Keyword::Ring) {
                kind = ShapeKind::Disk, name = "Ring";
                if (active()) shape = makeRing(a, b, r1, r2);
            } else {
                kind = ShapeKind::Torus, name = "Torus";
                if (active()) shape = makeTorus(a, b, r1, r2);
            }
            break;
        }
        default: {  // Superquadric
            double e1 = parseFloat();
            comma();
            double e2 = parseFloat();
            kind = ShapeKind::Superquadric, name = "Superquadric";
            if (active()) shape = makeSuperquadric(e1, e2);
            break;
        }
    }
    expectChar(')');
    return makeBuild(std::move(shape), kind, name);
}

// polygon := Polygon '(' n { ',' v } ')'
ShapeBuild Parser::parsePolygon() {
    expectKeyword(Keyword::Polygon);
    expectChar('(');
    int n = parseInt();
    if (active() && n < 3) fatal("A Polygon can't have less than 3 sides");
    std::vector<Vec3> vertices;
    while (acceptChar(',')) {
        Vec3 p = parseVector();
        if (!active()) continue;
        if (static_cast<int>(vertices.size()) == n) fatal("More points than expected for Polygon");
        vertices.push_back(p);
    }
    expectChar(')');
    if (!active()) return makeBuild(nullptr, ShapeKind::Polygon, "Polygon");
    // Every reader rejects a polygon that ends up with fewer than three corners.
    if (vertices.size() < 3) fatal("A Polygon can't have less than 3 sides");
    return makeBuild(makePolygon(vertices), ShapeKind::Polygon, "Polygon");
}

// triangular-patch := TriangularPatch '(' patch-corner ',' patch-corner ',' patch-corner ')'
ShapeBuild Parser::parseTriangularPatch() {
    PatchCorner c[3];
    parsePatchCorners(c);
    std::unique_ptr<Shape> shape;
    if (active()) shape = makeTriangularPatch(c[0], c[1], c[2]);
    return makeBuild(std::move(shape), ShapeKind::TriangularPatch, "TriangularPatch");
}

void Parser::parsePatchCorners(PatchCorner (&corners)[3]) {
    expectKeyword(Keyword::TriangularPatch);
    expectChar('(');
    corners[0] = parsePatchCorner();
    expectChar(',');
    corners[1] = parsePatchCorner();
    expectChar(',');
    corners[2] = parsePatchCorner();
    expectChar(')');
}

// patch-corner := v ',' v [ UV '=' f ',' f ]   (without UV both coordinates are 1000000: not given)
PatchCorner Parser::parsePatchCorner() {
    PatchCorner c;
    c.point = parseVector();
    expectChar(',');
    c.normal = parseVector();
    if (acceptKeyword(Keyword::UV)) {
        expectChar('=');
        c.u = parseFloat();
        expectChar(',');
        c.v = parseFloat();
    }
    return c;
}

namespace {

// The bare patches that open a CSG expression, joined by unions, kept as the triangles of a mesh rather
// than as shapes and nodes (a converted mesh is a union of a million of them). `keeps[i]` is the
// operator between triangles i and i + 1: '^' (true) or '+'.
struct PatchRun {
    MeshCollector mesh;
    std::vector<bool> keeps;

    bool empty() const { return mesh.empty(); }
    void add(const RunPatch& patch, bool keep) {
        try {
            if (!mesh.empty()) keeps.push_back(keep);
            mesh.add(patch.c[0], patch.c[1], patch.c[2]);
        } catch (const std::bad_alloc&) {
            fatal("Failed to allocate TriangularPatch");
        }
    }
};

}  // namespace

// A bare patch as the build that reading `Shape [ TriangularPatch(...) ]` gives, its data in the
// parser's blocks.
ShapeBuild Parser::patchBuild(const RunPatch& patch) {
    std::unique_ptr<Shape> shape;
    try {
        std::shared_ptr<PatchData> data = patchBlocks_.next();
        const Box bounds = setPatchData(*data, patch.c[0], patch.c[1], patch.c[2]);
        shape = std::make_unique<TriangularPatch>(std::move(data), bounds);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate TriangularPatch");
    }
    return makeBuild(std::move(shape), ShapeKind::TriangularPatch, "TriangularPatch");
}

// Triangle i of a run as a patch of its own.
std::unique_ptr<Shape> Parser::runPatch(const MeshParts& mesh, std::size_t i) {
    try {
        return std::make_unique<TriangularPatch>(mesh.sharedPatchData(i, patchBlocks_), mesh.bounds(i));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate TriangularPatch");
    }
}

// csg-expression := csg-term { ( '+' | '-' | '^' ) csg-term }
//
// While the operands are bare patches joined by '+' or '^' they are collected as mesh parts. When the
// whole expression is such a run and closes a shape body, it becomes a flat mesh, which shows the same
// hits as the tree (patches enclose nothing, so neither union tests anything). A run that meets any
// other operand or operator turns into the very tree it stands for, left-deep with its operators, and
// the expression goes on from there without collecting.
ShapeBuild Parser::parseCsgExpression(bool closesBody) {
    // Outside a Solid the first operator is an error; in a branch not taken nothing is built.
    const bool collect = active() && solidNesting_ > 0;
    PatchRun run;
    RunPatch patch;
    ShapeBuild left;
    if (!collect)
        left = parseCsgTerm();
    else if (parseRunTerm(patch, left))
        run.add(patch, false);
    // The run so far as the tree that combineCsg would have built for it.
    auto runTree = [&] {
        const std::shared_ptr<MeshParts> parts = run.mesh.finish();
        ShapeBuild b;
        if (parts->size() == 1) {
            b = makeBuild(runPatch(*parts, 0), ShapeKind::TriangularPatch, "TriangularPatch");
        } else {
            b.hasKind = true;
            b.csg = newSolidLeaf(runPatch(*parts, 0));
            for (std::size_t i = 1; i < parts->size(); ++i)
                b.csg = newSolidNode(run.keeps[i - 1] ? SolidOp::UnionKeep : SolidOp::Union, std::move(b.csg),
                                     newSolidLeaf(runPatch(*parts, i)));
        }
        run = PatchRun{};
        return b;
    };
    while (atChar('+') || atChar('-') || atChar('^')) {
        int op = take().kind;
        ShapeBuild right;
        if (!collect) {
            right = parseCsgTerm();
        } else if (parseRunTerm(patch, right)) {
            if (!run.empty() && (op == '+' || op == '^')) {
                run.add(patch, op == '^');
                continue;
            }
            right = patchBuild(patch);
        }
        if (!run.empty()) left = runTree();
        left = combineCsg(std::move(left), op, std::move(right));
    }
    if (run.empty()) return left;
    if (!closesBody || run.mesh.size() == 1) return runTree();
    ShapeBuild flat;
    try {
        flat.shape = std::make_unique<Solid>(run.mesh.finish());
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Solid");
    }
    flat.kind = ShapeKind::Solid;
    flat.hasKind = true;
    return flat;
}

// A csg-term of a union run: a bare patch that no '*' or '&' follows comes back in `patch` (true); any
// other term comes back in `term` as parseCsgTerm builds it (false).
bool Parser::parseRunTerm(RunPatch& patch, ShapeBuild& term) {
    ShapeBuild operand;
    if (parseRunOperand(patch, operand)) {
        if (!atChar('*') && !atChar('&')) return true;
        operand = patchBuild(patch);
    }
    term = continueCsgTerm(std::move(operand));
    return false;
}

// A csg-operand of a union run: `Shape [ TriangularPatch(...) ]` without any modifier item is read
// straight into `patch` (true); any other operand comes back in `operand` as parseCsgOperand builds
// it (false).
bool Parser::parseRunOperand(RunPatch& patch, ShapeBuild& operand) {
    if (!atKeyword(Keyword::Shape)) {
        operand = parseCsgOperand();
        return false;
    }
    // The nesting of parseCsgOperand and parseShapeBody.
    NestingGuard guard(*this);
    advance();
    NestingGuard body(*this);
    expectChar('[');
    if (!atKeyword(Keyword::TriangularPatch)) {
        operand = closeShapeBody(parsePrimitive());
        return false;
    }
    PatchCorner c[3];
    parsePatchCorners(c);
    if (!atChar(']')) {
        operand = closeShapeBody(
            makeBuild(makeTriangularPatch(c[0], c[1], c[2]), ShapeKind::TriangularPatch, "TriangularPatch"));
        return false;
    }
    advance();
    for (int k = 0; k < 3; ++k) patch.c[k] = c[k];
    return true;
}

// csg-term := csg-operand { ( '*' | '&' ) csg-operand }
ShapeBuild Parser::parseCsgTerm() {
    return continueCsgTerm(parseCsgOperand());
}

ShapeBuild Parser::continueCsgTerm(ShapeBuild left) {
    while (atChar('*') || atChar('&')) {
        int op = take().kind;
        left = combineCsg(std::move(left), op, parseCsgOperand());
    }
    return left;
}

// csg-operand := '~' csg-operand | '(' csg-expression ')' | Shape shape-body | Solid shape-body
//              | solid-instance
ShapeBuild Parser::parseCsgOperand() {
    NestingGuard guard(*this);
    if (acceptChar('~')) {
        ShapeBuild operand = parseCsgOperand();
        if (!active()) return {};
        if (solidNesting_ == 0) fatal("CSG operations must be part of Solid structure");
        ShapeBuild b;
        b.hasKind = true;
        if (SolidTree tree = csgOperand(operand))
            b.csg = newSolidNode(SolidOp::Complement, std::move(tree), nullptr);
        return b;
    }
    if (acceptChar('(')) {
        ShapeBuild inner = parseCsgExpression();
        expectChar(')');
        return inner;
    }
    if (atKeyword(Keyword::Shape) || atKeyword(Keyword::Solid))
        return parseShapeBody(take().keyword == Keyword::Solid);
    if (atDeclared(SymbolKind::Solid)) return instanceDeclaredSolid();
    if (atKind(TokenKind::NewName) || atKind(TokenKind::DeclaredName))
        fatal("Can't find Shape \"%s\" in symbol table", peek().text.c_str());
    syntaxError();
}

// An operand as a subtree: an expression's own tree, or a leaf over a shape. Null for an operand of a
// kind that is only recorded.
SolidTree Parser::csgOperand(ShapeBuild& operand) {
    if (operand.csg) return std::move(operand.csg);
    if (operand.shape) return newSolidLeaf(std::move(operand.shape));
    return nullptr;
}

// One CSG operation: '+' the union without inner surfaces, '^' the union keeping them, '*' the
// intersection, '&' the clipping of the left operand by the right, '-' the intersection with the
// right operand's complement.
ShapeBuild Parser::combineCsg(ShapeBuild left, int op, ShapeBuild right) {
    if (!active()) return {};
    if (solidNesting_ == 0) fatal("CSG operations must be part of Solid structure");
    ShapeBuild b;
    b.hasKind = true;
    SolidTree l = csgOperand(left), r = csgOperand(right);
    // An operand of a kind that is only recorded leaves the whole operation without geometry.
    if (!l || !r) return b;
    switch (op) {
        case '+':
            b.csg = newSolidNode(SolidOp::Union, std::move(l), std::move(r));
            break;
        case '^':
            b.csg = newSolidNode(SolidOp::UnionKeep, std::move(l), std::move(r));
            break;
        case '*':
            b.csg = newSolidNode(SolidOp::Intersect, std::move(l), std::move(r));
            break;
        case '&':
            b.csg = newSolidNode(SolidOp::Clip, std::move(l), std::move(r));
            break;
        default:  // '-'
            b.csg = newSolidNode(SolidOp::Intersect, std::move(l),
                                 newSolidNode(SolidOp::Complement, std::move(r), nullptr));
            break;
    }
    return b;
}

// solid-instance := solid-name [ '[' { modifier-item } ']' ]
ShapeBuild Parser::instanceDeclaredSolid() {
    ParserToken name = take();
    ShapeBuild b;
    b.description = name.text;
    if (active()) {
        auto* definition = std::get_if<std::shared_ptr<const Shape>>(&name.symbolValue);
        // A definition of a kind that is only recorded has no shape to copy.
        if (definition && *definition) {
            b.shape = copyShape(**definition);
            b.kind = b.shape->kind;
            b.hasKind = true;
        }
    }
    if (acceptChar('[')) {
        parseShapeModifiers(b);
        expectChar(']');
    }
    return b;
}

// modifier-items := { modifier-item }   (up to the closing ']')
void Parser::parseShapeModifiers(ShapeBuild& build) {
    while (!atChar(']')) {
        if (parseShapeModifier(build)) continue;
        if (atKind(TokenKind::NewName)) fatal("Shader \"%s\" not found in symbol table", peek().text.c_str());
        if (atKind(TokenKind::DeclaredName))
            fatal("Can't find Shader \"%s\" in symbol table", peek().text.c_str());
        syntaxError();
    }
}

// modifier-item := shader | transformation-item | ShapeSubdivisions '(' f ',' f [ ',' f ] ')'
//   | RenderBound '(' f ',' f ',' f ',' f ')' | ShadingAttributes n | Bound '(' v ',' v ')'
//   | FerrariSolver | VietaSolver | SturmSolver | DisplacementMapping e
//   | Caustics f | Caustics '(' f ',' InternalCaustics ')'
bool Parser::parseShapeModifier(ShapeBuild& build) {
    Shape* shape = active() ? build.shape.get() : nullptr;
    if (atKeyword(Keyword::Shader) || atDeclared(SymbolKind::Shader)) {
        std::shared_ptr<const Shader> shader = parseShader();
        if (shape) shape->shader = std::move(shader);
        return true;
    }
    TransformItem t = parseTransformItem(true);
    if (t.matched) {
        if (shape) shape->applyTransform(t.transform);
        return true;
    }
    if (!atKind(TokenKind::Keyword)) return false;
    switch (peek().keyword) {
        case Keyword::ShapeSubdivisions: {
            advance();
            expectChar('(');
            double counts[3];
            int n = 0;
            do {
                if (n == 3) syntaxError();
                counts[n++] = parseFloat();
            } while (acceptChar(','));
            expectChar(')');
            if (n < 2) syntaxError();
            if (!shape) break;
            buildShapeSubdivisions(*shape, counts, n);
            break;
        }
        case Keyword::RenderBound: {
            advance();
            expectChar('(');
            double w[4];
            for (int i = 0; i < 4; ++i) {
                if (i) expectChar(',');
                w[i] = parseFloat();
            }
            expectChar(')');
            if (shape) buildRenderBound(*shape, w);
            break;
        }
        case Keyword::ShadingAttributes: {
            advance();
            long long n = parseInt();
            if (shape) buildShadingAttributes(*shape, n);
            break;
        }
        case Keyword::Bound: {
            advance();
            expectChar('(');
            Vec3 a = parseVector();
            expectChar(',');
            Vec3 b = parseVector();
            expectChar(')');
            if (!shape) break;
            Vec3 lo{std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
            Vec3 hi{std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
            shape->setBounds({lo, hi - lo});
            break;
        }
        case Keyword::FerrariSolver:
        case Keyword::VietaSolver:
        case Keyword::SturmSolver: {
            Keyword k = take().keyword;
            if (shape) shape->setSolver(k == Keyword::FerrariSolver ? 0 : k == Keyword::VietaSolver ? 1 : 2);
            break;
        }
        case Keyword::DisplacementMapping: {
            advance();
            RequestPtr e = parseExpression();
            if (!active()) break;
            if (build.hasKind &&
                (build.kind == ShapeKind::ImplicitSurface || build.kind == ShapeKind::PolynomialSurface)) {
                warning("\nDisplacement mapping not supported for implicit and polynomial shapes");
                break;
            }
            if (shape) shape->displacement = std::move(e);
            break;
        }
        case Keyword::Caustics: {
            advance();
            bool internal = false;
            std::vector<RequestPtr> items = parseExpressionOrPair(Keyword::InternalCaustics, &internal);
            if (items.size() != 1) syntaxError();
            double f = evaluateFloat(items[0]);
            if (shape) buildCaustics(*shape, f, internal);
            break;
        }
        default:
            return false;
    }
    return true;
}

}  // namespace quorva
