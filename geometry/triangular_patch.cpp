// The TriangularPatch: a triangle whose normal and texture coordinates are interpolated from its
// corners. Everything the ray test needs is worked out once, into data that copies share.
#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "geometry/flat_shapes.h"
#include "geometry/shapes.h"
#include "geometry/subdivision.h"
#include "geometry/world.h"

namespace quorva {

TriangleFrame triangleFrame(const Vec3& p0, const Vec3& p1, const Vec3& p2) {
    TriangleFrame frame;
    const Vec3 e1 = p1 - p0, e2 = p2 - p0;
    const Vec3 n = cross(e1, e2);
    const double nn = dot(n, n);
    // No area relative to the edges (collinear corners), or corners that are not finite (the test
    // then fails on NaN): the triangle has no plane.
    if (!(nn > 1e-20 * dot(e1, e1) * dot(e2, e2)) || !std::isfinite(nn)) return frame;
    // The dual basis of the two edges within the plane: e1 . axis1 = e2 . axis2 = 1 and
    // e1 . axis2 = e2 . axis1 = 0.
    frame.normal = n / std::sqrt(nn);
    frame.axis1 = cross(e2, n) / nn;
    frame.axis2 = cross(n, e1) / nn;
    frame.degenerate = false;
    return frame;
}

void fillPatchFrame(PatchData& d, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2) {
    d.corners[0] = c0.point;
    d.corners[1] = c1.point;
    d.corners[2] = c2.point;
    const TriangleFrame frame = triangleFrame(d.corners[0], d.corners[1], d.corners[2]);
    d.faceNormal = frame.normal;
    d.axis1 = frame.axis1;
    d.axis2 = frame.axis2;
    d.degenerate = frame.degenerate;
}

void fillPatchShading(PatchData& d, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2) {
    const PatchCorner* c[3] = {&c0, &c1, &c2};
    for (int i = 0; i < 3; ++i) {
        d.normals[i] = c[i]->normal;
        normalize(d.normals[i]);
        d.texU[i] = patchTexcoord(c[i]->u, PatchDefaultU[i]);
        d.texV[i] = patchTexcoord(c[i]->v, PatchDefaultV[i]);
    }
}

void fillPatchData(PatchData& d, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2) {
    fillPatchShading(d, c0, c1, c2);
    fillPatchFrame(d, c0, c1, c2);
}

Box patchBox(const Vec3& p0, const Vec3& p1, const Vec3& p2) {
    const Vec3* p[3] = {&p0, &p1, &p2};
    Vec3 lo{0, 0, 0}, hi{0, 0, 0};
    for (int axis = 0; axis < 3; ++axis) {
        bool seen = false;
        for (const Vec3* corner : p) {
            const double v = (*corner)[axis];
            if (!std::isfinite(v)) continue;
            lo[axis] = seen ? std::min(lo[axis], v) : v;
            hi[axis] = seen ? std::max(hi[axis], v) : v;
            seen = true;
        }
    }
    return {lo - Vec3{2e-8, 2e-8, 2e-8}, hi - lo + Vec3{4e-8, 4e-8, 4e-8}};
}

Box setPatchData(PatchData& d, const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2) {
    fillPatchData(d, c0, c1, c2);
    return patchBox(d.corners[0], d.corners[1], d.corners[2]);
}

TriangularPatch::TriangularPatch(const PatchCorner& c0, const PatchCorner& c1, const PatchCorner& c2)
    : Shape(ShapeKind::TriangularPatch) {
    auto own = std::make_shared<PatchData>();
    setBounds(setPatchData(*own, c0, c1, c2));
    data = std::move(own);
}

TriangularPatch::TriangularPatch(std::shared_ptr<const PatchData> shared, const Box& bounds)
    : Shape(ShapeKind::TriangularPatch), data(std::move(shared)) {
    setBounds(bounds);
}

std::unique_ptr<Shape> makeTriangularPatch(const PatchCorner& c0, const PatchCorner& c1,
                                           const PatchCorner& c2) {
    try {
        return std::make_unique<TriangularPatch>(c0, c1, c2);
    } catch (const std::bad_alloc&) {
        fatal("Failed to allocate TriangularPatch");
    }
}

std::unique_ptr<Shape> TriangularPatch::clone() const {
    return std::unique_ptr<Shape>(new TriangularPatch(*this));
}

std::shared_ptr<PatchData> PatchDataBlocks::next() {
    constexpr std::size_t FirstBlock = 16, LargestBlock = 4096;
    if (used_ == size_) {
        const std::size_t size = size_ == 0 ? FirstBlock : std::min(2 * size_, LargestBlock);
        block_ = std::make_shared_for_overwrite<PatchData[]>(size);
        size_ = size;
        used_ = 0;
    }
    return std::shared_ptr<PatchData>(block_, &block_[used_++]);
}

bool TriangularPatch::intersect(IntersectContext& ctx, const Ray& ray, double tmin, double tmax,
                                Intersection& hit) const {
    return intersectPatchData(ctx, *this, *data, ray, tmin, tmax, hit);
}

bool crossPatch(const PatchData& d, const Ray& ray, double tmin, double tmax, PatchCrossing& c) {
    if (d.degenerate) return false;
    const double denom = dot(d.faceNormal, ray.direction);
    if (std::fabs(denom) < 1e-8) return false;
    const double t = dot(d.faceNormal, d.corners[0] - ray.origin) / denom;
    if (t < tmin) return false;
    const Vec3 p = ray.at(t);
    const Vec3 q = p - d.corners[0];
    const double r = dot(q, d.axis1), s = dot(q, d.axis2);
    if (r < -1e-8 || s < -1e-8 || r + s > 1.00000001) return false;
    // The range is open at both ends: a hit exactly at tmin is the surface the ray starts from.
    if (!(t > tmin && t < tmax)) return false;
    c.t = t;
    c.r = r;
    c.s = s;
    c.p = p;
    return true;
}

bool recordPatchHit(IntersectContext& ctx, const Shape& shape, const PatchData& d, const PatchCrossing& c,
                    Intersection& hit) {
    const double r = c.r, s = c.s;
    const double w = 1 - r - s;
    const Vec3 n = normalized(d.normals[0] * w + d.normals[1] * r + d.normals[2] * s);
    const Vec3 coords{w * d.texU[0] + r * d.texU[1] + s * d.texU[2],
                      w * d.texV[0] + r * d.texV[1] + s * d.texV[2], 0};
    return recordHit(ctx, shape, n, c.t, c.p, hit, coords);
}

bool intersectPatchData(IntersectContext& ctx, const Shape& shape, const PatchData& d, const Ray& ray,
                        double tmin, double tmax, Intersection& hit) {
    PatchCrossing crossing;
    return crossPatch(d, ray, tmin, tmax, crossing) && recordPatchHit(ctx, shape, d, crossing, hit);
}

void TriangularPatch::subdivide(World& target) {
    const PatchData& d = *data;
    const Transform* t = transform.get();
    auto mesh = std::make_shared<SubdivisionMesh>();
    for (int i = 0; i < 3; ++i) {
        mesh->vertices.push_back(pointToWorld(t, d.corners[i]));
        mesh->normals.push_back(normalized(normalToWorld(t, d.normals[i])));
        mesh->texcoords.push_back({d.texU[i], d.texV[i], 0});
        mesh->values.push_back(0);
    }
    appendMeshTriangles(*this, std::move(mesh), {{0, 1, 2}}, target);
}

}  // namespace quorva
