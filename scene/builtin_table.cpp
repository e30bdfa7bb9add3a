// The table of built-in names: spelling, accepted argument counts, and its bisection search.
#include <cstring>

#include "scene/name_compare.h"

#include "scene/builtins.h"

namespace quorva {
namespace {

struct BuiltinEntry {
    const char* name;
    std::uint8_t counts;  // bit n: n arguments accepted
};

constexpr BuiltinEntry Table[] = {
    {"Age", 0x01},
    {"CylindricalBumpMapping", 0x0c},
    {"CylindricalImageMapping", 0x0c},
    {"CylindricalIndexedMapping", 0x0c},
    {"E", 0x01},
    {"EnvironmentMapping", 0x04},
    {"HSVColorWheel", 0x04},
    {"I", 0x01},
    {"ImageFile", 0x04},
    {"Level", 0x01},
    {"Maps", 0x40},
    {"N", 0x01},
    {"Opacity", 0x01},
    {"P", 0x01},
    {"PixelHeight", 0x0c},
    {"PlanarBumpMapping", 0x0c},
    {"PlanarImageMapping", 0x0c},
    {"PlanarIndexedMapping", 0x0c},
    {"Po", 0x01},
    {"Puv", 0x01},
    {"SpectrumOfColors", 0x00},
    {"SphericalBumpMapping", 0x0c},
    {"SphericalImageMapping", 0x0c},
    {"SphericalIndexedMapping", 0x0c},
    {"ToroidalBumpMapping", 0x0c},
    {"ToroidalImageMapping", 0x0c},
    {"ToroidalIndexedMapping", 0x0c},
    {"UVBumpMapping", 0x04},
    {"UVImageMapping", 0x02},
    {"UVIndexedMapping", 0x02},
    {"V", 0x01},
    {"acos", 0x02},
    {"asin", 0x02},
    {"atan", 0x02},
    {"atan2", 0x04},
    {"bias", 0x04},
    {"ceil", 0x02},
    {"circular1", 0x02},
    {"circular2", 0x02},
    {"clamp", 0x08},
    {"cos", 0x02},
    {"cosh", 0x02},
    {"degrees", 0x02},
    {"distance", 0x04},
    {"dnoise", 0x06},
    {"exp", 0x02},
    {"fBm", 0x06},
    {"fabs", 0x02},
    {"fcellnoise", 0x06},
    {"floor", 0x02},
    {"fmod", 0x04},
    {"fnoise", 0x06},
    {"gain", 0x04},
    {"greyscale", 0x02},
    {"int", 0x02},
    {"inversesqrt", 0x02},
    {"legendre", 0x08},
    {"length", 0x02},
    {"log", 0x02},
    {"log10", 0x02},
    {"max", 0x06},
    {"min", 0x06},
    {"mix", 0x08},
    {"normalize", 0x02},
    {"pow", 0x04},
    {"pulse", 0x08},
    {"radial1", 0x02},
    {"radial2", 0x02},
    {"radians", 0x02},
    {"ramp", 0x02},
    {"random", 0x03},
    {"reflect", 0x04},
    {"refract", 0x08},
    {"round", 0x02},
    {"sawtooth", 0x02},
    {"scnoise", 0x04},
    {"sign", 0x02},
    {"sin", 0x02},
    {"sinh", 0x02},
    {"smoothstep", 0x08},
    {"spline", 0x18},
    {"sqrt", 0x02},
    {"step", 0x04},
    {"tan", 0x02},
    {"tanh", 0x02},
    {"trace", 0x06},
    {"u", 0x01},
    {"v", 0x01},
    {"vcellnoise", 0x06},
    {"vcnoise", 0x02},
    {"visibility", 0x04},
    {"vnoise", 0x02},
    {"voronoi", 0x04},
    {"w", 0x01},
    {"wave", 0x12},
    {"x", 0x01},
    {"y", 0x01},
    {"z", 0x01},
};
static_assert(sizeof Table / sizeof Table[0] == BuiltinCount);

}  // namespace

std::uint8_t builtinArgumentCounts(BuiltinId id) {
    int i = static_cast<int>(id);
    return i >= 0 && i < BuiltinCount ? Table[i].counts : 0;
}

const char* builtinName(BuiltinId id) {
    int i = static_cast<int>(id);
    return i >= 0 && i < BuiltinCount ? Table[i].name : "?";
}

std::optional<BuiltinId> findBuiltin(std::string_view name) {
    int lo = 0, hi = BuiltinCount - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = compareSpelling(Table[mid].name, name);
        if (c == 0) return static_cast<BuiltinId>(mid);
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return std::nullopt;
}

}  // namespace quorva
