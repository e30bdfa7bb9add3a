// The projection the preview rasterizers draw with: world points to homogeneous image coordinates, so
// that a projected point lands on the pixel whose primary ray passes through it.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

struct Camera;

struct PreviewTransform {
    // Image coordinates of a world point p: (X, Y, Z, W) = forward · (p, 1); x = X / W and y = Y / W are
    // pixel positions (pixel centres at integers, row 0 at the top), W is the depth along the view and
    // Z / W a depth value that grows with W. `inverse` undoes `forward` up to a common factor.
    double forward[4][4] = {};
    double inverse[4][4] = {};
    Vec3 location;

    // X, Y and W of a world point (the rasterizers have no use for Z).
    void project(const Vec3& p, double& X, double& Y, double& W) const {
        const double* f0 = forward[0];
        const double* f1 = forward[1];
        const double* f3 = forward[3];
        X = f0[0] * p.x + f0[1] * p.y + f0[2] * p.z + f0[3];
        Y = f1[0] * p.x + f1[1] * p.y + f1[2] * p.z + f1[3];
        W = f3[0] * p.x + f3[1] * p.y + f3[2] * p.z + f3[3];
    }
    // The depth value Z / W of a point at view depth W.
    static double depthValue(double W);
    // The world point at image position (x, y) and view depth W, through the inverse.
    Vec3 unproject(double x, double y, double W) const;
};

// Builds the transform from the camera's location, point of interest, up vector, vertical half angle,
// image size and frame aspect ratio: translation by -location, rotation into (right, up, view), the
// depth mapping, the perspective scale and the shift to the image centre. A camera at its point of
// interest warns and looks along +z; an up vector parallel to the view is replaced.
PreviewTransform buildPreviewTransform(const Camera& camera);

}  // namespace quorva
