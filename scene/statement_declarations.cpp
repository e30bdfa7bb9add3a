// Declarations (Declare / let, new, static) and particle generators.
//
// Declare evaluates an expression at once (a number or vector is stored as a constant, anything else
// as its tree); new keeps the tree so it is evaluated again at every use; static is carried out only
// while CurrentFrame equals FirstFrame, keeps the value as written, replaces the value of an existing
// entry of the name in place, and survives into the following frames.
#include <unordered_map>

#include "diagnostics/diagnostics.h"
#include "eval/spectrum.h"
#include "scene/particles.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

// Declared trees are shared by pointer, so a name used twice in the next declaration doubles the work
// of evaluating (and printing) it: thirty such lines would take 2^30 steps. A declared tree may
// therefore stand for at most this many nodes once every use of a name is counted.
constexpr std::uint64_t MaxExpandedNodes = 1000000;

// Nodes of the tree with shared subtrees counted at every use, saturating above `limit`. Walks the
// shared graph once, without recursion (trees may be deep), and stops at the trees of earlier
// declarations, whose sizes are known: a declaration costs the nodes it adds, not the nodes it uses.
// Also finds whether the tree reads anything of a shading context or the frame (isConstantRequest),
// in the same single walk.
Parser::DeclaredTree expandedSize(const RequestPtr& rootTree, std::uint64_t limit,
                                  const std::unordered_map<const Request*, Parser::DeclaredTree>& declared) {
    // Compact facts per inner node of the walk; leaves are judged on the spot and never stored, which
    // keeps the walk's memory well below that of the tree it walks.
    struct Facts {
        std::uint32_t nodes;
        bool constant;
    };
    static_assert(MaxExpandedNodes < 0xFFFFFFFFu);
    const std::uint64_t cap = std::min<std::uint64_t>(limit + 1, 0xFFFFFFFFu);
    auto children = [](const Request* r, auto&& visit) {
        visit(r->left.get());
        visit(r->right.get());
        visit(r->argument.get());
        for (const RequestPtr& c : r->components) visit(c.get());
        for (const RequestPtr& e : r->elements) visit(e.get());
        if (r->spectrum) visit(r->spectrum->index.get());
    };
    auto isLeaf = [&](const Request* r) {
        bool leaf = true;
        children(r, [&](const Request* c) { leaf = leaf && !c; });
        return leaf;
    };
    std::unordered_map<const Request*, Facts> inner;
    auto known = [&](const Request* r, Facts& facts) {
        if (auto it = inner.find(r); it != inner.end()) {
            facts = it->second;
            return true;
        }
        if (auto it = declared.find(r); it != declared.end()) {
            facts = {static_cast<std::uint32_t>(std::min(it->second.expandedNodes, cap)),
                     it->second.constant};
            return true;
        }
        if (!isLeaf(r)) return false;
        facts = {1, !readsContextItself(*r)};
        return true;
    };
    Facts facts{};
    std::vector<std::pair<const Request*, bool>> stack{{rootTree.get(), false}};
    while (!stack.empty()) {
        auto [node, expanded] = stack.back();
        stack.pop_back();
        if (!node || (!expanded && known(node, facts))) continue;
        if (!expanded) {
            stack.push_back({node, true});
            children(node, [&](const Request* c) {
                if (c && !known(c, facts)) stack.push_back({c, false});
            });
            continue;
        }
        std::uint64_t nodes = 1;
        bool constant = !readsContextItself(*node);
        children(node, [&](const Request* c) {
            if (!c) return;
            Facts child{};
            known(c, child);
            nodes = std::min(cap, nodes + child.nodes);
            constant = constant && child.constant;
        });
        inner[node] = {static_cast<std::uint32_t>(nodes), constant};
    }
    known(rootTree.get(), facts);
    return Parser::DeclaredTree{rootTree, facts.nodes, facts.constant};
}

}  // namespace

// declaration := ( Declare | new | static ) name '=' declaration-value
void Parser::parseDeclaration(Keyword word) {
    advance();
    if (!atKind(TokenKind::NewName) && !atKind(TokenKind::DeclaredName)) syntaxError();
    std::string name = take().text;
    expectChar('=');
    // In the frames after the first, a static declaration is read like a branch that is not taken.
    bool skip = word == Keyword::Static && scene_.frame.frames.currentFrame != scene_.frame.frames.firstFrame;
    if (skip) ++inactive_;
    parseDeclarationValue(name, word);
    if (skip) --inactive_;
}

// declaration-value := Solid shape-body | ParticleGenerator generator-body | shader
//   | ( PlainSurface | FunctionalSurface | PatternSurface ) '[' { surface-item } ']'
//   | TransformationStack '[' { transformation-item } ']' | SpectrumOfShaders '(' spectrum-entry {
//   spectrum-entry } ')' | declared-name [ overriding items ] | expression
void Parser::parseDeclarationValue(const std::string& name, Keyword word) {
    const ParserToken& t = peek();
    bool keyword = t.kind == static_cast<int>(TokenKind::Keyword);
    bool declared = t.kind == static_cast<int>(TokenKind::DeclaredName);
    if ((keyword && t.keyword == Keyword::Solid) || (declared && t.symbolKind == SymbolKind::Solid)) {
        ShapeBuild build;
        if (acceptKeyword(Keyword::Solid))
            build = parseShapeBody(true);
        else
            build = instanceDeclaredSolid();
        if (!active()) return;
        return declare(name, SymbolKind::Solid, std::shared_ptr<const Shape>(std::move(build.shape)), word);
    }
    if ((keyword && t.keyword == Keyword::ParticleGenerator) ||
        (declared && t.symbolKind == SymbolKind::ParticleGenerator)) {
        std::shared_ptr<const ParticleGeneratorDefinition> base;
        if (!acceptKeyword(Keyword::ParticleGenerator)) {
            ParserToken generator = take();
            if (auto* v =
                    std::get_if<std::shared_ptr<const ParticleGeneratorDefinition>>(&generator.symbolValue))
                base = *v;
            if (!atChar('[')) return declare(name, SymbolKind::ParticleGenerator, base, word);
        }
        auto definition = parseParticleGenerator(base);
        return declare(name, SymbolKind::ParticleGenerator, definition, word);
    }
    if ((keyword && t.keyword == Keyword::Shader) || (declared && t.symbolKind == SymbolKind::Shader))
        return declare(name, SymbolKind::Shader, parseShader(), word);
    if (keyword && (t.keyword == Keyword::PlainSurface || t.keyword == Keyword::FunctionalSurface ||
                    t.keyword == Keyword::PatternSurface)) {
        SymbolKind kind = t.keyword == Keyword::PlainSurface        ? SymbolKind::PlainSurface
                          : t.keyword == Keyword::FunctionalSurface ? SymbolKind::FunctionalSurface
                                                                    : SymbolKind::PatternSurface;
        return declare(name, kind, parseSurface(t.keyword), word);
    }
    if (declared &&
        (t.symbolKind == SymbolKind::PlainSurface || t.symbolKind == SymbolKind::FunctionalSurface ||
         t.symbolKind == SymbolKind::PatternSurface)) {
        ParserToken surfaceName = take();
        std::shared_ptr<const SurfaceDescription> surface;
        if (auto* v = std::get_if<std::shared_ptr<const SurfaceDescription>>(&surfaceName.symbolValue))
            surface = *v;
        if (atChar('[')) surface = parseSurfaceItems(surface);
        return declare(name, surfaceName.symbolKind, surface, word);
    }
    if ((keyword && t.keyword == Keyword::TransformationStack) ||
        (declared && t.symbolKind == SymbolKind::TransformationStack))
        return declare(name, SymbolKind::TransformationStack, parseTransformationStack(), word);
    if ((keyword && t.keyword == Keyword::SpectrumOfShaders) ||
        (declared && t.symbolKind == SymbolKind::ShaderSpectrum))
        return declare(name, SymbolKind::ShaderSpectrum, parseShaderSpectrum(), word);
    declare(name, SymbolKind::Expression, parseExpression(), word);
}

void Parser::declare(const std::string& name, SymbolKind kind, SymbolValue value, Keyword word) {
    if (!active()) return;
    bool keepTree = word != Keyword::Declare;
    if (auto* tree = std::get_if<RequestPtr>(&value); tree && *tree) {
        const DeclaredTree facts = expandedSize(*tree, MaxExpandedNodes, declaredTrees_);
        if (facts.expandedNodes > MaxExpandedNodes)
            fatal("Expression of \"%s\" too large (more than %llu nodes)", name.c_str(),
                  static_cast<unsigned long long>(MaxExpandedNodes));
        // The tree is held here as well, so its address stays its own while it is known.
        declaredTrees_.emplace(tree->get(), facts);
        // A tree that reads nothing of a context gives the same value at every use: new and static
        // store that value now instead of evaluating the tree at every use (which made a name used on
        // many lines cost its whole tree on each of them). A tree whose evaluation fails stays a tree,
        // so the failure still comes where the name is used.
        if (facts.constant && keepTree && kind == SymbolKind::Expression) {
            try {
                const Value result = evaluate(evalContext(), tree->get());
                if (result.isNumber())
                    value = makeFloatRequest(result.number);
                else if (result.isVector())
                    value = makeVectorRequest(result.vector, result.fourth, result.fourth != 0);
            } catch (const FatalError&) {
            }
        }
    }
    bool isStatic = word == Keyword::Static;
    scene_.symbols->declare(name, kind, std::move(value), isStatic, keepTree, evalContext());
}

// generator-body := '[' { generator-item } ']'
// generator-item := Birth e | Death e | Location e | Velocity e | Acceleration e | CollisionDetection e
//                 | Particles e | Shape e | Aging f
std::shared_ptr<const ParticleGeneratorDefinition> Parser::parseParticleGenerator(
    std::shared_ptr<const ParticleGeneratorDefinition> base) {
    expectChar('[');
    ParticleGeneratorDefinition g = base ? *base : ParticleGeneratorDefinition{};
    while (!acceptChar(']')) {
        if (!atKind(TokenKind::Keyword)) syntaxError();
        Keyword k = take().keyword;
        RequestPtr* target = nullptr;
        switch (k) {
            case Keyword::Birth:
                target = &g.birth;
                break;
            case Keyword::Death:
                target = &g.death;
                break;
            case Keyword::Location:
                target = &g.location;
                break;
            case Keyword::Velocity:
                target = &g.velocity;
                break;
            case Keyword::Acceleration:
                target = &g.acceleration;
                break;
            case Keyword::CollisionDetection:
                target = &g.collisionDetection;
                break;
            case Keyword::Particles:
                target = &g.particles;
                break;
            case Keyword::Shape:
                target = &g.shape;
                break;
            case Keyword::Aging: {
                double f = parseFloat();
                if (active()) {
                    g.aging = f;
                    g.hasAging = true;
                }
                continue;
            }
            default:
                syntaxError();
        }
        RequestPtr e = parseExpression();
        if (active()) *target = std::move(e);
    }
    return active() ? std::make_shared<const ParticleGeneratorDefinition>(std::move(g)) : nullptr;
}

// particle-generator := ParticleGenerator generator-body
void Parser::parseParticleGeneratorStatement() {
    expectKeyword(Keyword::ParticleGenerator);
    auto definition = parseParticleGenerator(nullptr);
    if (active()) addParticleGenerator(scene_, "", definition);
}

}  // namespace quorva
