// Image texture mappings: a point (or the hit's surface coordinates) is projected to texture
// coordinates (u, v) and the image is looked up there — a colour for the Image mappings, an index for
// the Indexed ones, a height for PixelHeight, a tilted normal for the Bump mappings. The environment
// mapping reads one of six cube faces in a direction.
#include "scene/evaluator_mappings.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/request.h"
#include "eval/value.h"
#include "image/texture_image.h"

namespace quorva {
namespace {

enum class Projection { Planar, Cylindrical, Spherical, Toroidal, UV };
enum class Lookup { Colour, Index, Height, Bump };

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
        case BuiltinId::PlanarBumpMapping:
            projection = Projection::Planar;
            lookup = Lookup::Bump;
            return true;
        case BuiltinId::CylindricalBumpMapping:
            projection = Projection::Cylindrical;
            lookup = Lookup::Bump;
            return true;
        case BuiltinId::SphericalBumpMapping:
            projection = Projection::Spherical;
            lookup = Lookup::Bump;
            return true;
        case BuiltinId::ToroidalBumpMapping:
            projection = Projection::Toroidal;
            lookup = Lookup::Bump;
            return true;
        case BuiltinId::UVBumpMapping:
            projection = Projection::UV;
            lookup = Lookup::Bump;
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

// Unit directions in which u and v grow at point p (normal n) under a projection, made perpendicular
// to n.
void tangents(Projection projection, const Vec3& p, const Vec3& n, Vec3& tu, Vec3& tv) {
    tu = {1, 0, 0};
    tv = {0, 0, 1};
    switch (projection) {
        case Projection::Planar:
            break;
        case Projection::Cylindrical: {
            const double rho = std::sqrt(p.x * p.x + p.z * p.z);
            if (rho >= 1e-8) tu = Vec3{-p.z, 0, p.x} / rho;
            tv = {0, 1, 0};
            break;
        }
        case Projection::Spherical:
        case Projection::Toroidal: {
            // Around the y axis, and along the meridian towards +y (v grows with the latitude for both).
            const double len = length(p);
            if (!(len >= 1e-8)) break;
            const Vec3 d = p / len;
            const double h = std::sqrt(d.x * d.x + d.z * d.z);
            if (h < 1e-8) break;
            tu = Vec3{-d.z, 0, d.x} / h;
            tv = {-d.y * d.x / h, h, -d.y * d.z / h};
            break;
        }
        case Projection::UV: {
            Vec3 t = cross(Vec3{0, 1, 0}, n);
            if (lengthSquared(t) < 1e-8) t = cross(Vec3{1, 0, 0}, n);
            normalize(t);
            tu = t;
            tv = cross(n, tu);
            break;
        }
    }
    tu -= n * dot(tu, n);
    tv -= n * dot(tv, n);
}

// N' = normalise(N - amount (su Tu + sv Tv)) with su, sv the height differences one pixel either side
// of (u, v), over 256: heights rising towards +u tilt the normal towards -Tu.
Vec3 bumpedNormal(const ImageFile& image, int interpolation, Projection projection, const Vec3& p,
                  const Vec3& n, double amount, double u, double v) {
    const double du = 1.0 / image.width, dv = 1.0 / image.height;
    const double su = (imageHeight(image, interpolation, true, u + du, v) -
                       imageHeight(image, interpolation, true, u - du, v)) /
                      256.0;
    const double sv = (imageHeight(image, interpolation, true, u, v + dv) -
                       imageHeight(image, interpolation, true, u, v - dv)) /
                      256.0;
    Vec3 tu, tv;
    tangents(projection, p, n, tu, tv);
    return normalized(n - (tu * su + tv * sv) * amount);
}

// Texture coordinates on a cube face for the direction d: faces 0..5 are +x, -x, +y, -y, +z, -z.
bool cubeFace(const Vec3& d, int& face, double& u, double& v) {
    const double ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    double a, b, m;
    if (ax >= ay && ax >= az) {
        m = ax;
        face = d.x >= 0 ? 0 : 1;
        a = d.x >= 0 ? -d.z : d.z;
        b = d.y;
    } else if (ay >= az) {
        m = ay;
        face = d.y >= 0 ? 2 : 3;
        a = d.x;
        b = d.y >= 0 ? -d.z : d.z;
    } else {
        m = az;
        face = d.z >= 0 ? 4 : 5;
        a = d.z >= 0 ? d.x : -d.x;
        b = d.y;
    }
    if (!(m > 0) || !std::isfinite(m)) return false;
    constexpr double BelowOne = 1.0 - 1e-12;
    u = std::clamp((a / m + 1) / 2, 0.0, BelowOne);
    v = std::clamp((b / m + 1) / 2, 0.0, BelowOne);
    return true;
}

Value environmentMapping(int count, const Value* args) {
    if (count < 2) return Value::none();
    const Value& env = args[1];
    if (env.type != Value::Type::Other || !env.other || env.other->kind != RequestKind::Environment ||
        !env.other->environment)
        fatal("Confusion in image mapping structure");
    if (!args[0].isVector()) return Value::none();
    int face;
    double u, v;
    if (!cubeFace(args[0].vector, face, u, v)) return Value::none();
    const RequestPtr& faceNode = env.other->environment->faces[face];
    if (!faceNode || faceNode->kind != RequestKind::Image || !faceNode->image)
        fatal("Confusion in image mapping structure");
    const ImageFile& image = *faceNode->image;
    const int interpolation = image.interpolation >= 0 && image.interpolation <= 2 ? image.interpolation : 0;
    const ImageSample s = imageColor(image, interpolation, false, u, v);
    return Value::ofVector({s.colour.r, s.colour.g, s.colour.b}, s.filter);
}

}  // namespace

bool isImageMapping(BuiltinId id) {
    Projection p;
    Lookup l;
    return id == BuiltinId::EnvironmentMapping || describe(id, p, l);
}

Value evaluateImageMapping(const EvalContext& ctx, BuiltinId id, int count, const Value* args) {
    if (id == BuiltinId::EnvironmentMapping) return environmentMapping(count, args);
    Projection projection;
    Lookup lookup;
    if (!describe(id, projection, lookup)) return Value::none();

    // UV mappings take (image [, tile]); the others (point, image [, tile]). Bump mappings take an
    // amount (1 by default) instead of the tile flag, are always tiled and read the context's normal.
    int imageArgument = projection == Projection::UV ? 0 : 1;
    if (count <= imageArgument) return Value::none();
    const ImageFile& image = imageOf(args[imageArgument]);
    if (lookup == Lookup::Bump && !ctx.shading) return Value::none();
    bool tile = true;
    double amount = 1;
    if (count > imageArgument + 1 && lookup == Lookup::Bump) {
        if (!args[imageArgument + 1].isNumber()) return Value::none();
        amount = args[imageArgument + 1].number;
    } else if (count > imageArgument + 1) {
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
        case Lookup::Bump: {
            if (image.width == 0 || image.height == 0) return Value::none();
            const Vec3 p = projection == Projection::UV ? ctx.shading->P : args[0].vector;
            return Value::ofVector(
                bumpedNormal(image, interpolation, projection, p, ctx.shading->N, amount, u, v));
        }
    }
    fatal("Unknown texture mapping type");
}

}  // namespace quorva
