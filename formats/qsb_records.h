// Record layouts of the binary scene file (".qsb", magic "QUILLBARROW" + version byte) and the binary
// mesh file (".msh", magic "QUORVA_MESH"), shared by the renderer's reader and the converter's writer.
//
// Every item is a one-byte record code followed by a fixed-size payload. The payloads below are packed,
// little-endian memory images: "float" is IEEE single precision (the reader widens it to double), "int"
// a signed 32-bit integer, "byte" an unsigned 8-bit value, and a name 32 bytes holding a string padded
// with zero bytes (the writer stores at most 31 characters; the reader accepts 32 without a terminator
// and never reads past the field). Every default member value is the converter's default.
//
// This header depends on the standard library only: the converter shares nothing else with the renderer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorva::qsb {

static_assert(std::endian::native == std::endian::little, "the record images are little-endian");

inline constexpr std::string_view SceneMagic = "QUILLBARROW";  // followed by the version byte 1..4
inline constexpr std::string_view MeshMagic = "QUORVA_MESH";   // no version byte
inline constexpr std::size_t MagicSize = 11;
inline constexpr std::uint8_t WriterVersion = 3;
inline constexpr std::size_t NameSize = 32;
inline constexpr std::size_t MaxNameLength = NameSize - 1;

// Record codes. The names in comments are the ones the reader's messages use.
namespace code {
// top level of the binary scene
constexpr std::uint8_t Camera = 0;             // qlCAMERA
constexpr std::uint8_t Options = 16;           // qlOPTIONS
constexpr std::uint8_t General = 32;           // qlGENERAL
constexpr std::uint8_t PointLight = 48;        // qlPOINT_LIGHT
constexpr std::uint8_t SpotLight = 50;         // qlSPOT_LIGHT
constexpr std::uint8_t DirectionalLight = 52;  // qlDIRECTIONAL_LIGHT
constexpr std::uint8_t BlackHole = 54;         // qlBLACK_HOLE
constexpr std::uint8_t SphAreaLight = 56;      // qlSPH_AREA_LIGHT
constexpr std::uint8_t FlatAreaLight = 58;     // qlFLAT_AREA_LIGHT
constexpr std::uint8_t SkyDome = 60;           // qlSKY_DOME
constexpr std::uint8_t DeclareObject = 64;     // qlDeclareNewObject: name, primitives, EndDeclaration
constexpr std::uint8_t EndDeclaration = 65;
constexpr std::uint8_t CallObject = 66;  // qlCallObject: name, modifiers, EndCall
constexpr std::uint8_t EndCall = 67;
constexpr std::uint8_t Primitive = 74;  // qlPrimitive: one primitive record, modifiers, EndCall
// mesh file
constexpr std::uint8_t StartMesh = 68;  // qlStartMeshDeclaration: name, primitives, EndMesh
constexpr std::uint8_t EndMesh = 69;
constexpr std::uint8_t CallMesh = 70;  // qlCallMesh: name, modifiers, EndCallMesh
constexpr std::uint8_t EndCallMesh = 71;
// modifiers (object calls; 73 and 113 in mesh calls)
constexpr std::uint8_t SurfaceAttributes = 72;
constexpr std::uint8_t MeshSurfaceAttributes = 73;
constexpr std::uint8_t ShaderName = 112;
constexpr std::uint8_t MeshShaderName = 113;
constexpr std::uint8_t Scale = 114;
constexpr std::uint8_t Translate = 116;
constexpr std::uint8_t Rotate = 118;
constexpr std::uint8_t ScaleRotateTranslate = 120;
constexpr std::uint8_t Matrix = 122;
constexpr std::uint8_t Shear = 124;
// primitives (inside declarations; the mesh file takes 80, 81, 82, 83, 84, 88 and 90)
constexpr std::uint8_t Triangle = 80;
constexpr std::uint8_t TriangleUV = 81;
constexpr std::uint8_t Sphere = 82;
constexpr std::uint8_t Cone = 83;
constexpr std::uint8_t Cylinder = 84;
constexpr std::uint8_t Disk = 85;
constexpr std::uint8_t Ring = 86;
constexpr std::uint8_t Torus = 87;
constexpr std::uint8_t Box = 88;
constexpr std::uint8_t Superquadric = 89;
constexpr std::uint8_t Polygon = 90;  // qlPOLYGON: byte n, then n x 3 floats
constexpr std::uint8_t Nurbs = 91;
constexpr std::uint8_t BicubicPatch = 92;
constexpr std::uint8_t Paraboloid = 93;
constexpr std::uint8_t Blobby = 94;
}  // namespace code

#pragma pack(push, 1)

// qlCAMERA: 33 four-byte words in versions 2 and 3; version 1 stops after word 21 (88 bytes); version 4
// adds the pixel filter (144 bytes). The lens-model byte takes 0xF0 + (lens model - 1), so the
// converter's 0xF0 is lens model 1; words 18-19 are the Exposure pair.
struct CameraRecord {
    float location[3] = {0, 0, -10};
    float lookAt[3] = {0, 0, 0};
    float up[3] = {0, 1, 0};
    float fieldOfView = 45;  // degrees
    std::int32_t width = 320, height = 240;
    float aspectRatio = 1.334f;
    float nearClip = 0.001f;        // 0.001 leaves the renderer's default
    float farClip = 1000000.0f;     // 1000000 leaves the default
    float aperture = 0;             // > 0 enables focal blur
    float focalDistance = -1;       // used when > 0
    std::int32_t focalSamples = 4;  // used when > 1
    float exposure[2] = {0, 0};
    std::int32_t antialiasing = 0;   // word 20: adaptive level 1..10
    std::int32_t superAdaptive = 0;  // word 21: super-adaptive level 1..10
    std::int32_t undersampling = 0;  // word 22: undersampling quality 1..10
    std::uint8_t lensModel = 0xF0;
    std::uint8_t padding[3] = {0, 0, 0};
    float scale[3] = {1, 1, 1};
    float rotation[3] = {0, 0, 0};  // degrees
    float translation[3] = {0, 0, 0};
    // version 4 only
    std::int32_t pixelFilter = -1;
    float pixelFilterParameters[2] = {1, 1};
};
static_assert(offsetof(CameraRecord, superAdaptive) == 84 && offsetof(CameraRecord, lensModel) == 92);
static_assert(offsetof(CameraRecord, pixelFilter) == 132 && sizeof(CameraRecord) == 144);

// qlOPTIONS: 400 bytes carry the values in every version; versions 1, 3 and 4 end with 4, 8 and 24
// reserved bytes. A zero number or an empty name leaves the setting unchanged; the rest is checked
// like the Options statement.
struct OptionsRecord {
    float gamma[2] = {0, 0};  // GammaCorrection ( f1 , f2 ), applied when f1 > 0
    float adaptiveThreshold = 0;
    std::int32_t adaptiveDepth = 0;
    std::int32_t maxRayLevel = 0;
    std::int32_t maxBlurLevel = 0;
    std::int32_t maxBlurSamples = 0;
    std::int32_t softShadowSamples = 0;
    std::int32_t bitsPerPixel = 0;
    std::int32_t zChannelDepth = 0;
    float shadowBias = 0;
    float irradianceMaxError = 0;
    float irradianceBlendingArea = 0;
    std::int32_t irradianceSamples = 0;
    std::int32_t irradianceDistribution = 0;
    std::int32_t irradianceBounceLevel = 0;
    std::int32_t irradiancePhotons[2] = {0, 0};
    float irradianceMaxDistance = 0;
    std::int32_t photonsGatherRange[2] = {0, 0};
    float photonsAccelerator[3] = {0, 0, 0};
    float henyeyGreenstein = 0;
    float sunGlow = 0;
    float sunLightRotation[3] = {0, 0, 0};
    std::uint8_t parallelSunRays = 0;
    std::uint8_t savePhotonMap = 0;        // 1: save (to the name below when given)
    std::uint8_t saveIrradianceCache = 0;  // 1: save
    std::uint8_t loadPhotonMap = 0;        // 1: load
    std::uint8_t loadIrradianceCache = 0;  // 1: load
    std::uint8_t padding[3] = {0, 0, 0};
    char outputTo[NameSize] = {};
    char photonMapName[NameSize] = {};        // with SavePhotonMap / LoadPhotonMap
    char irradianceCacheName[NameSize] = {};  // with SaveIrradianceCache / LoadIrradianceCache
    std::uint8_t reserved[180] = {};
};
static_assert(sizeof(OptionsRecord) == 400);

// qlGENERAL: 140 bytes; version 1 (108 bytes) has no background name (bytes 12-43 are left out).
struct GeneralRecord {
    float background[3] = {0, 0, 0};
    char backgroundName[NameSize] = {};  // a declared expression; empty = the colour
    float fogDistance = 0;
    float fogColour[3] = {1, 1, 1};
    float fogDensity = 0;  // Fog ( distance , density , colour ) when > 0
    float groundFogDistance = 0;
    float groundFogColour[3] = {1, 1, 1};
    float groundFogDensity = 0;                             // GroundFog when > 0
    std::int32_t photonsK = 0, photonsN = 0, photonsJ = 0;  // Photons ( k , n , j , s ) when k or s > 0
    float photonsS = 0;
    std::int32_t computeIrradiance = 0;  // when non-zero
    std::int32_t mediaDepth = 1;         // Media settings, when the density > 0
    std::int32_t mediaSamples = 40;
    float mediaDensity = 0;
    float mediaIntensity = 0.5f;
    float mediaMix = 0;
    std::int32_t mediaScattering = 0;
    float mediaColour[3] = {0, 0, 0};
};
static_assert(offsetof(GeneralRecord, fogDistance) == 44 && offsetof(GeneralRecord, photonsK) == 84);
static_assert(offsetof(GeneralRecord, mediaDepth) == 104 && sizeof(GeneralRecord) == 140);

// qlPOINT_LIGHT, 40 bytes.
struct PointLightRecord {
    float position[3] = {0, 0, 0};
    float colour[3] = {1, 1, 1};
    std::uint8_t decay = 0;  // 0..3
    std::uint8_t padding[3] = {0, 0, 0};
    float fadeDistance = 0;  // non-zero: the Range, replacing the decay
    float radius = 0;        // > 0: a spherical area light (Bulb) of this radius at the position
    std::uint8_t flags = 3;  // above 15 become 15
    std::uint8_t media = 0;  // 1: interacts with participating media
    std::uint8_t padding2[2] = {0, 0};
};
static_assert(sizeof(PointLightRecord) == 40);

// qlSPOT_LIGHT, 64 bytes. The cones reach the spot light as (cone[2], cone[0], cone[1]); a radius > 0
// is the spot light's Bulb.
struct SpotLightRecord {
    float position[3] = {0, 10, 0};
    float pointAt[3] = {0, 0, 0};
    float cone[3] = {5.0f, 1.0f, 0.0f};
    float colour[3] = {1, 1, 1};
    std::uint8_t decay = 0;
    std::uint8_t padding[3] = {0, 0, 0};
    float fadeDistance = 0;
    float radius = 0;
    std::uint8_t flags = 3;
    std::uint8_t media = 0;
    std::uint8_t padding2[2] = {0, 0};
};
static_assert(offsetof(SpotLightRecord, decay) == 48 && sizeof(SpotLightRecord) == 64);

// qlDIRECTIONAL_LIGHT, 28 bytes.
struct DirectionalLightRecord {
    float direction[3] = {0, -1, 0};
    float colour[3] = {1, 1, 1};
    std::uint8_t flags = 3;
    std::uint8_t padding[3] = {0, 0, 0};
};
static_assert(sizeof(DirectionalLightRecord) == 28);

// qlBLACK_HOLE, 28 bytes: BlackHole ( centre , strength , vector ).
struct BlackHoleRecord {
    float centre[3] = {0, 0, 0};
    float strength = 0;
    float vector[3] = {0, 0, 0};
};
static_assert(sizeof(BlackHoleRecord) == 28);

// The items both area lights share after their shape: 60 bytes.
struct AreaLightCommon {
    float colour[3] = {1, 1, 1};  // Intensity
    float glow = 0;               // Glow, when > 0
    float range = 0;              // Range, when > 0 (replaces the decay)
    std::uint8_t decay = 0;       // 0..3
    std::uint8_t flags = 3;
    std::uint8_t media = 0;
    std::uint8_t padding = 0;
    float scale[3] = {1, 1, 1};
    float rotation[3] = {0, 0, 0};  // degrees
    float translation[3] = {0, 0, 0};
};

// qlSPH_AREA_LIGHT, 80 bytes: Bulb ( centre , radius ) and the common items.
struct SphAreaLightRecord {
    float centre[3] = {0, 0, 0};
    float radius = 1;
    AreaLightCommon common;
    std::uint8_t reserved[4] = {};
};
static_assert(sizeof(SphAreaLightRecord) == 80);

// qlFLAT_AREA_LIGHT, 76 bytes: Plane ( f , f , f , f ) and the common items.
struct FlatAreaLightRecord {
    float plane[4] = {1, 1, 0, 0};
    AreaLightCommon common;
};
static_assert(sizeof(FlatAreaLightRecord) == 76);

// qlSKY_DOME: 68 bytes in version 1, 76 in version 2, 100 later (the fields up to each size).
// Byte 0 set: SkyLight ( samples , skyColour , scale [, skyLightLast ] ), the diffuse solar radiation.
// sunOn set: SunLight ( sunLight[0] : sunLight[1] , sunLight[2] , sunLight[3] [, sunVector ] ).
struct SkyDomeRecord {
    std::uint8_t diffuseSolarRadiation = 0;  // 1 = on
    std::uint8_t padding[3] = {0, 0, 0};
    std::int32_t samples = 0;  // sample count
    float scale = 1;           // intensity scale
    float skyColour[3] = {1, 1, 1};
    float sunLight[4] = {0, 0, 0, 0};
    float sunVector[3] = {0, 0, 0};
    std::uint8_t sunOn = 0;
    std::uint8_t sunVectorGiven = 0;
    std::uint8_t padding2[2] = {0, 0};
    std::uint8_t reservedV1[12] = {};
    // version 2 on
    std::int32_t sunSoftShadowSamples = 0;  // reserved
    float skyLightLast = 0;                 // the fourth SkyLight value, given when > 0
    // version 3 on
    std::uint8_t reservedV3[24] = {};
};
static_assert(offsetof(SkyDomeRecord, sunSoftShadowSamples) == 68 && sizeof(SkyDomeRecord) == 100);

// Modifier 72 (73 in mesh calls), 64 bytes: -1 means unchanged.
struct SurfaceAttributesRecord {
    char displacementName[NameSize] = {};  // a declared expression; empty = none
    float subdivisions[2] = {-1, -1};      // ShapeSubdivisions u, v
    std::int32_t shadingAttributes = -1;   // ShadingAttributes
    float caustics = -1;                   // Caustics
    float renderBound[4] = {-1, -1, -1, -1};
};
static_assert(sizeof(SurfaceAttributesRecord) == 64);

// Primitive payloads (float counts; the order is the scene statements' argument order).
struct TriangleRecord {  // 80: three vertices, each position then normal
    float vertex[3][6];
};
static_assert(sizeof(TriangleRecord) == 72);
struct TriangleUVRecord {  // 81: three vertices, each position, normal, u, v
    float vertex[3][8];
};
static_assert(sizeof(TriangleUVRecord) == 96);

inline constexpr std::size_t SpherePayload = 16;        // centre, radius
inline constexpr std::size_t ConePayload = 32;          // base, base radius, apex, apex radius
inline constexpr std::size_t CylinderPayload = 28;      // end, end, radius
inline constexpr std::size_t DiskPayload = 28;          // centre, normal, radius
inline constexpr std::size_t RingPayload = 32;          // centre, normal, radius, radius
inline constexpr std::size_t TorusPayload = 32;         // centre, axis, radius, radius
inline constexpr std::size_t BoxPayload = 24;           // corner, corner
inline constexpr std::size_t SuperquadricPayload = 8;   // two exponents
inline constexpr std::size_t BicubicPayload = 204;      // three floats, 16 control points
inline constexpr std::size_t ParaboloidPayload = 28;    // point, point, number
inline constexpr std::size_t BlobbyComponentSize = 40;  // int type (1 sphere, 2 cylinder, 3 plane), 9 floats
inline constexpr std::size_t BlobbyHeaderSize = 9;      // float threshold, int count, byte solver code
inline constexpr std::size_t NurbsHeaderSize = 16;      // ints nu, nv, ou, ov

// 4 x 4 matrix (122), row-major, points as row vectors.
struct MatrixRecord {
    float m[16];
};
static_assert(sizeof(MatrixRecord) == 64);

#pragma pack(pop)

// Payload sizes that depend on the version byte (1..4).
constexpr std::size_t cameraSize(int version) {
    return version == 1 ? 88 : version == 4 ? 144 : 132;
}
constexpr std::size_t optionsSize(int version) {
    return version == 1 ? 404 : version == 2 ? 400 : version == 3 ? 408 : 424;
}
constexpr std::size_t generalSize(int version) {
    return version == 1 ? 108 : 140;
}
constexpr std::size_t skyDomeSize(int version) {
    return version == 1 ? 68 : version == 2 ? 76 : 100;
}

}  // namespace quorva::qsb
