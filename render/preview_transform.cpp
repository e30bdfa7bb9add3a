#include "render/preview_transform.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "trace/camera.h"

namespace quorva {
namespace {

// Depth mapping: Z = DepthScale * W - DepthShift, so that Z / W rises from 0 at W = 1e-5 towards
// DepthScale far away. Its inverse, scaled by 1e-5, has the entries 1e-5, 1 + 1e-5 and 1.
constexpr double DepthScale = 0.9999900000999989;
constexpr double DepthShift = 9.99990000099999e-06;

using Matrix = double[4][4];

void identity(Matrix m) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = i == j ? 1 : 0;
}

// out = a · b (out may not alias a or b).
void multiply(const Matrix a, const Matrix b, Matrix out) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[i][k] * b[k][j];
            out[i][j] = s;
        }
}

// m = m · b
void append(Matrix m, const Matrix b) {
    Matrix t;
    multiply(m, b, t);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = t[i][j];
}

}  // namespace

double PreviewTransform::depthValue(double W) {
    return DepthScale - DepthShift / W;
}

Vec3 PreviewTransform::unproject(double x, double y, double W) const {
    const double in[4] = {x * W, y * W, DepthScale * W - DepthShift, W};
    double out[4];
    for (int i = 0; i < 4; ++i)
        out[i] =
            inverse[i][0] * in[0] + inverse[i][1] * in[1] + inverse[i][2] * in[2] + inverse[i][3] * in[3];
    return Vec3{out[0], out[1], out[2]} / out[3];
}

PreviewTransform buildPreviewTransform(const Camera& camera) {
    PreviewTransform t;
    t.location = camera.location;
    Vec3 view = camera.pointOfInterest - camera.location;
    if (!(length(view) > 1e-10)) {
        warning("Camera position is same as point of interest");
        view = Vec3{0, 0, 1};
    }
    normalize(view);
    Vec3 up = camera.up;
    Vec3 right = cross(up, view);
    if (!(length(right) > 1e-10)) {
        // The up vector is parallel to the view (or null): any perpendicular one will do.
        up = std::fabs(view.z) < 0.9 ? Vec3{0, 0, 1} : Vec3{0, 1, 0};
        right = cross(up, view);
    }
    normalize(right);
    up = normalized(cross(view, right));

    const double width = camera.width, height = camera.height;
    const double F = height * 0.5 / std::tan(camera.halfAngle);
    const double aspect = camera.frameAspectRatio != 0 ? camera.frameAspectRatio : 1;
    const double sx = F * width / (height * aspect), sy = -F;

    // Forward: shift · scale · depth · rotation · translation.
    Matrix shift, scale, depth, rotation, translation;
    identity(shift);
    shift[0][3] = width / 2;
    shift[1][3] = height / 2;
    identity(scale);
    scale[0][0] = sx;
    scale[1][1] = sy;
    identity(depth);
    depth[2][2] = DepthScale;
    depth[2][3] = -DepthShift;
    depth[3][2] = 1;
    depth[3][3] = 0;
    identity(rotation);
    const Vec3 axes[3] = {right, up, view};
    for (int i = 0; i < 3; ++i) {
        rotation[i][0] = axes[i].x;
        rotation[i][1] = axes[i].y;
        rotation[i][2] = axes[i].z;
    }
    identity(translation);
    translation[0][3] = -camera.location.x;
    translation[1][3] = -camera.location.y;
    translation[2][3] = -camera.location.z;
    identity(t.forward);
    append(t.forward, shift);
    append(t.forward, scale);
    append(t.forward, depth);
    append(t.forward, rotation);
    append(t.forward, translation);

    // Inverse: the same steps undone in the reverse order.
    Matrix unshift, unscale, undepth, unrotate, untranslate;
    identity(unshift);
    unshift[0][3] = -width / 2;
    unshift[1][3] = -height / 2;
    identity(unscale);
    unscale[0][0] = 1 / sx;
    unscale[1][1] = 1 / sy;
    identity(undepth);
    undepth[0][0] = undepth[1][1] = 1e-5;
    undepth[2][2] = 0;
    undepth[2][3] = 1e-5;
    undepth[3][2] = -(1 + 1e-5);
    undepth[3][3] = 1;
    identity(unrotate);
    for (int i = 0; i < 3; ++i) {
        unrotate[0][i] = axes[i].x;
        unrotate[1][i] = axes[i].y;
        unrotate[2][i] = axes[i].z;
    }
    identity(untranslate);
    untranslate[0][3] = camera.location.x;
    untranslate[1][3] = camera.location.y;
    untranslate[2][3] = camera.location.z;
    identity(t.inverse);
    append(t.inverse, untranslate);
    append(t.inverse, unrotate);
    append(t.inverse, undepth);
    append(t.inverse, unscale);
    append(t.inverse, unshift);
    return t;
}

}  // namespace quorva
