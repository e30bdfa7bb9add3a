// Tests of the polynomial root finders: interval rules, degenerate polynomials, hand-over to Sturm
// sequences, and cross-checks on random polynomials built from known roots.
#include "geometry/solvers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "diagnostics/diagnostics.h"

namespace quorva {
namespace {

// Coefficients (highest power first) of the product of (t - r) over the roots, times `scale`.
std::vector<double> fromRoots(const std::vector<double>& roots, double scale = 1) {
    std::vector<double> c{scale};
    for (double r : roots) {
        c.push_back(0);
        for (size_t i = c.size() - 1; i > 0; --i) c[i] -= r * c[i - 1];
    }
    return c;
}

// Multiplies c by t^2 + p t + q (a pair of complex roots when p^2 < 4q).
std::vector<double> withQuadratic(std::vector<double> c, double p, double q) {
    c.push_back(0);
    c.push_back(0);
    for (size_t i = c.size() - 1; i > 0; --i) {
        c[i] += p * c[i - 1];
        if (i >= 2) c[i] += q * c[i - 2];
    }
    return c;
}

std::vector<double> sorted(const double* roots, int n) {
    std::vector<double> v(roots, roots + n);
    std::sort(v.begin(), v.end());
    return v;
}

void expectRoots(std::vector<double> expected, const std::vector<double>& found, double tolerance,
                 const char* what) {
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(found.size(), expected.size()) << what;
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_NEAR(found[i], expected[i], tolerance) << what << " root " << i;
}

// Distinct roots in [-5, 5], at least `gap` apart.
std::vector<double> separatedRoots(std::mt19937& rng, int count, double gap = 0.25) {
    std::uniform_real_distribution<double> pick(-5, 5);
    std::vector<double> roots;
    while (static_cast<int>(roots.size()) < count) {
        const double r = pick(rng);
        if (std::all_of(roots.begin(), roots.end(), [&](double o) { return std::fabs(o - r) >= gap; }))
            roots.push_back(r);
    }
    return roots;
}

TEST(Quadratic, DegenerateAndNearlyDoubleRoots) {
    double roots[2];
    const double constant[3] = {0, 0, 5};
    EXPECT_EQ(solveQuadratic(constant, -10, 10, roots), 0);
    const double linear[3] = {0, 2, -3};
    ASSERT_EQ(solveQuadratic(linear, -10, 10, roots), 1);
    EXPECT_DOUBLE_EQ(roots[0], 1.5);
    // b^2 - 4ac = -1e-11: within the tolerance, so the double root -b / 2a.
    const double nearlyDouble[3] = {1, -2, 1 + 2.5e-12};
    ASSERT_EQ(solveQuadratic(nearlyDouble, -10, 10, roots), 1);
    EXPECT_DOUBLE_EQ(roots[0], 1.0);
    const double clearlyNone[3] = {1, -2, 1 + 1e-9};
    EXPECT_EQ(solveQuadratic(clearlyNone, -10, 10, roots), 0);
}

TEST(Quadratic, BoundsAreInclusiveAndTheLargerFormulaRootComesFirst) {
    double roots[2];
    const double c[3] = {1, -3, 2};  // roots 1 and 2
    ASSERT_EQ(solveQuadratic(c, 1, 2, roots), 2);
    EXPECT_DOUBLE_EQ(roots[0], 2);
    EXPECT_DOUBLE_EQ(roots[1], 1);
    EXPECT_EQ(solveQuadratic(c, 1.5, 1.9, roots), 0);
    const double negativeLead[3] = {-1, 3, -2};  // same roots; (-b + sqrt) / 2a is now the smaller
    ASSERT_EQ(solveQuadratic(negativeLead, 0, 10, roots), 2);
    EXPECT_DOUBLE_EQ(roots[0], 1);
}

TEST(Cubic, BoundsAreExclusive) {
    double roots[3];
    const auto c = fromRoots({1, 2, 3});
    expectRoots({2}, sorted(roots, solveCubic(c.data(), 1, 3, roots)), 1e-12, "three real roots");
    expectRoots({1, 2, 3}, sorted(roots, solveCubic(c.data(), 0.5, 3.5, roots)), 1e-12, "wider interval");
    const auto single = withQuadratic({1, -2}, 0, 1);  // (t - 2)(t^2 + 1)
    EXPECT_EQ(solveCubic(single.data(), 2, 5, roots), 0);
    ASSERT_EQ(solveCubic(single.data(), 1.9, 5, roots), 1);
    EXPECT_NEAR(roots[0], 2, 1e-12);
}

TEST(Cubic, VanishingLeadTermFallsBackToTheInclusiveQuadratic) {
    double roots[3];
    const double c[4] = {1e-25, 1, -3, 2};
    EXPECT_EQ(solveCubic(c, 1, 2, roots), 2);
}

TEST(Cubic, TripleRootIsFound) {
    // (t - 1)^3: the three-real-root branch meets 0 / 0 in its angle.
    double roots[3];
    const auto c = fromRoots({1, 1, 1});
    const int n = solveCubic(c.data(), 0, 2, roots);
    ASSERT_GE(n, 1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(roots[i], 1, 1e-9);
}

TEST(Quartic, ZeroConstantTermReportsZeroFirst) {
    const auto c = fromRoots({0, 1, -2, 3});
    double roots[4];
    for (int code : {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm}) {
        const int n = solveQuartic(code, c.data(), -5, 5, roots);
        ASSERT_EQ(n, 4) << "code " << code;
        EXPECT_EQ(roots[0], 0.0) << "code " << code;
        expectRoots({0, 1, -2, 3}, sorted(roots, n), 1e-9, "zero constant");
    }
    // Ferrari and the depressed-quartic method want 0 strictly inside the interval.
    EXPECT_EQ(solveQuarticFerrari(c.data(), 0, 5, roots), 2);
    EXPECT_EQ(solveQuarticVieta(c.data(), 0, 5, roots), 2);
}

TEST(Quartic, VanishingLeadTermSolvesTheCubic) {
    const double c[5] = {0, 1, -6, 11, -6};
    double roots[4];
    for (int code : {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm})
        expectRoots({1, 2, 3}, sorted(roots, solveQuartic(code, c, 0, 4, roots)), 1e-9, "cubic");
}

TEST(Quartic, IllConditionedQuarticIsSolvedBySturmWhateverTheCode) {
    // t (t - 1)(t - 2)(t - 3) with the constant 0 replaced by 1e-12: the clean-up zeroes it, so the
    // root near 0 comes out exactly 0, as Sturm sequences report it.
    auto c = fromRoots({0, 1, 2, 3});
    c[4] = 1e-12;
    double sturm[4], other[4];
    const int n = solveSturm(c.data(), 4, -10, 10, sturm);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(sturm[0], 0.0);
    for (int code : {SolverCode::Ferrari, SolverCode::Vieta}) {
        ASSERT_EQ(solveQuartic(code, c.data(), -10, 10, other), n) << "code " << code;
        for (int i = 0; i < n; ++i) EXPECT_EQ(other[i], sturm[i]) << "code " << code;
    }
}

TEST(CleanUp, SpreadAboveTheLimitZeroesTheNegligibleTerms) {
    double spread[5] = {1e8, 1, 1e-6, -1e-4, 2};
    EXPECT_TRUE(cleanUpCoefficients(spread, 4));
    EXPECT_EQ(spread[2], 0.0);
    EXPECT_EQ(spread[3], -1e-4);  // negligible next to 1e8, but not below 1e-5 in absolute terms
}

TEST(CleanUp, AbsentTermsDoNotMakeAPolynomialIllConditioned) {
    double biquadratic[5] = {1, 0, -5, 0, 4};
    EXPECT_FALSE(cleanUpCoefficients(biquadratic, 4));
    double moderate[5] = {1e6, 1, 1, 1, 1e-4};
    EXPECT_FALSE(cleanUpCoefficients(moderate, 4));
    EXPECT_EQ(moderate[4], 1e-4);
}

TEST(Sturm, OrderAboveTwentyIsFatal) {
    std::vector<double> c(22, 1.0);
    double roots[21];
    try {
        solveSturm(c.data(), 21, -1, 1, roots);
        FAIL() << "order 21 accepted";
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "Polynomials of order 21 are unsupported. Max order is 20");
    }
}

TEST(Sturm, LeadingZerosLowerTheOrder) {
    double roots[6];
    std::vector<double> c{0, 0};
    const auto cubic = fromRoots({-1, 0.5, 2});
    c.insert(c.end(), cubic.begin(), cubic.end());
    expectRoots({-1, 0.5, 2}, sorted(roots, solveSturm(c.data(), 5, -3, 3, roots)), 1e-9, "cubic inside");
    const double linear[5] = {0, 0, 0, 2, -1};
    ASSERT_EQ(solveSturm(linear, 4, 0, 0.5, roots), 1);  // the linear case keeps its bounds
    EXPECT_DOUBLE_EQ(roots[0], 0.5);
    const double constant[5] = {0, 0, 0, 0, 3};
    EXPECT_EQ(solveSturm(constant, 4, -1, 1, roots), 0);
}

TEST(Sturm, CloseAndRepeatedRootsAreSeparatedOrReportedOnce) {
    double roots[6];
    expectRoots({1, 1.001, 3, -2, 4},
                sorted(roots, solveSturm(fromRoots({1, 1.001, 3, -2, 4}).data(), 5, -5, 5, roots)), 1e-8,
                "close pair");
    // A double root leaves rounding residue where the sequence should end; it may show up as two
    // neighbouring roots, but nothing is lost and nothing spurious appears.
    const std::vector<double> truth{-1, 0.5, 2, 3};
    const int n = solveSturm(fromRoots({2, 2, -1, 0.5, 3}).data(), 5, -5, 5, roots);
    EXPECT_LE(n, 5);
    for (int i = 0; i < n; ++i)
        EXPECT_TRUE(std::any_of(truth.begin(), truth.end(), [&](double r) {
            return std::fabs(r - roots[i]) < 1e-6;
        })) << roots[i];
    for (double r : truth)
        EXPECT_TRUE(std::any_of(roots, roots + n, [&](double f) { return std::fabs(r - f) < 1e-6; })) << r;
}

TEST(Solvers, NonFiniteInputGivesNoRoots) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    double roots[6];
    const double q[3] = {1, nan, 1};
    EXPECT_EQ(solveQuadratic(q, -10, 10, roots), 0);
    const double c[4] = {1, inf, 0, 1};
    EXPECT_EQ(solveCubic(c, -10, 10, roots), 0);
    const double quartic[5] = {1, 0, nan, 0, -1};
    for (int code : {SolverCode::Ferrari, SolverCode::Vieta, SolverCode::Sturm})
        EXPECT_EQ(solveQuartic(code, quartic, -10, 10, roots), 0);
    const auto quintic = fromRoots({-1, 0.5, 1, 2, 3});
    EXPECT_EQ(solveSturm(quintic.data(), 5, nan, 10, roots), 0);
    // Infinite bounds still find every root.
    expectRoots({-1, 0.5, 1, 2, 3}, sorted(roots, solveSturm(quintic.data(), 5, -inf, inf, roots)), 1e-9,
                "infinite bounds");
}

TEST(Solvers, RandomPolynomialsWithKnownRealRoots) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> scale(0.2, 20);
    double roots[20];
    for (int trial = 0; trial < 200; ++trial) {
        const double s = trial % 2 ? scale(rng) : -scale(rng);
        const auto two = separatedRoots(rng, 2);
        expectRoots(two, sorted(roots, solveQuadratic(fromRoots(two, s).data(), -10, 10, roots)), 1e-9,
                    "quadratic");
        const auto three = separatedRoots(rng, 3);
        expectRoots(three, sorted(roots, solveCubic(fromRoots(three, s).data(), -10, 10, roots)), 1e-8,
                    "cubic");
        const auto four = separatedRoots(rng, 4);
        const auto quartic = fromRoots(four, s);
        expectRoots(four, sorted(roots, solveQuarticFerrari(quartic.data(), -10, 10, roots)), 1e-6,
                    "Ferrari");
        expectRoots(four, sorted(roots, solveQuarticVieta(quartic.data(), -10, 10, roots)), 1e-6, "Vieta");
        expectRoots(four, sorted(roots, solveSturm(quartic.data(), 4, -10, 10, roots)), 1e-8, "Sturm 4");
        const int order = 5 + trial % 8;
        const auto many = separatedRoots(rng, order, 0.4);
        expectRoots(many, sorted(roots, solveSturm(fromRoots(many, s).data(), order, -10, 10, roots)), 1e-7,
                    "Sturm");
    }
}

TEST(Solvers, QuarticMethodsAgreeWhenRootsAreComplex) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> pick(-3, 3);
    double ferrari[4], vieta[4], sturm[4];
    for (int trial = 0; trial < 200; ++trial) {
        // Two real roots and a complex pair, or two complex pairs.
        const double p = pick(rng), q = p * p / 4 + 0.5 + std::fabs(pick(rng));
        std::vector<double> c;
        std::vector<double> real;
        if (trial % 2) {
            real = separatedRoots(rng, 2, 0.3);
            c = withQuadratic(fromRoots(real), p, q);
        } else {
            const double p2 = pick(rng);
            c = withQuadratic(withQuadratic({1}, p, q), p2, p2 * p2 / 4 + 0.5);
        }
        const auto f = sorted(ferrari, solveQuarticFerrari(c.data(), -10, 10, ferrari));
        const auto v = sorted(vieta, solveQuarticVieta(c.data(), -10, 10, vieta));
        const auto s = sorted(sturm, solveSturm(c.data(), 4, -10, 10, sturm));
        expectRoots(real, f, 1e-6, "Ferrari");
        expectRoots(real, v, 1e-6, "Vieta");
        expectRoots(real, s, 1e-8, "Sturm");
    }
}

TEST(Sturm, SignChangesCountTheRootsInAnInterval) {
    const auto c = fromRoots({-2, -0.5, 1, 1.5, 4});
    double ascending[6];
    for (int i = 0; i <= 5; ++i) ascending[i] = c[5 - i];
    SturmElement sequence[MaxSturmOrder + 1];
    const int last = buildSturmSequence(ascending, 5, sequence);
    auto between = [&](double a, double b) {
        return countSignChanges(sequence, last, a) - countSignChanges(sequence, last, b);
    };
    EXPECT_EQ(between(-10, 10), 5);
    EXPECT_EQ(between(-1, 1.2), 2);
    EXPECT_EQ(between(1.6, 3.9), 0);
    EXPECT_EQ(between(-0.5, 1), 1);  // counts (a, b]
}

TEST(Binomial, TableAndLargeValues) {
    EXPECT_EQ(binomial(-1, 0), 0);
    EXPECT_EQ(binomial(3, -1), 0);
    EXPECT_EQ(binomial(3, 4), 0);
    EXPECT_EQ(binomial(0, 0), 1);
    EXPECT_EQ(binomial(14, 7), 3432);
    EXPECT_EQ(binomial(14, 14), 1);
    EXPECT_EQ(binomial(15, 3), 455);
    EXPECT_EQ(binomial(34, 3), 5984);
    EXPECT_EQ(binomial(20, 19), 20);
    EXPECT_EQ(binomial(32, 16), 601080390);
    EXPECT_EQ(binomial(60, 30), 118264581564861424LL);
}

}  // namespace
}  // namespace quorva
