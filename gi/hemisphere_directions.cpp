// N-Rooks permutation tables and the fixed hemisphere distributions.
#include "gi/hemisphere_directions.h"

#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "trace/quasi_random.h"

namespace quorva {
namespace {

constexpr double TwoPi = 6.283185307179586;

double radicalInverse(unsigned k, unsigned base) {
    double inverse = 1.0 / base, f = inverse, value = 0;
    while (k > 0) {
        value += f * (k % base);
        k /= base;
        f *= inverse;
    }
    return value;
}

}  // namespace

std::vector<int> makeNRooksTable(int n) {
    if (n < 1) fatal("unable to initialize N-Rooks");
    if (n > MaxNRooksSize) fatal("unable to allocate N-Rooks table");
    std::vector<int> table;
    std::vector<unsigned char> taken;
    try {
        table.resize(static_cast<std::size_t>(n));
        taken.assign(static_cast<std::size_t>(n), 0);
    } catch (const std::bad_alloc&) {
        fatal("Failed memory allocation (size: %ld)", static_cast<long>(n) * static_cast<long>(sizeof(int)));
    }
    QuasiRandom generator(1);
    // Redrawing is bounded: past the budget, entries take the lowest free column.
    long budget = 32L * n + 64;
    int lowestFree = 0;
    for (int i = 0; i < n; ++i) {
        int column = -1;
        while (budget > 0) {
            --budget;
            int c = static_cast<int>(std::lround(generator.next() * (n - 1)));
            if (!taken[c]) {
                column = c;
                break;
            }
        }
        if (column < 0) {
            while (taken[lowestFree]) ++lowestFree;
            column = lowestFree;
        }
        taken[column] = 1;
        table[i] = column;
    }
    return table;
}

Vec3 cosineDirection(double xi, double u) {
    const double phi = TwoPi * u;
    const double r = std::sqrt(std::fmax(0.0, 1 - xi));
    Vec3 d{std::cos(phi) * r, std::sin(phi) * r, std::sqrt(std::fmax(0.0, xi))};
    const double len2 = dot(d, d);
    if (len2 < 1e-20) return {1, 0, 0};
    return d / std::sqrt(len2);
}

Vec3 fixedDirection(int distribution, int k, int n) {
    const unsigned index = static_cast<unsigned>(k);
    switch (distribution) {
        case 1: {
            double golden = k * 0.6180339887498949;
            return cosineDirection((k + 0.5) / n, golden - std::floor(golden));
        }
        case 2:
            return cosineDirection((k + 0.5) / n, radicalInverse(index, 2));
        case 3:
            return cosineDirection(radicalInverse(index + 1, 2), radicalInverse(index + 1, 3));
        case 4: {
            const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
            const int rows = (n + columns - 1) / columns;
            return cosineDirection((k / columns + 0.5) / rows, (k % columns + 0.5) / columns);
        }
        default:
            return cosineDirection(radicalInverse(index + 1, 3), radicalInverse(index + 1, 5));
    }
}

}  // namespace quorva
