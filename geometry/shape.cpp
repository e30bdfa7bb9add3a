// The common Shape record, the one-shape intersection step, hit recording and shape copies.
#include "geometry/shape.h"

#include "diagnostics/diagnostics.h"
#include "diagnostics/internal_failure.h"
#include "geometry/intersect_context.h"
#include "geometry/mesh_triangle.h"
#include "geometry/placed_mesh.h"
#include "geometry/world.h"

namespace quorva {

Shape::~Shape() = default;

Shape::Shape(const Shape& o)
    : headerFlags(o.headerFlags),
      kind(o.kind),
      boundsMin(o.boundsMin),
      boundsSize(o.boundsSize),
      parent(o.parent),
      shader(o.shader),
      transform(o.transform ? std::make_unique<Transform>(*o.transform) : nullptr),
      attributes(o.attributes),
      solidTest(o.solidTest),
      displacement(o.displacement),
      mesh(o.mesh),
      caustics(o.caustics),
      internalCaustics(o.internalCaustics) {
    headerWords[0] = o.headerWords[0];
    headerWords[1] = o.headerWords[1];
    for (int i = 0; i < 3; ++i) subdivisions[i] = o.subdivisions[i];
    for (int i = 0; i < 4; ++i) uvWindow[i] = o.uvWindow[i];
}

void Shape::applyTransform(const Transform& n) {
    setBounds(transformBox(bounds(), n.forward));
    if (!transform) transform = std::make_unique<Transform>();
    compose(*transform, n);
}

void Shape::evaluate(double, double, SurfacePoint&) const {}
bool Shape::intersect(IntersectContext&, const Ray&, double, double, Intersection&) const {
    return false;
}
bool Shape::inside(const Vec3&) const {
    return false;
}

const Shader* effectiveShader(const Shape& shape) {
    for (const Shape* s = &shape; s; s = s->parent)
        if (s->shader) return s->shader.get();
    return nullptr;
}

namespace {

// Steps 2 to 7 of the one-shape intersection with `local` as the kind's fresh record (only its `hit`
// needs clearing: the kinds read nothing else before recordHit fills it).
inline bool intersectOne(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax,
                         Intersection& hit, const Shape& shape, Intersection& local) {
    local.hit = 0;
    double offset = 0;
    double scale = 1;
    if (shape.kind == ShapeKind::MeshTriangle) {
        static_cast<const MeshTriangle&>(shape).intersectWorldRay(ctx, worldRay, tmin, tmax, local);
    } else if (shape.kind == ShapeKind::PlacedMesh) {
        static_cast<const PlacedMesh&>(shape).intersectWorldRay(ctx, worldRay, tmin, tmax, local);
    } else {
        Ray ray = worldRay;
        if (const Transform* t = shape.transform.get()) {
            ray.origin = transformPoint(t->inverse, worldRay.origin);
            ray.direction = transformVector(t->inverse, worldRay.direction);
            // Object-space distances count in units of the renormalised direction.
            scale = normalize(ray.direction);
            tmin *= scale;
            tmax *= scale;
        }
        // Start far-off searches from the advanced origin so the kinds work near t = 0, where their
        // arithmetic is best conditioned; the offset is added back below.
        if (tmin > ctx.settings.minRayDistance) {
            ray.origin += ray.direction * tmin;
            offset = tmin;
            tmax -= tmin;
            tmin = 0;
        }
        shape.intersect(ctx, ray, tmin, tmax, local);
    }
    if (!local.hit) return false;

    const double distance = (local.distance + offset) / scale;
    if (hit.hit && !(distance < hit.distance)) return false;
    hit = local;
    hit.distance = distance;
    return true;
}

// A shape that searches other shapes from inside its own intersect() gets a record of its own.
[[gnu::noinline]] bool intersectNested(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax,
                                       Intersection& hit, const Shape& shape) {
    Intersection local;
    return intersectOne(ctx, worldRay, tmin, tmax, hit, shape, local);
}

}  // namespace

bool intersectShape(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax, Intersection& hit,
                    const Shape& shape) {
    // A mesh triangle answers for the shape it was cut from.
    const Shape& owner = shape.kind == ShapeKind::MeshTriangle && shape.parent ? *shape.parent : shape;
    if (ctx.anyHit && !(owner.attributes & ShapeAttr::CastsShadows)) return false;
    if (ctx.particleCollision && (owner.attributes & ShapeAttr::Particle)) return false;

    if (ctx.scratchHitBusy) return intersectNested(ctx, worldRay, tmin, tmax, hit, shape);
    struct Claim {
        bool& busy;
        explicit Claim(bool& b) : busy(b) { busy = true; }
        ~Claim() { busy = false; }
    } claim(ctx.scratchHitBusy);
    return intersectOne(ctx, worldRay, tmin, tmax, hit, shape, ctx.scratchHit);
}

namespace {

inline bool recordHitAt(IntersectContext& ctx, const Shape& shape, const Vec3& objectNormal, double t,
                        const Vec3& objectPoint, Intersection& hit, const Vec3& surfaceCoords,
                        bool deferred) {
    // A nearer root already recorded wins; the caller still counts this root as handled.
    if (hit.hit && !(t < hit.distance)) return true;

    const Transform* transform = shape.transform.get();
    const Vec3 worldPoint = pointToWorld(transform, objectPoint);
    if (shape.parent && shape.solidTest && !shape.solidTest->accepts(worldPoint)) return false;

    if (uvWindowActive(ctx, shape)) {
        const double* w = shape.uvWindow;
        if (surfaceCoords.x < w[0] || surfaceCoords.x > w[1] || surfaceCoords.y < w[2] ||
            surfaceCoords.y > w[3])
            return false;
    }

    hit.hit = 1;
    hit.distance = t;
    hit.shape = &shape;
    hit.auxiliary = -1.0;
    hit.shaderOverride = nullptr;
    hit.local = surfaceCoords;
    hit.localDeferred = deferred;
    hit.point = worldPoint;
    hit.normal = normalToWorld(transform, objectNormal);
    if (shape.solidTest && shape.solidTest->reverseNormal) hit.normal = -hit.normal;
    return true;
}

}  // namespace

bool recordHit(IntersectContext& ctx, const Shape& shape, const Vec3& objectNormal, double t,
               const Vec3& objectPoint, Intersection& hit, const Vec3& surfaceCoords) {
    return recordHitAt(ctx, shape, objectNormal, t, objectPoint, hit, surfaceCoords, false);
}

bool recordHitDeferred(IntersectContext& ctx, const Shape& shape, const Vec3& objectNormal, double t,
                       const Vec3& objectPoint, Intersection& hit) {
    if (uvWindowActive(ctx, shape))
        return recordHitAt(ctx, shape, objectNormal, t, objectPoint, hit,
                           shape.surfaceCoordinatesAt(objectPoint), false);
    return recordHitAt(ctx, shape, objectNormal, t, objectPoint, hit, objectPoint, true);
}

Vec3 surfaceCoordinates(const Intersection& hit) {
    if (hit.localDeferred && hit.shape) return hit.shape->surfaceCoordinatesAt(hit.local);
    return hit.local;
}

bool uvWindowActive(const IntersectContext& ctx, const Shape& shape) {
    return (ctx.settings.featureMask & shape.attributes & ShapeAttr::UvWindow) != 0;
}

void finishSurfacePoint(const Shape& shape, const Vec3& objectPoint, const Vec3& objectNormal, double u,
                        double v, SurfacePoint& out) {
    const Transform* t = shape.transform.get();
    out.objectPoint = objectPoint;
    out.worldPoint = pointToWorld(t, objectPoint);
    out.normal = normalized(normalToWorld(t, objectNormal));
    out.u = u;
    out.v = v;
    out.extra = 0;
}

std::unique_ptr<Shape> copyShape(const Shape& definition) {
    const int kind = static_cast<int>(definition.kind);
    if (kind == 0 || kind >= 25) internalFailure(InternalFailure::BadShapeType, "Bad shape type (%d)", kind);
    // The copy shares the definition's private data, shader, displacement and mesh; it owns its own
    // transform.
    return definition.clone();
}

std::string toString(const Intersection& h) {
    return formatText("{hit %d, distance %g, point %s, normal %s}", h.hit, h.distance,
                      toString(h.point).c_str(), toString(h.normal).c_str());
}
std::ostream& operator<<(std::ostream& os, const Intersection& h) {
    return os << toString(h);
}

}  // namespace quorva
