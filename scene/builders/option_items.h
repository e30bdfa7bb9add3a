// The Options statement's items that carry a rule (a check, a bound or a message), built from values
// both front ends have already read: the scene language's Options items and the binary options record.
// Items stored as given (AdaptiveThreshold, ShadowBias, SunGlow, ...) need no builder.
#pragma once

#include <string>

namespace quorva {

struct Options;
struct SceneState;

void buildGammaCorrection(Options& o, double sceneGamma, double displayGamma);
void buildAdaptiveDepth(Options& o, int n);
void buildMaxRayLevel(Options& o, int n);
void buildMaxBlurLevel(Options& o, int n);
void buildBitsPerPixel(Options& o, int n);
// SoftShadowSamples and MaxBlurSamples, within MaxSoftShadowSamples and MaxBlurSampleCount.
void buildSoftShadowSamples(Options& o, int n);
void buildMaxBlurSamples(Options& o, int n);
void buildZChannelDepth(Options& o, int n);
void buildIrradianceMaxError(Options& o, double f);
void buildIrradianceBlendingArea(Options& o, double f);
void buildIrradianceSamples(Options& o, int n);
void buildIrradianceDistribution(Options& o, int n);
void buildIrradianceBounceLevel(Options& o, int n);
void buildIrradiancePhotons(Options& o, int shot, int gathered);
void buildIrradianceMaxDistance(Options& o, double f);
void buildPhotonsGatherRange(Options& o, int low, int high);
void buildHenyeyGreenstein(SceneState& scene, double g);

// OutputTo s: takes effect only before the first frame has started.
void buildOutputTo(SceneState& scene, const std::string& name);

// SavePhotonMap, SaveIrradianceCache, LoadPhotonMap, LoadIrradianceCache [ s ]. Without a name
// (`name` null) the scene's own ".qpm" / ".qic" file is meant. A save never overwrites an existing
// irradiance cache file; a photon map is loaded only when its file exists.
enum class CacheFileOption { SavePhotonMap, SaveIrradianceCache, LoadPhotonMap, LoadIrradianceCache };
void buildCacheFileOption(SceneState& scene, CacheFileOption which, const std::string* name);

// `n` within `limit`; a larger count is reduced to it with the warning
// "<item> of <n> samples is too many (reduced to <limit>)". NaN gives 0.
int reducedSampleCount(const char* item, double n, int limit);

}  // namespace quorva
