// The parser's entry points, its token handling and the top-level statements: dispatch, blocks and
// conditions, Version, ReadArchive, ReadMeshFile, Sequence and instances of declared solids.
#include "scene/parser.h"

#include "diagnostics/diagnostics.h"
#include "formats/mesh_file.h"
#include "scene/lexer.h"
#include "scene/particles.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

// The position messages report while a file is parsed. It follows the lexer and, once the outermost
// file has ended, keeps naming that file and its last line, so an error found at the end of the
// input (an unfinished statement, an empty file) still says where.
class ParsePosition final : public InputPosition {
  public:
    explicit ParsePosition(const Lexer& lexer) : lexer_(lexer), outerFile_(lexer.fileName()) {}
    bool active() const override { return true; }
    std::string fileName() const override { return lexer_.active() ? lexer_.fileName() : outerFile_; }
    int line() const override { return lexer_.line(); }

  private:
    const Lexer& lexer_;
    std::string outerFile_;
};

int runParser(SceneState& scene, Lexer& lexer, bool carryOut) {
    ParsePosition position(lexer);
    struct Restore {
        Lexer& lexer;
        ~Restore() {
            diagnostics().position = nullptr;
            lexer.close();
        }
    } restore{lexer};
    diagnostics().position = &position;
    Parser parser(scene, lexer, carryOut);
    parser.parseScene();
    return 0;
}

}  // namespace

int parseFile(SceneState& scene, const std::string& path) {
    Lexer lexer;
    lexer.open(path);
    return runParser(scene, lexer, true);
}

int parseText(SceneState& scene, const std::string& text, const std::string& name) {
    Lexer lexer;
    lexer.openText(text, name);
    return runParser(scene, lexer, true);
}

int checkSyntax(SceneState& scene, const std::string& text, const std::string& name) {
    Lexer lexer;
    lexer.openText(text, name);
    return runParser(scene, lexer, false);
}

NestingGuard::NestingGuard(Parser& parser) : parser_(parser) {
    if (++parser_.nesting_ > Parser::MaxNesting) fatal("parser stack overflow");
}

Parser::Parser(SceneState& scene, Lexer& lexer, bool carryOut)
    : scene_(scene), lexer_(lexer), inactive_(carryOut ? 0 : 1) {}

void Parser::fetch() {
    Token t = lexer_.next(*scene_.symbols);
    token_.kind = t.kind;
    token_.number = t.number;
    token_.keyword = t.keyword;
    token_.text = std::move(t.text);
    if (token_.symbolValue.index() != 0) token_.symbolValue = {};
    if (t.kind == static_cast<int>(TokenKind::DeclaredName) && t.symbol) {
        token_.symbolKind = t.symbol->kind;
        token_.symbolValue = t.symbol->value;
        if (token_.text.empty()) token_.text = t.symbol->name;
    }
    haveToken_ = true;
}

ParserToken Parser::take() {
    peek();
    haveToken_ = false;
    return std::move(token_);
}

bool Parser::acceptChar(char c) {
    if (!atChar(c)) return false;
    advance();
    return true;
}

bool Parser::acceptKeyword(Keyword k) {
    if (!atKeyword(k)) return false;
    advance();
    return true;
}

void Parser::expectChar(char c) {
    if (!acceptChar(c)) syntaxError();
}

void Parser::expectKeyword(Keyword k) {
    if (!acceptKeyword(k)) syntaxError();
}

void Parser::syntaxError() {
    fatal("parse error");
}

EvalContext Parser::evalContext() const {
    EvalContext ctx;
    ctx.frames = &scene_.frame.frames;
    ctx.quasi = &scene_.fbmTriples;
    return ctx;
}

// scene := statement { statement } end-of-input
void Parser::parseScene() {
    do {
        parseStatement();
    } while (!atKind(TokenKind::EndOfInput));
}

// block := '{' statement { statement } '}'
void Parser::parseBlock() {
    expectChar('{');
    do {
        parseStatement();
    } while (!atChar('}'));
    advance();
}

// statement := one of the statements below, chosen by its first token
void Parser::parseStatement() {
    NestingGuard guard(*this);
    const ParserToken& t = peek();
    if (t.kind == static_cast<int>(TokenKind::DeclaredName)) return parseInstanceStatement();
    if (t.kind != static_cast<int>(TokenKind::Keyword)) syntaxError();
    switch (t.keyword) {
        case Keyword::Version:
            return parseVersion();
        case Keyword::Options:
            return parseOptions();
        case Keyword::Camera:
            return parseCamera();
        case Keyword::Background:
            return parseBackground();
        case Keyword::Fog:
            return parseFog(false);
        case Keyword::GroundFog:
            return parseFog(true);
        case Keyword::Media:
            return parseMedia();
        case Keyword::Photons:
            return parsePhotons();
        case Keyword::ComputeIrradiance:
            return parseComputeIrradiance();
        case Keyword::BlackHole:
            return parseBlackHole();
        case Keyword::SkyLight:
            return parseSkyLight();
        case Keyword::SunLight:
            return parseSunLight();
        case Keyword::PointLight:
        case Keyword::SpotLight:
        case Keyword::DirectionalLight:
        case Keyword::AreaLight:
            return parseLight(t.keyword);
        case Keyword::Shape:
            return parseShapeStatement(false);
        case Keyword::Solid:
            return parseShapeStatement(true);
        case Keyword::ParticleGenerator:
            return parseParticleGeneratorStatement();
        case Keyword::ReadArchive:
            return parseReadArchive();
        case Keyword::ReadMeshFile:
            return parseReadMeshFile();
        case Keyword::Declare:
        case Keyword::New:
        case Keyword::Static:
            return parseDeclaration(t.keyword);
        case Keyword::Sequence:
            return parseSequence();
        case Keyword::If:
            return parseIfStatement();
        default:
            syntaxError();
    }
}

// if-statement := if '(' condition ')' block [ else block ]
void Parser::parseIfStatement() {
    expectKeyword(Keyword::If);
    expectChar('(');
    bool taken = parseCondition();
    expectChar(')');
    // The flag of this if: a branch not taken counts in `inactive_` while it is read.
    bool enclosingActive = active();
    bool flag = enclosingActive && taken;
    if (!flag) ++inactive_;
    parseBlock();
    if (!flag) --inactive_;
    if (acceptKeyword(Keyword::Else)) {
        flag = !flag;
        if (!(enclosingActive && flag)) ++inactive_;
        parseBlock();
        if (!(enclosingActive && flag)) --inactive_;
    }
}

// condition := e ( '<' | '>' | '<=' | '>=' | '==' ) e | condition '&&' condition
//            | condition '||' condition | '!' condition | '(' condition ')'
bool Parser::parseCondition() {
    Expr c = parseExpr();
    if (!c.condition) syntaxError();
    if (!active()) return false;
    RequestPtr tree = treeOf(std::move(c));
    Value v = evaluate(evalContext(), tree.get());
    return v.isNumber() && v.number != 0;
}

// version := Version ':' f
void Parser::parseVersion() {
    expectKeyword(Keyword::Version);
    expectChar(':');
    double f = parseFloat();
    if (active()) scene_.frame.options.version = f;
}

// read-archive := ReadArchive s
void Parser::parseReadArchive() {
    expectKeyword(Keyword::ReadArchive);
    std::string name = parseString();
    if (active()) lexer_.pushInclude(name);
}

// read-mesh := ReadMeshFile s
void Parser::parseReadMeshFile() {
    expectKeyword(Keyword::ReadMeshFile);
    std::string name = parseString();
    if (active()) ReadMeshFile(scene_, name);
}

// sequence := Sequence '[' sequence-item { sequence-item } ']'
// sequence-item := LastFrame f | FirstFrame f | AnimationLength f
void Parser::parseSequence() {
    expectKeyword(Keyword::Sequence);
    expectChar('[');
    AnimationCounters& frames = scene_.frame.frames;
    do {
        if (acceptKeyword(Keyword::LastFrame)) {
            int n = parseInt();
            if (active()) frames.lastFrame = n;
        } else if (acceptKeyword(Keyword::FirstFrame)) {
            int n = parseInt();
            if (active()) {
                frames.firstFrame = n;
                if (!frames.firstFrameStarted) frames.currentFrame = n;
            }
        } else if (acceptKeyword(Keyword::AnimationLength)) {
            int n = parseInt();
            if (active()) {
                frames.animationLength = n;
                if (frames.lastFrame == -1) frames.lastFrame = n - 1;
            }
        } else {
            syntaxError();
        }
    } while (!atChar(']'));
    advance();
}

// instance := solid-name [ '[' modifier-items ']' ] | generator-name
void Parser::parseInstanceStatement() {
    if (atDeclared(SymbolKind::Solid)) return addShape(instanceDeclaredSolid());
    if (atDeclared(SymbolKind::ParticleGenerator)) {
        ParserToken t = take();
        if (active()) {
            auto def = std::get_if<std::shared_ptr<const ParticleGeneratorDefinition>>(&t.symbolValue);
            addParticleGenerator(scene_, t.text, def ? *def : nullptr);
        }
        return;
    }
    syntaxError();
}

}  // namespace quorva
