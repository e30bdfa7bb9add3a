// Image texture mappings in expressions: each projection picks the pixel its (u, v) rule names.
#include <gtest/gtest.h>

#include "eval/value.h"
#include "image/texture_image.h"
#include "scene/builtins.h"
#include "support/fatal_text.h"

namespace quorva {
namespace {

// A 2 x 2 grey image, top row 10 and 20, bottom row 30 and 40 (row 0 is the top row).
std::shared_ptr<ImageFile> greyImage() {
    auto image = std::make_shared<ImageFile>();
    image->width = 2;
    image->height = 2;
    image->bitsPerPixel = 8;
    image->imageType = 3;
    image->orientation = 0x20;
    image->rows = {{10, 20}, {30, 40}};
    return image;
}

double greyAt(const char* mapping, const Vec3& point, const ShadingContext* sc = nullptr) {
    std::vector<RequestPtr> args;
    if (std::string(mapping) != "UVImageMapping") args.push_back(makeVectorRequest(point));
    args.push_back(makeImageRequest(greyImage(), 0));
    const RequestPtr call = buildCall(mapping, args, nullptr);
    EvalContext ctx;
    ctx.shading = sc;
    const Value v = evaluate(ctx, call.get());
    EXPECT_TRUE(v.isVector()) << mapping;
    return v.vector.x * 255;
}

TEST(ImageMappings, ProjectionsPickThePixelOfTheirCoordinates) {
    // Planar: u = x, v = z; v = 0 is the bottom of the picture.
    EXPECT_NEAR(greyAt("PlanarImageMapping", {0.25, 0, 0.25}), 30, 1e-9);
    EXPECT_NEAR(greyAt("PlanarImageMapping", {0.75, 0, 0.75}), 20, 1e-9);
    // Tiling wraps coordinates outside [0, 1).
    EXPECT_NEAR(greyAt("PlanarImageMapping", {-0.25, 0, 1.25}), 40, 1e-9);
    // Cylindrical: u is the angle around y, v is y.
    EXPECT_NEAR(greyAt("CylindricalImageMapping", {0, 0.75, -1}), 20, 1e-9);  // angle 3/4 turn
    // Spherical: the origin maps to (0, 0); the north pole to v = 1.
    EXPECT_NEAR(greyAt("SphericalImageMapping", {0, 0, 0}), 30, 1e-9);
    EXPECT_NEAR(greyAt("SphericalImageMapping", {1, 0.999, 0}), 10, 1e-9);
    // UV reads the hit's surface coordinates, and nothing without a shading context.
    ShadingContext sc;
    sc.u = 0.9;
    sc.v = 0.1;
    EXPECT_NEAR(greyAt("UVImageMapping", {}, &sc), 40, 1e-9);
}

TEST(ImageMappings, ANonImageArgumentIsFatal) {
    const RequestPtr call =
        buildCall("PlanarImageMapping", {makeVectorRequest({0, 0, 0}), makeFloatRequest(1)}, nullptr);
    EXPECT_EQ(testing::fatalText([&] { evaluate(EvalContext{}, call.get()); }),
              "Confusion in image mapping structure");
}

// A 3 x 1 grey image rising from left to right: heights 0, 64, 128.
std::shared_ptr<ImageFile> rampImage(std::uint8_t step) {
    auto image = greyImage();
    image->width = 3;
    image->height = 1;
    image->rows = {{0, step, static_cast<std::uint8_t>(2 * step)}};
    return image;
}

Vec3 bumped(const char* mapping, const Vec3& p, const Vec3& n, std::shared_ptr<ImageFile> image,
            double amount) {
    ShadingContext sc;
    sc.P = p;
    sc.N = n;
    sc.u = 0.5;
    sc.v = 0.5;
    std::vector<RequestPtr> args;
    if (std::string(mapping) != "UVBumpMapping") args.push_back(makeVectorRequest(p));
    args.push_back(makeImageRequest(std::move(image), 0));
    args.push_back(makeFloatRequest(amount));
    EvalContext ctx;
    ctx.shading = &sc;
    const Value v = evaluate(ctx, buildCall(mapping, args, nullptr).get());
    EXPECT_TRUE(v.isVector()) << mapping;
    return v.vector;
}

TEST(BumpMappings, HeightsRisingTowardsPlusXTiltTheNormalTowardsMinusX) {
    const Vec3 up{0, 1, 0};
    // The middle pixel of the ramp: heights 0 and 128 either side, su = 0.5.
    const Vec3 n = bumped("PlanarBumpMapping", {0.5, 0, 0.5}, up, rampImage(64), 1);
    EXPECT_NEAR(n.x, -0.5 / std::sqrt(1.25), 1e-12);
    EXPECT_NEAR(n.y, 1 / std::sqrt(1.25), 1e-12);
    EXPECT_NEAR(n.z, 0, 1e-12);
    // A flat image, or amount 0, leaves the normal.
    for (const char* m : {"PlanarBumpMapping", "CylindricalBumpMapping", "SphericalBumpMapping",
                          "ToroidalBumpMapping", "UVBumpMapping"}) {
        const Vec3 side = normalized(Vec3{1, 0.3, 0.2});
        EXPECT_NEAR(length(bumped(m, {1, 0.3, 0.2}, side, rampImage(0), 1) - side), 0, 1e-12) << m;
        EXPECT_NEAR(length(bumped(m, {1, 0.3, 0.2}, side, rampImage(64), 0) - side), 0, 1e-12) << m;
    }
    // UV bumps tilt against u's direction y x N: on a wall facing -z that is -x.
    const Vec3 uv = bumped("UVBumpMapping", {0, 0, 0}, {0, 0, -1}, rampImage(64), 1);
    EXPECT_NEAR(uv.x, 0.5 / std::sqrt(1.25), 1e-12);
    // Without a shading context a bump mapping gives nothing.
    const RequestPtr call = buildCall(
        "PlanarBumpMapping", {makeVectorRequest({0, 0, 0}), makeImageRequest(rampImage(1), 0)}, nullptr);
    EXPECT_TRUE(evaluate(EvalContext{}, call.get()).isNone());
}

TEST(EnvironmentMapping, EachCubeFaceAlongItsAxis) {
    // Face k is a one-pixel image of grey 10 (k + 1).
    auto map = std::make_shared<EnvironmentMap>();
    for (int k = 0; k < 6; ++k) {
        auto image = greyImage();
        image->width = image->height = 1;
        image->rows = {{static_cast<std::uint8_t>(10 * (k + 1))}};
        map->faces[k] = makeImageRequest(image, 0);
    }
    const RequestPtr env = makeEnvironmentRequest(map);
    auto faceSeen = [&](const Vec3& d) {
        const Value v = evaluate(EvalContext{},
                                 buildCall("EnvironmentMapping", {makeVectorRequest(d), env}, nullptr).get());
        EXPECT_TRUE(v.isVector());
        return static_cast<int>(v.vector.x * 255 + 0.5) / 10 - 1;
    };
    EXPECT_EQ(faceSeen({2, 0.5, -0.5}), 0);
    EXPECT_EQ(faceSeen({-2, 0.5, 0.5}), 1);
    EXPECT_EQ(faceSeen({0.1, 3, 0}), 2);
    EXPECT_EQ(faceSeen({0.1, -3, 0}), 3);
    EXPECT_EQ(faceSeen({0, 0, 1}), 4);
    EXPECT_EQ(faceSeen({0, 0, -1}), 5);
    EXPECT_EQ(faceSeen({1, 1, 1}), 0);  // ties go to x, then y
    EXPECT_EQ(faceSeen({0, 1, -1}), 2);

    const RequestPtr image = makeImageRequest(greyImage(), 0);
    EXPECT_EQ(testing::fatalText([&] {
                  evaluate(
                      EvalContext{},
                      buildCall("EnvironmentMapping", {makeVectorRequest({1, 0, 0}), image}, nullptr).get());
              }),
              "Confusion in image mapping structure");
}

TEST(EnvironmentMapping, FaceCoordinatesFollowTheCubeLayout) {
    // A 2 x 2 face on +x: the direction (1, 0.5, -0.5) lands in its top-right pixel (u = 0.75, v = 0.75).
    auto map = std::make_shared<EnvironmentMap>();
    for (int k = 0; k < 6; ++k) map->faces[k] = makeImageRequest(greyImage(), 0);
    const RequestPtr env = makeEnvironmentRequest(map);
    auto greyIn = [&](const Vec3& d) {
        return evaluate(EvalContext{},
                        buildCall("EnvironmentMapping", {makeVectorRequest(d), env}, nullptr).get())
                   .vector.x *
               255;
    };
    EXPECT_NEAR(greyIn({1, 0.5, -0.5}), 20, 1e-9);
    EXPECT_NEAR(greyIn({-1, -0.5, -0.5}), 30, 1e-9);  // -x: a = z, b = y
    EXPECT_NEAR(greyIn({0.5, 1, 0.5}), 40, 1e-9);     // +y: a = x, b = -z
    EXPECT_NEAR(greyIn({-0.5, 0.5, -1}), 20, 1e-9);   // -z: a = -x, b = y
    EXPECT_NEAR(greyIn({1, 1, 1}), 10, 1e-9);         // clamped inside the face (u = 0, v just below 1)
}

}  // namespace
}  // namespace quorva
