// Displacement mapping: moves the vertices of a subdivision mesh along their normals by the value of a
// DisplacementMapping expression and recomputes the normals of the displaced surface.
#pragma once

#include <vector>

#include "geometry/shape.h"
#include "geometry/subdivision.h"

namespace quorva {

struct AnimationCounters;

// Evaluates `expression` once per vertex with the shading variables set as shading would see that
// point of `shape`: P and Po the object-space vertex, N its object-space unit normal, u and v (and
// Puv) its texture coordinates. A number is the distance, in object units, to move the vertex along
// N; anything else, or a value that is not finite, leaves the vertex where it is. Afterwards every
// vertex normal is the area-weighted mean of the displaced faces around it (vertices that coincided
// before displacement, like those along a seam or at a pole, share one normal), oriented like the
// normals the mesh came with. `frames` supplies CurrentFrame and the other counters (0 when null).
void displaceMesh(const Shape& shape, const Request& expression, SubdivisionMesh& mesh,
                  const std::vector<MeshFace>& faces, const AnimationCounters* frames);

}  // namespace quorva
