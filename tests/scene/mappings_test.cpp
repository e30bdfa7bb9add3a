// Image texture mappings in expressions: each projection picks the pixel its (u, v) rule names.
#include <gtest/gtest.h>

#include "image/texture_image.h"
#include "scene/builtins.h"
#include "scene/value.h"
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

}  // namespace
}  // namespace quorva
