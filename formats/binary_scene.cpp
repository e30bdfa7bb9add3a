// The binary scene reader: header and top-level records.
#include "formats/binary_scene.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/diagnostics.h"
#include "formats/byte_reader.h"
#include "formats/position_pause.h"
#include "formats/qsb_objects.h"
#include "scene/builders/camera_items.h"
#include "scene/builders/global_illumination.h"
#include "scene/builders/option_items.h"
#include "scene/builders/scene_settings.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "shading/light.h"

namespace quorva {

namespace {

constexpr double DegreesToRadians = 0.017453292519943295;

Vec3 vec(const float v[3]) {
    return {v[0], v[1], v[2]};
}
bool isVec(const float v[3], float x, float y, float z) {
    return v[0] == x && v[1] == y && v[2] == z;
}

std::string nameText(const char field[qsb::NameSize]) {
    return ByteReader::decodeName(reinterpret_cast<const std::uint8_t*>(field));
}

// Scale, rotation (degrees) and translation, each when it is not the identity, in that order.
void composeSrt(std::unique_ptr<Transform>& target, const float scale[3], const float rotation[3],
                const float translation[3]) {
    auto add = [&](const Transform& t) {
        if (!target) target = std::make_unique<Transform>();
        compose(*target, t);
    };
    if (!isVec(scale, 1, 1, 1)) add(makeScale(scale[0], scale[1], scale[2]));
    if (!isVec(rotation, 0, 0, 0)) {
        Vec3 a = vec(rotation) * DegreesToRadians;
        add(makeRotate(a.x, a.y, a.z));
    }
    if (!isVec(translation, 0, 0, 0)) add(makeTranslate(vec(translation)));
}

class SceneReader {
  public:
    SceneReader(ByteReader& in, SceneState& scene, int version)
        : in_(in), scene_(scene), version_(version), objects_(in, scene) {}

    void read() {
        while (!in_.atEnd()) record(in_.code());
    }

  private:
    void record(std::uint8_t code);
    void camera();
    void options();
    void general();
    void pointLight();
    void spotLight();
    void directionalLight();
    void blackHole();
    void sphAreaLight();
    void flatAreaLight();
    void skyDome();

    ByteReader& in_;
    SceneState& scene_;
    int version_;
    ObjectReader objects_;
};

void SceneReader::record(std::uint8_t code) {
    namespace c = qsb::code;
    switch (code) {
        case c::Camera:
            return camera();
        case c::Options:
            return options();
        case c::General:
            return general();
        case c::PointLight:
            return pointLight();
        case c::SpotLight:
            return spotLight();
        case c::DirectionalLight:
            return directionalLight();
        case c::BlackHole:
            return blackHole();
        case c::SphAreaLight:
            return sphAreaLight();
        case c::FlatAreaLight:
            return flatAreaLight();
        case c::SkyDome:
            return skyDome();
        case c::DeclareObject:
            return objects_.readDeclaration();
        case c::CallObject:
            return objects_.readCall();
        case c::Primitive:
            return objects_.readPlacedPrimitive();
        default:
            fatal("Unexpected data while parsing binary QSB: 0x%x", code);
    }
}

// The Camera statement's items, from the record's words.
void SceneReader::camera() {
    auto r = in_.record<qsb::CameraRecord>(qsb::cameraSize(version_));
    in_.requireFinite(r.location, r.lookAt, r.up, r.fieldOfView, r.aspectRatio, r.nearClip, r.farClip,
                      r.aperture, r.focalDistance, r.exposure, r.scale, r.rotation, r.translation,
                      r.pixelFilterParameters);
    Camera& cam = scene_.frame.camera;
    Options& o = scene_.frame.options;
    cam.location = vec(r.location);
    cam.pointOfInterest = vec(r.lookAt);
    cam.up = vec(r.up);
    buildFieldOfView(cam, r.fieldOfView);
    buildFormat(cam, r.width, r.height);
    cam.frameAspectRatio = r.aspectRatio;
    if (r.nearClip != 0.001f || r.farClip != 1000000.0f) {
        cam.nearClip = r.nearClip;
        cam.farClip = r.farClip;
    }
    if (r.aperture > 0) {
        cam.focalSetting = r.aperture;
        cam.aperture = r.aperture;
        if (r.focalDistance > 0) cam.focalDistance = r.focalDistance;
        if (r.focalSamples > 1) {
            const int samples = reducedSampleCount("DepthOfField", r.focalSamples, MaxDepthOfFieldSamples);
            cam.depthOfFieldSamples = samples;
            o.depthOfFieldSamples = samples;
        }
    }
    cam.exposureScale = r.exposure[0];
    cam.exposureExponent = r.exposure[1];
    // The first level in 1..10 wins: adaptive, super-adaptive (stored as level + 10), undersampling.
    auto inRange = [](std::int32_t n) { return n >= 1 && n <= 10; };
    if (inRange(r.antialiasing))
        buildAntialiasing(o, r.antialiasing);
    else if (inRange(r.superAdaptive))
        buildAntialiasing(o, r.superAdaptive + 10);
    else if (version_ > 1 && inRange(r.undersampling))
        buildUndersampling(o, r.undersampling);
    // The record holds the lens code itself: 240 is model 1.
    buildLensModel(cam, r.lensModel - LensPerspective + 1);
    composeSrt(cam.cameraTransform, r.scale, r.rotation, r.translation);
    if (version_ == 4) {
        buildPixelFilter(cam, r.pixelFilter, r.pixelFilterParameters[0], r.pixelFilterParameters[1]);
    }
}

// The Options statement's items; a zero number or an empty name leaves a setting unchanged.
void SceneReader::options() {
    auto r = in_.record<qsb::OptionsRecord>(std::min(qsb::optionsSize(version_), sizeof(qsb::OptionsRecord)));
    if (qsb::optionsSize(version_) > sizeof r) in_.take(qsb::optionsSize(version_) - sizeof r);
    in_.requireFinite(r.gamma, r.adaptiveThreshold, r.shadowBias, r.irradianceMaxError,
                      r.irradianceBlendingArea, r.irradianceMaxDistance, r.photonsAccelerator,
                      r.henyeyGreenstein, r.sunGlow, r.sunLightRotation);
    Options& o = scene_.frame.options;
    if (r.gamma[0] != 0) buildGammaCorrection(o, r.gamma[0], r.gamma[1]);
    if (r.adaptiveThreshold != 0) o.adaptiveThreshold = r.adaptiveThreshold;
    if (r.adaptiveDepth != 0) buildAdaptiveDepth(o, r.adaptiveDepth);
    if (r.maxRayLevel != 0) buildMaxRayLevel(o, r.maxRayLevel);
    if (r.maxBlurLevel != 0) buildMaxBlurLevel(o, r.maxBlurLevel);
    if (r.maxBlurSamples != 0) buildMaxBlurSamples(o, r.maxBlurSamples);
    if (r.softShadowSamples != 0) buildSoftShadowSamples(o, r.softShadowSamples);
    if (r.bitsPerPixel != 0) buildBitsPerPixel(o, r.bitsPerPixel);
    if (r.zChannelDepth != 0) buildZChannelDepth(o, r.zChannelDepth);
    if (r.shadowBias != 0) o.shadowBias = r.shadowBias;
    if (r.irradianceMaxError != 0) buildIrradianceMaxError(o, r.irradianceMaxError);
    if (r.irradianceBlendingArea != 0) buildIrradianceBlendingArea(o, r.irradianceBlendingArea);
    if (r.irradianceSamples != 0) buildIrradianceSamples(o, r.irradianceSamples);
    if (r.irradianceDistribution != 0) buildIrradianceDistribution(o, r.irradianceDistribution);
    if (r.irradianceBounceLevel != 0) buildIrradianceBounceLevel(o, r.irradianceBounceLevel);
    if (r.irradiancePhotons[0] != 0 || r.irradiancePhotons[1] != 0)
        buildIrradiancePhotons(o, r.irradiancePhotons[0], r.irradiancePhotons[1]);
    if (r.irradianceMaxDistance != 0) buildIrradianceMaxDistance(o, r.irradianceMaxDistance);
    if (r.photonsGatherRange[0] != 0 || r.photonsGatherRange[1] != 0)
        buildPhotonsGatherRange(o, r.photonsGatherRange[0], r.photonsGatherRange[1]);
    if (!isVec(r.photonsAccelerator, 0, 0, 0))
        for (int i = 0; i < 3; ++i) o.photons.accelerator[i] = r.photonsAccelerator[i];
    if (r.henyeyGreenstein != 0) buildHenyeyGreenstein(scene_, r.henyeyGreenstein);
    if (r.sunGlow != 0) o.sunGlow = r.sunGlow;
    if (!isVec(r.sunLightRotation, 0, 0, 0)) o.sunLightRotation = vec(r.sunLightRotation);
    if (r.parallelSunRays) o.parallelSunRays = true;

    std::string outputTo = nameText(r.outputTo);
    if (!outputTo.empty()) buildOutputTo(scene_, outputTo);
    // An empty name means the scene's own file.
    std::string photonName = nameText(r.photonMapName), cacheName = nameText(r.irradianceCacheName);
    const std::string* photonFile = photonName.empty() ? nullptr : &photonName;
    const std::string* cacheFile = cacheName.empty() ? nullptr : &cacheName;
    if (r.savePhotonMap) buildCacheFileOption(scene_, CacheFileOption::SavePhotonMap, photonFile);
    if (r.saveIrradianceCache) buildCacheFileOption(scene_, CacheFileOption::SaveIrradianceCache, cacheFile);
    if (r.loadPhotonMap) buildCacheFileOption(scene_, CacheFileOption::LoadPhotonMap, photonFile);
    if (r.loadIrradianceCache) buildCacheFileOption(scene_, CacheFileOption::LoadIrradianceCache, cacheFile);
}

// Background, Fog, GroundFog, Photons, ComputeIrradiance and Media.
void SceneReader::general() {
    qsb::GeneralRecord r;
    if (version_ == 1) {
        // No background name: the record image lacks bytes 12-43.
        const std::uint8_t* p = in_.take(qsb::generalSize(1));
        std::memcpy(static_cast<void*>(&r), p, 12);
        std::memcpy(reinterpret_cast<std::uint8_t*>(&r) + 44, p + 12, sizeof r - 44);
    } else {
        r = in_.record<qsb::GeneralRecord>();
    }
    in_.requireFinite(r.background, r.fogDistance, r.fogColour, r.fogDensity, r.groundFogDistance,
                      r.groundFogColour, r.groundFogDensity, r.photonsS, r.mediaDensity, r.mediaIntensity,
                      r.mediaMix, r.mediaColour);
    std::string name = nameText(r.backgroundName);
    BackgroundValue background;
    if (name.empty()) {
        background.colour = Color(vec(r.background));
    } else {
        const SymbolEntry* entry = scene_.symbols->lookup(name);
        const RequestPtr* tree =
            entry && entry->kind == SymbolKind::Expression ? std::get_if<RequestPtr>(&entry->value) : nullptr;
        if (!tree || !*tree) fatal("Can't find expression \"%s\" in symbol table", name.c_str());
        background.expression = *tree;
    }
    buildBackground(scene_, std::move(background));
    if (r.fogDensity > 0) buildFog(scene_, r.fogDistance, r.fogDensity, Color(vec(r.fogColour)));
    if (r.groundFogDensity > 0)
        buildGroundFog(scene_, r.groundFogDistance, r.groundFogDensity, Color(vec(r.groundFogColour)));
    if (r.photonsK > 0 || r.photonsS > 0) {
        double values[4] = {double(r.photonsK), double(r.photonsN), double(r.photonsJ), r.photonsS};
        buildPhotons(scene_, values, 4);
    }
    if (r.computeIrradiance != 0) buildComputeIrradiance(scene_, r.computeIrradiance);
    if (r.mediaDensity > 0)
        buildMedia(scene_, r.mediaScattering, r.mediaSamples, r.mediaDensity, r.mediaIntensity, r.mediaMix,
                   r.mediaDepth, Color(vec(r.mediaColour)));
}

// The items a point or spot light record carries: colour, decay or range, flags, media.
LightItems lightItems(const float colour[3], std::uint8_t decay, float fade, std::uint8_t flags,
                      std::uint8_t media) {
    if (decay > 3) fatal("Bad light Decay type");
    LightItems items;
    items.hasIntensity = true;
    items.intensity = makeVectorRequest(vec(colour));
    if (fade != 0) {
        items.hasRange = true;
        items.range = fade;
    } else if (decay != 0) {
        items.hasDecay = true;
        items.decay = decay;
    }
    items.hasAttributes = true;
    items.lightingAttributes = flags > 15 ? 15 : flags;
    items.mediaInteraction = media == 1;
    return items;
}

LightItems areaItems(const ByteReader& in, const qsb::AreaLightCommon& c) {
    in.requireFinite(c.colour, c.glow, c.range, c.scale, c.rotation, c.translation);
    LightItems items = lightItems(c.colour, c.decay, c.range, c.flags, c.media);
    if (c.glow > 0) {
        items.hasGlow = true;
        items.glow = c.glow;
    }
    composeSrt(items.transform, c.scale, c.rotation, c.translation);
    return items;
}

void SceneReader::pointLight() {
    auto r = in_.record<qsb::PointLightRecord>();
    in_.requireFinite(r.position, r.colour, r.fadeDistance, r.radius);
    LightItems items = lightItems(r.colour, r.decay, r.fadeDistance, r.flags, r.media);
    if (r.radius > 0) {
        // A radius gives soft shadows: a spherical area light of that radius around the position.
        items.hasBulb = true;
        items.bulbCentre = vec(r.position);
        items.bulbRadius = r.radius;
        addLight(scene_.frame, makeAreaLight(items));
        return;
    }
    addLight(scene_.frame, makePointLight(vec(r.position), items));
}

void SceneReader::spotLight() {
    auto r = in_.record<qsb::SpotLightRecord>();
    in_.requireFinite(r.position, r.pointAt, r.cone, r.colour, r.fadeDistance, r.radius);
    LightItems items = lightItems(r.colour, r.decay, r.fadeDistance, r.flags, r.media);
    if (r.radius > 0) {
        items.hasBulb = true;
        items.bulb = r.radius;
    }
    addLight(scene_.frame,
             makeSpotLight(vec(r.position), vec(r.pointAt), r.cone[2], r.cone[0], r.cone[1], items));
}

void SceneReader::directionalLight() {
    auto r = in_.record<qsb::DirectionalLightRecord>();
    in_.requireFinite(r.direction, r.colour);
    LightItems items;
    items.hasIntensity = true;
    items.intensity = makeVectorRequest(vec(r.colour));
    items.hasAttributes = true;
    items.lightingAttributes = r.flags > 15 ? 15 : r.flags;
    addLight(scene_.frame, makeDirectionalLight(vec(r.direction), items));
}

void SceneReader::blackHole() {
    auto r = in_.record<qsb::BlackHoleRecord>();
    in_.requireFinite(r.centre, r.strength, r.vector);
    Vec3 v = vec(r.vector);
    addLight(scene_.frame, makeBlackHole(vec(r.centre), r.strength, isVec(r.vector, 0, 0, 0) ? nullptr : &v));
}

void SceneReader::sphAreaLight() {
    auto r = in_.record<qsb::SphAreaLightRecord>();
    in_.requireFinite(r.centre, r.radius);
    LightItems items = areaItems(in_, r.common);
    items.hasBulb = true;
    items.bulbCentre = vec(r.centre);
    items.bulbRadius = r.radius;
    addLight(scene_.frame, makeAreaLight(items));
}

void SceneReader::flatAreaLight() {
    auto r = in_.record<qsb::FlatAreaLightRecord>();
    in_.requireFinite(r.plane);
    if (r.common.media == 1) fatal("Flat (plane) area light cannot interact with participating media");
    LightItems items = areaItems(in_, r.common);
    items.hasPlane = true;
    items.planeCount = 4;
    for (int i = 0; i < 4; ++i) items.plane[i] = r.plane[i];
    addLight(scene_.frame, makeAreaLight(items));
}

// SkyLight (the diffuse solar radiation) and SunLight.
void SceneReader::skyDome() {
    auto r = in_.record<qsb::SkyDomeRecord>(qsb::skyDomeSize(version_));
    in_.requireFinite(r.scale, r.skyColour, r.sunLight, r.sunVector, r.skyLightLast);
    if (r.diffuseSolarRadiation == 1) {
        // The fourth SkyLight value is given when positive.
        BackgroundValue sky;
        sky.colour = Color(vec(r.skyColour));
        buildSkyLight(scene_, r.samples, std::move(sky), r.scale, r.skyLightLast > 0 ? r.skyLightLast : 0);
    }
    if (r.sunOn) {
        double values[4] = {r.sunLight[0], r.sunLight[1], r.sunLight[2], r.sunLight[3]};
        Vec3 vector = vec(r.sunVector);
        buildSunLightSettings(scene_, values, 4, r.sunVectorGiven != 0 ? &vector : nullptr);
    }
}

}  // namespace

bool IsBinaryScene(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fatal("Unable to find scene file %s", path.c_str());
    char head[qsb::MagicSize] = {};
    std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && std::memcmp(head, qsb::SceneMagic.data(), sizeof head) == 0;
}

namespace {

// The magic, the version byte, then the records up to the end of the file.
void readBinaryScene(SceneState& scene, ByteReader& in, const std::string& path) {
    if (!in.has(qsb::MagicSize) ||
        std::memcmp(in.take(qsb::MagicSize), qsb::SceneMagic.data(), qsb::MagicSize) != 0)
        fatal("\"%s\" is not a Quillbarrow binary QSB file", path.c_str());
    if (in.atEnd()) fatal("Version specification is missing in QSB file");
    int version = in.byte();
    if (version < 1 || version > 4) fatal("Wrong version specification in QSB file");
    message("[scene from QSBsdk v1.0.%d]\n", version);
    static constexpr double Versions[] = {1.0, 1.1, 1.2, 1.3};
    scene.frame.options.version = Versions[version - 1];
    SceneReader(in, scene, version).read();
}

}  // namespace

void ReadBinaryScene(SceneState& scene, const std::string& path) {
    ByteReader in(path, false, path);
    if (!in.opened()) fatal("Failed to open binary file \"%s\"", path.c_str());
    PositionPause pause;
    readBinaryScene(scene, in, path);
}

void readBinarySceneBytes(SceneState& scene, const std::vector<std::uint8_t>& bytes,
                          const std::string& path) {
    PositionPause pause;
    ByteReader in(bytes, 0, false, path);
    readBinaryScene(scene, in, path);
}

}  // namespace quorva
