// Builders of the scene-wide settings.
#include "scene/builders/scene_settings.h"

#include "diagnostics/diagnostics.h"
#include "scene/builders/option_items.h"
#include "scene/scene_state.h"

namespace quorva {

void buildBackground(SceneState& scene, BackgroundValue value) {
    BackgroundSettings& b = scene.frame.background;
    b.expression = std::move(value.expression);
    if (!b.expression) b.colour = value.colour;
}

void buildFog(SceneState& scene, double start, double density, const Color& colour) {
    if (!(density >= 0 && density <= 1)) fatal("Bad Fog value");
    FogSettings& fog = scene.frame.fog;
    fog.start = start;
    fog.density = density;
    fog.colour = colour;
}

void buildGroundFog(SceneState& scene, double heightScale, double distanceScale, const Color& colour) {
    if (!(heightScale > 0 && distanceScale > 0)) fatal("Bad GroundFog value");
    FogSettings& fog = scene.frame.fog;
    fog.heightScale = heightScale;
    fog.distanceScale = distanceScale;
    fog.colour = colour;
}

void buildSunLightSettings(SceneState& scene, const double* values, int count, const Vec3* vector) {
    SunLightSettings sun;
    sun.given = true;
    sun.count = count;
    for (int i = 0; i < count && i < 4; ++i) sun.values[i] = values[i];
    // The fourth value is the sun's soft-shadow sample count, converted to an integer when the light is made.
    if (count > 3) sun.values[3] = reducedSampleCount("SunLight", values[3], MaxSoftShadowSamples);
    if (vector) {
        sun.vector = *vector;
        sun.hasVector = true;
    }
    scene.frame.sun = sun;
}

}  // namespace quorva
