// The scenes the parallel-rendering tests draw with different thread counts: glass and a mirror over a
// checkered floor, a point light and a bulb area light, so that every worker meets reflection,
// refraction, blur and soft shadows; and a room whose irradiance cache grows while the rows render.
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

// A small room lit by one point light, its irradiance cache seeded by a grid and then grown row by row
// with a tight error bound, so that rows often miss records the rows above make while they render.
// `camera` is added to the Camera statement (a Format at least).
inline std::string giRoomScene(const std::string& camera) {
    return "Version : 1.3\n"
           "Camera [ (0, 2.5, -7.5), (0, 2.5, 0), (0, 1, 0) FieldOfView 40 " +
           camera +
           " ]\n"
           "Options [ IrradianceSamples 30 IrradianceBounceLevel 2 IrradianceMaxError 0.25 ]\n"
           "ComputeIrradiance 2\n"
           "PointLight [ (0, 4.6, 0) Intensity '0.9, 0.85, 0.8' ]\n"
           "Declare white = Shader [ PlainSurface [ Color '0.8, 0.8, 0.8' Ka 0.02 Kd 0.8 ] ]\n"
           "Shape [ Box ((-2.5, -0.1, -3), (2.5, 0, 2.5)) white ]\n"
           "Shape [ Box ((-2.5, 5, -3), (2.5, 5.1, 2.5)) white ]\n"
           "Shape [ Box ((-2.5, 0, 2.5), (2.5, 5, 2.6)) white ]\n"
           "Shape [ Box ((-2.6, 0, -3), (-2.5, 5, 2.5)) Shader [ PlainSurface [ Color '0.8, 0.1, 0.1' Kd 0.8 ] ] "
           "]\n"
           "Shape [ Box ((2.5, 0, -3), (2.6, 5, 2.5)) Shader [ PlainSurface [ Color '0.1, 0.7, 0.1' Kd 0.8 ] ] "
           "]\n"
           "Shape [ Box ((-1.4, 0, 0.2), (-0.2, 2.8, 1.4)) white ]\n"
           "Shape [ Sphere ((1, 0.8, -0.8), 0.8) white ]\n";
}

}  // namespace quorva::testing
