// Building a built-in call: argument-count checks, the special forms evaluated at build time
// (degrees, radians, ImageFile, Maps, min/max of a solid, spline) and the plain call nodes.
#include "scene/builtins.h"

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "geometry/shape.h"
#include "geometry/solid.h"
#include "image/texture_image.h"
#include "scene/spline.h"
#include "scene/symbol_table.h"

namespace quorva {

namespace {

// Loads an image for ImageFile or Maps; a reader that reports failure ends the run here.
std::shared_ptr<ImageFile> loadImage(const std::string& name) {
    std::shared_ptr<ImageFile> image = loadImageFile(name);
    if (!image) fatal("Failed to load image file \"%s\"", name.c_str());
    return image;
}

RequestPtr buildEnvironment(const std::vector<RequestPtr>& arguments) {
    for (const RequestPtr& a : arguments)
        if (!a || a->kind != RequestKind::String) fatal("Environment mapping needs string arguments only");
    // Argument k goes to cube face Faces[k].
    static constexpr int Faces[6] = {3, 1, 5, 0, 2, 4};
    auto map = std::make_shared<EnvironmentMap>();
    for (int k = 0; k < 6; ++k) map->faces[Faces[k]] = makeImageRequest(loadImage(arguments[k]->text), 0);
    return makeEnvironmentRequest(std::move(map));
}

RequestPtr buildImageFile(const std::vector<RequestPtr>& arguments) {
    const RequestPtr& name = arguments[0];
    if (!name || name->kind != RequestKind::String) fatal("String required for ImageFile");
    EvalContext none;
    double mode = 0;
    if (arguments[1]) evaluateNumber(none, arguments[1].get(), mode);
    std::shared_ptr<ImageFile> image = loadImage(name->text);
    image->interpolation = static_cast<int>(mode);
    return makeImageRequest(std::move(image), static_cast<int>(mode));
}

// min(s) / max(s): a corner of the bounding box of the solid declared as s.
RequestPtr buildBounds(const RequestPtr& argument, bool maximum, const SymbolTable* symbols) {
    if (!argument || argument->kind != RequestKind::String)
        fatal("Predefined Shape required to compute Bounds");
    const std::string& name = argument->text;
    const SymbolEntry* entry = symbols ? symbols->lookup(name) : nullptr;
    const std::shared_ptr<const Shape>* shape = entry && entry->kind == SymbolKind::Solid
                                                    ? std::get_if<std::shared_ptr<const Shape>>(&entry->value)
                                                    : nullptr;
    if (!shape || !*shape) fatal("Can't find Shape \"%s\" in symbol table", name.c_str());
    // A CSG solid answers the union of its leaves' boxes after its own transforms.
    const Box box = (*shape)->kind == ShapeKind::Solid && dynamic_cast<const Solid*>(shape->get())
                        ? solidLeafBounds(static_cast<const Solid&>(**shape))
                        : (*shape)->bounds();
    return makeVectorRequest(maximum ? box.max() : box.min);
}

}  // namespace

RequestPtr buildCall(const std::string& name, const std::vector<RequestPtr>& arguments,
                     const SymbolTable* symbols) {
    const int count = static_cast<int>(arguments.size());
    if (count > 4) {
        if (name == "Maps" && count == 6) return buildEnvironment(arguments);
        fatal("Too many arguments for \"%s\"", name.c_str());
    }

    std::optional<BuiltinId> found = findBuiltin(name);
    if (!found) {
        if (count == 0) fatal("Token \"%s\" undefined", name.c_str());
        fatal("Token undefined: \"%s\"", name.c_str());
    }
    const BuiltinId id = *found;
    if (!(builtinArgumentCounts(id) & (1u << count))) {
        if (count == 0) fatal("Arguments missing for \"%s\"", name.c_str());
        fatal("Wrong number of arguments for \"%s\"", name.c_str());
    }

    switch (id) {
        case BuiltinId::Degrees:
            return makeOperatorRequest(RequestKind::Multiply, arguments[0],
                                       makeFloatRequest(57.29577951308232));
        case BuiltinId::Radians:
            return makeOperatorRequest(RequestKind::Multiply, arguments[0],
                                       makeFloatRequest(0.017453292519943295));
        case BuiltinId::ImageFile:
            return buildImageFile(arguments);
        case BuiltinId::Min:
        case BuiltinId::Max:
            if (count == 1) return buildBounds(arguments[0], id == BuiltinId::Max, symbols);
            break;
        case BuiltinId::Spline: {
            const Request* parameters = count == 4 ? arguments[3].get() : nullptr;
            return makeSplineRequest(buildSpline(arguments[0].get(), arguments[2].get(), parameters),
                                     arguments[1]);
        }
        default:
            break;
    }
    return makeCallRequest(static_cast<int>(id), arguments);
}

}  // namespace quorva
