// Shader statements: surfaces and their items, the combination shaders and shader spectra.
//
// Surface items fill the attribute slots of a SurfaceDescription (one expression per slot, evaluated
// by the shader for each hit):
//   Color e -> 9            NormalModifier e -> 10          IntersectionPointModifier e -> 11
//   AmbientColor e -> 12    Ka e -> 13                      Kb e -> 14
//   MetalAttribute e -> 15  Kd e -> 17 (Kd colour, 16, follows the base colour)
//   Ks e -> 19              Ks ( scale , colour ) -> 19, 18
//   ReflectionColor e -> 20 Kr e -> 21                      Kr ( scale , blur ) -> 21, 22
//   Kt ( scale-or-colour , index of refraction [ , colour [ , blur ] ] ) -> 24, 29, 23, 25
//   Absorption e -> 26      <name>SpecularBRDF e -> BRDF kind and its angle, 28
//   Dispersion ( amount , samples ) -> 30, 31               Iridescence ( e , e , e [ , colour ] ) -> 32..35
//   Caustics e -> 36 (with InternalCaustics: the flag too)  IrradianceSamples e -> 38
// A later item overrides an earlier one.
#include "diagnostics/diagnostics.h"
#include "eval/spectrum.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

// shader := Shader '[' surface-shader { transformation-item } ']' | shader-reference
std::shared_ptr<const Shader> Parser::parseShader() {
    NestingGuard guard(*this);
    if (!atKeyword(Keyword::Shader)) return parseShaderReference();
    advance();
    return parseShaderBody();
}

// The bracketed part of Shader [ ... ].
std::shared_ptr<const Shader> Parser::parseShaderBody() {
    expectChar('[');
    std::shared_ptr<Shader> shader = parseSurfaceShader();
    while (!acceptChar(']')) {
        TransformItem t = parseTransformItem(true);
        if (!t.matched) transformItemError();
        if (active() && shader) {
            if (!shader->transform) shader->transform = std::make_unique<Transform>();
            compose(*shader->transform, t.transform);
        }
    }
    return shader;
}

// shader-reference := shader-name [ '[' { transformation-item } ']' ]
std::shared_ptr<const Shader> Parser::parseShaderReference() {
    if (atKind(TokenKind::NewName)) fatal("Shader \"%s\" not found in symbol table", peek().text.c_str());
    if (!atDeclared(SymbolKind::Shader)) {
        if (atKind(TokenKind::DeclaredName))
            fatal("Can't find Shader \"%s\" in symbol table", peek().text.c_str());
        syntaxError();
    }
    ParserToken name = take();
    std::shared_ptr<const Shader> shader;
    if (auto* v = std::get_if<std::shared_ptr<const Shader>>(&name.symbolValue)) shader = *v;
    if (!atChar('[')) return active() ? shader : nullptr;
    return applyShaderTransforms(active() ? shader : nullptr);
}

// '[' { transformation-item } ']' after a declared shader: a copy of it, transformed further.
std::shared_ptr<const Shader> Parser::applyShaderTransforms(std::shared_ptr<const Shader> shader) {
    expectChar('[');
    std::shared_ptr<Shader> copy = shader ? shader->clone() : nullptr;
    while (!acceptChar(']')) {
        TransformItem t = parseTransformItem(true);
        if (!t.matched) transformItemError();
        if (active() && copy) {
            if (!copy->transform) copy->transform = std::make_unique<Transform>();
            compose(*copy->transform, t.transform);
        }
    }
    return copy;
}

// surface-shader := surface | MultiLayer '[' ... ']' | Indexed '[' ... ']' | Composite '[' ... ']'
std::shared_ptr<Shader> Parser::parseSurfaceShader() {
    if (atKeyword(Keyword::MultiLayer)) return parseMultiLayer();
    if (atKeyword(Keyword::Indexed)) return parseIndexed();
    if (atKeyword(Keyword::Composite)) return parseComposite();
    std::shared_ptr<const SurfaceDescription> surface;
    if (atKeyword(Keyword::PlainSurface) || atKeyword(Keyword::FunctionalSurface) ||
        atKeyword(Keyword::PatternSurface)) {
        surface = parseSurface(peek().keyword);
    } else if (atDeclared(SymbolKind::PlainSurface) || atDeclared(SymbolKind::FunctionalSurface) ||
               atDeclared(SymbolKind::PatternSurface)) {
        // surface-name [ '[' { surface-item } ']' ]
        ParserToken name = take();
        if (auto* v = std::get_if<std::shared_ptr<const SurfaceDescription>>(&name.symbolValue)) surface = *v;
        if (atChar('[')) surface = parseSurfaceItems(surface);
    } else {
        syntaxError();
    }
    if (!active() || !surface) return nullptr;
    return makeSurfaceShader(*surface, evalContext());
}

// surface := ( PlainSurface | FunctionalSurface | PatternSurface ) '[' { surface-item } ']'
std::shared_ptr<const SurfaceDescription> Parser::parseSurface(Keyword which) {
    advance();
    auto base = std::make_shared<SurfaceDescription>();
    base->kind = which == Keyword::PlainSurface        ? SurfaceKind::Plain
                 : which == Keyword::FunctionalSurface ? SurfaceKind::Functional
                                                       : SurfaceKind::Pattern;
    return parseSurfaceItems(std::move(base));
}

// The bracketed items of a surface, applied over a copy of `base`.
std::shared_ptr<const SurfaceDescription> Parser::parseSurfaceItems(
    std::shared_ptr<const SurfaceDescription> base) {
    expectChar('[');
    SurfaceDescription surface = base ? *base : SurfaceDescription{};
    while (!acceptChar(']'))
        if (!parseSurfaceItem(surface)) syntaxError();
    return active() ? std::make_shared<const SurfaceDescription>(std::move(surface)) : nullptr;
}

// surface-item := Color e | Absorption e | AmbientColor e | Ka e | Kb e | Kd e | MetalAttribute e
//   | Iridescence '(' e ',' e ',' e [ ',' e ] ')' | ( Phong | Blinn | Gaussian | Reitz | Cook )SpecularBRDF e
//   | Caustics e | Caustics '(' e ',' InternalCaustics ')' | ReflectionColor e | Kr e | Kr '(' e ',' e ')'
//   | Ks e | Ks '(' e ',' e ')' | Kt '(' e ',' e [ ',' e [ ',' e ] ] ')' | IrradianceSamples e
//   | Dispersion '(' e ',' e ')'
//   functional and pattern surfaces: | SpectrumOfColors '(' colour-entries [ ',' e ] ')'
//   functional surfaces:             | NormalModifier e | IntersectionPointModifier e
//   pattern surfaces:                | Bumpiness '(' e ',' e ')' | PatternModifiers '(' e ',' e ',' e ')'
//                                    | Octaves e | Phase e | PatternScale e | Turbulence e
bool Parser::parseSurfaceItem(SurfaceDescription& s) {
    if (!atKind(TokenKind::Keyword)) return false;
    Keyword k = peek().keyword;
    bool functional = s.kind == SurfaceKind::Functional;
    bool pattern = s.kind == SurfaceKind::Pattern;
    auto single = [&](int slot) {
        advance();
        RequestPtr e = parseExpression();
        if (active()) s.slots[slot] = std::move(e);
    };
    auto singleInto = [&](RequestPtr& target) {
        advance();
        RequestPtr e = parseExpression();
        if (active()) target = std::move(e);
    };
    // '(' e ',' e ... ')' with `min` to `max` items, each stored in the next of `slots`.
    auto list = [&](std::initializer_list<int> slots, std::size_t min) {
        advance();
        expectChar('(');
        std::vector<RequestPtr> items;
        do {
            if (items.size() == slots.size()) syntaxError();
            items.push_back(parseExpression());
        } while (acceptChar(','));
        expectChar(')');
        if (items.size() < min) syntaxError();
        if (!active()) return;
        auto slot = slots.begin();
        for (auto& e : items) s.slots[*slot++] = std::move(e);
    };
    auto brdf = [&](SpecularBrdf kind) {
        advance();
        RequestPtr e = parseExpression();
        if (!active()) return;
        s.brdf = kind;
        s.slots[28] = std::move(e);
    };
    // scale [ , second ] where the pair form sets a second slot.
    auto scaleOrPair = [&](int scaleSlot, int secondSlot) {
        advance();
        std::vector<RequestPtr> items = parseExpressionOrPair();
        if (!active()) return;
        s.slots[scaleSlot] = std::move(items[0]);
        if (items.size() == 2) s.slots[secondSlot] = std::move(items[1]);
    };
    switch (k) {
        case Keyword::Color:
            single(9);
            break;
        case Keyword::Absorption:
            single(26);
            break;
        case Keyword::AmbientColor:
            single(12);
            break;
        case Keyword::Ka:
            single(13);
            break;
        case Keyword::Kb:
            single(14);
            break;
        case Keyword::Kd:
            single(17);
            break;
        case Keyword::MetalAttribute:
            single(15);
            break;
        case Keyword::ReflectionColor:
            single(20);
            break;
        case Keyword::IrradianceSamples:
            single(38);
            break;
        case Keyword::Iridescence:
            list({32, 33, 34, 35}, 3);
            break;
        case Keyword::Kt:
            list({24, 29, 23, 25}, 2);
            break;
        case Keyword::Dispersion:
            list({30, 31}, 2);
            break;
        case Keyword::Kr:
            scaleOrPair(21, 22);
            break;
        case Keyword::Ks:
            scaleOrPair(19, 18);
            break;
        case Keyword::PhongSpecularBRDF:
            brdf(SpecularBrdf::Phong);
            break;
        case Keyword::BlinnSpecularBRDF:
            brdf(SpecularBrdf::Blinn);
            break;
        case Keyword::GaussianSpecularBRDF:
            brdf(SpecularBrdf::Gaussian);
            break;
        case Keyword::ReitzSpecularBRDF:
            brdf(SpecularBrdf::Reitz);
            break;
        case Keyword::CookSpecularBRDF:
            brdf(SpecularBrdf::Cook);
            break;
        case Keyword::Caustics: {
            advance();
            bool internal = false;
            std::vector<RequestPtr> items = parseExpressionOrPair(Keyword::InternalCaustics, &internal);
            if (items.size() != 1) syntaxError();
            if (!active()) break;
            s.slots[36] = std::move(items[0]);
            s.internalCaustics = internal;
            break;
        }
        case Keyword::NormalModifier:
            if (!functional) return false;
            single(10);
            break;
        case Keyword::IntersectionPointModifier:
            if (!functional) return false;
            single(11);
            break;
        case Keyword::SpectrumOfColors: {
            if (!functional && !pattern) return false;
            // With a trailing expression the spectrum colours a functional surface, indexed by it;
            // without one the item has no effect there. A pattern surface reads it at its pattern value.
            bool indexed = false;
            RequestPtr spectrum = parseColorSpectrum(true, &indexed);
            if (active() && indexed) s.spectrumIndex = spectrum->spectrum->index;
            if (active() && (indexed || pattern)) s.colorSpectrum = std::move(spectrum);
            break;
        }
        case Keyword::Bumpiness:
        case Keyword::PatternModifiers: {
            if (!pattern) return false;
            bool bump = k == Keyword::Bumpiness;
            advance();
            expectChar('(');
            std::size_t count = bump ? 2 : 3;
            RequestPtr items[3];
            for (std::size_t i = 0; i < count; ++i) {
                if (i) expectChar(',');
                items[i] = parseExpression();
            }
            expectChar(')');
            if (!active()) break;
            for (std::size_t i = 0; i < count; ++i)
                (bump ? s.bumpiness[i] : s.patternModifiers[i]) = items[i];
            break;
        }
        case Keyword::Octaves:
            if (!pattern) return false;
            singleInto(s.octaves);
            break;
        case Keyword::Phase:
            if (!pattern) return false;
            singleInto(s.phase);
            break;
        case Keyword::PatternScale:
            if (!pattern) return false;
            singleInto(s.patternScale);
            break;
        case Keyword::Turbulence:
            if (!pattern) return false;
            singleInto(s.turbulence);
            break;
        default:
            return false;
    }
    return true;
}

// multi-layer := MultiLayer '[' shader { ',' shader } ']'
std::shared_ptr<Shader> Parser::parseMultiLayer() {
    expectKeyword(Keyword::MultiLayer);
    expectChar('[');
    std::vector<std::shared_ptr<const Shader>> members;
    do {
        members.push_back(parseShader());
    } while (acceptChar(','));
    expectChar(']');
    return active() ? makeMultiLayerShader(std::move(members)) : nullptr;
}

// indexed := Indexed '[' e ',' shader-spectrum ']'
std::shared_ptr<Shader> Parser::parseIndexed() {
    expectKeyword(Keyword::Indexed);
    expectChar('[');
    RequestPtr index = parseExpression();
    expectChar(',');
    std::shared_ptr<const ShaderSpectrum> spectrum = parseShaderSpectrum();
    expectChar(']');
    return active() ? makeIndexedShader(std::move(index), std::move(spectrum)) : nullptr;
}

// composite := Composite '[' composite-member { ',' composite-member } ']'
// composite-member := '(' shader ',' e ')'
std::shared_ptr<Shader> Parser::parseComposite() {
    expectKeyword(Keyword::Composite);
    expectChar('[');
    std::vector<std::pair<std::shared_ptr<const Shader>, RequestPtr>> members;
    int empty = 0;
    do {
        expectChar('(');
        std::shared_ptr<const Shader> shader = parseShader();
        expectChar(',');
        RequestPtr weight = parseExpression();
        expectChar(')');
        if (!active()) continue;
        if (!shader && ++empty == 2) fatal("Composite Surface contains two empty shaders");
        members.emplace_back(std::move(shader), std::move(weight));
    } while (acceptChar(','));
    expectChar(']');
    return active() ? makeCompositeShader(std::move(members)) : nullptr;
}

// shader-spectrum := SpectrumOfShaders '(' spectrum-entry { spectrum-entry } ')'
//                  | spectrum-name { spectrum-entry }
std::shared_ptr<const ShaderSpectrum> Parser::parseShaderSpectrum() {
    NestingGuard guard(*this);
    if (acceptKeyword(Keyword::SpectrumOfShaders)) {
        expectChar('(');
        if (!atChar('[')) syntaxError();
        auto spectrum = parseShaderSpectrumEntries(nullptr);
        expectChar(')');
        return spectrum;
    }
    if (!atDeclared(SymbolKind::ShaderSpectrum)) {
        if (atKind(TokenKind::NewName) || atKind(TokenKind::DeclaredName))
            fatal("Can't find SpectrumOfShaders \"%s\" in symbol table", peek().text.c_str());
        syntaxError();
    }
    ParserToken name = take();
    std::shared_ptr<const ShaderSpectrum> base;
    if (auto* v = std::get_if<std::shared_ptr<const ShaderSpectrum>>(&name.symbolValue)) base = *v;
    if (active() && !base) fatal("Can't find SpectrumOfShaders \"%s\" in symbol table", name.text.c_str());
    if (!atChar('[')) return base;
    return parseShaderSpectrumEntries(base);
}

// spectrum-entry := '[' f ',' shader ',' f ',' shader ']'   (read while the next token is '[')
std::shared_ptr<const ShaderSpectrum> Parser::parseShaderSpectrumEntries(
    std::shared_ptr<const ShaderSpectrum> base) {
    ShaderSpectrum entries = base ? *base : ShaderSpectrum{};
    while (acceptChar('[')) {
        ShaderSpectrumEntry entry;
        entry.low = parseFloat();
        expectChar(',');
        entry.lowShader = parseShader();
        expectChar(',');
        entry.high = parseFloat();
        expectChar(',');
        entry.highShader = parseShader();
        expectChar(']');
        if (!active()) continue;
        if (!entry.lowShader && !entry.highShader) fatal("SpectrumOfShaders contains two empty surfaces");
        entries.push_back(std::move(entry));
    }
    return active() ? std::make_shared<const ShaderSpectrum>(std::move(entries)) : nullptr;
}

}  // namespace quorva
