// What surface shading asks of global illumination: the irradiance at a point and the caustic light
// gathered from the photon maps. The irradiance cache and the photon maps implement it; without them
// (a null provider) those shading terms add nothing.
//
// Every render worker calls these at the same time, each with its own context. This is where a structure
// filled while rendering is consulted; it may be updated only where finished work units are collected
// (render/work_units.h), and what a call returns must not depend on which rows other workers have
// finished, or images would change with the thread count.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

class RenderContext;
struct ShadePoint;
struct SurfaceSample;

class GlobalIllumination {
  public:
    virtual ~GlobalIllumination() = default;
    // Irradiance E at P for the normal N (turned against the ray), with the sample's sample count,
    // the ray level and the weight of the estimate.
    virtual Color irradiance(RenderContext& ctx, const Vec3& P, const Vec3& N, int samples, int level,
                             double weight) = 0;
    // True when photon maps exist for this frame.
    virtual bool hasPhotonMaps() const = 0;
    // Caustic radiance at the hit gathered from the photon map.
    virtual Color caustics(RenderContext& ctx, const ShadePoint& at, const Vec3& N, double opacity,
                           const SurfaceSample& sample) = 0;
    // Light the media photons scatter towards a ray (unit `direction`) at `point`; none by default.
    virtual Color mediaPhotons(RenderContext&, const Vec3& /*point*/, const Vec3& /*direction*/) {
        return {};
    }
    virtual bool hasMediaPhotons() const { return false; }
};

}  // namespace quorva
