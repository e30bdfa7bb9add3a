// The tables of the noise generators that follow the gradient table: filled once, on first use, by the
// same generator continuing where the gradient table stopped.
#pragma once

#include "geometry/vec3.h"

namespace quorva {

struct NoiseTables {
    static constexpr int Size = 256;
    static constexpr int Extended = Size + Size + 2;
    static constexpr int Impulses = 1001;
    static constexpr int SparseKernelSize = 101;       // squared distance 0..1 in steps of 0.01
    static constexpr int ConvolutionKernelSize = 401;  // squared distance 0..4 in steps of 0.01

    // One-dimensional gradient noise: unnormalised gradients and their own permutation, repeated.
    double gradient1[Extended];
    int permutation1[Extended];
    // Value lattice: a permutation of 0..255 and 256 values in [-1, 1].
    int valuePermutation[Size];
    double values[Size];
    // Sparse convolution: impulse offsets in [0, 1)^3 and weights in [-1, 1].
    Vec3 impulseOffset[Impulses];
    double impulseWeight[Impulses];
    double sparseKernel[SparseKernelSize];
    double convolutionKernel[ConvolutionKernelSize];
    Vec3 waveCentres[8];
};

const NoiseTables& noiseTables();

}  // namespace quorva
