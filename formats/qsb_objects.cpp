// Declarations, primitives and calls of the binary scene and mesh files.
#include "formats/qsb_objects.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "diagnostics/diagnostics.h"
#include "geometry/placeholder_shapes.h"
#include "geometry/shapes.h"
#include "geometry/solid.h"
#include "geometry/world.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"
#include "scene/value.h"

namespace quorva {

namespace {

namespace c = qsb::code;

constexpr double DegreesToRadians = 0.017453292519943295;

// n floats of a primitive payload, widened.
struct Floats {
    double v[24];
    Vec3 vec(int i) const { return {v[i], v[i + 1], v[i + 2]}; }
};
Floats readFloats(ByteReader& in, int n) {
    Floats f{};
    const std::uint8_t* p = in.take(static_cast<std::size_t>(n) * 4);
    for (int i = 0; i < n; ++i) {
        float x;
        std::memcpy(&x, p + 4 * i, 4);
        f.v[i] = x;
    }
    return f;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

bool isMeshPrimitive(std::uint8_t code) {
    return code == c::Triangle || code == c::TriangleUV || code == c::Sphere || code == c::Cone ||
           code == c::Cylinder || code == c::Box || code == c::Polygon;
}

// A smooth triangle: three corners of position, normal and (with texture coordinates) u, v.
std::unique_ptr<Shape> readTriangle(ByteReader& in, bool uv) {
    const int stride = uv ? 8 : 6;
    Floats f = readFloats(in, 3 * stride);
    PatchCorner c[3];
    for (int k = 0; k < 3; ++k) {
        const double* v = f.v + k * stride;
        c[k].point = {v[0], v[1], v[2]};
        c[k].normal = {v[3], v[4], v[5]};
        if (uv) {
            c[k].u = v[6];
            c[k].v = v[7];
        }
    }
    return makeTriangularPatch(c[0], c[1], c[2]);
}

const std::shared_ptr<const Shape>* declaredShape(const SymbolTable& symbols, const std::string& name,
                                                  bool& found) {
    const SymbolEntry* entry = symbols.lookup(name);
    found = entry && entry->kind == SymbolKind::Solid;
    return found ? std::get_if<std::shared_ptr<const Shape>>(&entry->value) : nullptr;
}

}  // namespace

void ObjectReader::unexpectedInDeclaration(std::uint8_t code) const {
    if (mesh_) fatal("Unexpected data within qlStartMeshDeclaration(): 0x%x", code);
    fatal("Unexpected data within qlDeclareNewObject(): 0x%x", code);
}

void ObjectReader::unexpectedInCall(std::uint8_t code) const {
    if (mesh_) fatal("Unexpected data within qlCallMesh(): 0x%x", code);
    fatal("Unexpected data within qlCallObject(): 0x%x", code);
}

void ObjectReader::readDeclaration() {
    std::string name = in_.name();
    if (mesh_) message("Processing mesh '%s'\n", name.c_str());
    const std::uint8_t end = mesh_ ? qsb::code::EndMesh : qsb::code::EndDeclaration;
    std::vector<std::unique_ptr<Shape>> parts;
    for (;;) {
        std::uint8_t code = in_.byte();
        if (code == end) break;
        if (!readPrimitive(code, parts)) unexpectedInDeclaration(code);
    }
    // An object of recorded kinds only (recorded as they were read) has no shape yet: calls place nothing.
    std::shared_ptr<const Shape> object;
    if (!parts.empty()) object = makeSolidUnion(std::move(parts), true);
    EvalContext ctx;
    ctx.frames = &scene_.frames;
    scene_.symbols->declare(name, SymbolKind::Solid, std::move(object), false, true, ctx);
}

void ObjectReader::readCall() {
    std::string name = in_.name();
    bool found = false;
    const std::shared_ptr<const Shape>* definition = declaredShape(*scene_.symbols, name, found);
    if (!found) fatal("Can't find Shape \"%s\" in symbol table", name.c_str());
    std::unique_ptr<Shape> shape;
    if (definition && *definition) shape = copyShape(**definition);
    readModifiers(shape.get());
    if (shape) place(std::move(shape));
}

void ObjectReader::readPlacedPrimitive() {
    std::vector<std::unique_ptr<Shape>> parts;
    std::uint8_t code = in_.byte();
    if (!readPrimitive(code, parts)) fatal("Unexpected data while parsing binary QSB: 0x%x", code);
    Shape* shape = parts.empty() ? nullptr : parts.front().get();
    readModifiers(shape);
    if (shape) place(std::move(parts.front()));
}

void ObjectReader::place(std::unique_ptr<Shape> shape) {
    addToWorld(std::move(shape), scene_.world,
               AddSettings{scene_.options.renderMode, scene_.options.featureMask});
}

bool ObjectReader::readPrimitive(std::uint8_t code, std::vector<std::unique_ptr<Shape>>& parts) {
    if (mesh_ && !isMeshPrimitive(code)) return false;
    std::unique_ptr<Shape> shape;
    switch (code) {
        case c::Triangle:
        case c::TriangleUV:
            shape = readTriangle(in_, code == c::TriangleUV);
            break;
        case c::Sphere: {
            Floats f = readFloats(in_, 4);
            shape = makeSphere(f.vec(0), f.v[3]);
            break;
        }
        case c::Cone: {
            Floats f = readFloats(in_, 8);
            shape = makeCone(f.vec(0), f.v[3], f.vec(4), f.v[7]);
            break;
        }
        case c::Cylinder: {
            Floats f = readFloats(in_, 7);
            shape = makeCylinder(f.vec(0), f.vec(3), f.v[6]);
            break;
        }
        case c::Disk: {
            Floats f = readFloats(in_, 7);
            shape = makeDisk(f.vec(0), f.vec(3), f.v[6]);
            break;
        }
        case c::Ring: {
            Floats f = readFloats(in_, 8);
            shape = makeRing(f.vec(0), f.vec(3), f.v[6], f.v[7]);
            break;
        }
        case c::Torus: {
            Floats f = readFloats(in_, 8);
            shape = makeTorus(f.vec(0), f.vec(3), f.v[6], f.v[7]);
            break;
        }
        case c::Box: {
            Floats f = readFloats(in_, 6);
            shape = makeBox(f.vec(0), f.vec(3));
            break;
        }
        case c::Superquadric: {
            Floats f = readFloats(in_, 2);
            shape = makeSuperquadric(f.v[0], f.v[1]);
            break;
        }
        case c::Paraboloid: {
            Floats f = readFloats(in_, 7);
            shape = makeParaboloid(f.vec(0), f.vec(3), f.v[6]);
            break;
        }
        case c::Polygon: {
            int n = in_.byte();
            if (n < 3) fatal("A Polygon can't have less than 3 sides");
            std::vector<Vec3> vertices(static_cast<std::size_t>(n));
            for (Vec3& v : vertices) v = readFloats(in_, 3).vec(0);
            shape = makePolygon(vertices);
            break;
        }
        case c::Nurbs: {
            std::int32_t nu = in_.int32(), nv = in_.int32(), ou = in_.int32(), ov = in_.int32();
            if (nu < 0 || nv < 0 || ou < 0 || ov < 0) fatal("Bad NURBS record in binary QSB");
            // Checked against the bytes left before anything is sized by the counts.
            std::uint64_t floats =
                std::uint64_t(nu) + ou + nv + ov + 4 * std::uint64_t(nu) * std::uint64_t(nv);
            if (floats > in_.left() / 4) in_.truncated();
            in_.take(static_cast<std::size_t>(floats) * 4);
            recordPlaceholderShape(scene_, "NURBS", {number(nu), number(nv), number(ou), number(ov)});
            break;
        }
        case c::BicubicPatch: {
            Floats head = readFloats(in_, 3);
            in_.take(qsb::BicubicPayload - 12);
            recordPlaceholderShape(scene_, "BicubicPatch",
                                   {number(head.v[0]), number(head.v[1]), number(head.v[2])});
            break;
        }
        case c::Blobby: {
            double threshold = in_.float32();
            std::int32_t count = in_.int32();
            std::uint8_t solver = in_.byte();
            if (count < 0) fatal("Bad Blobby record in binary QSB");
            if (static_cast<std::uint64_t>(count) > in_.left() / qsb::BlobbyComponentSize) in_.truncated();
            for (std::int32_t i = 0; i < count; ++i) {
                std::int32_t type = in_.int32();
                if (type < 1 || type > 3)
                    fatal("wrong Blobby 'type' with qlDumpBlobby() within qlDeclareNewObject()");
                in_.take(qsb::BlobbyComponentSize - 4);
            }
            recordPlaceholderShape(scene_, "Blobby", {number(threshold), number(count), number(solver)});
            break;
        }
        default:
            return false;
    }
    if (shape) parts.push_back(std::move(shape));
    return true;
}

void ObjectReader::readModifiers(Shape* shape) {
    const std::uint8_t end = mesh_ ? qsb::code::EndCallMesh : qsb::code::EndCall;
    for (;;) {
        std::uint8_t code = in_.byte();
        if (code == end) return;
        if (!readModifier(code, shape)) unexpectedInCall(code);
    }
}

bool ObjectReader::readModifier(std::uint8_t code, Shape* shape) {
    auto apply = [&](const Transform& t) {
        if (shape) shape->applyTransform(t);
    };
    auto rotate = [](const Vec3& degrees) {
        Vec3 a = degrees * DegreesToRadians;
        return makeRotate(a.x, a.y, a.z);
    };
    const std::uint8_t attributes = mesh_ ? qsb::code::MeshSurfaceAttributes : qsb::code::SurfaceAttributes;
    const std::uint8_t shaderName = mesh_ ? qsb::code::MeshShaderName : qsb::code::ShaderName;
    if (code == shaderName) {
        std::string name = in_.name();
        const SymbolEntry* entry = scene_.symbols->lookup(name);
        const std::shared_ptr<const Shader>* shader =
            entry && entry->kind == SymbolKind::Shader
                ? std::get_if<std::shared_ptr<const Shader>>(&entry->value)
                : nullptr;
        if (!shader || !*shader) fatal("Can't find Shader \"%s\" in symbol table", name.c_str());
        if (shape) shape->shader = *shader;
        return true;
    }
    if (code == attributes) {
        auto record = in_.record<qsb::SurfaceAttributesRecord>();
        std::string name =
            ByteReader::decodeName(reinterpret_cast<const std::uint8_t*>(record.displacementName));
        RequestPtr displacement;
        if (!name.empty()) {
            const SymbolEntry* entry = scene_.symbols->lookup(name);
            const RequestPtr* tree = entry && entry->kind == SymbolKind::Expression
                                         ? std::get_if<RequestPtr>(&entry->value)
                                         : nullptr;
            if (!tree || !*tree) fatal("Can't find expression \"%s\" in symbol table", name.c_str());
            displacement = *tree;
        }
        if (!shape) return true;
        if (displacement) shape->displacement = displacement;
        bool subdivided = false;
        for (int i = 0; i < 2; ++i) {
            double c = record.subdivisions[i];
            if (c == -1) continue;
            shape->subdivisions[i] = !(c >= 1) ? 1 : c > 65535 ? 65535 : static_cast<std::uint16_t>(c);
            subdivided = true;
        }
        if (subdivided) shape->attributes &= static_cast<std::uint16_t>(~ShapeAttr::DefaultSubdivisions);
        if (record.shadingAttributes != -1)
            shape->attributes =
                static_cast<std::uint16_t>(record.shadingAttributes + ShapeAttr::DefaultSubdivisions);
        if (record.caustics != -1) shape->caustics = record.caustics;
        bool window = false;
        for (float w : record.renderBound) window = window || w != -1;
        if (window) {
            for (int i = 0; i < 4; ++i) shape->uvWindow[i] = record.renderBound[i];
            shape->attributes |= ShapeAttr::UvWindow;
        }
        return true;
    }
    switch (code) {
        case qsb::code::Scale: {
            Vec3 s = readFloats(in_, 3).vec(0);
            apply(makeScale(s.x, s.y, s.z));
            return true;
        }
        case qsb::code::Translate:
            apply(makeTranslate(readFloats(in_, 3).vec(0)));
            return true;
        case qsb::code::Rotate:
            apply(rotate(readFloats(in_, 3).vec(0)));
            return true;
        case qsb::code::ScaleRotateTranslate: {
            Floats f = readFloats(in_, 9);
            apply(makeScale(f.v[0], f.v[1], f.v[2]));
            apply(rotate(f.vec(3)));
            apply(makeTranslate(f.vec(6)));
            return true;
        }
        case qsb::code::Matrix: {
            Floats f = readFloats(in_, 16);
            Matrix4 m;
            for (int i = 0; i < 16; ++i) m.m[static_cast<std::size_t>(i)] = f.v[i];
            apply(makeMatrixTransform(m));
            return true;
        }
        case qsb::code::Shear: {
            Floats f = readFloats(in_, 6);
            apply(makeShear(f.v[0], f.v[1], f.v[2], f.v[3], f.v[4], f.v[5]));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace quorva
