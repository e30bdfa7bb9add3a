// Primary rays of the six lens models, the view frame, camera transforms and depth-of-field jitter.
#include "render/camera_rays.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "render/render_job.h"
#include "trace/camera.h"
#include "trace/quasi_random.h"

namespace quorva {
namespace {

constexpr double Pi = std::numbers::pi;

void expectVec(const Vec3& actual, const Vec3& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << toString(actual) << " vs " << toString(expected);
    EXPECT_NEAR(actual.y, expected.y, tolerance) << toString(actual) << " vs " << toString(expected);
    EXPECT_NEAR(actual.z, expected.z, tolerance) << toString(actual) << " vs " << toString(expected);
}

// A 200 x 100 camera at (0, 0, -1) looking down +z: D = +z, R = +x, U = +y.
Camera makeCamera(std::uint8_t lens) {
    Camera c;
    c.width = 200;
    c.height = 100;
    c.lensModel = lens;
    return c;
}

TEST(ViewFrame, OrthogonalisesUpAndFillsFocalDistance) {
    Camera camera;
    camera.location = {1, 2, -3};
    camera.pointOfInterest = {1, 2, 1};
    camera.up = {0, 5, 5};  // not perpendicular to the view direction, not unit length
    ViewFrame view = prepareView(camera);
    expectVec(view.viewDir, {0, 0, 1});
    expectVec(view.right, {1, 0, 0});
    expectVec(view.up, {0, 1, 0});
    expectVec(camera.up, {0, 1, 0});
    EXPECT_DOUBLE_EQ(camera.focalDistance, 4.0);
    EXPECT_NEAR(view.tanHalf, std::tan(Pi / 3), 1e-12);
    EXPECT_NEAR(view.tanHalfAspect, std::tan(Pi / 3) * 1.3334, 1e-12);

    // A focal distance that was given is kept.
    camera.focalDistance = 2.5;
    prepareView(camera);
    EXPECT_DOUBLE_EQ(camera.focalDistance, 2.5);
}

TEST(ViewFrame, CameraTransformMovesPointsButNotUpAndIsAppliedOnce) {
    Camera camera;
    camera.cameraTransform = std::make_unique<Transform>(makeTranslate({0, 0, -4}));
    applyCameraTransform(camera);
    expectVec(camera.location, {0, 0, -5});
    expectVec(camera.pointOfInterest, {0, 0, -4});
    expectVec(camera.up, {0, 1, 0});
    EXPECT_EQ(camera.cameraTransform, nullptr);
    applyCameraTransform(camera);
    expectVec(camera.location, {0, 0, -5});
}

TEST(PrimaryRay, PerspectiveMatchesTheImagePlane) {
    Camera camera = makeCamera(LensPerspective);
    ViewFrame view = prepareView(camera);
    // The image centre looks straight along D.
    Ray centre = primaryRay(camera, view, 100, 50, 0.001);
    expectVec(centre.origin, camera.location);
    expectVec(centre.direction, {0, 0, 1});
    // Any pixel meets the plane z = 0 (one unit ahead) at (u * tanHalfAspect, -v * tanHalf).
    for (auto [x, y] : {std::pair{0.0, 0.0}, {200.0, 100.0}, {37.0, 81.0}}) {
        Ray r = primaryRay(camera, view, x, y, 0.001);
        EXPECT_NEAR(length(r.direction), 1.0, 1e-12);
        Vec3 onPlane = r.at(1 / r.direction.z);
        double u = 2 * x / 200 - 1, v = 2 * y / 100 - 1;
        expectVec(onPlane, {u * view.tanHalfAspect, -v * view.tanHalf, 0});
    }
}

TEST(PrimaryRay, NegativeAspectRatioMirrorsTheImage) {
    Camera camera = makeCamera(LensPerspective);
    camera.frameAspectRatio = -1.3334;
    ViewFrame view = prepareView(camera);
    EXPECT_GT(primaryRay(camera, view, 0, 50, 0.001).direction.x, 0);
}

TEST(PrimaryRay, OrthographicShiftsOriginsAlongTheImage) {
    Camera camera = makeCamera(LensOrthographic);
    camera.fieldOfView = 10;
    camera.frameAspectRatio = 2;
    ViewFrame view = prepareView(camera);
    Ray topLeft = primaryRay(camera, view, 0, 0, 0.001);
    expectVec(topLeft.origin, {-10, 5, -1});
    expectVec(topLeft.direction, {0, 0, 1});
    Ray r = primaryRay(camera, view, 150, 75, 0.001);
    expectVec(r.origin, {5, -2.5, -1});
    expectVec(r.direction, {0, 0, 1});
}

TEST(PrimaryRay, SphericalAndAngularTurnByAngles) {
    Camera camera = makeCamera(LensSpherical);
    ViewFrame view = prepareView(camera);
    // Right edge, middle row: turned by tanHalfAspect radians about U.
    Ray r = primaryRay(camera, view, 200, 50, 0.001);
    double b = view.tanHalfAspect;
    expectVec(r.direction, normalized({std::sin(b), 0, std::cos(b)}));
    // Top edge, middle column: turned up by tanHalf radians.
    r = primaryRay(camera, view, 100, 0, 0.001);
    double a = view.tanHalf;
    expectVec(r.direction, normalized({0, std::sin(a), std::cos(a)}));

    camera.lensModel = LensAngular;
    camera.halfAngle = 0.4;
    camera.frameAspectRatio = 5;  // not used by this lens
    view = prepareView(camera);
    r = primaryRay(camera, view, 200, 50, 0.001);
    EXPECT_NEAR(std::acos(r.direction.z), 0.4, 1e-12);
    EXPECT_GT(r.direction.x, 0);
    r = primaryRay(camera, view, 100, 100, 0.001);
    EXPECT_NEAR(std::acos(r.direction.z), 0.4, 1e-12);
    EXPECT_LT(r.direction.y, 0);
}

TEST(PrimaryRay, CylindricalPanoramaSweepsHalfACircle) {
    Camera camera = makeCamera(LensCylindrical);
    ViewFrame view = prepareView(camera);
    // Elevation 0 where 2(H - 1 - y)/H = 1, i.e. y = H/2 - 1.
    const double y0 = 49;
    expectVec(primaryRay(camera, view, 0, y0, 0.001).direction, {-1, 0, 0});
    expectVec(primaryRay(camera, view, 100, y0, 0.001).direction, {0, 0, 1});
    expectVec(primaryRay(camera, view, 200, y0, 0.001).direction, {1, 0, 0});
    // Elevation pi/4: tangent 1 over a unit horizontal vector.
    const double y45 = 100 - 1 - 0.75 * 100;
    expectVec(primaryRay(camera, view, 100, y45, 0.001).direction, normalized({0, 1, 1}));
    // The bottom row lies at the pole: its rays point straight down, not at the horizon.
    Ray bottom = primaryRay(camera, view, 100, 99, 0.001);
    EXPECT_LT(bottom.direction.y, -0.999999);
}

TEST(PrimaryRay, FisheyeMapsRadiusToAngle) {
    Camera camera = makeCamera(LensFisheye);
    ViewFrame view = prepareView(camera);
    // p = 0 on row H/2 - 1; the middle column has r = 0 and looks along D.
    expectVec(primaryRay(camera, view, 100, 49, 0.001).direction, {0, 0, 1});
    const double theta = 1.411269 - 0.09439 + 0.25674;  // r = 1
    expectVec(primaryRay(camera, view, 200, 49, 0.001).direction, {std::sin(theta), 0, std::cos(theta)});
    expectVec(primaryRay(camera, view, 0, 49, 0.001).direction, {-std::sin(theta), 0, std::cos(theta)});
    // Straight above the centre (q = 0, p = 0.5): phi = pi/2.
    const double t2 = 1.411269 * 0.5 - 0.09439 * 0.125 + 0.25674 * 0.03125;
    expectVec(primaryRay(camera, view, 100, 24, 0.001).direction, {0, std::sin(t2), std::cos(t2)});
}

TEST(PrimaryRay, UnknownLensLooksAlongTheViewDirection) {
    Camera camera = makeCamera(0);
    ViewFrame view = prepareView(camera);
    expectVec(primaryRay(camera, view, 3, 7, 0.001).direction, {0, 0, 1});
}

TEST(ApertureSample, RaysStartOnTheApertureAndMeetAtTheFocalPoint) {
    Camera camera = makeCamera(LensPerspective);
    camera.aperture = 0.25;
    camera.focalDistance = 3;
    ViewFrame view = prepareView(camera);
    QuasiRandom pairs(2);
    const Ray pinhole = primaryRay(camera, view, 40, 70, 0.001);
    const Vec3 focus = pinhole.at(3);
    for (int i = 0; i < 16; ++i) {
        Ray r = pinhole;
        apertureSample(camera, view, pairs, r);
        Vec3 offset = r.origin - camera.location;
        EXPECT_NEAR(offset.z, 0, 1e-12);  // across the view direction
        EXPECT_LE(std::fabs(offset.x), 0.25);
        EXPECT_LE(std::fabs(offset.y), 0.25);
        EXPECT_NEAR(length(r.direction), 1, 1e-12);
        Vec3 toFocus = focus - r.origin;
        EXPECT_NEAR(length(cross(r.direction, toFocus)), 0, 1e-9);
        EXPECT_GT(dot(r.direction, toFocus), 0);
    }
}

}  // namespace
}  // namespace quorva
