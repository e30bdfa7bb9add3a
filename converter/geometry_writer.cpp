// Solids of the converted meshes and their ascii and binary forms.
#include "converter/geometry_writer.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "converter/report.h"
#include "converter/scene_names.h"

namespace quorva::converter {
namespace {

const Material* findMaterial(const Model& model, const std::string& name) {
    for (const Material& m : model.materials)
        if (m.name == name) return &m;
    return nullptr;
}

// The parts of a frame matrix that differ from the identity.
struct Parts {
    Decomposition d;
    bool scale = false, rotate = false, translate = false;
};

Parts transformationParts(const Matrix& m) {
    Parts p;
    p.d = decompose(m);
    const Point3 &s = p.d.scale, &r = p.d.rotate, &t = p.d.translate;
    p.scale = std::fabs(s.x - 1) > 0.001 || std::fabs(s.y - 1) > 0.001 || std::fabs(s.z - 1) > 0.001;
    p.rotate = std::fabs(r.x) > 0.01 || std::fabs(r.y) > 0.01 || std::fabs(r.z) > 0.01;
    p.translate = std::fabs(t.x) > 0.0001 || std::fabs(t.y) > 0.0001 || std::fabs(t.z) > 0.0001;
    return p;
}

void check(qsb::WriteStatus status) {
    if (status != qsb::WriteStatus::Written) fail("Error writing geometry QSB file");
}

}  // namespace

SolidPlan planSolids(const Model& model, std::size_t maxName, bool declared) {
    SolidPlan plan;
    auto fit = [&](const std::string& raw) {
        std::string n = sceneName(raw);
        if (n.size() <= maxName) return n;
        n = sceneName(n.substr(0, maxName));
        return n.size() <= maxName ? n : n.substr(0, maxName - 1) + "_";
    };
    auto useShader = [&](const std::string& name, const Material& values) {
        auto it = std::find_if(plan.shaders.begin(), plan.shaders.end(),
                               [&](const ShaderUse& s) { return s.name == name; });
        if (it == plan.shaders.end()) plan.shaders.push_back({name, values, {}});
    };
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        const Mesh& mesh = model.meshes[i];
        std::vector<std::vector<std::uint32_t>> groups(mesh.materialNames.size());
        for (std::uint32_t f = 0; f < mesh.faces.size(); ++f)
            groups[static_cast<std::size_t>(mesh.faces[f].material)].push_back(f);
        std::size_t used =
            std::count_if(groups.begin(), groups.end(), [](const auto& g) { return !g.empty(); });
        unsigned number = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (groups[g].empty()) continue;
            ++number;
            Solid solid;
            solid.mesh = i;
            solid.faces = std::move(groups[g]);
            std::string numbered = format("%s_%u", mesh.name.c_str(), number);
            solid.name = fit(used > 1 ? numbered : mesh.name);
            const std::string& material = mesh.materialNames[g];
            const Material* values = findMaterial(model, material);
            if (!values && material == "Default") {
                solid.shader = fit(numbered);
                useShader(solid.shader, defaultMaterial());
            } else {
                // A material the file names but does not define gets the default values.
                solid.shader = fit(material);
                useShader(solid.shader, values ? *values : defaultMaterial());
            }
            plan.solids.push_back(std::move(solid));
        }
    }
    if (declared) {
        // Every shader is declared before any solid, so a solid may take no shader's name, wherever
        // that shader is used; a new name also avoids the other solids' names.
        std::set<std::string> shaders, taken;
        for (const ShaderUse& s : plan.shaders) shaders.insert(s.name);
        taken = shaders;
        for (const Solid& s : plan.solids) taken.insert(s.name);
        for (Solid& s : plan.solids)
            if (shaders.count(s.name) != 0) {
                s.name = distinctName(s.name, taken, maxName);
                taken.insert(s.name);
            }
    }
    for (const Solid& s : plan.solids)
        std::find_if(plan.shaders.begin(), plan.shaders.end(), [&](const ShaderUse& u) {
            return u.name == s.shader;
        })->objects.push_back(s.name);
    return plan;
}

std::string transformationText(const Matrix& m) {
    Parts p = transformationParts(m);
    std::string out;
    // Values that print as zero are written without a sign.
    auto tidy = [](Point3 v, double unit) {
        for (double* c : {&v.x, &v.y, &v.z})
            if (std::fabs(*c) < unit) *c = 0;
        return v;
    };
    const Point3 s = p.d.scale, r = tidy(p.d.rotate, 0.005), t = tidy(p.d.translate, 0.0005);
    if (p.scale) out += format("Scale(%.3lf, %.3lf, %.3lf) ", s.x, s.y, s.z);
    if (p.rotate) out += format("Rotate(%.2lf, %.2lf, %.2lf) ", r.x, r.y, r.z);
    if (p.translate) out += format("Translate(%.3lf, %.3lf, %.3lf) ", t.x, t.y, t.z);
    return out;
}

Point3 solidCentre(const Solid& solid, const Mesh& mesh) {
    Point3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (std::uint32_t f : solid.faces)
        for (std::uint32_t v : mesh.faces[f].v) {
            Point3 p = mesh.animated ? transformPoint(mesh.transform, mesh.positions[v]) : mesh.positions[v];
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
    return (lo + hi) * 0.5;
}

void writeAsciiSolid(OutputFile& out, const Solid& solid, const Mesh& mesh, const CornerNormals& normals,
                     bool useUV, bool declare) {
    bool uv = useUV && !mesh.u.empty();
    out.print("// 3DS mesh object: '%s'\n", solid.name.c_str());
    if (declare) out.print("Declare %s = ", solid.name.c_str());
    out.write("Solid [");
    bool first = true;
    for (std::uint32_t f : solid.faces) {
        out.write(first ? "\n" : " +\n");
        first = false;
        out.write(" Shape [ TriangularPatch((");
        const Face& face = mesh.faces[f];
        for (int k = 0; k < 3; ++k) {
            const Point3& p = mesh.positions[face.v[k]];
            const Point3& n = normals[f][k];
            if (k > 0) out.write(" (");
            out.print("%.4lf, %.4lf, %.4lf), (%.4lf, %.4lf, %.4lf", p.x, p.y, p.z, n.x, n.y, n.z);
            if (uv)
                out.print(k < 2 ? ") UV=%.3lf,%.3lf," : ") UV=%.3lf,%.3lf)", mesh.u[face.v[k]],
                          mesh.v[face.v[k]]);
            else
                out.write(k < 2 ? ")," : "))");
        }
        out.write(" ]");
    }
    out.print("\n %s\n", solid.shader.c_str());
    if (mesh.animated) out.write(transformationText(mesh.transform));
    out.write("]\n");
}

void writeBinarySolid(qsb::QsbWriter& w, bool meshFile, const Solid& solid, const Mesh& mesh,
                      const CornerNormals& normals, bool useUV) {
    bool uv = useUV && !mesh.u.empty();
    check(meshFile ? w.BeginMeshDeclaration(solid.name) : w.BeginObjectDeclaration(solid.name));
    for (std::uint32_t f : solid.faces) {
        float values[24];
        float* p = values;
        const Face& face = mesh.faces[f];
        for (int k = 0; k < 3; ++k) {
            const Point3& v = mesh.positions[face.v[k]];
            const Point3& n = normals[f][k];
            *p++ = static_cast<float>(v.x);
            *p++ = static_cast<float>(v.y);
            *p++ = static_cast<float>(v.z);
            *p++ = static_cast<float>(n.x);
            *p++ = static_cast<float>(n.y);
            *p++ = static_cast<float>(n.z);
            if (uv) {
                *p++ = static_cast<float>(mesh.u[face.v[k]]);
                *p++ = static_cast<float>(mesh.v[face.v[k]]);
            }
        }
        if (meshFile)
            check(uv ? w.WriteMeshTriangleUV(values) : w.WriteMeshTriangle(values));
        else
            check(uv ? w.WriteTriangleUV(values) : w.WriteTriangle(values));
    }
    check(meshFile ? w.EndMeshDeclaration() : w.EndObjectDeclaration());
    check(meshFile ? w.BeginMeshCall(solid.name) : w.BeginObjectCall(solid.name));
    check(meshFile ? w.WriteMeshShaderName(solid.shader) : w.WriteShaderName(solid.shader));
    if (mesh.animated) {
        Parts p = transformationParts(mesh.transform);
        auto f = [](double x) { return static_cast<float>(x); };
        const Point3 &s = p.d.scale, &r = p.d.rotate, &t = p.d.translate;
        if (p.scale)
            check(meshFile ? w.WriteMeshScale(f(s.x), f(s.y), f(s.z)) : w.WriteScale(f(s.x), f(s.y), f(s.z)));
        if (p.rotate)
            check(meshFile ? w.WriteMeshRotate(f(r.x), f(r.y), f(r.z))
                           : w.WriteRotate(f(r.x), f(r.y), f(r.z)));
        if (p.translate)
            check(meshFile ? w.WriteMeshTranslate(f(t.x), f(t.y), f(t.z))
                           : w.WriteTranslate(f(t.x), f(t.y), f(t.z)));
    }
    check(meshFile ? w.EndMeshCall() : w.EndObjectCall());
}

}  // namespace quorva::converter
