// The light kinds: point (and point sun, and the light-subtracting BlackHole), spot, area (spherical
// bulb or flat rectangle; also the area sun) and directional (and directional sun).
#pragma once

#include <memory>

#include "shading/light.h"

namespace quorva {

class PointLight final : public Light {
  public:
    explicit PointLight(LightKind kind = LightKind::Point) : Light(kind) {}
    Vec3 position;

    void lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const override;
    Vec3 glowPosition() const override { return position; }
    std::unique_ptr<Light> clone() const override { return std::make_unique<PointLight>(*this); }
    void applyTransform(const Transform& t) override;
};

class SpotLight final : public Light {
  public:
    SpotLight() : Light(LightKind::Spot) {}
    Vec3 position;
    Vec3 direction;  // unit, from the light towards the point aimed at
    double exponent = 0;
    double cosHotspot = 1;
    double cosFalloff = 1;

    void lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const override;
    Vec3 glowPosition() const override { return position; }
    std::unique_ptr<Light> clone() const override { return std::make_unique<SpotLight>(*this); }
    void applyTransform(const Transform& t) override;
};

// The rectangle of a flat area light: a unit square in the xz plane centred on the origin before the
// light's transformation, so an untransformed light faces down (-y).
struct FlatAreaGeometry {
    int nx = 1, ny = 1;  // grid counts, nx <= ny
    int maxDepth = 0;    // adaptive subdivision depth of a grid cell
    bool jitter = false;
    Vec3 corners[4];  // c0, c0 + e1, c0 + e1 + e2, c0 + e2
    Vec3 edge1, edge2;

    Vec3 centre() const { return (corners[0] + corners[2]) * 0.5; }
    Vec3 normal() const { return normalized(cross(edge1, edge2)); }
    void setCorners(const Transform* t);
};

// The rectangle turned about its centre, edges keeping their lengths, into the plane perpendicular to
// the direction from P, so that it shows P its full area (lights with attribute 4).
void faceFlatAreaLight(const FlatAreaGeometry& g, const Vec3& P, Vec3& corner, Vec3& edge1, Vec3& edge2);

class AreaLight final : public Light {
  public:
    explicit AreaLight(LightKind kind = LightKind::Area) : Light(kind) { attributes = 7; }
    AreaLight(const AreaLight& other);
    RequestPtr lightingFunction;  // a non-constant Intensity, or null
    Vec3 bulbCentre;              // in the light's own frame
    std::unique_ptr<Transform> transform;
    std::unique_ptr<FlatAreaGeometry> flat;

    Vec3 centre() const;
    void lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const override;
    Vec3 glowPosition() const override { return centre(); }
    const FlatAreaGeometry* flatGeometry() const override { return flat.get(); }
    std::unique_ptr<Light> clone() const override { return std::make_unique<AreaLight>(*this); }
    void applyTransform(const Transform& t) override;
};

class DirectionalLight final : public Light {
  public:
    explicit DirectionalLight(LightKind kind = LightKind::Directional) : Light(kind) {}
    Vec3 direction;  // unit, from the scene towards the light

    void lightAt(RenderContext& ctx, const Vec3& P, LightSample& out) const override;
    std::unique_ptr<Light> clone() const override { return std::make_unique<DirectionalLight>(*this); }
    void applyTransform(const Transform& t) override;
};

// smoothstep(e0, e1, x): 0 below e0, 1 above e1, 0 when the edges coincide, else t^2 (3 - 2t).
double spotSmoothstep(double e0, double e1, double x);

}  // namespace quorva
