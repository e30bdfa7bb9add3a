// The flat shape kinds: the planar Polygon (convex or not) and the TriangularPatch, a triangle with its
// own normal and texture coordinates at each corner, interpolated across the face.
//
// Both are solved in object space. When a scene needs them as triangles (displacement, CSG), they cut
// themselves into mesh triangles in world space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/shape.h"
#include "geometry/shapes.h"

namespace quorva {

// Texture coordinate value that means "not given".
constexpr double TexcoordNotGiven = 1000000.0;

// Which two coordinates a planar figure keeps when projected to 2D: the two that are not the normal's
// largest component (x wins ties, then y).
void projectionAxes(const Vec3& normal, int& axis0, int& axis1);

// The even-odd rule in the projection plane: is (a, b) inside the outline of the points (x[k], y[k])?
// Each edge counts when it crosses the horizontal line through b at or to the left of a (1e-10
// tolerance); an edge end exactly at height b counts as lying above the line, so a vertex on the
// line is counted once.
bool insideOutline(const Vec3* points, std::size_t count, int axis0, int axis1, double a, double b);

// Plane and barycentric basis of a triangle P0 P1 P2: for a point p of its plane, (p - P0) . axis1 and
// (p - P0) . axis2 are the weights of P1 and P2. A triangle without area (collinear or non-finite
// corners) is degenerate: normal (1, 0, 0), zero axes.
struct TriangleFrame {
    Vec3 normal{1, 0, 0};
    Vec3 axis1, axis2;
    bool degenerate = true;
};
TriangleFrame triangleFrame(const Vec3& p0, const Vec3& p1, const Vec3& p2);

class Polygon final : public Shape {
  public:
    // Copies the vertices. The plane normal comes from the first three (it is (1, 0, 0) when they are
    // collinear or fewer than three are given); the bounds are those of the vertices, padded by 1e-8.
    explicit Polygon(const std::vector<Vec3>& vertices);

    std::vector<Vec3> vertices;         // object space, in the order given
    Vec3 normal;                        // unit normal of the first three vertices
    double planeConstant = 0;           // -(normal . vertex 0)
    std::int16_t axis0 = 1, axis1 = 2;  // projection axes

    // Cuts the polygon into triangles (concave outlines included) over its own subdivision mesh.
    void subdivide(World& target) override;
    // Surface coordinates of a hit: its two projected coordinates (a, b, 0).
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    // Inside is the half-space behind the plane (normal . p + D < 0).
    bool inside(const Vec3& worldPoint) const override;
    std::unique_ptr<Shape> clone() const override;
};

// What a TriangularPatch knows of its triangle, worked out once from the corners. It never changes
// after it is made, so every copy of a patch shares it, and the patches of a mesh keep theirs side by
// side in one block.
struct PatchData {
    Vec3 corners[3];          // P0, P1, P2 (object space)
    Vec3 normals[3];          // unit vertex normals
    double texU[3];           // U0, U1, U2
    double texV[3];           // V0, V1, V2
    Vec3 axis1, axis2;        // B1, B2: (p - P0) . B1 and (p - P0) . B2 weigh P1 and P2 at a plane point p
    Vec3 faceNormal;          // unit plane normal used by the ray test
    bool degenerate = false;  // zero-area triangle: never hit
};

// Texture coordinates not given default to (0, 0), (1, 0) and (0, 1) by the corner's place in the
// triangle, each coordinate on its own.
inline constexpr double PatchDefaultU[3] = {0, 1, 0};
inline constexpr double PatchDefaultV[3] = {0, 0, 1};
inline double patchTexcoord(double given, double fallback) {
    return given == TexcoordNotGiven ? fallback : given;
}

// Fills `data` from three corners and returns the patch's box (patchBox of the points).
Box setPatchData(PatchData& data, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
// The same data without the box.
void fillPatchData(PatchData& data, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
// fillPatchData in two parts: what the ray test reads (the corners and the plane frame), and what only
// a hit reads (the unit corner normals and the texture coordinates).
void fillPatchFrame(PatchData& data, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
void fillPatchShading(PatchData& data, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
// A patch's box: that of its corners (finite coordinates only), lowered by 2e-8 and grown by 4e-8.
Box patchBox(const Vec3& p0, const Vec3& p1, const Vec3& p2);

// The patch's ray test over its data, recording hits on `shape` (an object-space ray, as for intersect()).
bool intersectPatchData(IntersectContext& ctx, const Shape& shape, const PatchData& data, const Ray& ray,
                        double tmin, double tmax, Intersection& hit);
// The same test in two steps: where the ray crosses the patch within (tmin, tmax), from the corners and
// the frame only (false for a miss); then the hit recorded from that crossing, which reads the normals
// and texture coordinates too.
struct PatchCrossing {
    double t = 0, r = 0, s = 0;  // distance, and the weights of P1 and P2
    Vec3 p;                      // the point
};
bool crossPatch(const PatchData& data, const Ray& ray, double tmin, double tmax, PatchCrossing& crossing);
bool recordPatchHit(IntersectContext& ctx, const Shape& shape, const PatchData& data, const PatchCrossing& crossing,
                    Intersection& hit);

class TriangularPatch final : public Shape {
  public:
    // A patch with data of its own.
    TriangularPatch(const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2);
    // A patch over shared data (an entry of a mesh's block) with the box setPatchData gave for it.
    TriangularPatch(std::shared_ptr<const PatchData> data, const Box& bounds);

    std::shared_ptr<const PatchData> data;  // never null; shared with every copy

    // The triangle itself in world space, with its normals and texture coordinates.
    void subdivide(World& target) override;
    bool intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                   Intersection& hit) const override;
    // Copies the common record only: the copy shares the patch data.
    std::unique_ptr<Shape> clone() const override;
};

// Hands out patch data in blocks for a reader that makes many patches in a row: each block is one
// allocation that its patches share, and filling it allocates nothing per patch. Blocks grow from a
// few entries to a few thousand, so a small declaration wastes little.
class PatchDataBlocks {
  public:
    // A fresh entry to fill (setPatchData), owned by the block it lies in.
    std::shared_ptr<PatchData> next();

  private:
    std::shared_ptr<PatchData[]> block_;
    std::size_t used_ = 0, size_ = 0;
};

}  // namespace quorva
