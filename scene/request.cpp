// Request constructors, deep copy, the constant test and the printable form of a tree.
#include "eval/request.h"

#include <array>
#include <cmath>
#include <sstream>

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "eval/spectrum.h"
#include "scene/builtins.h"

namespace quorva {

namespace {

std::shared_ptr<Request> makeNode(RequestKind kind) {
    auto r = std::make_shared<Request>();
    r->kind = kind;
    return r;
}

[[noreturn]] void tooDeep() {
    fatal("Expression nested too deeply (more than %d levels)", MaxRequestDepth);
}

bool isKnownKind(RequestKind kind) {
    auto k = static_cast<std::int32_t>(kind);
    return k >= static_cast<std::int32_t>(RequestKind::Float) &&
           k <= static_cast<std::int32_t>(RequestKind::Call);
}

}  // namespace

Request::~Request() {
    // Children only this node holds are taken apart level by level on an explicit stack, so that the
    // destruction of a long operator chain does not recurse once per level.
    auto hasChildren = [](const Request& r) {
        if (r.left || r.right || r.argument || !r.elements.empty()) return true;
        for (const RequestPtr& c : r.components)
            if (c) return true;
        return false;
    };
    bool deep = false;
    auto check = [&](const RequestPtr& c) {
        if (c && c.use_count() == 1 && hasChildren(*c)) deep = true;
    };
    check(left);
    check(right);
    check(argument);
    for (const RequestPtr& c : components) check(c);
    for (const RequestPtr& c : elements) check(c);
    if (!deep) return;

    std::vector<RequestPtr> pending;
    auto take = [&](RequestPtr& c) {
        if (c && c.use_count() == 1) pending.push_back(std::move(c));
        c.reset();
    };
    auto takeAll = [&](Request& r) {
        take(r.left);
        take(r.right);
        take(r.argument);
        for (RequestPtr& c : r.components) take(c);
        for (RequestPtr& c : r.elements) take(c);
        r.elements.clear();
    };
    takeAll(*this);
    while (!pending.empty()) {
        RequestPtr node = std::move(pending.back());
        pending.pop_back();
        // Sole owner: the node is about to go, so its operands may be moved out.
        takeAll(const_cast<Request&>(*node));
    }
}

const RequestPtr& OperandSlots::unset() {
    static const RequestPtr none;
    return none;
}

const Request* callArgument(const Request& call, int i) {
    switch (i) {
        case 0:
            return call.argument.get();
        case 1:
            return call.left.get();
        case 2:
            return call.right.get();
        case 3:
            return call.components[0].get();
        default:
            return nullptr;
    }
}

namespace {

// Whole numbers up to this one are the constants scenes write most; their leaves are built once and
// shared by every tree (nodes never change after construction), so that "1 + 1 + 1 ..." costs one
// node per operator instead of two.
constexpr int SharedWholeNumbers = 256;

const std::array<RequestPtr, SharedWholeNumbers>& wholeNumberLeaves() {
    static const std::array<RequestPtr, SharedWholeNumbers> leaves = [] {
        std::array<RequestPtr, SharedWholeNumbers> made;
        for (int i = 0; i < SharedWholeNumbers; ++i) {
            auto r = makeNode(RequestKind::Float);
            r->number = i;
            made[static_cast<std::size_t>(i)] = std::move(r);
        }
        return made;
    }();
    return leaves;
}

}  // namespace

RequestPtr makeFloatRequest(double value) {
    if (value >= 0 && value < SharedWholeNumbers && value == static_cast<int>(value) && !std::signbit(value))
        return wholeNumberLeaves()[static_cast<std::size_t>(value)];
    auto r = makeNode(RequestKind::Float);
    r->number = value;
    return r;
}

RequestPtr makeVectorRequest(const Vec3& value, double fourth, bool hasFourth) {
    auto r = makeNode(RequestKind::Vector);
    r->vector = value;
    r->fourth = fourth;
    r->hasFourth = hasFourth;
    return r;
}

RequestPtr makeVectorExpression(RequestPtr a, RequestPtr b, RequestPtr c, RequestPtr d) {
    auto r = makeNode(RequestKind::VectorExpression);
    r->hasFourth = d != nullptr;
    r->components = {std::move(a), std::move(b), std::move(c), std::move(d)};
    return r;
}

RequestPtr makeStringRequest(std::string text) {
    auto r = makeNode(RequestKind::String);
    r->text = std::move(text);
    return r;
}

RequestPtr makeArrayRequest(std::vector<RequestPtr> elements) {
    auto r = makeNode(RequestKind::Array);
    r->elements = std::move(elements);
    return r;
}

RequestPtr makeOperatorRequest(RequestKind kind, RequestPtr left, RequestPtr right, RequestPtr argument) {
    auto r = makeNode(kind);
    r->left = std::move(left);
    r->right = std::move(right);
    r->argument = std::move(argument);
    return r;
}

RequestPtr makeCallRequest(int builtin, const std::vector<RequestPtr>& arguments) {
    auto r = makeNode(RequestKind::Call);
    r->builtin = builtin;
    r->argumentCount = static_cast<int>(arguments.size());
    std::size_t n = arguments.size();
    if (n > 0) r->argument = arguments[0];
    if (n > 1) r->left = arguments[1];
    if (n > 2) r->right = arguments[2];
    if (n > 3) r->components[0] = arguments[3];
    return r;
}

RequestPtr makeSpectrumRequest(std::shared_ptr<const ColorSpectrum> spectrum) {
    auto r = makeNode(RequestKind::ColorSpectrumValue);
    r->spectrum = std::move(spectrum);
    return r;
}

RequestPtr makeImageRequest(std::shared_ptr<const ImageFile> image, int mappingMode) {
    auto r = makeNode(RequestKind::Image);
    r->image = std::move(image);
    r->mappingMode = mappingMode;
    return r;
}

RequestPtr makeEnvironmentRequest(std::shared_ptr<const EnvironmentMap> environment) {
    auto r = makeNode(RequestKind::Environment);
    r->environment = std::move(environment);
    return r;
}

RequestPtr makeSplineRequest(std::shared_ptr<const Spline> spline, RequestPtr parameter) {
    auto r = makeNode(RequestKind::SplineValue);
    r->spline = std::move(spline);
    r->left = std::move(parameter);
    return r;
}

RequestPtr makeLeafRequest(RequestKind kind) {
    return makeNode(kind);
}

namespace {

RequestPtr copyAt(const Request* node, int depth);

RequestPtr copyChild(const RequestPtr& child, int depth) {
    return child ? copyAt(child.get(), depth + 1) : nullptr;
}

RequestPtr copyAt(const Request* node, int depth) {
    if (depth > MaxRequestDepth) tooDeep();
    if (!isKnownKind(node->kind))
        internalFailure(InternalFailure::BadNodeType, "Bad node type (%d)", static_cast<int>(node->kind));
    auto r = std::make_shared<Request>();
    r->kind = node->kind;
    r->shared = node->shared;
    r->number = node->number;
    r->vector = node->vector;
    r->fourth = node->fourth;
    r->hasFourth = node->hasFourth;
    r->text = node->text;
    r->mappingMode = node->mappingMode;
    r->builtin = node->builtin;
    r->argumentCount = node->argumentCount;
    r->spline = node->spline;  // immutable once built
    r->image = node->image;
    r->environment = node->environment;
    if (node->kind == RequestKind::Image || node->kind == RequestKind::Environment) r->shared = 1;
    if (node->spectrum) {
        auto spectrum = std::make_shared<ColorSpectrum>(*node->spectrum);
        if (spectrum->index) spectrum->index = copyAt(spectrum->index.get(), depth + 1);
        r->spectrum = std::move(spectrum);
    }
    for (int i = 0; i < 4; ++i)
        if (node->components[i]) r->components[i] = copyChild(node->components[i], depth);
    r->elements.reserve(node->elements.size());
    for (const RequestPtr& e : node->elements) r->elements.push_back(copyChild(e, depth));
    r->argument = copyChild(node->argument, depth);
    r->left = copyChild(node->left, depth);
    r->right = copyChild(node->right, depth);
    return r;
}

bool isVariableCall(BuiltinId id) {
    switch (id) {
        case BuiltinId::Age:
        case BuiltinId::Eye:
        case BuiltinId::Incident:
        case BuiltinId::Level:
        case BuiltinId::Normal:
        case BuiltinId::Opacity:
        case BuiltinId::Point:
        case BuiltinId::ObjectPoint:
        case BuiltinId::SurfacePoint:
        case BuiltinId::View:
        case BuiltinId::Random:
        case BuiltinId::U:
        case BuiltinId::VCoordinate:
        case BuiltinId::W:
        case BuiltinId::X:
        case BuiltinId::Y:
        case BuiltinId::Z:
        case BuiltinId::Trace:
        case BuiltinId::Visibility:
        case BuiltinId::FBm:  // draws from the quasi-random sequence
        case BuiltinId::UVImageMapping:
        case BuiltinId::UVIndexedMapping:
        case BuiltinId::UVBumpMapping:
        case BuiltinId::PlanarBumpMapping:  // the bump mappings tilt the context's normal
        case BuiltinId::CylindricalBumpMapping:
        case BuiltinId::SphericalBumpMapping:
        case BuiltinId::ToroidalBumpMapping:
            return true;
        default:
            return false;
    }
}

bool isConstantAt(const Request* node, int depth) {
    if (!node) return true;
    if (depth > MaxRequestDepth) tooDeep();
    switch (node->kind) {
        case RequestKind::CurrentColor:
        case RequestKind::CurrentFrame:
        case RequestKind::LastFrame:
        case RequestKind::FirstFrame:
        case RequestKind::AnimationLength:
            return false;
        case RequestKind::Call:
            if (isVariableCall(static_cast<BuiltinId>(node->builtin))) return false;
            break;
        case RequestKind::ColorSpectrumValue:
            if (node->spectrum && !isConstantAt(node->spectrum->index.get(), depth + 1)) return false;
            break;
        default:
            break;
    }
    for (const RequestPtr& c : node->components)
        if (!isConstantAt(c.get(), depth + 1)) return false;
    for (const RequestPtr& e : node->elements)
        if (!isConstantAt(e.get(), depth + 1)) return false;
    return isConstantAt(node->argument.get(), depth + 1) && isConstantAt(node->left.get(), depth + 1) &&
           isConstantAt(node->right.get(), depth + 1);
}

const char* operatorText(RequestKind kind) {
    switch (kind) {
        case RequestKind::Add:
            return " + ";
        case RequestKind::Subtract:
            return " - ";
        case RequestKind::Multiply:
            return " * ";
        case RequestKind::Divide:
            return " / ";
        case RequestKind::Power:
            return " ^ ";
        case RequestKind::Remainder:
            return " % ";
        case RequestKind::Dot:
            return " . ";
        case RequestKind::Less:
            return " < ";
        case RequestKind::Greater:
            return " > ";
        case RequestKind::LessEqual:
            return " <= ";
        case RequestKind::GreaterEqual:
            return " >= ";
        case RequestKind::Equal:
            return " == ";
        case RequestKind::And:
            return " && ";
        case RequestKind::Or:
            return " || ";
        default:
            return nullptr;
    }
}

void print(std::ostream& os, const Request* node, int depth) {
    if (!node) {
        os << "null";
        return;
    }
    if (depth > 64) {
        os << "...";
        return;
    }
    auto sub = [&](const RequestPtr& c) { print(os, c.get(), depth + 1); };
    if (const char* op = operatorText(node->kind)) {
        os << '(';
        sub(node->left);
        os << op;
        sub(node->right);
        os << ')';
        return;
    }
    switch (node->kind) {
        case RequestKind::Float:
            os << node->number;
            break;
        case RequestKind::Vector:
            os << '(' << node->vector.x << ", " << node->vector.y << ", " << node->vector.z;
            if (node->hasFourth) os << ", " << node->fourth;
            os << ')';
            break;
        case RequestKind::VectorExpression:
            os << '(';
            for (int i = 0; i < 4 && node->components[i]; ++i) {
                if (i) os << ", ";
                sub(node->components[i]);
            }
            os << ')';
            break;
        case RequestKind::String:
            os << '"' << node->text << '"';
            break;
        case RequestKind::Array:
            os << '[';
            for (std::size_t i = 0; i < node->elements.size(); ++i) {
                if (i) os << ", ";
                sub(node->elements[i]);
            }
            os << ']';
            break;
        case RequestKind::ColorSpectrumValue:
            os << "SpectrumOfColors(...)";
            break;
        case RequestKind::Image:
            os << "ImageFile(" << node->mappingMode << ')';
            break;
        case RequestKind::Environment:
            os << "Maps(...)";
            break;
        case RequestKind::SplineValue:
            os << "spline(";
            sub(node->left);
            os << ')';
            break;
        case RequestKind::Abs:
            os << '|';
            sub(node->left);
            os << '|';
            break;
        case RequestKind::Not:
            os << '!';
            sub(node->left);
            break;
        case RequestKind::Index:
            sub(node->left);
            os << '[';
            sub(node->right);
            os << ']';
            break;
        case RequestKind::Choice:
            os << '(';
            sub(node->argument);
            os << " ? ";
            sub(node->left);
            os << " : ";
            sub(node->right);
            os << ')';
            break;
        case RequestKind::Noise:
        case RequestKind::RotateExpression:
        case RequestKind::ScaleExpression:
        case RequestKind::TranslateExpression: {
            const char* name = node->kind == RequestKind::Noise              ? "noise"
                               : node->kind == RequestKind::RotateExpression ? "Rotate"
                               : node->kind == RequestKind::ScaleExpression  ? "Scale"
                                                                             : "Translate";
            os << name << '(';
            sub(node->left);
            if (node->right) {
                os << ", ";
                sub(node->right);
            }
            if (node->argument) {
                os << ", ";
                sub(node->argument);
            }
            os << ')';
            break;
        }
        case RequestKind::CurrentColor:
            os << "Color";
            break;
        case RequestKind::CurrentFrame:
            os << "CurrentFrame";
            break;
        case RequestKind::LastFrame:
            os << "LastFrame";
            break;
        case RequestKind::FirstFrame:
            os << "FirstFrame";
            break;
        case RequestKind::AnimationLength:
            os << "AnimationLength";
            break;
        case RequestKind::Call:
            os << builtinName(static_cast<BuiltinId>(node->builtin));
            if (node->argumentCount > 0) {
                os << '(';
                for (int i = 0; i < node->argumentCount; ++i) {
                    if (i) os << ", ";
                    print(os, callArgument(*node, i), depth + 1);
                }
                os << ')';
            }
            break;
        default:
            os << "<kind " << static_cast<int>(node->kind) << '>';
            break;
    }
}

}  // namespace

RequestPtr copyRequest(const Request& request) {
    return copyAt(&request, 0);
}

bool isConstantRequest(const Request& request) {
    return isConstantAt(&request, 0);
}

bool readsContextItself(const Request& node) {
    switch (node.kind) {
        case RequestKind::CurrentColor:
        case RequestKind::CurrentFrame:
        case RequestKind::LastFrame:
        case RequestKind::FirstFrame:
        case RequestKind::AnimationLength:
            return true;
        case RequestKind::Call:
            return isVariableCall(static_cast<BuiltinId>(node.builtin));
        default:
            return false;
    }
}

std::string toString(const Request& request) {
    std::ostringstream os;
    print(os, &request, 0);
    return os.str();
}

std::ostream& operator<<(std::ostream& os, const Request& request) {
    return os << toString(request);
}

}  // namespace quorva
