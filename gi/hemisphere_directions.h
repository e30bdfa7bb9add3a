// Directions over the hemisphere for the irradiance samples, in the local frame (z along the normal),
// cosine weighted: the N-Rooks permutation tables of distribution 6 and the five fixed distributions.
//
// Fixed distributions (each valid for any count N; sample k of N):
//   1  Fibonacci spiral: xi = (k + 0.5) / N, phi from the fractional part of k times the golden ratio
//   2  Hammersley: xi = (k + 0.5) / N, phi from the base-2 radical inverse of k
//   3  Halton in bases 2 and 3 (index k + 1)
//   4  a regular grid of ceil(sqrt N) columns over (xi, phi), cell centres
//   5  Halton in bases 3 and 5 (index k + 1)
// A pair (xi, u) maps to (cos phi sqrt(1 - xi), sin phi sqrt(1 - xi), sqrt xi) with phi = 2 pi u.
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

// Largest N-Rooks table made; a larger sample count is refused before anything is allocated.
inline constexpr long MaxNRooksSize = 1L << 24;

// A permutation of 0..n-1 drawn with the quasi-random generator: each entry is round(value x (n - 1)),
// drawn again while it is taken. Fatal for n < 1 or n above MaxNRooksSize.
std::vector<int> makeNRooksTable(int n);

// The cosine-weighted direction of a unit-square point.
Vec3 cosineDirection(double xi, double u);

// Sample k of n of fixed distribution 1..5.
Vec3 fixedDirection(int distribution, int k, int n);

}  // namespace quorva
