// Request: the node of every scene-language value and expression tree. Trees are immutable once built
// and shared by pointer (RequestPtr); evaluation never changes them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "geometry/vec3.h"

namespace quorva {

struct Request;
using RequestPtr = std::shared_ptr<const Request>;

struct ImageFile;        // image/texture_image.h
struct ColorSpectrum;    // scene/spectrum.h
struct Spline;           // scene/spline.h
struct EnvironmentMap;   // six cube-face image nodes

// Node kinds. Values first, then operators; built-in calls carry a BuiltinId (scene/builtins.h).
enum class RequestKind : std::int32_t {
    Float = 1,          // number
    Vector,             // vector constant: vector + fourth
    VectorExpression,   // components[0..2] (and components[3] for a fourth value)
    String,             // text
    Array,              // elements
    ColorSpectrumValue, // spectrum
    Image,              // image, mapping mode in `mappingMode`
    Environment,        // environment
    SplineValue,        // spline
    // operators: operands in left/right
    Add, Subtract, Multiply, Divide, Power, Remainder, Dot, Abs, Index, Choice,  // Choice: argument ? left : right
    Less, Greater, LessEqual, GreaterEqual, Equal, And, Or, Not,
    Noise,                                   // noise(a[, b])
    RotateExpression, ScaleExpression, TranslateExpression,
    CurrentColor,                            // Color
    CurrentFrame, LastFrame, FirstFrame, AnimationLength,
    Call,                                    // built-in: builtin id, argument + left + right
};

struct Request {
    RequestKind kind = RequestKind::Float;
    int shared = 0;  // informative: image data belongs to the node copied from

    double number = 0;          // Float
    Vec3 vector;                // Vector
    double fourth = 0;          // Vector: the fourth value (colour filter)
    bool hasFourth = false;
    std::array<RequestPtr, 4> components;  // VectorExpression
    std::string text;                      // String
    std::vector<RequestPtr> elements;      // Array
    std::shared_ptr<const ColorSpectrum> spectrum;
    std::shared_ptr<const ImageFile> image;
    int mappingMode = 0;
    std::shared_ptr<const EnvironmentMap> environment;
    std::shared_ptr<const Spline> spline;
    int builtin = 0;        // Call: BuiltinId
    int argumentCount = 0;  // Call: number of arguments
    RequestPtr argument;    // Call: first argument; Choice: the condition
    RequestPtr left;
    RequestPtr right;
};

// Constructors (one per family).
RequestPtr makeFloatRequest(double value);
RequestPtr makeVectorRequest(const Vec3& value, double fourth = 0, bool hasFourth = false);
RequestPtr makeVectorExpression(RequestPtr a, RequestPtr b, RequestPtr c, RequestPtr d = nullptr);
RequestPtr makeStringRequest(std::string text);
RequestPtr makeArrayRequest(std::vector<RequestPtr> elements);
RequestPtr makeOperatorRequest(RequestKind kind, RequestPtr left, RequestPtr right = nullptr,
                               RequestPtr argument = nullptr);

// Deep copy (strings duplicated, image nodes marked shared) and a check used by tests.
RequestPtr copyRequest(const Request& request);

// True when evaluating the tree reads nothing of a shading context (no shading variables, no
// random, trace, visibility or frame values): such a tree can be evaluated once.
bool isConstantRequest(const Request& request);

std::string toString(const Request& request);
std::ostream& operator<<(std::ostream& os, const Request& request);

}  // namespace quorva
