// Vertex normals of a mesh: faces meeting at one position (also across texture seams, where the file
// repeats the position) share their normals when their angle is below the smoothing angle.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "converter/model.h"

namespace quorva::converter {

// Bucket of a position in the vertex hash (1000 buckets): (int)(y * 694.7) ^ (int)(x * 326.4) ^
// (int)(z * 1423.6), unsigned, modulo 1000; products beyond the int range saturate, undefined ones are 0.
unsigned vertexBucket(const Point3& p);

// For every vertex index, the lowest index with exactly the same position.
std::vector<std::uint32_t> mergePositions(const std::vector<Point3>& positions);

// Unit normal of a face wound counter-clockwise seen from outside (zero for a degenerate face).
Point3 faceNormal(const Mesh& mesh, const Face& face);

// The three corner normals of every face. Angle 0 gives each corner its face normal; otherwise a corner
// takes the normalised sum of the normals of the faces at its position within `angle` degrees.
std::vector<std::array<Point3, 3>> smoothNormals(const Mesh& mesh, double angle);

}  // namespace quorva::converter
