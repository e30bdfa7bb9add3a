// The Camera record: image size and row range, view, lens model, depth of field, exposure and filter
// settings. Reset to these defaults before each scene is parsed; the Camera statement fills it.
#pragma once

#include <cstdint>
#include <memory>

#include "geometry/transform.h"
#include "geometry/vec3.h"

namespace quorva {

// Lens models are stored as 239 + n for LensModel n = 1..6.
enum LensModel : std::uint8_t {
    LensPerspective = 240,
    LensOrthographic = 241,
    LensSpherical = 242,
    LensAngular = 243,
    LensCylindrical = 244,
    LensFisheye = 245,
};

struct Camera {
    int width = 320;
    int height = 240;
    int firstRow = 0;
    int lastRow = 240;
    Vec3 location{0, 0, -1};
    Vec3 pointOfInterest{0, 0, 0};
    Vec3 up{0, 1, 0};
    double halfAngle = 1.0471975511965976;  // half the vertical field of view, radians
    double fieldOfView = 35;                // degrees as given
    bool fieldOfViewGiven = false;
    double nearClip = 0.001;
    double farClip = 1000000;
    double aperture = 0;  // half side of the square aperture; 0 = pinhole
    double frameAspectRatio = 1.3334;
    double previewAspect = 1.3334;
    double focalDistance = -1;  // -1: |pointOfInterest - location|, filled in when rendering starts
    double focalSetting = 0;    // DepthOfField first value
    int depthOfFieldSamples = 4;
    double exposureScale = 0;
    double exposureExponent = 0;
    std::uint8_t lensModel = LensPerspective;
    int pixelFilterType = -1;  // 1..7, -1 none
    double pixelFilterWidthX = 1.0;
    double pixelFilterWidthY = 1.0;
    std::unique_ptr<Transform> cameraTransform;  // transformation items of the Camera statement
};

}  // namespace quorva
