// Cutting shapes into the triangles the previews draw: the same triangles ray tracing would use.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/vec3.h"

namespace quorva {

class Shape;
class Shader;
class SolidMembership;
struct SubdivisionMesh;

// One corner of a preview triangle, in world space.
struct PreviewVertex {
    Vec3 point;
    Vec3 normal;    // unit length; zero when the cut gives none (use the face normal)
    Vec3 texcoord;  // surface coordinates; meaningful when hasTexcoord
    bool hasTexcoord = false;
};

// The surface the following triangles belong to, as a hit would record it.
struct PreviewSurface {
    const Shape* shape = nullptr;
    const Shader* shaderOverride = nullptr;  // a mesh triangle's own shader
    // A CSG component's membership test: only the points it accepts belong to the surface.
    const SolidMembership* clip = nullptr;
};

// Triangle edges as bits of the `edges` mask: corner 0 to 1, 1 to 2, 2 to 0.
constexpr unsigned EdgeAB = 1, EdgeBC = 2, EdgeCA = 4, AllEdges = 7;

class TriangleSink {
  public:
    virtual ~TriangleSink() = default;
    // Every triangle up to the next call belongs to `surface` (which outlives the cut).
    virtual void beginSurface(const PreviewSurface& /*surface*/) {}
    // One triangle (corners in the order of the cut); `edges` names the edges to outline, so that an
    // edge two triangles of a grid share is drawn once.
    virtual void triangle(const PreviewVertex& a, const PreviewVertex& b, const PreviewVertex& c,
                          unsigned edges) = 0;
    // A grid (or a strip of one) of (uCount + 1) x (vCount + 1) vertices, u varying fastest: each cell
    // (a, b, c, d) counter-clockwise from its lowest corner is the triangles a-b-c and a-c-d. Every grid
    // edge is outlined once: a cell outlines its lower and left edges and its diagonal, the last column
    // its right edge, and the last row its top edge when `topEdges` (the last strip of a grid).
    virtual void grid(const PreviewVertex* vertices, int uCount, int vCount, bool topEdges);
};

// Reused storage of the cut.
struct TriangleScratch {
    std::vector<PreviewVertex> grid;

    // A shape cut twice in a row (the two passes of the hidden-line previews) need not go through a
    // temporary World again: the first pass records the mesh triangles such cuts give, the second
    // replays them in the same order.
    enum class Tape { Off, Record, Replay };
    Tape tape = Tape::Off;
    struct TapeTriangle {
        const SubdivisionMesh* mesh;
        std::uint32_t index[3];
        bool outline;  // cut from a polygon: only the polygon's own edges are outlined
    };
    struct TapeCut {
        std::size_t begin = 0, end = 0;
        bool complete = true;  // false: the cut gave more than mesh triangles; cut it again
    };
    std::vector<TapeTriangle> triangles;
    std::vector<std::shared_ptr<const SubdivisionMesh>> meshes;  // kept alive for the replay
    std::vector<TapeCut> cuts;
    std::size_t nextCut = 0;
    bool recording = false;  // inside a recorded cut

    // Starts replaying what was recorded.
    void rewind() {
        tape = Tape::Replay;
        nextCut = 0;
    }
};

// Hands every triangle of `shape` to `sink`: groups recurse, mesh triangles go as they are, parametric
// kinds are evaluated on their subdivision grid, other kinds are cut into a temporary World (a copy is
// cut, so the shape keeps its own mesh; its triangles are reported as the shape's own surface). Kinds
// without a cut give nothing.
void cutIntoTriangles(const Shape& shape, TriangleSink& sink, TriangleScratch& scratch);

// The unit normal of triangle a-b-c (corners in order), or zero when its cross product is shorter than
// 1e-8.
Vec3 faceNormal(const Vec3& a, const Vec3& b, const Vec3& c);

}  // namespace quorva
