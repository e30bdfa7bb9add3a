// Light statements, BlackHole, and the global-illumination statements Media, Photons,
// ComputeIrradiance and SkyLight.
#include "diagnostics/diagnostics.h"
#include "scene/builders/global_illumination.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

// Names an argument may be written as: the decay laws and the lighting attribute bits.
const std::vector<ConstantWord> DecayWords = {{"LINEAR", 1}, {"QUADRATIC", 2}, {"CUBIC", 3}};
const std::vector<ConstantWord> AttributeWords = {{"SHADOWS", 1}, {"SPECULAR", 2}};

}  // namespace

// light := PointLight '[' v { light-item } ']' | SpotLight '[' v ',' v ',' f ',' f ',' f { light-item } ']'
//        | DirectionalLight '[' v { light-item } ']' | AreaLight '[' { light-item } ']'
void Parser::parseLight(Keyword which) {
    advance();
    expectChar('[');
    Vec3 position, target;
    double hotspot = 0, falloff = 0, exponent = 0;
    if (which != Keyword::AreaLight) position = parseVector();
    if (which == Keyword::SpotLight) {
        expectChar(',');
        target = parseVector();
        expectChar(',');
        hotspot = parseFloat();
        expectChar(',');
        falloff = parseFloat();
        expectChar(',');
        exponent = parseFloat();
    }
    LightItems items;
    while (!acceptChar(']')) {
        if (parseLightItem(which, items)) continue;
        if (which == Keyword::AreaLight) transformItemError();
        syntaxError();
    }
    if (!active()) return;
    std::unique_ptr<Light> light;
    switch (which) {
        case Keyword::PointLight:
            light = makePointLight(position, items);
            break;
        case Keyword::SpotLight:
            light = makeSpotLight(position, target, hotspot, falloff, exponent, items);
            break;
        case Keyword::DirectionalLight:
            light = makeDirectionalLight(position, items);
            break;
        default:
            light = makeAreaLight(items);
            break;
    }
    addLight(scene_.frame, std::move(light));
}

// light-item := MediaInteraction | Intensity v (AreaLight: Intensity e) | Range f | Decay n | Glow f
//   | Bulb f (SpotLight) | Bulb '(' v ',' f ')' (AreaLight) | Plane '(' f ',' f [ ',' f [ ',' f ] ] ')'
//   | LightingAttributes f | transformation-item (AreaLight, no Shear)
// Items each light accepts:  PointLight: MediaInteraction Intensity Range Decay Glow LightingAttributes;
// SpotLight: MediaInteraction Intensity Range Decay Bulb LightingAttributes; DirectionalLight:
// Intensity LightingAttributes; AreaLight: all, with transformation items.
bool Parser::parseLightItem(Keyword which, LightItems& items) {
    bool point = which == Keyword::PointLight, spot = which == Keyword::SpotLight;
    bool area = which == Keyword::AreaLight, directional = which == Keyword::DirectionalLight;
    if (area) {
        TransformItem t = parseTransformItem(false);
        if (t.matched) {
            if (active()) {
                if (!items.transform) items.transform = std::make_unique<Transform>();
                compose(*items.transform, t.transform);
            }
            return true;
        }
    }
    if (!atKind(TokenKind::Keyword)) return false;
    switch (peek().keyword) {
        case Keyword::MediaInteraction:
            if (directional) return false;
            advance();
            items.mediaInteraction = true;
            break;
        case Keyword::Intensity: {
            advance();
            RequestPtr e;
            if (area) {
                e = parseExpression();
            } else {
                double fourth = 0;
                Vec3 colour = parseVector(&fourth);
                if (active()) e = makeVectorRequest(colour, fourth);
            }
            items.hasIntensity = true;
            items.intensity = std::move(e);
            break;
        }
        case Keyword::Range:
            if (directional) return false;
            advance();
            // Range and Decay exclude each other: the later one wins.
            items.range = parseFloat();
            items.hasRange = true;
            items.hasDecay = false;
            items.decay = 0;
            break;
        case Keyword::Decay:
            if (directional) return false;
            advance();
            items.decay = parseInt(&DecayWords);
            items.hasDecay = true;
            items.hasRange = false;
            items.range = 0;
            break;
        case Keyword::Glow:
            if (!point && !area) return false;
            advance();
            items.glow = parseFloat();
            items.hasGlow = true;
            break;
        case Keyword::Bulb:
            if (!spot && !area) return false;
            advance();
            if (spot) {
                items.bulb = parseFloat();
            } else {
                expectChar('(');
                items.bulbCentre = parseVector();
                expectChar(',');
                items.bulbRadius = parseFloat();
                expectChar(')');
            }
            items.hasBulb = true;
            break;
        case Keyword::Plane: {
            if (!area) return false;
            advance();
            expectChar('(');
            int n = 0;
            do {
                if (n == 4) syntaxError();
                items.plane[n++] = parseFloat();
            } while (acceptChar(','));
            expectChar(')');
            if (n < 2) syntaxError();
            items.planeCount = n;
            items.hasPlane = true;
            break;
        }
        case Keyword::LightingAttributes:
            advance();
            items.lightingAttributes = parseFloat(&AttributeWords);
            items.hasAttributes = true;
            break;
        default:
            return false;
    }
    return true;
}

// black-hole := BlackHole '(' v ',' f [ ',' v ] ')'
void Parser::parseBlackHole() {
    expectKeyword(Keyword::BlackHole);
    expectChar('(');
    Vec3 centre = parseVector();
    expectChar(',');
    double density = parseFloat();
    Vec3 colour;
    bool hasColour = acceptChar(',');
    if (hasColour) colour = parseVector();
    expectChar(')');
    if (active()) addLight(scene_.frame, makeBlackHole(centre, density, hasColour ? &colour : nullptr));
}

// media := Media '(' model ',' samples ',' D ',' intensity ',' mix [ ',' depth [ ',' colour ] ] ')'
// depth 0 and colour (1, 1, 1) when left out; a later statement replaces earlier settings.
void Parser::parseMedia() {
    expectKeyword(Keyword::Media);
    expectChar('(');
    double values[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) {
        if (i) expectChar(',');
        values[i] = parseFloat();
    }
    Vec3 colour{1, 1, 1};
    if (acceptChar(',')) {
        values[5] = parseFloat();
        if (acceptChar(',')) colour = parseVector();
    }
    expectChar(')');
    if (active())
        buildMedia(scene_, values[0], values[1], values[2], values[3], values[4], values[5], Color(colour));
}

// photons := Photons '(' f ',' f ',' f [ ',' f ] ')'
// k the gather count per estimate, n the photons aimed at each target, j the jitter in percent of a
// grid step, s a fixed photon spacing; kept with the options for the photon pass.
void Parser::parsePhotons() {
    expectKeyword(Keyword::Photons);
    expectChar('(');
    double values[4] = {0, 0, 0, 0};
    int n = 0;
    do {
        if (n == 4) syntaxError();
        values[n++] = parseFloat();
    } while (acceptChar(','));
    expectChar(')');
    if (n < 3) syntaxError();
    if (active()) buildPhotons(scene_, values, n);
}

// compute-irradiance := ComputeIrradiance f
// n = integer part of f: n <= 0 leaves the cache off; n > 0 switches it on with primary grid size n (at
// least 4), unless -g gives one (the command line is read after the scene).
void Parser::parseComputeIrradiance() {
    expectKeyword(Keyword::ComputeIrradiance);
    double f = parseFloat();
    if (active()) buildComputeIrradiance(scene_, f);
}

// sky-light := SkyLight '(' f ',' e ',' f [ ',' f ] ')'
// The sky lights the scene through the irradiance cache: N = integer part of f1 (at least 5) hemisphere
// rays per record, e the sky (a constant colour becomes the background colour, anything else the
// background expression), f2 the irradiance scale (<= 0 keeps the default), f3 != 0 tints the sky.
void Parser::parseSkyLight() {
    expectKeyword(Keyword::SkyLight);
    expectChar('(');
    const double samples = parseFloat();
    expectChar(',');
    RequestPtr sky = parseExpression();
    expectChar(',');
    const double scale = parseFloat();
    double tint = 0;
    if (acceptChar(',')) tint = parseFloat();
    expectChar(')');
    if (active()) buildSkyLight(scene_, samples, backgroundValue(std::move(sky)), scale, tint);
}

}  // namespace quorva
