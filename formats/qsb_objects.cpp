// Declarations, primitives and calls of the binary scene and mesh files.
#include "formats/qsb_objects.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "geometry/flat_shapes.h"
#include "geometry/shapes.h"
#include "geometry/solid.h"
#include "geometry/surface_shapes.h"
#include "geometry/world.h"
#include "scene/builders/shape_modifiers.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"

namespace quorva {

namespace {

namespace c = qsb::code;

constexpr double DegreesToRadians = 0.017453292519943295;

// n floats of a primitive payload, widened; each must be finite.
struct Floats {
    double v[51];  // the longest fixed payload: a BicubicPatch
    Vec3 vec(int i) const { return {v[i], v[i + 1], v[i + 2]}; }
};
Floats readFloats(ByteReader& in, int n) {
    Floats f{};
    const std::uint8_t* p = in.take(static_cast<std::size_t>(n) * 4);
    for (int i = 0; i < n; ++i) f.v[i] = in.float32At(p + 4 * i);
    return f;
}

bool isMeshPrimitive(std::uint8_t code) {
    return code == c::Triangle || code == c::TriangleUV || code == c::Sphere || code == c::Cone ||
           code == c::Cylinder || code == c::Box || code == c::Polygon;
}

// A smooth triangle: three corners of position, normal and (with texture coordinates) u, v.
struct TriangleCorners {
    PatchCorner c[3];
};
TriangleCorners readTriangle(ByteReader& in, bool uv) {
    const int stride = uv ? 8 : 6;
    const std::uint8_t* p = in.take(static_cast<std::size_t>(3 * stride) * 4);
    float v[24];
    for (int i = 0; i < 3 * stride; ++i) v[i] = static_cast<float>(in.float32At(p + 4 * i));
    TriangleCorners t;
    for (int k = 0; k < 3; ++k) {
        const float* f = v + k * stride;
        t.c[k].point = {f[0], f[1], f[2]};
        t.c[k].normal = {f[3], f[4], f[5]};
        if (uv) {
            t.c[k].u = f[6];
            t.c[k].v = f[7];
        }
    }
    return t;
}

// A patch of its own, its data in the reader's current block (which every copy of it then shares).
std::unique_ptr<Shape> makePatch(const TriangleCorners& t, PatchDataBlocks& blocks) {
    try {
        std::shared_ptr<PatchData> data = blocks.next();
        const Box bounds = setPatchData(*data, t.c[0], t.c[1], t.c[2]);
        return std::make_unique<TriangularPatch>(std::move(data), bounds);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate TriangularPatch");
    }
}

// Triangle i of a mesh read so far as a patch of its own.
std::unique_ptr<Shape> makePatch(const MeshParts& mesh, std::size_t i, PatchDataBlocks& blocks) {
    try {
        return std::make_unique<TriangularPatch>(mesh.sharedPatchData(i, blocks), mesh.bounds(i));
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate TriangularPatch");
    }
}

// NURBS: ints count u, count v, order u, order v; the u knots, the v knots, then count u rows of
// count v control points (x, y, z, w).
std::unique_ptr<Shape> readNurbs(ByteReader& in) {
    std::int32_t nu = in.int32(), nv = in.int32(), ou = in.int32(), ov = in.int32();
    if (nu < 0 || nv < 0 || ou < 0 || ov < 0) fatal("Bad NURBS record in binary QSB");
    // An order beyond the count would read past the knots.
    if (ou < 1 || ou > nu) fatal("NURBS order %d out of range (1..%d)", ou, nu);
    if (ov < 1 || ov > nv) fatal("NURBS order %d out of range (1..%d)", ov, nv);
    // Checked against the bytes left before anything is sized by the counts.
    const std::uint64_t floats = std::uint64_t(nu) + ou + nv + ov + 4 * std::uint64_t(nu) * std::uint64_t(nv);
    if (floats > SIZE_MAX / 4 || !in.has(static_cast<std::size_t>(floats) * 4)) in.truncated();
    const std::uint8_t* p = in.take(static_cast<std::size_t>(floats) * 4);
    auto next = [&in, &p] {
        const double x = in.float32At(p);
        p += 4;
        return x;
    };
    std::vector<double> knotsU(static_cast<std::size_t>(nu + ou)), knotsV(static_cast<std::size_t>(nv + ov));
    for (double& k : knotsU) k = next();
    for (double& k : knotsV) k = next();
    std::vector<std::vector<NurbsPoint>> points(static_cast<std::size_t>(nu));
    for (std::vector<NurbsPoint>& row : points) {
        row.resize(static_cast<std::size_t>(nv));
        for (NurbsPoint& point : row) {
            point.point.x = next();
            point.point.y = next();
            point.point.z = next();
            point.weight = next();
        }
    }
    return makeNurbs(ou, nu, std::move(knotsU), ov, nv, std::move(knotsV), points);
}

// Blobby: float threshold, int component count, byte solver code, then the components: an int type and
// nine floats of which the leading ones are the scene statement's arguments - 1 sphere (centre, radius,
// strength), 2 cylinder (end, end, radius, strength), 3 plane (normal, distance, radius, strength).
std::unique_ptr<Shape> readBlobby(ByteReader& in) {
    const double threshold = in.float32();
    const std::int32_t count = in.int32();
    const std::uint8_t solver = in.byte();
    if (count < 0) fatal("Bad Blobby record in binary QSB");
    if (!in.has(static_cast<std::size_t>(count) * qsb::BlobbyComponentSize)) in.truncated();
    std::vector<BlobComponent> components(static_cast<std::size_t>(count));
    for (BlobComponent& c : components) {
        const std::int32_t type = in.int32();
        if (type < 1 || type > 3)
            fatal("wrong Blobby 'type' with qlDumpBlobby() within qlDeclareNewObject()");
        Floats f = readFloats(in, 9);
        if (type == 1) {
            c.type = 0;
            c.first = f.vec(0);
            c.radius = f.v[3];
            c.strength = f.v[4];
        } else if (type == 2) {
            c.type = 1;
            c.first = f.vec(0);
            c.second = f.vec(3);
            c.radius = f.v[6];
            c.strength = f.v[7];
        } else {
            c.type = 3;
            c.second = f.vec(0);
            c.distance = f.v[3];
            c.radius = f.v[4];
            c.strength = f.v[5];
        }
    }
    return makeBlobby(components, solver, threshold);
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
    // Triangles alone make a flat mesh (no tree, no patch until a call places it); any other primitive
    // turns the declaration into an ordinary union over shapes, the triangles so far first.
    std::vector<std::unique_ptr<Shape>> parts;
    MeshCollector mesh;
    for (;;) {
        std::uint8_t code = in_.code();
        if (code == end) break;
        if (code == c::Triangle || code == c::TriangleUV) {
            const TriangleCorners t = readTriangle(in_, code == c::TriangleUV);
            try {
                if (parts.empty())
                    mesh.add(t.c[0], t.c[1], t.c[2]);
                else
                    parts.push_back(makePatch(t, patchBlocks_));
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate TriangularPatch");
            }
            continue;
        }
        if (!mesh.empty()) {
            const std::shared_ptr<MeshParts> triangles = mesh.finish();
            try {
                for (std::size_t i = 0; i < triangles->size(); ++i)
                    parts.push_back(makePatch(*triangles, i, patchBlocks_));
            } catch (const std::bad_alloc&) {
                fatal("Failed to allocate TriangularPatch");
            }
        }
        if (!readPrimitive(code, parts)) unexpectedInDeclaration(code);
    }
    // An empty declaration has no shape: calls place nothing.
    std::shared_ptr<const Shape> object;
    try {
        if (!mesh.empty())
            object = std::make_shared<Solid>(mesh.finish());
        else if (!parts.empty())
            object = makeSolidUnion(std::move(parts), true);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate Solid");
    }
    EvalContext ctx;
    ctx.frames = &scene_.frame.frames;
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
    std::uint8_t code = in_.code();
    if (!readPrimitive(code, parts)) fatal("Unexpected data while parsing binary QSB: 0x%x", code);
    Shape* shape = parts.empty() ? nullptr : parts.front().get();
    readModifiers(shape);
    if (shape) place(std::move(parts.front()));
}

void ObjectReader::place(std::unique_ptr<Shape> shape) {
    addToWorld(std::move(shape), scene_.frame.world,
               AddSettings{scene_.frame.options.renderMode, scene_.frame.options.featureMask});
}

bool ObjectReader::readPrimitive(std::uint8_t code, std::vector<std::unique_ptr<Shape>>& parts) {
    if (mesh_ && !isMeshPrimitive(code)) return false;
    std::unique_ptr<Shape> shape;
    switch (code) {
        case c::Triangle:
        case c::TriangleUV: {
            shape = makePatch(readTriangle(in_, code == c::TriangleUV), patchBlocks_);
            break;
        }
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
        case c::Nurbs:
            shape = readNurbs(in_);
            break;
        case c::BicubicPatch: {
            // Type, u and v subdivisions, then the 16 control points, as the scene statement lists them.
            Floats f = readFloats(in_, static_cast<int>(qsb::BicubicPayload / 4));
            std::vector<Vec3> points;
            for (int k = 0; k < 16; ++k) points.push_back(f.vec(3 + 3 * k));
            shape = makeBicubicPatch(points, f.v[0], f.v[1], f.v[2]);
            break;
        }
        case c::Blobby:
            shape = readBlobby(in_);
            break;
        default:
            return false;
    }
    if (shape) parts.push_back(std::move(shape));
    return true;
}

void ObjectReader::readModifiers(Shape* shape) {
    const std::uint8_t end = mesh_ ? qsb::code::EndCallMesh : qsb::code::EndCall;
    for (;;) {
        std::uint8_t code = in_.code();
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
        in_.requireFinite(record.subdivisions, record.caustics, record.renderBound);
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
        // A value of -1 (all four for the window) leaves the setting as it is.
        if (record.subdivisions[0] != -1 || record.subdivisions[1] != -1) {
            double counts[2];
            for (int i = 0; i < 2; ++i)
                counts[i] = record.subdivisions[i] != -1 ? record.subdivisions[i] : shape->subdivisions[i];
            buildShapeSubdivisions(*shape, counts, 2);
        }
        if (record.shadingAttributes != -1) buildShadingAttributes(*shape, record.shadingAttributes);
        // The record has no internal-caustics flag: the shape keeps its own.
        if (record.caustics != -1) buildCaustics(*shape, record.caustics, shape->internalCaustics);
        bool window = false;
        for (float w : record.renderBound) window = window || w != -1;
        if (window) {
            const double bound[4] = {record.renderBound[0], record.renderBound[1], record.renderBound[2],
                                     record.renderBound[3]};
            buildRenderBound(*shape, bound);
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
