// The scene-wide settings: Options, Camera, Background, Fog, GroundFog and SunLight.
#include <cmath>
#include <cstdio>

#include "diagnostics/diagnostics.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

bool fileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

constexpr double DegreesToRadians = 0.017453292519943295;

}  // namespace

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
    IrradianceSettings& irr = o.irradiance;
    Keyword k = peek().keyword;
    switch (k) {
        case Keyword::GammaCorrection: {
            advance();
            expectChar('(');
            double sceneGamma = parseFloat();
            expectChar(',');
            double displayGamma = parseFloat();
            expectChar(')');
            if (!active()) break;
            if (displayGamma > 0) o.displayGamma = displayGamma;
            if (sceneGamma <= 0) fatal("GammaCorrection value must be greater than 0");
            if (std::fabs(sceneGamma - o.displayGamma) < 0.1) {
                o.gammaOn = false;
                o.gammaFactor = 1.0;
            } else {
                o.gammaOn = true;
                o.gammaFactor = sceneGamma / o.displayGamma;
            }
            break;
        }
        case Keyword::AdaptiveThreshold:
            storeFloatItem(o.adaptiveThreshold);
            break;
        case Keyword::AdaptiveDepth: {
            advance();
            int n = parseInt();
            // The grid size is 4 n; sizes outside 4..16 fall back to 4. Compared in 64 bits so a huge n
            // cannot wrap into the range.
            long long depth = 4LL * n;
            if (active()) o.adaptiveDepth = (depth < 4 || depth > 16) ? 4 : static_cast<int>(depth);
            break;
        }
        case Keyword::MaxRayLevel: {
            advance();
            int n = parseInt();
            if (!active()) break;
            if (n < 1 || n > 16) fatal("MaxRayLevel must be between 1 and 16");
            o.maxRayLevel = n;
            break;
        }
        case Keyword::MaxBlurLevel: {
            advance();
            int n = parseInt();
            if (!active()) break;
            if (n < 1 || n > o.maxRayLevel) fatal("MaxBlurLevel must be between 1 and MaxRayLevel");
            o.maxBlurLevel = n;
            break;
        }
        case Keyword::BitsPerPixel: {
            advance();
            int n = parseInt();
            if (!active()) break;
            if (n != 24 && n != 32) fatal("BitsPerPixel should be 24 or 32, not %d", n);
            o.bitsPerPixel = n;
            break;
        }
        case Keyword::OutputTo:
            parseOutputTo();
            break;
        case Keyword::IrradianceMaxError: {
            advance();
            const double f = parseFloat();
            if (active()) irr.maxError = boundedMaxError(f);
            break;
        }
        case Keyword::IrradianceBlendingArea: {
            advance();
            double f = parseFloat();
            if (!active()) break;
            // K = the integer part of 10 f, clamped to 1..19 (compared before converting, so any double is
            // safe).
            double k10 = std::trunc(10 * f);
            irr.blendingArea = !(k10 >= 1) ? 1 : k10 > 19 ? 19 : static_cast<int>(k10);
            break;
        }
        case Keyword::IrradianceSamples: {
            advance();
            int n = parseInt();
            if (active()) irr.samples = boundedCount(n, 5, MaxIrradianceSamples);
            break;
        }
        case Keyword::IrradianceDistribution: {
            advance();
            int n = parseInt();
            if (active()) irr.distribution = (n < 1 || n > 6) ? 6 : n;
            break;
        }
        case Keyword::IrradianceBounceLevel: {
            advance();
            int n = parseInt();
            if (active()) irr.bounceLevel = (n < 1 || n > 7) ? 1 : n;
            break;
        }
        case Keyword::IrradiancePhotons: {
            advance();
            expectChar('(');
            int n = parseInt();
            expectChar(',');
            int m = parseInt();
            expectChar(')');
            if (!active()) break;
            // The photons shot for the irradiance map are at least 1000; that map gathers at least as many
            // photons per estimate as the Photons statement's first value (both within their bounds).
            int gathered = o.photons.parameterCount > 0 ? static_cast<int>(o.photons.parameters[0]) : 0;
            irr.photons[0] = boundedCount(n, 1000, MaxIrradiancePhotons);
            irr.photons[1] = boundedCount(m < gathered ? gathered : m, 0, MaxPhotonGatherCount);
            break;
        }
        case Keyword::IrradianceMaxDistance: {
            advance();
            double f = parseFloat();
            if (active()) irr.maxDistance = f > 0 ? std::fmin(f, MaxIrradianceDistance) : 0;
            break;
        }
        case Keyword::PhotonsGatherRange: {
            advance();
            expectChar('(');
            int n = parseInt();
            expectChar(',');
            int m = parseInt();
            expectChar(')');
            // Each value is a heap capacity: values below 1 take the Photons count, larger ones are bounded.
            if (active()) {
                o.photons.gatherRange[0] = boundedCount(n, 0, MaxPhotonGatherCount);
                o.photons.gatherRange[1] = boundedCount(m, 0, MaxPhotonGatherCount);
            }
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
        case Keyword::SoftShadowSamples:
            storeIntItem(o.softShadowSamples);
            break;
        case Keyword::MaxBlurSamples:
            storeIntItem(o.maxBlurSamples);
            break;
        case Keyword::HenyeyGreenstein:
            storeFloatItem(o.henyeyGreenstein);
            if (active()) mediaSetEccentricity(scene_.frame.media, o.henyeyGreenstein);
            break;
        case Keyword::ShadowBias:
            storeFloatItem(o.shadowBias);
            break;
        case Keyword::ZChannelDepth: {
            advance();
            int n = parseInt();
            if (!active()) break;
            if (n != 8 && n != 16 && n != 24 && n != 32 && n != 64) {
                warning("Bad value specified with ZChannelDepth. Must be 8, 16, 24, 32 or 64");
                n = 0;
            }
            o.zChannelDepth = n;
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
    if (!active() || scene_.frame.frames.firstFrameStarted) return;
    if (name.find('.') != std::string::npos) fatal("No file extension with 'OutputTo'");
    scene_.output.imageFile = name + ".tga";
    scene_.output.outputBase = name;
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
    Options& o = scene_.frame.options;
    bool hasDot = name.find('.') != std::string::npos;
    switch (which) {
        case Keyword::SavePhotonMap:
            if (hasDot) fatal("No file extension with SavePhotonMap");
            o.photons.saveRequested = true;
            o.photons.savePath = named ? name + ".qpm" : scene_.output.photonMapFile;
            break;
        case Keyword::SaveIrradianceCache: {
            if (hasDot) fatal("No file extension with SaveIrradianceCache");
            std::string path = named ? name + ".qic" : scene_.output.irradianceCacheFile;
            if (!fileExists(path)) {
                o.irradiance.saveRequested = true;
                o.irradiance.savePath = path;
            }
            break;
        }
        case Keyword::LoadPhotonMap: {
            std::string path = !named ? scene_.output.photonMapFile : hasDot ? name : name + ".qpm";
            if (fileExists(path)) {
                o.photons.loadRequested = true;
                o.photons.loadPath = path;
            }
            break;
        }
        default:
            o.irradiance.loadRequested = true;
            o.irradiance.loadPath = !named   ? scene_.output.irradianceCacheFile
                                    : hasDot ? name
                                             : name + ".qic";
            break;
    }
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
            if (!active()) break;
            if (n < 0) fatal("Antialiasing value must be greater than zero");
            o.antialiasing = n;
            o.undersampling = false;
            break;
        }
        case Keyword::Undersampling: {
            advance();
            int n = parseInt();
            if (!active()) break;
            if (n < 1 || n > 10) fatal("Incorrect undersampling quality level");
            o.antialiasing = n;
            o.undersampling = true;
            break;
        }
        case Keyword::FieldOfView: {
            advance();
            double f = parseFloat();
            if (!active()) break;
            c.fieldOfView = f;
            c.halfAngle = f * 0.5 * DegreesToRadians;
            c.fieldOfViewGiven = true;
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
            if (!active()) break;
            // An image needs at least one pixel each way; the frame buffers are sized from these.
            if (w < 1 || h < 1) fatal("Image format must be at least 1 x 1 pixels, not %d x %d", w, h);
            c.width = w;
            c.height = h;
            c.lastRow = h;
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
            if (!active()) break;
            if (n < 1 || n > 6) fatal("Incorrect camera lens model");
            c.lensModel = static_cast<std::uint8_t>(239 + n);
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
            if (!active()) break;
            c.pixelFilterType = (type < 1 || type > 7) ? -1 : type;
            c.pixelFilterWidthX = (wx >= 1 && wx <= 5) ? wx : 3;
            c.pixelFilterWidthY = (wy >= 1 && wy <= 5) ? wy : 3;
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
    BackgroundSettings& b = scene_.frame.background;
    if (isConstantRequest(*e)) {
        Value v = evaluate(evalContext(), e.get());
        if (v.isVector()) {
            b.colour = Color(v.vector);
            b.expression = nullptr;
            return;
        }
    }
    b.expression = std::move(e);
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
    FogSettings& fog = scene_.frame.fog;
    if (ground) {
        if (!(a > 0 && b > 0)) fatal("Bad GroundFog value");
        fog.heightScale = a;
        fog.distanceScale = b;
    } else {
        // Fog ( start distance , density , colour ); the density is a fraction.
        if (!(b >= 0 && b <= 1)) fatal("Bad Fog value");
        fog.start = a;
        fog.density = b;
    }
    fog.colour = Color(colour);
}

// sun-light := SunLight '(' f ':' f [ ',' f [ ',' f [ ',' v ] ] ] ')'
void Parser::parseSunLight() {
    expectKeyword(Keyword::SunLight);
    expectChar('(');
    SunLightSettings sun;
    sun.given = true;
    sun.values[0] = parseFloat();
    expectChar(':');
    sun.values[1] = parseFloat();
    sun.count = 2;
    while (sun.count < 4 && acceptChar(',')) {
        sun.values[sun.count++] = parseFloat();
        if (sun.count == 4 && acceptChar(',')) {
            sun.vector = parseVector();
            sun.hasVector = true;
        }
    }
    expectChar(')');
    if (active()) scene_.frame.sun = sun;
}

}  // namespace quorva
