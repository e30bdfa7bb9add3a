// Real roots of polynomials in the ray parameter: closed-form quadratic and cubic, two closed-form quartic
// methods, and Sturm sequences for any order up to MaxSturmOrder.
//
// Polynomials are arrays of doubles, highest power first: c[0] t^n + c[1] t^(n-1) + ... + c[n]. Every
// solver writes the roots it finds, in the order it finds them, and returns how many it wrote; roots
// outside the interval are dropped. The input arrays are never modified. Numerical trouble (vanishing
// leading terms, non-finite coefficients, failed convergence) gives fewer roots, never an error; the one
// error is a Sturm order above MaxSturmOrder. Nothing here allocates.
#pragma once

#include <cstdint>

namespace quorva {

// Which method a shape uses for its quartics (the scene's FerrariSolver, VietaSolver, SturmSolver).
namespace SolverCode {
constexpr int Ferrari = 0;
constexpr int Vieta = 1;  // the depressed-quartic method
constexpr int Sturm = 2;
}  // namespace SolverCode

constexpr int MaxSturmOrder = 20;

// a t^2 + b t + c on the closed interval [low, high]; at most 2 roots.
int solveQuadratic(const double c[3], double low, double high, double roots[2]);

// c0 t^3 + c1 t^2 + c2 t + c3 on the open interval (low, high); falls back to the quadratic (and its
// closed interval) when c0 vanishes. At most 3 roots; a double root may be reported twice.
int solveCubic(const double c[4], double low, double high, double roots[3]);

// Quartics on the open interval (low, high); at most 4 roots. A vanishing constant term reports 0 first
// (when 0 lies inside) and then the roots of the remaining cubic; an ill-conditioned quartic (see
// cleanUpCoefficients) is handed to the Sturm solver.
int solveQuarticFerrari(const double c[5], double low, double high, double roots[4]);
int solveQuarticVieta(const double c[5], double low, double high, double roots[4]);
// Dispatches on a SolverCode; any code other than Ferrari or Vieta uses Sturm sequences.
int solveQuartic(int solverCode, const double c[5], double low, double high, double roots[4]);

// Any order n up to MaxSturmOrder on [low, high] (orders that reduce to 3 or less use the closed forms
// with their own interval rules). `roots` must hold n values. Fatal error for n > MaxSturmOrder.
int solveSturm(const double* c, int order, double low, double high, double* roots);

// Zeroes the coefficients that are negligible next to the largest one when the spread between the
// largest and the smallest nonzero magnitude exceeds 1e11; returns true (ill-conditioned) in that case.
bool cleanUpCoefficients(double* c, int order);

// Number of sign changes of a Sturm sequence at x. Exposed for tests; `coefficients` are the sequence's
// elements, ascending powers, each with its own order.
struct SturmElement {
    int order = 0;
    double coef[MaxSturmOrder + 1];  // ascending powers; only coef[0..order] are ever set or read
};
// Builds the sequence for an ascending polynomial of the given order (>= 1); returns the index of the
// last element.
int buildSturmSequence(const double* ascending, int order, SturmElement* sequence);
int countSignChanges(const SturmElement* sequence, int last, double x);

// C(n, k): 0 when n < 0, k < 0 or k > n.
std::int64_t binomial(int n, int k);

}  // namespace quorva
