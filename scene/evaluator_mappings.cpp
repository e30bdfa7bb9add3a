// Image texture mappings: a point (or the hit's surface coordinates) is projected to texture
// coordinates (u, v) and the image is looked up there — a colour for the Image mappings, an index for
// the Indexed ones, a height for PixelHeight. Bump and environment mappings are not evaluated here.
#include "scene/evaluator_mappings.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "image/texture_image.h"
#include "scene/request.h"

namespace quorva {
namespace {

enum class Projection { Planar, Cylindrical, Spherical, Toroidal, UV };
enum class Lookup { Colour, Index, Height };

constexpr double TwoPi = 6.283185307179586;

// Angle of (x, z) around the y axis in [0, 2 pi); 0 on the axis.
double angleAroundY(double x, double z) {
    double rho = std::sqrt(x * x + z * z);
    if (rho < 1e-8) return 0;
    double a = std::acos(std::fmax(-1.0, std::fmin(1.0, x / rho)));
    return z < 0 ? TwoPi - a : a;
}

// Texture coordinates of a point under a projection; false when the point cannot be projected.
bool project(Projection projection, const Vec3& p, double& u, double& v) {
    switch (projection) {
        case Projection::Planar:
            u = p.x;
            v = p.z;
            return true;
        case Projection::Cylindrical:
            u = angleAroundY(p.x, p.z) / TwoPi;
            v = p.y;
            return true;
        case Projection::Spherical:
        case Projection::Toroidal: {
            // Both work on the direction of the point; the origin maps to (0, 0).
            const double len = length(p);
            if (len < 1e-8) {
                u = v = 0;
                return true;
            }
            const Vec3 n = p / len;
            u = angleAroundY(n.x, n.z) / TwoPi;
            if (projection == Projection::Spherical) {
                v = std::asin(std::fmax(-1.0, std::fmin(1.0, n.y))) / M_PI + 0.5;
                return true;
            }
            double h = std::sqrt(n.x * n.x + n.z * n.z);
            double a = std::acos(std::fmax(-1.0, std::fmin(1.0, -h)));
            v = (n.y > 0 ? TwoPi - a : a) / TwoPi;
            return true;
        }
        case Projection::UV:
            break;
    }
    fatal("Unsupported mapping type");
}

bool describe(BuiltinId id, Projection& projection, Lookup& lookup) {
    switch (id) {
        case BuiltinId::PlanarImageMapping:
            projection = Projection::Planar;
            lookup = Lookup::Colour;
            return true;
        case BuiltinId::CylindricalImageMapping:
            projection = Projection::Cylindrical;
            lookup = Lookup::Colour;
            return true;
        case BuiltinId::SphericalImageMapping:
            projection = Projection::Spherical;
            lookup = Lookup::Colour;
            return true;
        case BuiltinId::ToroidalImageMapping:
            projection = Projection::Toroidal;
            lookup = Lookup::Colour;
            return true;
        case BuiltinId::UVImageMapping:
            projection = Projection::UV;
            lookup = Lookup::Colour;
            return true;
        case BuiltinId::PlanarIndexedMapping:
            projection = Projection::Planar;
            lookup = Lookup::Index;
            return true;
        case BuiltinId::CylindricalIndexedMapping:
            projection = Projection::Cylindrical;
            lookup = Lookup::Index;
            return true;
        case BuiltinId::SphericalIndexedMapping:
            projection = Projection::Spherical;
            lookup = Lookup::Index;
            return true;
        case BuiltinId::ToroidalIndexedMapping:
            projection = Projection::Toroidal;
            lookup = Lookup::Index;
            return true;
        case BuiltinId::UVIndexedMapping:
            projection = Projection::UV;
            lookup = Lookup::Index;
            return true;
        case BuiltinId::PixelHeight:
            projection = Projection::Planar;
            lookup = Lookup::Height;
            return true;
        default:
            return false;
    }
}

const ImageFile& imageOf(const Value& value) {
    if (value.type != Value::Type::Other || !value.other || value.other->kind != RequestKind::Image ||
        !value.other->image)
        fatal("Confusion in image mapping structure");
    return *value.other->image;
}

}  // namespace

bool isImageMapping(BuiltinId id) {
    Projection p;
    Lookup l;
    return describe(id, p, l);
}

Value evaluateImageMapping(const EvalContext& ctx, BuiltinId id, int count, const Value* args) {
    Projection projection;
    Lookup lookup;
    if (!describe(id, projection, lookup)) return Value::none();

    // UV mappings take (image [, tile]); the others (point, image [, tile]).
    int imageArgument = projection == Projection::UV ? 0 : 1;
    if (count <= imageArgument) return Value::none();
    const ImageFile& image = imageOf(args[imageArgument]);
    bool tile = true;
    if (count > imageArgument + 1) {
        if (!args[imageArgument + 1].isNumber()) return Value::none();
        tile = args[imageArgument + 1].number != 0;
    }

    double u = 0, v = 0;
    if (projection == Projection::UV) {
        if (!ctx.shading) return Value::none();
        ctx.shading->resolveSurfaceCoordinates();
        u = ctx.shading->u;
        v = ctx.shading->v;
    } else {
        if (!args[0].isVector()) return Value::none();
        if (!project(projection, args[0].vector, u, v)) return Value::none();
    }

    int interpolation = image.interpolation >= 0 && image.interpolation <= 2 ? image.interpolation : 0;
    switch (lookup) {
        case Lookup::Colour: {
            ImageSample s = imageColor(image, interpolation, tile, u, v);
            return Value::ofVector({s.colour.r, s.colour.g, s.colour.b}, s.filter);
        }
        case Lookup::Index:
            return Value::ofNumber(imageIndex(image, interpolation, tile, u, v));
        case Lookup::Height:
            return Value::ofNumber(imageHeight(image, interpolation, tile, u, v));
    }
    fatal("Unknown texture mapping type");
}

}  // namespace quorva
