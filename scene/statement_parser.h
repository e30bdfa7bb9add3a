// The recursive-descent parser of the scene language: one method per grammar rule (the rule is written
// in a one-line comment above each definition) and the actions that carry out every statement as soon
// as it has been read. Internal to the parser; the entry points are in scene/parser.h.
//
// Lookahead is fetched lazily: a statement's action runs before the token after it is read, so an
// include pushed by ReadArchive and a name declared by a statement are seen by the very next token.
//
// Conditions: `inactive_` counts the enclosing if-branches that are not taken. While it is non-zero
// the text is still parsed (it must be well formed) but nothing is evaluated, built or declared:
// expressions come back as null trees and numbers as 0.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "eval/request.h"
#include "eval/value.h"
#include "geometry/shape.h"
#include "geometry/shapes.h"
#include "geometry/solid.h"
#include "geometry/transform.h"
#include "scene/builders/scene_settings.h"
#include "scene/keywords.h"
#include "scene/symbol_table.h"
#include "scene/token.h"
#include "shading/light.h"
#include "shading/shader.h"

namespace quorva {

class Lexer;
struct SceneState;
struct ParticleGeneratorDefinition;

// A token as the parser keeps it: the declared value is copied out of the symbol table at once, so a
// declaration made while the token waits as lookahead cannot invalidate it.
struct ParserToken {
    int kind = 0;  // a TokenKind or a character code
    double number = 0;
    std::string text;  // strings, names and declared names
    Keyword keyword{};
    SymbolKind symbolKind = SymbolKind::Expression;
    SymbolValue symbolValue;
};

// A name that an argument may be written as instead of a number (e.g. Decay LINEAR).
struct ConstantWord {
    const char* name;
    double value;
};

// A shape statement under construction. `shape` is null in a branch that is not taken, for the kinds
// that are only recorded and while `csg` holds an expression; `kind` is valid whenever `hasKind` is set.
struct ShapeBuild {
    std::unique_ptr<Shape> shape;
    ShapeKind kind = ShapeKind::Solid;
    bool hasKind = false;
    SolidTree csg;            // a CSG expression not yet closed into its Solid (`shape` is then null)
    std::string description;  // operand / operation text for the record
};

// The corners of a bare patch met in a CSG union run, as read.
struct RunPatch {
    PatchCorner c[3];
};

// One incremental transformation item, or none when the current token does not start one.
struct TransformItem {
    bool matched = false;
    Transform transform;
};

// An expression being read: its tree (null where nothing is built) and whether its form is a
// condition (comparisons joined by &&, || and !), which `if` requires even in a branch not taken.
// A literal number is kept as `number` without a node until a tree is needed (see Parser::treeOf):
// scene files are mostly literal points, and their components need no nodes of their own.
// A group of literal numbers, (a, b, c[, d]), is kept the same way as `vector` (and `fourth`).
struct Expr {
    RequestPtr tree;
    bool condition = false;
    bool literal = false;
    double number = 0;
    bool vectorLiteral = false;
    bool hasFourth = false;
    Vec3 vector;
    double fourth = 0;
};

// A parenthesised group read where a statement also has a pair form, e.g. Kr ( e , e ).
struct ParenGroup {
    // At most four items (a vector with its fourth component), held in place: a scene's literal points
    // are read through groups by the million.
    struct Items {
        Expr slots[4];
        std::size_t count = 0;
        void push_back(Expr&& e) { slots[count++] = std::move(e); }
        std::size_t size() const { return count; }
        Expr& operator[](std::size_t i) { return slots[i]; }
        const Expr* begin() const { return slots; }
        const Expr* end() const { return slots + count; }
    };
    Items items;
    bool marker = false;  // the group ended with the marker keyword, e.g. ( e , InternalCaustics )
};

class Parser {
  public:
    // The deepest nesting of expressions, blocks, shaders, stacks and CSG operands accepted; beyond it
    // the parse stops with "parser stack overflow" instead of exhausting the native stack.
    static constexpr int MaxNesting = 400;

    Parser(SceneState& scene, Lexer& lexer, bool carryOut = true);
    void parseScene();

    // A declared expression tree and the nodes it stands for with shared subtrees counted at every use.
    struct DeclaredTree {
        RequestPtr tree;
        std::uint64_t expandedNodes = 0;
        bool constant = true;  // reads nothing of a shading context or the frame
    };

  private:
    friend class NestingGuard;
    friend class PolynomialReader;

    // ---- tokens (parser.cpp) ----
    // The look-ahead token, read on first use; inline, as the rules test it many times per token.
    const ParserToken& peek() {
        if (!haveToken_) fetch();
        return token_;
    }
    void fetch();
    ParserToken take();
    void advance() {
        peek();
        haveToken_ = false;
    }
    bool atChar(char c) { return peek().kind == static_cast<unsigned char>(c); }
    bool atKind(TokenKind k) { return peek().kind == static_cast<int>(k); }
    bool atKeyword(Keyword k) {
        return peek().kind == static_cast<int>(TokenKind::Keyword) && peek().keyword == k;
    }
    bool atDeclared(SymbolKind k) {
        return peek().kind == static_cast<int>(TokenKind::DeclaredName) && peek().symbolKind == k;
    }
    bool acceptChar(char c);
    bool acceptKeyword(Keyword k);
    void expectChar(char c);
    void expectKeyword(Keyword k);
    [[noreturn]] void syntaxError();
    bool active() const { return inactive_ == 0; }
    EvalContext evalContext() const;

    // ---- statements and control flow (parser.cpp) ----
    void parseStatement();
    void parseBlock();
    void parseIfStatement();
    bool parseCondition();
    void parseVersion();
    void parseReadArchive();
    void parseReadMeshFile();
    void parseSequence();
    void parseInstanceStatement();

    // ---- expressions (parser_expressions.cpp) ----
    RequestPtr parseExpression() { return treeOf(parseExpr()); }
    Expr parseExpr();
    Expr parseBinary(int minPrecedence, Expr left);
    Expr parseUnary();
    Expr parsePostfix(Expr operand);
    Expr parsePrimary();
    ParenGroup parseParenGroup(std::optional<Keyword> marker);
    Expr groupToExpression(ParenGroup&& group);
    // The tree of an expression (a literal gets its node now); null in a branch not taken.
    RequestPtr treeOf(Expr&& e);
    RequestPtr parseQuotedVector();
    RequestPtr parseBraceForm();
    RequestPtr parseArray();
    RequestPtr parseNameExpression();
    RequestPtr parseKeywordExpression();
    // SpectrumOfColors ( entries [ , e ] ). The trailing e is the default colour (a v) of the
    // expression form, or the index expression of the surface item (`asIndex`); `trailing` tells
    // whether one was given.
    RequestPtr parseColorSpectrum(bool asIndex, bool* trailing = nullptr);
    std::vector<RequestPtr> parseArgumentList();
    // Reads an expression that may also be the pair form ( e , e ) of the current item; a pair comes
    // back as two items, anything else as one.
    std::vector<RequestPtr> parseExpressionOrPair(std::optional<Keyword> marker = std::nullopt,
                                                  bool* sawMarker = nullptr);

    // ---- values evaluated at once (parser_expressions.cpp) ----
    double parseFloat(const std::vector<ConstantWord>* words = nullptr);  // f
    int parseInt(const std::vector<ConstantWord>* words = nullptr);       // n
    Vec3 parseVector(double* fourth = nullptr);                           // v
    std::string parseString();                                            // s
    double evaluateFloat(const RequestPtr& e);
    Vec3 evaluateVector(const RequestPtr& e, double* fourth = nullptr);

    // ---- Options, Camera and scene-wide settings (statement_options.cpp) ----
    void parseOptions();
    bool parseOptionItem();
    void parseOutputTo();
    void parseCacheFileOption(Keyword which);
    void storeFloatItem(double& target);
    void storeIntItem(int& target);
    void parseCamera();
    bool parseCameraItem();
    void parseBackground();
    BackgroundValue backgroundValue(RequestPtr e);
    void parseFog(bool ground);
    void parseSunLight();

    // ---- transformations (statement_transforms.cpp) ----
    TransformItem parseTransformItem(bool allowShear);
    // The error for a token that starts no item where transformation items are accepted: a name is
    // reported as a missing transformation stack, anything else as a syntax error.
    [[noreturn]] void transformItemError();
    std::shared_ptr<const Transform> parseTransformationStack();
    std::shared_ptr<const Transform> parseStackItems(std::shared_ptr<const Transform> base);

    // ---- shapes and modifiers (statement_shapes.cpp) ----
    void parseShapeStatement(bool solid);
    ShapeBuild parseShapeBody(bool solid);
    ShapeBuild closeShapeBody(ShapeBuild build);
    ShapeBuild parsePrimitive();
    ShapeBuild parseSimplePrimitive(Keyword which);
    // `closesBody`: the expression is a shape body's whole primitive, so a union of bare patches may
    // stay a flat mesh; anywhere else (inside parentheses) it comes back as its tree.
    ShapeBuild parseCsgExpression(bool closesBody = false);
    ShapeBuild parseCsgTerm();
    ShapeBuild continueCsgTerm(ShapeBuild left);
    ShapeBuild parseCsgOperand();
    bool parseRunTerm(RunPatch& patch, ShapeBuild& term);
    bool parseRunOperand(RunPatch& patch, ShapeBuild& operand);
    ShapeBuild patchBuild(const RunPatch& patch);
    std::unique_ptr<Shape> runPatch(const MeshParts& mesh, std::size_t i);
    ShapeBuild combineCsg(ShapeBuild left, int op, ShapeBuild right);
    static SolidTree csgOperand(ShapeBuild& operand);
    ShapeBuild instanceDeclaredSolid();
    void parseShapeModifiers(ShapeBuild& build);
    bool parseShapeModifier(ShapeBuild& build);
    void addShape(ShapeBuild build);
    ShapeBuild makeBuild(std::unique_ptr<Shape> shape, ShapeKind kind, const std::string& name);
    ShapeBuild parsePolygon();
    ShapeBuild parseTriangularPatch();
    void parsePatchCorners(PatchCorner (&corners)[3]);
    PatchCorner parsePatchCorner();

    // ---- primitives that are only recorded (statement_recorded_shapes.cpp) ----
    ShapeBuild parseBicubicPatch();
    ShapeBuild parseNurbs();
    ShapeBuild parseBlobby();
    ShapeBuild parseImplicitSurface();
    ShapeBuild parseParametricSurface();
    ShapeBuild parseHeightField(Keyword which);
    ShapeBuild parseSweep(Keyword which);

    // ---- polynomial surfaces (statement_polynomial.cpp) ----
    ShapeBuild parsePolynomialSurface();

    // ---- shaders (statement_shaders.cpp) ----
    std::shared_ptr<const Shader> parseShader();
    std::shared_ptr<const Shader> parseShaderBody();
    std::shared_ptr<const Shader> parseShaderReference();
    std::shared_ptr<Shader> parseSurfaceShader();
    std::shared_ptr<const SurfaceDescription> parseSurface(Keyword which);
    std::shared_ptr<const SurfaceDescription> parseSurfaceItems(
        std::shared_ptr<const SurfaceDescription> base);
    bool parseSurfaceItem(SurfaceDescription& surface);
    std::shared_ptr<Shader> parseMultiLayer();
    std::shared_ptr<Shader> parseIndexed();
    std::shared_ptr<Shader> parseComposite();
    std::shared_ptr<const ShaderSpectrum> parseShaderSpectrum();
    std::shared_ptr<const ShaderSpectrum> parseShaderSpectrumEntries(
        std::shared_ptr<const ShaderSpectrum> base);
    std::shared_ptr<const Shader> applyShaderTransforms(std::shared_ptr<const Shader> shader);

    // ---- lights and global-illumination statements (statement_lights.cpp) ----
    void parseLight(Keyword which);
    bool parseLightItem(Keyword which, LightItems& items);
    void parseBlackHole();
    void parseMedia();
    void parsePhotons();
    void parseComputeIrradiance();
    void parseSkyLight();

    // ---- declarations and particle generators (statement_declarations.cpp) ----
    void parseDeclaration(Keyword word);
    void parseDeclarationValue(const std::string& name, Keyword word);
    void declare(const std::string& name, SymbolKind kind, SymbolValue value, Keyword word);
    std::shared_ptr<const ParticleGeneratorDefinition> parseParticleGenerator(
        std::shared_ptr<const ParticleGeneratorDefinition> base);
    void parseParticleGeneratorStatement();

    SceneState& scene_;
    Lexer& lexer_;
    ParserToken token_;
    bool haveToken_ = false;
    int inactive_ = 0;  // enclosing branches not taken (plus one for a syntax-only parse)
    std::unordered_map<const Request*, DeclaredTree> declaredTrees_;  // every tree declared so far
    int nesting_ = 0;       // current nesting, bounded by MaxNesting
    int solidNesting_ = 0;  // Solid statements being read (CSG is allowed inside one)
    const std::vector<ConstantWord>* words_ = nullptr;  // names the current argument may use
    PatchDataBlocks patchBlocks_;  // the data of the patches that CSG unions collect as flat meshes
};

// Bounds the recursion of the rules that nest.
class NestingGuard {
  public:
    explicit NestingGuard(Parser& parser);
    ~NestingGuard() { --parser_.nesting_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

  private:
    Parser& parser_;
};

}  // namespace quorva
