// The scene the parallel-rendering tests draw with different thread counts: glass and a mirror over a
// checkered floor, a point light and a bulb area light, so that every worker meets reflection,
// refraction, blur and soft shadows.
#pragma once

#include <string>

namespace quorva::testing {

// `camera` and `options` are items added to the Camera and Options statements.
inline std::string parallelScene(const std::string& camera, const std::string& options = "") {
    return "Version : 1.3\n"
           "Options [ MaxRayLevel 5 MaxBlurSamples 3 SoftShadowSamples 4 " +
           options +
           " ]\n"
           "Camera [ (0, 2, -7), (0, 0.7, 0), (0, 1, 0) FieldOfView 45 " +
           camera +
           " ]\n"
           "Background '0.3, 0.4, 0.6'\n"
           "PointLight [ (-4, 8, -6) ]\n"
           "AreaLight [ Bulb ((3, 5, -2), 0.5) Intensity '0.6, 0.6, 0.6' ]\n"
           "Shape [ Sphere ((-1.6, 1, 0), 1) Shader [ PlainSurface [ Color '1, 1, 1' Kd 0.05 Kr 0.2 "
           "Kt (0.85, 1.5) ] ] ]\n"
           "Shape [ Sphere ((1.2, 1, 0.5), 1) Shader [ PlainSurface [ Kd 0.1 Kr (0.8, 0.2) ] ] ]\n"
           "Shape [ Disk ((0, 0, 0), (0, 1, 0), 10) Shader [ FunctionalSurface [ "
           "Color ((floor(x) + floor(z)) % 2 == 0 ? '0.85, 0.85, 0.85' : '0.2, 0.2, 0.25') Kd 0.7 ] ] ]\n";
}

}  // namespace quorva::testing
