// The weighted blend of the records a lookup finds: each record's error at P, its weight and its value
// extrapolated along its gradient, summed in the order the records are found. The records arrive in
// batches; the weights of a batch are computed together, two records at a time and without a branch per
// record, and only the sum runs in order.
#pragma once

#include "geometry/vec3.h"
#include "gi/irradiance_octree.h"

namespace quorva {

class IrradianceBlend {
  public:
    // `bound` is the error bound of the lookup's level.
    IrradianceBlend(const Vec3& P, const Vec3& n, double bound) : P_(P), n_(n), bound_(bound) {}

    // Adds the records of `hits` that pass the error bound, in their order.
    void add(const IrradianceHits& hits);

    int count() const { return count_; }
    // The blended value; only meaningful when count() > 0.
    Color value() const { return sum_ / weights_; }

  private:
    Vec3 P_, n_;
    double bound_;
    Color sum_;
    double weights_ = 0;
    int count_ = 0;
};

}  // namespace quorva
