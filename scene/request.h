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

struct ImageFile;       // image/texture_image.h
struct ColorSpectrum;   // scene/spectrum.h
struct Spline;          // scene/spline.h
struct EnvironmentMap;  // six cube-face image nodes (below)

// Node kinds. Values first, then operators; built-in calls carry a BuiltinId (scene/builtins.h).
// Operand layout: binary operators use left and right; Abs and Not use left; Index: left[right];
// Choice: argument ? left : right; Noise: left = point, right = octave setting or null;
// RotateExpression: left = point, right = axis, argument = angle in degrees (about the axis through
// the origin); ScaleExpression and TranslateExpression: left = point, right = factor or offset;
// SplineValue: `spline` with left = the parameter expression; ColorSpectrumValue: `spectrum`, indexed
// by its own index expression when it has one; Call: see callArgument().
enum class RequestKind : std::int32_t {
    Float = 1,           // number
    Vector,              // vector constant: vector + fourth
    VectorExpression,    // components[0..2] (and components[3] for a fourth value)
    String,              // text
    Array,               // elements
    ColorSpectrumValue,  // spectrum
    Image,               // image, mapping mode in `mappingMode`
    Environment,         // environment
    SplineValue,         // spline
    // operators: operands in left/right
    Add,
    Subtract,
    Multiply,
    Divide,
    Power,
    Remainder,
    Dot,
    Abs,
    Index,
    Choice,  // Choice: argument ? left : right
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    Equal,
    And,
    Or,
    Not,
    Noise,  // noise(a[, b])
    RotateExpression,
    ScaleExpression,
    TranslateExpression,
    CurrentColor,  // Color
    CurrentFrame,
    LastFrame,
    FirstFrame,
    AnimationLength,
    Call,  // built-in: builtin id, argument + left + right
};

struct Request {
    Request() = default;
    Request(const Request&) = default;
    Request& operator=(const Request&) = default;
    // Releases the operands without recursion, so very deep trees cannot exhaust the native stack.
    ~Request();

    RequestKind kind = RequestKind::Float;
    int shared = 0;  // informative: image data belongs to the node copied from

    double number = 0;  // Float
    Vec3 vector;        // Vector
    double fourth = 0;  // Vector: the fourth value (colour filter)
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

// The six faces of an environment (cube) mapping, each an Image node.
struct EnvironmentMap {
    std::array<RequestPtr, 6> faces;
};

// Argument i (0-based) of a Call node: 0 is `argument`, 1 `left`, 2 `right`, 3 `components[0]`.
const Request* callArgument(const Request& call, int i);

// Constructors (one per family).
RequestPtr makeFloatRequest(double value);
RequestPtr makeVectorRequest(const Vec3& value, double fourth = 0, bool hasFourth = false);
RequestPtr makeVectorExpression(RequestPtr a, RequestPtr b, RequestPtr c, RequestPtr d = nullptr);
RequestPtr makeStringRequest(std::string text);
RequestPtr makeArrayRequest(std::vector<RequestPtr> elements);
RequestPtr makeOperatorRequest(RequestKind kind, RequestPtr left, RequestPtr right = nullptr,
                               RequestPtr argument = nullptr);
// A built-in call node without checks (buildCall in scene/builtins.h checks and dispatches).
RequestPtr makeCallRequest(int builtin, const std::vector<RequestPtr>& arguments);
RequestPtr makeSpectrumRequest(std::shared_ptr<const ColorSpectrum> spectrum);
RequestPtr makeImageRequest(std::shared_ptr<const ImageFile> image, int mappingMode);
RequestPtr makeEnvironmentRequest(std::shared_ptr<const EnvironmentMap> environment);
RequestPtr makeSplineRequest(std::shared_ptr<const Spline> spline, RequestPtr parameter);
// A plain node of a kind that has no operands (CurrentColor and the frame values).
RequestPtr makeLeafRequest(RequestKind kind);

// Deep copy: operands and payload children copied, strings duplicated, spectrum entries copied, image
// and environment nodes marked shared (the image data stay with the original). A kind outside the
// known ones is "(internal failure 0x0b) Bad node type (%d)".
RequestPtr copyRequest(const Request& request);

// True when evaluating the tree reads nothing of a shading context (no shading variables, no
// random, trace, visibility or frame values, no Color): such a tree can be evaluated once.
bool isConstantRequest(const Request& request);
// The same test for the node alone, its operands and payload trees left out.
bool readsContextItself(const Request& node);

// Deepest operand nesting the tree walks (evaluation, copy, printing) accept; beyond it the walk stops
// with the fatal error "Expression nested too deeply (more than %d levels)".
constexpr int MaxRequestDepth = 4000;

std::string toString(const Request& request);
std::ostream& operator<<(std::ostream& os, const Request& request);

}  // namespace quorva
