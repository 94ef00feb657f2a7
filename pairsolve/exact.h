// exact.h: the exact policy of the potential engine (potentials.h,
// phases.h), for integer-valued costs and integer multiples of one power of
// two small enough that every operation of the steps is exact. It reads a
// cost as itself, a non-finite cost as the substitute, and decides by value
// alone: a zero is a working cost of 0, h the least one. This part owns the
// admission test with its proof (exactBounds) and solveExact.
#ifndef PAIRSOLVE_EXACT_H
#define PAIRSOLVE_EXACT_H

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "marks.h"
#include "phases.h"
#include "potentials.h"
#include "summary.h"

namespace {

// The exact policy works in units of g, a power of two dividing every cost.
// Integers up to 2^53 units are exact doubles; costs up to 2^53 units and
// reduced costs up to 2^52 units keep every sum and difference of the steps
// within that range (see exactBounds). Costs above 2^1000 are left to the
// dense engine, so that no sum of two of them can overflow.
constexpr double kExactUnits = 9007199254740992.0;         // 2^53
constexpr double kExactReducedUnits = 4503599627370496.0;  // 2^52
constexpr double kExactMagnitudeLimit = 0x1p1000;

// A cost as the exact policy reads it: non-finite costs are the substitute.
inline double substituted(double x, double substitute) {
  return std::isfinite(x) ? x : substitute;
}

struct ExactPolicy : PlainDecisions<double> {
  using Value = double;
  double substitute;   // stands for every non-finite cost
  bool hasSubstitute;  // C holds non-finite costs

  bool anySubstitute() const { return hasSubstitute; }
  double read(const double *column, int r, int) const { return substituted(column[r], substitute); }
#if defined(__SSE2__)
  struct Lanes {
    __m128d substitute;
  };
  Lanes lanes(int) const {
    return {_mm_set1_pd(substitute)};
  }
  // Costs r and r + 1; kSubstitute: read the non-finite ones as the
  // substitute.
  template <bool kSubstitute>
  __m128d read2(const Lanes &lanes, const double *column, int r) const {
    __m128d x = _mm_loadu_pd(column + r);
    if (!kSubstitute) return x;
    __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(x, x), _mm_setzero_pd());
    return _mm_or_pd(_mm_and_pd(finite, x), _mm_andnot_pd(finite, lanes.substitute));
  }
#endif
};

using ExactEngine = Potentials<ExactPolicy>;

// Decides whether the exact policy may solve C, and computes the
// reduction: the minimum of each row (M <= N) or column (M > N) into rowPot
// or colPot. It reads nothing of C: the line minima and maxima and the
// finest grid of the costs come from the check of C (summary.h).
//
// Let g be a power of two dividing every cost (the substitute included),
// Cmax the largest cost and Rmax the largest reduced cost (cost minus its
// line's minimum). Admitted: no NaN in the solve, Cmax <= 2^1000,
// Rmax <= 2^52 g and Cmax + Rmax <= 2^53 g. Why that suffices: in exact
// arithmetic the working costs never go below zero, and T, the sum of every
// h so far, never exceeds Rmax. (While step 5 runs fewer than K stars
// exist, so some row r0 and some column c0 have never held a star; a row is
// covered only while it holds a star and a column only while it is starred,
// so r0 never gained h and c0 lost every h: its working cost, reduced cost
// minus T, is still >= 0.) Hence every row potential moves by at most Rmax
// from the row minimum and every column potential by at most Rmax, every
// working cost and every x + h of step 5 lies in [0, 2 Rmax], and every
// potential and every cost minus a potential within Cmax + Rmax: all are
// integers of at most 2^53 units, so every operation of the steps and of
// this engine is exact, and both give the same numbers. (The engine's zero
// test, ((cost - colPot) - rowPot) <= 0, is then exactly "is 0": a working
// cost is never negative.)
bool exactBounds(ExactEngine &e, const CostSummary &summary, bool nanForbidden) {
  if (summary.anyNaN && !nanForbidden) return false;
  const int M = e.M;
  const int N = e.N;
  bool wide = M <= N;
  double *lineMin = wide ? e.rowPot : e.colPot;
  double *lineMax = e.slack;  // allocated with room for max(M, N)
  int lines = wide ? M : N;
  // The line minima and maxima from the check of C, the substitute taken in
  // where a line holds a non-finite cost.
  const ExactPolicy &policy = e.policy;
  double S = policy.substitute;
  for (int i = 0; i < lines; ++i) {
    lineMin[i] = summary.lineLeast[i];
    lineMax[i] = summary.lineLargest[i];
    if (policy.hasSubstitute && summary.lineNonFinite[i]) {
      if (S < lineMin[i]) lineMin[i] = S;
      if (S > lineMax[i]) lineMax[i] = S;
    }
  }
  // Every cost an integer: g = 1 will do. Otherwise the finest grid
  // g = 2^lowBit of all the costs, the substitute among them.
  bool integers = summary.integral && (!policy.hasSubstitute || S >= kIntegerShifter ||
                                       (S + kIntegerShifter) - kIntegerShifter == S);
  int lowBit = 0;
  if (!integers) {
    lowBit = summary.finestBit;
    if (policy.hasSubstitute && S != 0.0 && lowestBitExponent(S) < lowBit) {
      lowBit = lowestBitExponent(S);
    }
    if (lowBit == kNoCostBit) lowBit = 0;  // every cost is zero
  }
  double largest = 0.0;
  double reducedMax = 0.0;
  for (int i = 0; i < lines; ++i) {
    double reduced = lineMax[i] - lineMin[i];
    if (reduced > reducedMax) reducedMax = reduced;
    if (lineMax[i] > largest) largest = lineMax[i];
  }
  if (!(largest <= kExactMagnitudeLimit)) return false;
  double reducedUnits = std::ldexp(reducedMax, -lowBit);
  double largestUnits = std::ldexp(largest, -lowBit);
  return reducedUnits <= kExactReducedUnits && largestUnits <= kExactUnits - reducedUnits;
}

// Solves C with the exact policy when exactBounds admits it (else inexact);
// writes the assignment vector when the steps complete. substitute stands
// for the non-finite costs (NaN among them only with nanForbidden). Finds
// the costs' grid when the check left it out.
SolveOutcome solveExact(Scratch &scratch, double *assignment, const double *C, int M, int N,
                        double substitute, CostSummary &summary, bool nanForbidden, int slots) {
  completeGrid(summary, C, M, N);
  ScratchScope part(scratch);
  ExactPolicy policy;
  policy.substitute = substitute;
  policy.hasSubstitute = summary.anyNonFinite;
  ExactEngine e = newPotentials(scratch, policy, C, M, N, slots);
  if (!exactBounds(e, summary, nanForbidden)) return SolveOutcome::inexact;
  Marks marks = newMarks(scratch, M, N);
  SolveOutcome outcome = runPotentials(e, scratch, marks);
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
