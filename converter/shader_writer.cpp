// Material values of a 3DS file turned into the renderer's surface parameters.
#include "converter/shader_writer.h"

#include <cmath>

#include "converter/report.h"

namespace quorva::converter {

Material defaultMaterial() {
    Material m;
    m.name = "Default";
    m.diffuse = {0.8, 0.8, 0.8};
    return m;
}

std::string shaderDeclaration(const ShaderUse& shader) {
    const Material& m = shader.material;
    std::string out;
    for (const std::string& object : shader.objects)
        out += format("// Shader assigned to: '%s'\n", object.c_str());
    out += format("Declare %s = Shader [", shader.name.c_str());

    // Specular weight from the shininess; the diffuse weight takes what the specular and the reflection
    // leave, divided by the specular colour's strength.
    double s = m.shininess == 0 ? 0.1 : m.shininess;
    double ks = s <= 100 ? s * 0.01 : 1;
    const Rgb& sp = m.specular;
    double l = std::sqrt(sp.r * sp.r + sp.g * sp.g + sp.b * sp.b);
    if (l == 0) l = 1;
    double kd = (ks + 1) * ((1 - ks) - (1 - ks) * ks);
    kd = (kd - kd * m.reflection * ks) / l;
    if (kd <= 0) kd = 0.1;
    if (kd > 1) kd = 1;
    double ka = 0;
    if (m.selfIlluminated) {
        ka = 1.0;
        kd = 0.01;
    }
    const Rgb& df = m.diffuse;
    double m1 = std::fabs(1 - sp.r) + std::fabs(1 - sp.g) + std::fabs(1 - sp.b);
    double m2 = std::fabs(df.r - sp.r) + std::fabs(df.g - sp.g) + std::fabs(df.b - sp.b);
    double t = m.transparency;
    if (t > 0) {
        kd = 1 - t;
        if (kd < 0) kd = 0.01;
    }
    bool functional = !m.textureMap.empty() || !m.bumpMap.empty();
    std::string ambient = ka > 0 ? format("  AmbientColor '%.3lf, %.3lf, %.3lf' Ka %.1lf\n", m.ambient.r,
                                          m.ambient.g, m.ambient.b, ka)
                                 : std::string();
    if (!functional) {
        out += " PlainSurface [\n" + ambient;
        out += format("  Color '%.3lf, %.3lf, %.3lf'\n  Kd %.2lf\n", df.r, df.g, df.b, kd);
        out += format("  Ks(%.2lf,'%.3lf, %.3lf, %.3lf')\n", ks, sp.r, sp.g, sp.b);
    } else {
        out += " FunctionalSurface [\n" + ambient;
        out += format("  Kd %.2lf\n", kd);
        out += format("  Ks(%.2lf, '%.3lf, %.3lf, %.3lf')\n", ks, sp.r, sp.g, sp.b);
    }
    double exponent = 400 / s;
    int n = exponent >= 45 ? 45 : exponent >= 1 ? static_cast<int>(exponent) : 1;
    out += format("  BlinnSpecularBRDF %d\n", n);
    if (m2 < m1) out += format("  Kb %.2lf\n", (2 * m2 + 2 * m1) / 3);
    if (t > 0)
        out += format("  Kt(%.3lf, 1.3, '%.3lf, %.3lf, %.3lf')\n", t, (1 - t) * df.r + t, (1 - t) * df.g + t,
                      (1 - t) * df.b + t);
    if (m.reflection > 0) {
        out += format("  Kr %.3lf\n", m.reflection);
        if (m2 < m1) out += format("  MetalAttribute %.2lf\n", m2 + m1);
    }
    if (functional) {
        if (!m.textureMap.empty())
            out += format("  Color UVImageMapping(ImageFile(\"%s\",NONE))\n", m.textureMap.c_str());
        if (!m.bumpMap.empty())
            out += format("  NormalModifier UVBumpMapping(ImageFile(\"%s\", NONE), %.2lf)\n",
                          m.bumpMap.c_str(), m.bumpPercent);
    }
    out += " ]\n]\n\n";
    return out;
}

}  // namespace quorva::converter
