// Primary rays: the view frame of a band, the six lens models, and the square-aperture jitter of depth of
// field.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

struct Camera;
struct ViewFrame;
struct RenderJob;
class QuasiRandom;
class RenderContext;

// Applies the transformation items of the Camera statement to location, point of interest and up vector
// and releases them; a camera without them is left alone, so calling this again is harmless.
void applyCameraTransform(Camera& camera);

// The view frame a band renders with: D towards the point of interest, R = up x D, U = D x R (all unit
// length). U replaces camera.up, and a focal distance of exactly -1 becomes |pointOfInterest - location|.
ViewFrame prepareView(Camera& camera);

// The ray through image position (x, y) in pixels, row 0 at the top of the image. The direction is unit
// length; lens models other than the six known ones keep the view direction. `shadowBias` keeps the
// cylindrical panorama's tangent finite at its poles.
Ray primaryRay(const Camera& camera, const ViewFrame& view, double x, double y, double shadowBias);

// Replaces `ray` by one that starts on the square aperture around the camera location and passes through
// the point at focalDistance along the original direction, so that points at that distance stay sharp.
void apertureSample(const Camera& camera, const ViewFrame& view, QuasiRandom& pairs, Ray& ray);
// Traces `samples` rays through the aperture around the pinhole ray at level 0 in `ctx`, adding their
// colours and alphas to the sums; returns the depth of the last one.
double traceApertureSamples(const RenderJob& job, RenderContext& ctx, const Ray& pinhole, int samples,
                            Color& colourSum, double& alphaSum);

}  // namespace quorva
