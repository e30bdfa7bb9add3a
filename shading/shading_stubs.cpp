// Placeholder bodies of shaders and lights until shading lands.
#include "diagnostics/diagnostics.h"
#include "render/render_context.h"
#include "scene/scene_state.h"
#include "shading/light.h"
#include "shading/shade.h"
#include "shading/shader.h"

namespace quorva {
Shader::~Shader() = default;
void Shader::pruneAttributes(std::uint16_t&, bool) const {}
Light::~Light() = default;

std::shared_ptr<Shader> makeSurfaceShader(const SurfaceDescription&) { return nullptr; }
std::shared_ptr<Shader> makeMultiLayerShader(std::vector<std::shared_ptr<const Shader>>) { return nullptr; }
std::shared_ptr<Shader> makeIndexedShader(RequestPtr, std::shared_ptr<const ShaderSpectrum>) { return nullptr; }
std::shared_ptr<Shader> makeCompositeShader(std::vector<std::pair<std::shared_ptr<const Shader>, RequestPtr>>) {
    return nullptr;
}

std::unique_ptr<Light> makePointLight(const Vec3&, const LightItems&) { return nullptr; }
std::unique_ptr<Light> makeSpotLight(const Vec3&, const Vec3&, double, double, double, const LightItems&) {
    return nullptr;
}
std::unique_ptr<Light> makeDirectionalLight(const Vec3&, const LightItems&) { return nullptr; }
std::unique_ptr<Light> makeAreaLight(const LightItems&) { return nullptr; }
std::unique_ptr<Light> makeBlackHole(const Vec3&, double, const Vec3*) { return nullptr; }
void addLight(SceneState& scene, std::unique_ptr<Light> light) {
    if (light) {
        light->index = static_cast<int>(scene.lights.size());
        scene.lights.push_back(std::move(light));
    }
}
void buildSunLight(SceneState&) {}
void applyLightGlow(const RenderContext&, const Ray&, double, bool, Color&) {}

void shadeHit(RenderContext&, int, const Ray&, const Intersection&, double, double, Color& colour) {
    colour += Color{1, 1, 1};
}
}  // namespace quorva
