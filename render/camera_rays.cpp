// Primary rays for the six lens models, depth-of-field jitter and the camera sample the anti-aliasing
// loops take.
#include "render/camera_rays.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "render/render_job.h"
#include "trace/camera.h"
#include "trace/frame.h"
#include "trace/quasi_random.h"
#include "trace/render_context.h"
#include "trace/trace_ray.h"

namespace quorva {
namespace {

constexpr double Pi = std::numbers::pi;
constexpr double HalfPi = std::numbers::pi / 2;

// Polynomial mapping of the fisheye's normalised image radius to the angle off the view direction.
double fisheyeAngle(double r) {
    double r2 = r * r;
    return r * (1.411269 + r2 * (-0.09439 + r2 * 0.25674));
}

}  // namespace

void applyCameraTransform(Camera& camera) {
    if (!camera.cameraTransform) return;
    const Transform* t = camera.cameraTransform.get();
    camera.location = pointToWorld(t, camera.location);
    camera.pointOfInterest = pointToWorld(t, camera.pointOfInterest);
    camera.up = vectorToWorld(t, camera.up);
    camera.cameraTransform.reset();
}

ViewFrame prepareView(Camera& camera) {
    ViewFrame view;
    normalize(camera.up);
    view.viewDir = camera.pointOfInterest - camera.location;
    double distance = normalize(view.viewDir);
    if (camera.focalDistance == -1) camera.focalDistance = distance;
    view.right = cross(camera.up, view.viewDir);
    normalize(view.right);
    view.up = cross(view.viewDir, view.right);
    normalize(view.up);
    camera.up = view.up;
    view.tanHalf = std::tan(camera.halfAngle);
    view.tanHalfAspect = view.tanHalf * camera.frameAspectRatio;
    return view;
}

Ray primaryRay(const Camera& camera, const ViewFrame& view, double x, double y, double shadowBias) {
    const double w = camera.width;
    const double h = camera.height;
    const double u = 2 * x / w - 1;
    const double v = 2 * y / h - 1;
    const Vec3& D = view.viewDir;
    const Vec3& R = view.right;
    const Vec3& U = view.up;

    Ray ray{camera.location, D};
    switch (camera.lensModel) {
        case LensPerspective:
            ray.direction = D + (u * view.tanHalfAspect) * R - (v * view.tanHalf) * U;
            break;
        case LensOrthographic:
            ray.origin = camera.location + (u * camera.fieldOfView) * R -
                         (v * (camera.fieldOfView / camera.frameAspectRatio)) * U;
            break;
        case LensSpherical: {
            double a = -v * view.tanHalf;
            double b = u * view.tanHalfAspect;
            ray.direction = std::sin(a) * U + std::sin(b) * R + (std::cos(a) * std::cos(b)) * D;
            break;
        }
        case LensAngular: {
            double a = -2 * camera.halfAngle * (y - h / 2) / h;
            double b = 2 * camera.halfAngle * (x - w / 2) / w;
            ray.direction = std::sin(a) * U + std::sin(b) * R + (std::cos(a) * std::cos(b)) * D;
            break;
        }
        case LensCylindrical: {
            // Elevation from +pi/2 (above the top row) to -pi/2 (the bottom row), azimuth from pi on the
            // left edge to 0 on the right. At a pole the tangent is replaced by a large finite value of
            // the same sign, so the ray still points at the pole.
            double e = (2 * (h - 1 - y) / h - 1) * HalfPi;
            double t = std::fabs(HalfPi - std::fabs(e)) < shadowBias ? std::copysign(1e8, e) : std::tan(e);
            double az = (1 - x / w) * Pi;
            ray.direction = t * U + std::cos(az) * R + std::sin(az) * D;
            break;
        }
        case LensFisheye: {
            double p = 2 * (h - 1 - y) / h - 1;
            double q = u;
            double r = std::sqrt(p * p + q * q);
            double phi = 0;
            if (r != 0) {
                double s = std::asin(std::clamp(p / r, -1.0, 1.0));
                phi = q >= 0 ? s : Pi - s;
            }
            double theta = fisheyeAngle(r);
            double st = std::sin(theta);
            ray.direction = (st * std::sin(phi)) * U + (st * std::cos(phi)) * R + std::cos(theta) * D;
            break;
        }
        default:
            break;
    }
    normalize(ray.direction);
    return ray;
}

void apertureSample(const Camera& camera, const ViewFrame& view, QuasiRandom& pairs, Ray& ray) {
    double s = 0, t = 0;
    pairs.nextPair(s, t);
    // The view frame's right and up vectors are normalise(up x D) and normalise(D x right) of the
    // orthogonalised camera up, so the aperture square lies across the view direction.
    Vec3 offset = ((2 * t - 1) * camera.aperture) * view.up + ((2 * s - 1) * camera.aperture) * view.right;
    ray.origin = camera.location + offset;
    ray.direction = camera.focalDistance * ray.direction - offset;
    normalize(ray.direction);
}

double traceApertureSamples(const RenderJob& job, RenderContext& ctx, const Ray& pinhole, int samples,
                            Color& colourSum, double& alphaSum) {
    double depth = NoHitDistance;
    for (int i = 0; i < samples; ++i) {
        Ray ray = pinhole;
        apertureSample(job.scene.camera, job.view, ctx.aperturePairs, ray);
        Color c;
        double a = 0;
        depth = traceRay(ctx, 0, ray, c, a, &ctx.stats.primaryRays);
        colourSum += c;
        alphaSum += a;
    }
    return depth;
}

double cameraSample(const RenderJob& job, RenderContext& ctx, Color& colour, double& alpha, double x,
                    double y, bool* recordFirstDepth, double* firstDepth, Color* unclipped) {
    const Camera& camera = job.scene.camera;
    ctx.currentColumn = static_cast<int>(x);
    ctx.currentRow = static_cast<int>(y);
    ctx.beginSample(x, y);

    const Ray pinhole = primaryRay(camera, job.view, x, y, ctx.settings.shadowBias);
    double depth = traceRay(ctx, 0, pinhole, colour, alpha, &ctx.stats.primaryRays);
    if (camera.aperture != 0) {
        // The pinhole ray plus S rays through the aperture, all weighted alike.
        const int samples = job.scene.options.depthOfFieldSamples;
        Color sum = colour;
        double alphaSum = alpha;
        if (samples > 0) depth = traceApertureSamples(job, ctx, pinhole, samples, sum, alphaSum);
        const double inv = 1.0 / (samples + 1);
        colour = sum * inv;
        alpha = alphaSum * inv;
    }
    if (unclipped) *unclipped = colour;
    for (int i = 0; i < 3; ++i) colour[i] = std::clamp(colour[i], 0.0, 1.0);
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (recordFirstDepth && *recordFirstDepth) {
        if (firstDepth) *firstDepth = depth;
        *recordFirstDepth = false;
    }
    return depth;
}

}  // namespace quorva
