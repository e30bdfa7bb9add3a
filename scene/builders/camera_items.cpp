// Builders of the Camera items.
#include "scene/builders/camera_items.h"

#include <cstdint>

#include "diagnostics/diagnostics.h"
#include "trace/camera.h"
#include "trace/options.h"

namespace quorva {

namespace {

constexpr double DegreesToRadians = 0.017453292519943295;

}  // namespace

void buildAntialiasing(Options& o, int n) {
    if (n < 0) fatal("Antialiasing value must be greater than zero");
    o.antialiasing = n;
    o.undersampling = false;
}

void buildUndersampling(Options& o, int n) {
    if (n < 1 || n > 10) fatal("Incorrect undersampling quality level");
    o.antialiasing = n;
    o.undersampling = true;
}

void buildFieldOfView(Camera& c, double degrees) {
    c.fieldOfView = degrees;
    c.halfAngle = degrees * 0.5 * DegreesToRadians;
    c.fieldOfViewGiven = true;
}

void buildFormat(Camera& c, int width, int height) {
    if (width < 1 || height < 1)
        fatal("Image format must be at least 1 x 1 pixels, not %d x %d", width, height);
    c.width = width;
    c.height = height;
    c.lastRow = height;
}

void buildLensModel(Camera& c, int n) {
    if (n < 1 || n > 6) fatal("Incorrect camera lens model");
    c.lensModel = static_cast<std::uint8_t>(LensPerspective - 1 + n);
}

void buildPixelFilter(Camera& c, int type, double widthX, double widthY) {
    c.pixelFilterType = (type < 1 || type > 7) ? -1 : type;
    c.pixelFilterWidthX = (widthX >= 1 && widthX <= 5) ? widthX : 3;
    c.pixelFilterWidthY = (widthY >= 1 && widthY <= 5) ? widthY : 3;
}

}  // namespace quorva
