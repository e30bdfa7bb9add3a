// Filling the noise tables after the gradient table.
#include "shading/noise_tables.h"

#include <cmath>

#include "shading/noise.h"
#include "trace/quasi_random.h"

namespace quorva {
namespace {

// Fisher-Yates from the last entry down, each swapped with entry r mod size.
void shuffle(int* permutation, int size, LcgRandom& random) {
    for (int i = 0; i < size; ++i) permutation[i] = i;
    for (int i = size - 1; i >= 0; --i) {
        const int j = random.next() % size;
        const int k = permutation[i];
        permutation[i] = permutation[j];
        permutation[j] = k;
    }
}

// The cubic kernel of radius 2 at distance b.
double cubicKernel(double b) {
    if (b < 1) return (3 * b * b * b - 5 * b * b + 2) / 2;
    return (-b * b * b + 5 * b * b - 8 * b + 4) / 2;
}

NoiseTables buildNoiseTables() {
    NoiseTables t;
    LcgRandom random(gradientTable().generatorState);
    auto signedUnit = [&random] { return random.next() / 32767.0 * 2.0 - 1.0; };
    auto unit = [&random] { return random.next() / 32768.0; };

    for (int i = 0; i < NoiseTables::Size; ++i) t.gradient1[i] = ((random.next() % 512) - 256) / 256.0;
    shuffle(t.permutation1, NoiseTables::Size, random);
    for (int i = 0; i < NoiseTables::Size + 2; ++i) {
        t.gradient1[NoiseTables::Size + i] = t.gradient1[i];
        t.permutation1[NoiseTables::Size + i] = t.permutation1[i];
    }

    shuffle(t.valuePermutation, NoiseTables::Size, random);
    for (double& v : t.values) v = signedUnit();

    for (int i = 0; i < NoiseTables::Impulses; ++i) {
        t.impulseOffset[i].x = unit();
        t.impulseOffset[i].y = unit();
        t.impulseOffset[i].z = unit();
        t.impulseWeight[i] = signedUnit();
    }

    // The sparse kernel reaches 0 at squared distance 1, so impulses fade out before a cell border.
    for (int i = 0; i < NoiseTables::SparseKernelSize; ++i)
        t.sparseKernel[i] = cubicKernel(std::sqrt(i * 0.01));
    t.sparseKernel[NoiseTables::SparseKernelSize - 1] = 0;
    for (int i = 0; i < NoiseTables::ConvolutionKernelSize; ++i)
        t.convolutionKernel[i] = cubicKernel(std::sqrt(i * 0.01));

    QuasiRandom sequence(3);
    for (Vec3& c : t.waveCentres) {
        double u, v, w;
        sequence.nextTriple(u, v, w);
        c = {2 * u - 1, 2 * v - 1, 2 * w - 1};
    }
    return t;
}

}  // namespace

const NoiseTables& noiseTables() {
    static const NoiseTables tables = buildNoiseTables();
    return tables;
}

double convolutionKernel(double s) {
    if (!(s >= 0) || s >= 4) return 0;
    return noiseTables().convolutionKernel[static_cast<int>(100 * s + 0.5)];
}

const Vec3* bumpWaveCentres() {
    return noiseTables().waveCentres;
}

}  // namespace quorva
