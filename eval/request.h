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

// The four operand slots of vector expressions (and the fourth argument of a call). Most nodes use
// none, so the slots take the room of one pointer until one of them is written; reading a slot never
// writes it (an unset slot reads as null).
class OperandSlots {
  public:
    OperandSlots() = default;
    OperandSlots(const OperandSlots& other)
        : slots_(other.slots_ ? std::make_unique<std::array<RequestPtr, 4>>(*other.slots_) : nullptr) {}
    OperandSlots& operator=(const OperandSlots& other) {
        slots_ = other.slots_ ? std::make_unique<std::array<RequestPtr, 4>>(*other.slots_) : nullptr;
        return *this;
    }
    OperandSlots& operator=(std::array<RequestPtr, 4> slots) {
        slots_ = std::make_unique<std::array<RequestPtr, 4>>(std::move(slots));
        return *this;
    }
    const RequestPtr& operator[](std::size_t i) const { return slots_ ? (*slots_)[i] : unset(); }
    RequestPtr& operator[](std::size_t i) {
        if (!slots_) slots_ = std::make_unique<std::array<RequestPtr, 4>>();
        return (*slots_)[i];
    }
    static constexpr std::size_t size() { return 4; }
    const RequestPtr* begin() const { return slots_ ? slots_->data() : nullptr; }
    const RequestPtr* end() const { return slots_ ? slots_->data() + 4 : nullptr; }
    RequestPtr* begin() { return slots_ ? slots_->data() : nullptr; }
    RequestPtr* end() { return slots_ ? slots_->data() + 4 : nullptr; }

  private:
    static const RequestPtr& unset();
    std::unique_ptr<std::array<RequestPtr, 4>> slots_;
};

struct Request {
    Request() = default;
    Request(const Request&) = default;
    Request& operator=(const Request&) = default;
    // Releases the operands without recursion, so very deep trees cannot exhaust the native stack.
    ~Request();

    // The small members share one word each pair, so a node wastes no room on padding.
    RequestKind kind = RequestKind::Float;
    int mappingMode = 0;    // Image
    int builtin = 0;        // Call: BuiltinId
    int argumentCount = 0;  // Call: number of arguments
    bool hasFourth = false;
    std::uint8_t shared = 0;  // informative: image data belongs to the node copied from

    double number = 0;                 // Float
    Vec3 vector;                       // Vector
    double fourth = 0;                 // Vector: the fourth value (colour filter)
    OperandSlots components;           // VectorExpression
    std::string text;                  // String
    std::vector<RequestPtr> elements;  // Array
    std::shared_ptr<const ColorSpectrum> spectrum;
    std::shared_ptr<const ImageFile> image;
    std::shared_ptr<const EnvironmentMap> environment;
    std::shared_ptr<const Spline> spline;
    RequestPtr argument;  // Call: first argument; Choice: the condition
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
