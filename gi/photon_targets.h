// Where caustic photons go and where they leave from: the targets of a frame (shapes marked by the
// Caustics modifier or by a shader's Caustics value, found inside groups and solids too) and the
// emitting positions of a light (one for point-like lights, every sample position of an area light).
#pragma once

#include <vector>

#include "geometry/vec3.h"

namespace quorva {

class Shape;
class World;
class Light;
class RenderContext;

struct CausticTarget {
    const Shape* shape = nullptr;
    double spacingFactor = 1;  // the modifier's factor on the photon spacing
    double powerFactor = 1;    // the shader's Caustics value on the photons' power
    bool internal = false;     // photons are also stored on the target itself
};

// The targets in main-list order, each once. Groups are entered; a mesh triangle stands for the shape
// it was cut from; of a solid component and its enclosing solids the outermost marked one is the
// target. A shape is marked by Caustics f > 0 or by its own shader's Caustics c > 0 (evaluated at the
// centre of its bounds), and only with attribute 0x080.
std::vector<CausticTarget> findCausticTargets(RenderContext& ctx, const World& world);

// The positions a light shoots its photons from towards `towards`: the light's own position for point,
// spot and spherical lights without a bulb, the cell centres of a flat area light's grid (128 x 128 at most)
// (turned to face `towards` when the light faces the point it lights), and as many points as its shadow
// samples spread over the disc of a spherical bulb seen from `towards`. Empty when a front-only flat light
// turns its back to `towards`.
std::vector<Vec3> emittingPositions(RenderContext& ctx, const Light& light, const Vec3& towards);

// A shape no ray ever hits: the "target" passed along photon paths when photons may be stored on the
// real target too.
const Shape& shapeNeverHit();

}  // namespace quorva
