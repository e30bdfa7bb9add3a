// The global-illumination statements, built from values both front ends have already read and
// evaluated: the scene language's Photons, ComputeIrradiance, SkyLight and Media statements and the
// binary scene's general and sky-dome records go through these, so a setting has one rule.
#pragma once

#include "geometry/vec3.h"
#include "scene/builders/scene_settings.h"

namespace quorva {

struct SceneState;

// Photons ( k , n , j [, s ] ): `count` (3 or 4) values; k is a gather count and n a photon count,
// both bounded; NaN stands for 0.
void buildPhotons(SceneState& scene, const double* values, int count);

// ComputeIrradiance f: n = integer part of f; n <= 0 leaves the cache off, n > 0 switches it on with
// primary grid size n (at least 4).
void buildComputeIrradiance(SceneState& scene, double f);

// SkyLight ( samples , sky , scale [, tint ] ): the sky lights the scene through the irradiance cache
// with at least 5 hemisphere rays per record; scale <= 0 keeps the default; tint != 0 tints the sky.
void buildSkyLight(SceneState& scene, double samples, BackgroundValue sky, double scale, double tint);

// Media ( model , samples , D , intensity , mix , depth , colour ); a later one replaces them all.
void buildMedia(SceneState& scene, double model, double samples, double density, double intensity, double mix,
                double depth, const Color& colour);

}  // namespace quorva
