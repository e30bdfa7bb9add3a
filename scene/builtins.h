// The built-in names of the expression language (shading variables, functions, patterns, mappings)
// and the builder that checks a call and turns it into a Request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eval/request.h"

namespace quorva {

class SymbolTable;

// One value per built-in name, in the byte order of the names.
enum class BuiltinId : int {
    Age,
    CylindricalBumpMapping,
    CylindricalImageMapping,
    CylindricalIndexedMapping,
    Eye,  // E
    EnvironmentMapping,
    HSVColorWheel,
    Incident,  // I
    ImageFile,
    Level,
    Maps,
    Normal,  // N
    Opacity,
    Point,  // P
    PixelHeight,
    PlanarBumpMapping,
    PlanarImageMapping,
    PlanarIndexedMapping,
    ObjectPoint,   // Po
    SurfacePoint,  // Puv
    SpectrumOfColors,
    SphericalBumpMapping,
    SphericalImageMapping,
    SphericalIndexedMapping,
    ToroidalBumpMapping,
    ToroidalImageMapping,
    ToroidalIndexedMapping,
    UVBumpMapping,
    UVImageMapping,
    UVIndexedMapping,
    View,         // V
    Acos,         // acos
    Asin,         // asin
    Atan,         // atan
    Atan2,        // atan2
    Bias,         // bias
    Ceil,         // ceil
    Circular1,    // circular1
    Circular2,    // circular2
    Clamp,        // clamp
    Cos,          // cos
    Cosh,         // cosh
    Degrees,      // degrees
    Distance,     // distance
    Dnoise,       // dnoise
    Exp,          // exp
    FBm,          // fBm
    Fabs,         // fabs
    Fcellnoise,   // fcellnoise
    Floor,        // floor
    Fmod,         // fmod
    Fnoise,       // fnoise
    Gain,         // gain
    Greyscale,    // greyscale
    Int,          // int
    Inversesqrt,  // inversesqrt
    Legendre,     // legendre
    Length,       // length
    Log,          // log
    Log10,        // log10
    Max,          // max
    Min,          // min
    Mix,          // mix
    Normalize,    // normalize
    Pow,          // pow
    Pulse,        // pulse
    Radial1,      // radial1
    Radial2,      // radial2
    Radians,      // radians
    Ramp,         // ramp
    Random,       // random
    Reflect,      // reflect
    Refract,      // refract
    Round,        // round
    Sawtooth,     // sawtooth
    Scnoise,      // scnoise
    Sign,         // sign
    Sin,          // sin
    Sinh,         // sinh
    Smoothstep,   // smoothstep
    Spline,       // spline
    Sqrt,         // sqrt
    Step,         // step
    Tan,          // tan
    Tanh,         // tanh
    Trace,        // trace
    U,            // u
    VCoordinate,  // v
    Vcellnoise,   // vcellnoise
    Vcnoise,      // vcnoise
    Visibility,   // visibility
    Vnoise,       // vnoise
    Voronoi,      // voronoi
    W,            // w
    Wave,         // wave
    X,            // x
    Y,            // y
    Z,            // z
};
constexpr int BuiltinCount = 98;

// Bit n set: the name accepts n arguments (n = 0..4, and 6 for Maps).
std::uint8_t builtinArgumentCounts(BuiltinId id);
const char* builtinName(BuiltinId id);
// Bisection over the names sorted by unsigned byte value.
std::optional<BuiltinId> findBuiltin(std::string_view name);

// Checks a call of `name` with `arguments` (none for a bare name) and builds its node:
// - more than four arguments: only Maps with six strings (an environment mapping) is accepted;
// - unknown names, names used without their arguments and wrong argument counts are fatal;
// - degrees(a) and radians(a) become products; ImageFile(s, mode) loads the image now; min(s) and
//   max(s) become the corner of the bounding box of the solid declared as s (looked up in `symbols`);
//   spline(type, t, points[, parameters]) builds the spline now;
// - every other call becomes a Call node of the name's kind.
RequestPtr buildCall(const std::string& name, const std::vector<RequestPtr>& arguments,
                     const SymbolTable* symbols = nullptr);

}  // namespace quorva
