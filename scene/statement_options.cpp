// The scene-wide settings: Options, Camera, Background, Fog, GroundFog and SunLight.
#include "diagnostics/diagnostics.h"
#include "scene/builders/camera_items.h"
#include "scene/builders/option_items.h"
#include "scene/builders/scene_settings.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

// options := Options '[' option-item { option-item } ']'
void Parser::parseOptions() {
    expectKeyword(Keyword::Options);
    expectChar('[');
    do {
        if (!parseOptionItem()) syntaxError();
    } while (!atChar(']'));
    advance();
}

// option-item := GammaCorrection '(' f ',' f ')' | AdaptiveThreshold f | AdaptiveDepth n | MaxRayLevel n
//   | MaxBlurLevel n | BitsPerPixel n | OutputTo s | IrradianceMaxError f | IrradianceBlendingArea f
//   | IrradianceSamples n | IrradianceDistribution n | IrradianceBounceLevel n
//   | IrradiancePhotons '(' n ',' n ')' | IrradianceMaxDistance f | PhotonsGatherRange '(' n ',' n ')'
//   | PhotonsAccelerator '(' f ',' f ',' f ')' | EnableAllLightsIrradiance | SavePhotonMap [ s ]
//   | SaveIrradianceCache [ s ] | LoadPhotonMap [ s ] | LoadIrradianceCache [ s ] | SunGlow f
//   | SoftShadowSamples n | MaxBlurSamples n | HenyeyGreenstein f | ShadowBias f | ZChannelDepth n
//   | SunLightRotation v | ParallelSunRays
bool Parser::parseOptionItem() {
    if (!atKind(TokenKind::Keyword)) return false;
    Options& o = scene_.frame.options;
    Keyword k = peek().keyword;
    switch (k) {
        case Keyword::GammaCorrection: {
            advance();
            expectChar('(');
            double sceneGamma = parseFloat();
            expectChar(',');
            double displayGamma = parseFloat();
            expectChar(')');
            if (active()) buildGammaCorrection(o, sceneGamma, displayGamma);
            break;
        }
        case Keyword::AdaptiveThreshold:
            storeFloatItem(o.adaptiveThreshold);
            break;
        case Keyword::AdaptiveDepth: {
            advance();
            int n = parseInt();
            if (active()) buildAdaptiveDepth(o, n);
            break;
        }
        case Keyword::MaxRayLevel: {
            advance();
            int n = parseInt();
            if (active()) buildMaxRayLevel(o, n);
            break;
        }
        case Keyword::MaxBlurLevel: {
            advance();
            int n = parseInt();
            if (active()) buildMaxBlurLevel(o, n);
            break;
        }
        case Keyword::BitsPerPixel: {
            advance();
            int n = parseInt();
            if (active()) buildBitsPerPixel(o, n);
            break;
        }
        case Keyword::OutputTo:
            parseOutputTo();
            break;
        case Keyword::IrradianceMaxError: {
            advance();
            const double f = parseFloat();
            if (active()) buildIrradianceMaxError(o, f);
            break;
        }
        case Keyword::IrradianceBlendingArea: {
            advance();
            double f = parseFloat();
            if (active()) buildIrradianceBlendingArea(o, f);
            break;
        }
        case Keyword::IrradianceSamples: {
            advance();
            int n = parseInt();
            if (active()) buildIrradianceSamples(o, n);
            break;
        }
        case Keyword::IrradianceDistribution: {
            advance();
            int n = parseInt();
            if (active()) buildIrradianceDistribution(o, n);
            break;
        }
        case Keyword::IrradianceBounceLevel: {
            advance();
            int n = parseInt();
            if (active()) buildIrradianceBounceLevel(o, n);
            break;
        }
        case Keyword::IrradiancePhotons: {
            advance();
            expectChar('(');
            int n = parseInt();
            expectChar(',');
            int m = parseInt();
            expectChar(')');
            if (active()) buildIrradiancePhotons(o, n, m);
            break;
        }
        case Keyword::IrradianceMaxDistance: {
            advance();
            double f = parseFloat();
            if (active()) buildIrradianceMaxDistance(o, f);
            break;
        }
        case Keyword::PhotonsGatherRange: {
            advance();
            expectChar('(');
            int n = parseInt();
            expectChar(',');
            int m = parseInt();
            expectChar(')');
            if (active()) buildPhotonsGatherRange(o, n, m);
            break;
        }
        case Keyword::PhotonsAccelerator: {
            advance();
            expectChar('(');
            double a[3];
            for (int i = 0; i < 3; ++i) {
                if (i) expectChar(',');
                a[i] = parseFloat();
            }
            expectChar(')');
            if (active())
                for (int i = 0; i < 3; ++i) o.photons.accelerator[i] = a[i];
            break;
        }
        case Keyword::EnableAllLightsIrradiance:
            advance();
            if (active()) warning("Directive EnableAllLightsIrradiance useless since version 1.0.3");
            break;
        case Keyword::SavePhotonMap:
        case Keyword::SaveIrradianceCache:
        case Keyword::LoadPhotonMap:
        case Keyword::LoadIrradianceCache:
            parseCacheFileOption(k);
            break;
        case Keyword::SunGlow:
            storeFloatItem(o.sunGlow);
            break;
        case Keyword::SoftShadowSamples: {
            advance();
            int n = parseInt();
            if (active()) buildSoftShadowSamples(o, n);
            break;
        }
        case Keyword::MaxBlurSamples: {
            advance();
            int n = parseInt();
            if (active()) buildMaxBlurSamples(o, n);
            break;
        }
        case Keyword::HenyeyGreenstein: {
            advance();
            double g = parseFloat();
            if (active()) buildHenyeyGreenstein(scene_, g);
            break;
        }
        case Keyword::ShadowBias:
            storeFloatItem(o.shadowBias);
            break;
        case Keyword::ZChannelDepth: {
            advance();
            int n = parseInt();
            if (active()) buildZChannelDepth(o, n);
            break;
        }
        case Keyword::SunLightRotation: {
            advance();
            Vec3 v = parseVector();
            if (active()) o.sunLightRotation = v;
            break;
        }
        case Keyword::ParallelSunRays:
            advance();
            if (active()) o.parallelSunRays = true;
            break;
        default:
            return false;
    }
    return true;
}

// output-to := OutputTo s   (takes effect only before the first frame has started)
void Parser::parseOutputTo() {
    expectKeyword(Keyword::OutputTo);
    std::string name = parseString();
    if (active()) buildOutputTo(scene_, name);
}

// cache-file-option := ( SavePhotonMap | SaveIrradianceCache | LoadPhotonMap | LoadIrradianceCache ) [ s ]
// Without a name the scene's own ".qpm" / ".qic" file is meant. A save never overwrites an existing
// irradiance cache file; a photon map is loaded only when its file exists.
// keyword f / keyword n: the value is stored when the statement takes effect.
void Parser::storeFloatItem(double& target) {
    advance();
    const double f = parseFloat();
    if (active()) target = f;
}

void Parser::storeIntItem(int& target) {
    advance();
    const int n = parseInt();
    if (active()) target = n;
}

void Parser::parseCacheFileOption(Keyword which) {
    advance();
    bool named = atKind(TokenKind::String);
    std::string name = named ? take().text : std::string();
    if (!active()) return;
    CacheFileOption option = which == Keyword::SavePhotonMap         ? CacheFileOption::SavePhotonMap
                             : which == Keyword::SaveIrradianceCache ? CacheFileOption::SaveIrradianceCache
                             : which == Keyword::LoadPhotonMap       ? CacheFileOption::LoadPhotonMap
                                                                     : CacheFileOption::LoadIrradianceCache;
    buildCacheFileOption(scene_, option, named ? &name : nullptr);
}

// camera := Camera '[' v ',' v ',' v camera-item { camera-item } ']'
void Parser::parseCamera() {
    expectKeyword(Keyword::Camera);
    expectChar('[');
    Vec3 location = parseVector();
    expectChar(',');
    Vec3 lookAt = parseVector();
    expectChar(',');
    Vec3 up = parseVector();
    if (active()) {
        scene_.frame.camera.location = location;
        scene_.frame.camera.pointOfInterest = lookAt;
        scene_.frame.camera.up = up;
    }
    do {
        if (!parseCameraItem()) transformItemError();
    } while (!atChar(']'));
    advance();
}

// camera-item := Antialiasing n | Undersampling n | FieldOfView f | DepthOfField '(' f ',' f ',' n ')'
//   | Clipping '(' f ',' f ')' | FrameAspectRatio f | Format '(' n ',' n ')' | Exposure '(' f ',' f ')'
//   | LensModel n | PixelFilter '(' n ',' f ',' f ')' | transformation-item (no Shear)
bool Parser::parseCameraItem() {
    Camera& c = scene_.frame.camera;
    Options& o = scene_.frame.options;
    TransformItem t = parseTransformItem(false);
    if (t.matched) {
        if (active()) {
            if (!c.cameraTransform) c.cameraTransform = std::make_unique<Transform>();
            compose(*c.cameraTransform, t.transform);
        }
        return true;
    }
    if (!atKind(TokenKind::Keyword)) return false;
    auto pair = [&](double& a, double& b) {
        expectChar('(');
        a = parseFloat();
        expectChar(',');
        b = parseFloat();
        expectChar(')');
    };
    switch (peek().keyword) {
        case Keyword::Antialiasing: {
            advance();
            int n = parseInt();
            if (active()) buildAntialiasing(o, n);
            break;
        }
        case Keyword::Undersampling: {
            advance();
            int n = parseInt();
            if (active()) buildUndersampling(o, n);
            break;
        }
        case Keyword::FieldOfView: {
            advance();
            double f = parseFloat();
            if (active()) buildFieldOfView(c, f);
            break;
        }
        case Keyword::DepthOfField: {
            advance();
            expectChar('(');
            double setting = parseFloat();
            expectChar(',');
            double distance = parseFloat();
            expectChar(',');
            int samples = parseInt();
            expectChar(')');
            if (!active()) break;
            if (samples < 1) fatal("DepthOfField samples must be greater than 1");
            // The first value is the aperture (0 = pinhole); the second replaces the focal distance only
            // when positive.
            c.focalSetting = setting;
            c.aperture = setting;
            if (distance > 0) c.focalDistance = distance;
            samples = reducedSampleCount("DepthOfField", samples, MaxDepthOfFieldSamples);
            c.depthOfFieldSamples = samples;
            o.depthOfFieldSamples = samples;
            break;
        }
        case Keyword::Clipping: {
            advance();
            double nearClip, farClip;
            pair(nearClip, farClip);
            if (active()) {
                c.nearClip = nearClip;
                c.farClip = farClip;
            }
            break;
        }
        case Keyword::FrameAspectRatio:
            storeFloatItem(c.frameAspectRatio);
            break;
        case Keyword::Format: {
            advance();
            expectChar('(');
            int w = parseInt();
            expectChar(',');
            int h = parseInt();
            expectChar(')');
            if (active()) buildFormat(c, w, h);
            break;
        }
        case Keyword::Exposure: {
            advance();
            double scale, exponent;
            pair(scale, exponent);
            if (active()) {
                c.exposureScale = scale;
                c.exposureExponent = exponent;
            }
            break;
        }
        case Keyword::LensModel: {
            advance();
            int n = parseInt();
            if (active()) buildLensModel(c, n);
            break;
        }
        case Keyword::PixelFilter: {
            advance();
            expectChar('(');
            int type = parseInt();
            expectChar(',');
            double wx = parseFloat();
            expectChar(',');
            double wy = parseFloat();
            expectChar(')');
            if (active()) buildPixelFilter(c, type, wx, wy);
            break;
        }
        default:
            return false;
    }
    return true;
}

// background := Background e   (a constant colour is stored as the colour, anything else as the expression)
void Parser::parseBackground() {
    expectKeyword(Keyword::Background);
    RequestPtr e = parseExpression();
    if (!active()) return;
    buildBackground(scene_, backgroundValue(std::move(e)));
}

// A constant expression that gives a colour is taken as that colour; anything else is kept as the tree.
BackgroundValue Parser::backgroundValue(RequestPtr e) {
    BackgroundValue value;
    if (isConstantRequest(*e)) {
        Value v = evaluate(evalContext(), e.get());
        if (v.isVector()) {
            value.colour = Color(v.vector);
            return value;
        }
    }
    value.expression = std::move(e);
    return value;
}

// fog := Fog '(' f ',' f ',' v ')' | GroundFog '(' f ',' f ',' v ')'
void Parser::parseFog(bool ground) {
    advance();
    expectChar('(');
    double a = parseFloat();
    expectChar(',');
    double b = parseFloat();
    expectChar(',');
    Vec3 colour = parseVector();
    expectChar(')');
    if (!active()) return;
    // Fog ( start distance , density , colour ); GroundFog ( height scale , distance scale , colour ).
    if (ground)
        buildGroundFog(scene_, a, b, Color(colour));
    else
        buildFog(scene_, a, b, Color(colour));
}

// sun-light := SunLight '(' f ':' f [ ',' f [ ',' f [ ',' v ] ] ] ')'
void Parser::parseSunLight() {
    expectKeyword(Keyword::SunLight);
    expectChar('(');
    double values[4] = {0, 0, 0, 0};
    values[0] = parseFloat();
    expectChar(':');
    values[1] = parseFloat();
    int count = 2;
    Vec3 vector;
    bool hasVector = false;
    while (count < 4 && acceptChar(',')) {
        values[count++] = parseFloat();
        if (count == 4 && acceptChar(',')) {
            vector = parseVector();
            hasVector = true;
        }
    }
    expectChar(')');
    if (active()) buildSunLightSettings(scene_, values, count, hasVector ? &vector : nullptr);
}

}  // namespace quorva
