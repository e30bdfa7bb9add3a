// The Shape record every piece of geometry shares, the hit record, and the one-shape intersection step.
//
// A shape's own data lives in its subclass (one subclass per kind, `final`); the kind code stays as
// data because messages and the binary formats use it. Shapes are read-only while pixels render.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/transform.h"
#include "geometry/vec3.h"

namespace quorva {

class Shader;
class World;
class IntersectContext;
struct Request;
using RequestPtr = std::shared_ptr<const Request>;

enum class ShapeKind : std::uint16_t {
    BicubicPatch = 1,
    Blobby = 2,
    Box = 3,
    Cone = 4,
    Solid = 5,
    Cylinder = 6,
    Disk = 7,
    ImplicitSurface = 8,
    HeightField = 9,
    LightEntry = 10,
    Nurbs = 11,
    Paraboloid = 12,
    ParametricSurface = 13,
    Polygon = 14,
    PolynomialSurface = 15,
    SurfaceOfRevolution = 16,
    Sphere = 17,
    SphericalHeightField = 18,
    Superquadric = 19,
    Sweep = 20,
    Torus = 21,
    TriangularPatch = 22,
    BoundingGroup = 23,
    MeshTriangle = 24,
    PlacedMesh = 25,  // a flat mesh placed by reference (made by the World, never declared or copied)
    Declared = 151,  // while a shape is only being declared
};

// Attribute flags. The shading bits 0x002..0x040 act only when the same bit is set in the FeatureMask.
namespace ShapeAttr {
constexpr std::uint16_t CastsShadows = 0x001;
constexpr std::uint16_t Shading2 = 0x002;
constexpr std::uint16_t Reflects = 0x004;
constexpr std::uint16_t Refracts = 0x008;
constexpr std::uint16_t UvWindow = 0x010;
constexpr std::uint16_t Shading20 = 0x020;
constexpr std::uint16_t LightFromBehind = 0x040;
constexpr std::uint16_t Default80 = 0x080;
constexpr std::uint16_t DefaultSubdivisions = 0x200;
constexpr std::uint16_t Particle = 0x400;
constexpr std::uint16_t Default = 0x2bf;
}  // namespace ShapeAttr

// One hit record; the caller owns it and passes it in.
struct Intersection {
    int hit = 0;                             // 1 once a hit is recorded
    double distance = 0;                     // world distance from the ray origin
    Vec3 local;                              // surface coordinates for texturing (kind-specific)
    bool localDeferred = false;              // `local` holds the object-space point; see surfaceCoordinates()
    Vec3 normal;                             // world-space normal, not necessarily unit length
    Vec3 point;                              // world-space hit point
    double auxiliary = -1.0;                 // per-hit parameter (mesh triangles)
    const class Shape* shape = nullptr;      // the shape that was hit
    const Shader* shaderOverride = nullptr;  // a mesh triangle's own shader
};
std::string toString(const Intersection& hit);
std::ostream& operator<<(std::ostream& os, const Intersection& hit);

// Output of a kind's parametric evaluation.
struct SurfacePoint {
    Vec3 normal;       // world space, unit length
    Vec3 objectPoint;  // object space
    Vec3 worldPoint;   // world space
    double u = 0, v = 0;
    double extra = 0;
};

// The triangle mesh a shape is cut into (world-space vertices). Normals, texture coordinates and
// per-vertex values are optional (empty vectors).
struct SubdivisionMesh {
    std::vector<Vec3> vertices;
    std::vector<Vec3> normals;
    std::vector<Vec3> texcoords;  // three doubles per vertex
    std::vector<double> values;   // one per vertex; a hit's auxiliary is 2 x their mean
};

// CSG membership test of the enclosing Solid: accepts or rejects a world-space hit point.
class SolidMembership {
  public:
    virtual ~SolidMembership() = default;
    virtual bool accepts(const Vec3& worldPoint) const = 0;
    // The surface is shown through an odd number of complements (the bite of a difference): its
    // outward normal faces into the solid, so hits record it reversed.
    bool reverseNormal = false;
};

class Shape {
  public:
    explicit Shape(ShapeKind kind) : kind(kind) {}
    virtual ~Shape();

    // --- the common record ---
    std::uint8_t headerFlags = 0;
    std::int32_t headerWords[2] = {0, 0};
    ShapeKind kind;
    Vec3 boundsMin{-500000, -500000, -500000};   // world-space box, minimum corner
    Vec3 boundsSize{1000000, 1000000, 1000000};  // world-space box, extent (not the maximum corner)
    Shape* parent = nullptr;                     // enclosing Solid, or the cut shape of a mesh triangle
    std::shared_ptr<const Shader> shader;        // null: inherited through `parent`
    std::unique_ptr<Transform> transform;        // object to world; null = identity
    std::uint16_t attributes = ShapeAttr::Default;
    const SolidMembership* solidTest = nullptr;
    std::uint16_t subdivisions[3] = {32, 32, 32};
    double uvWindow[4] = {-1000000, 1000000, -1000000, 1000000};  // u min, u max, v min, v max
    RequestPtr displacement;                                      // DisplacementMapping, or null
    std::shared_ptr<SubdivisionMesh> mesh;                        // shared with copies
    // Photon-map settings of the Caustics modifier, kept for the photon pass.
    double caustics = 0;
    bool internalCaustics = false;

    Box bounds() const { return {boundsMin, boundsSize}; }
    void setBounds(const Box& b) {
        boundsMin = b.min;
        boundsSize = b.size;
    }
    bool hasDefaultUvWindow() const {
        return uvWindow[0] == -1000000 && uvWindow[1] == 1000000 && uvWindow[2] == -1000000 &&
               uvWindow[3] == 1000000;
    }

    // A transformation statement: bounds become the box of the old bounds under n.forward, then the
    // shape's transform is composed with n (statements act in the order written).
    void applyTransform(const Transform& n);

    // --- the operation table ---
    // Appends polygons or mesh triangles for this shape to `target`. Default: the generic parametric
    // subdivision over `subdivisions` and `uvWindow` using evaluate().
    virtual void subdivide(World& target);
    // Parametric form; false for kinds without one.
    virtual bool hasEvaluate() const { return false; }
    virtual void evaluate(double u, double v, SurfacePoint& out) const;
    // Intersects an object-space ray (unit direction) over [tmin, tmax]; calls recordHit for each root.
    // `hit` arrives with only its `hit` field cleared: read nothing else before recording.
    virtual bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                           Intersection& hit) const;
    // Is the world-space point inside the solid?
    virtual bool inside(const Vec3& worldPoint) const;
    // A copy sharing private data (the duplicate operation): copies the common record as copyShape wants.
    virtual std::unique_ptr<Shape> clone() const = 0;
    // Surface coordinates of an object-space point, for kinds that record hits with recordHitDeferred.
    virtual Vec3 surfaceCoordinatesAt(const Vec3& objectPoint) const { return objectPoint; }
    // Root solver choice (FerrariSolver 0, VietaSolver 1, SturmSolver 2); ignored by kinds without one.
    virtual void setSolver(int /*code*/) {}

  protected:
    // Copies the common record: shares shader, displacement, mesh, parent and solidTest; deep-copies the
    // transform.
    Shape(const Shape& other);
    Shape& operator=(const Shape&) = delete;
};

// Where the shape's shader comes from: its own, else the nearest parent's; null if none.
const Shader* effectiveShader(const Shape& shape);

// The attribute pruning a shader asks for when a shape enters the World: it may clear Reflects,
// Refracts and UvWindow of `attributes` as its terms allow. The World calls it; the shaders implement it.
void pruneByShader(const Shader& shader, std::uint16_t& attributes, bool uvWindowIsDefault);

// The one-shape step: carries a world ray into object space (renormalised direction, tmin advance
// rule), calls intersect() with a fresh record and keeps the result when nearer than `hit`.
bool intersectShape(IntersectContext& ctx, const Ray& worldRay, double tmin, double tmax, Intersection& hit,
                    const Shape& shape);

// The common recording step for one root t (object units) of a kind's intersect().
bool recordHit(IntersectContext& ctx, const Shape& shape, const Vec3& objectNormal, double t,
               const Vec3& objectPoint, Intersection& hit, const Vec3& surfaceCoords);
// The same for kinds whose surface coordinates are costly (angles) and only needed when the hit is
// shaded: unless the uv window is active, the object-space point is kept and the coordinates are worked
// out by surfaceCoordinates() when someone reads them.
bool recordHitDeferred(IntersectContext& ctx, const Shape& shape, const Vec3& objectNormal, double t,
                       const Vec3& objectPoint, Intersection& hit);
// The surface coordinates of a recorded hit (resolving a deferred one).
Vec3 surfaceCoordinates(const Intersection& hit);

// True when the uv window is in force for this shape (the FeatureMask and the shape's attributes
// both have 0x010): kinds then hand (u, v, 0) to recordHit instead of their default coordinates.
bool uvWindowActive(const IntersectContext& ctx, const Shape& shape);

// Fills an evaluate() result from an object-space point and normal: both go through the shape's
// transform and the normal comes out unit length.
void finishSurfacePoint(const Shape& shape, const Vec3& objectPoint, const Vec3& objectNormal, double u,
                        double v, SurfacePoint& out);

// Instances a declared shape: "(internal failure 0x2c) Bad shape type (%d)" for kind 0 or >= 25.
std::unique_ptr<Shape> copyShape(const Shape& definition);

}  // namespace quorva
