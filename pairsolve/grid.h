// grid.h: the grid engine. It serves finite costs that are all integer
// multiples of one power of two g, the largest at most Theta = 2^53 g (every
// matrix of a 53-bit uniform generator such as rand, integers up to 2^53),
// on which the working costs of the steps may round, so the exact policy
// cannot take them. It is the potential engine (potentials.h, phases.h)
// with the grid policy: costs read in units of g, potentials in int64,
// which makes every step exact and every decision one by value; then a
// check in O(M + N) proves that the steps, run in doubles element by
// element, make the same decisions. When the check fails, the costs go to
// the dense engine (plan.h).
//
// Units. A cost is at most 2^53 units, a reduced cost (cost minus its line's
// minimum) too, and T, the sum of every h of the run, is at most the
// largest reduced cost Rmax (see exactBounds in exact.h). So every
// potential, working cost and key stays within 2^56 units in magnitude, far
// from int64's limit; potentialInf (2^62) stands for +Inf.
//
// Why the check proves the decisions equal. Write F for a working cost as
// the steps compute it in doubles and S for the same working cost in exact
// arithmetic. Let R0 be the reduced matrix, U_r the sum of the h that row r
// gained (while covered) and V_c the sum of the h that column c lost (while
// uncovered); then S = R0 + U_r - V_c >= 0. Assume the decisions (zeros,
// primes, stars, covers, h) of both runs agree so far; we show the next ones
// do.
//  L1. Every double the steps compute is a multiple of g: the costs are, and
//      the sum or difference of multiples of g, rounded to a double, is a
//      multiple of g (below 2^53 g it is exact; above, the doubles are
//      multiples of 2g or coarser).
//  L2. An operation whose exact result is a multiple of g of magnitude at
//      most Theta is exact: such a number is a double.
//  L3. The reduction is exact (C <= Theta, L2). Until an element's value
//      first exceeds Theta it is exact, F = S. Its intermediates (F + h for a
//      covered row, then minus h for an uncovered column; F - h elsewhere)
//      never exceed R0 + U_r. Condition (A): R0max_r + U_r <= Theta for every
//      row r, with R0max_r the row's largest reduced cost. Under (A) no
//      operation rounds, F = S throughout, and both runs are the same run.
//  L4. Otherwise take an element at its first operation whose exact result
//      exceeds Theta. Only an addition F + h can do that, and rounding is
//      monotone, so F >= Theta right after it (Theta is a double). From then
//      on each step 5 lowers F by at most its own h, beside rounding: one
//      that leaves the element's column covered adds h (its row covered) or
//      does nothing; one that leaves the column uncovered subtracts h, just
//      after adding it when the row is covered, so F ends that step at no
//      less than its value before the step minus h. Rounding: every value
//      stays below Theta + T <= 2 Theta, where a double's spacing is at most
//      2g, so each operation errs by at most g and a step 5 (at most two
//      operations on an element) by at most 2g; we allow 4g. So at a step 5
//      with shift h_t, F >= Theta - (h_1 + ... + h_(t-1)) - 4g S5, with S5
//      the number of step 5s; S, the same operations in exact arithmetic,
//      has S >= Theta - (h_1 + ... + h_(t-1)) as well.
//      Condition (B): T + 8g S5 < Theta. Under (B) both exceed h_t, and both
//      exceed 0.
//  L5. So under (B) an element that ever rounded is, in both runs, never a
//      zero and never the least uncovered cost; every other element is
//      exact (L3). Hence step 3 finds the same zeros, step 5 takes the same
//      h (the least of equal exact values), and no tiny h is absorbed in a
//      decision that matters. By induction every decision agrees, and so do
//      the stars, the assignment and its cost (summed from C in row order).
// The engine computes T and S5 as it runs (total, steps), U_r
// from the final row potentials, and bounds R0max_r from the line
// statistics: the row's own largest reduced cost when lines are rows, else
// Rmax. It returns its result when the steps completed and (A) or (B) holds.
//
// Admission reads nothing of C: the check of C (summary.h) gathers, in its
// one pass, the finest power-of-two grid of the costs and each line's least
// and largest cost. The costs lie on the grid of g = 2^k exactly when that
// grid is 2^k or coarser, and the line statistics in units give the
// reduction and the bounds on R0max_r.
//
// Inputs holding Inf or NaN are not the grid engine's: their substitute
// lies off the grid and the argument above does not cover it (plan.h sends
// them elsewhere).
#ifndef PAIRSOLVE_GRID_H
#define PAIRSOLVE_GRID_H

#include <cmath>
#include <cstdint>

#include "basics.h"
#include "marks.h"
#include "phases.h"
#include "potentials.h"
#include "summary.h"

namespace {

using GridValue = std::int64_t;

// Theta in units of g.
constexpr double kGridUnits = 9007199254740992.0;  // 2^53
constexpr GridValue kGridTheta = GridValue{1} << 53;
// The rounding of one step 5, in units, and its allowance in (B): 2 x 4g.
constexpr GridValue kGridStepError = 8;
// g = 2^k with k in this range, so that 1/g and g are normal doubles.
constexpr int kGridLeastExponent = -1000;
constexpr int kGridLargestExponent = 1000;

#if defined(PAIRSOLVE_CERTIFICATE_ALWAYS_HOLDS)
// A deliberately wrong build (tests only): costs up to 2^56 units are
// admitted and the check always passes, so the randomized engine
// comparison must report mismatches.
constexpr double kGridAdmittedUnits = 72057594037927936.0;  // 2^56
#else
constexpr double kGridAdmittedUnits = kGridUnits;
#endif

// The grid policy: a cost x of C is read as x * scale, its integer units
// (scale = 2^-k, a power of two: exact); decisions by value.
struct GridPolicy : PlainDecisions<GridValue> {
  using Value = GridValue;
  double scale;

  bool anySubstitute() const { return false; }
  GridValue read(const double *column, int r, int) const {
    return static_cast<GridValue>(column[r] * scale);
  }
};

using GridEngine = Potentials<GridPolicy>;

// Which engine produced a result, and what the grid engine's check found.
struct GridReport {
  bool admitted = false;   // the costs lie on a grid the grid engine takes
  bool certified = false;  // its check held and its result was returned
  GridValue total = 0;     // T, in units
  std::int64_t steps = 0;  // S5
};

// The exponent k of the finest g = 2^k with largest <= kGridAdmittedUnits g
// (2^53 g: the spacing of the doubles at largest, or half of it when
// largest is a power of two). Every coarser grid of the costs is a multiple
// of it, so testing this one grid suffices.
int gridExponent(double largest) {
  int e = std::ilogb(largest);
  int k = std::ldexp(1.0, e) == largest ? e - 53 : e - 52;
  return k - (std::ilogb(kGridAdmittedUnits) - 53);
}

// Whether every cost (finite, non-negative, the largest largestFinite) is
// an integer multiple of 2^k, from the finest grid of the costs in the
// summary.
bool gridAdmits(const CostSummary &summary, int k) {
  return summary.finestBit >= k && !(std::ldexp(summary.largestFinite, -k) > kGridAdmittedUnits);
}

// The reduction in units (scale = 2^-k of admitted costs): per line the
// least cost into lineMin and the largest reduced cost into lineReduced. A
// cost on the grid times scale is an integer of at most kGridAdmittedUnits,
// so the conversions are exact.
void gridLines(const CostSummary &summary, int lines, double scale, GridValue *lineMin,
               GridValue *lineReduced) {
  for (int i = 0; i < lines; ++i) {
    lineMin[i] = static_cast<GridValue>(summary.lineLeast[i] * scale);
    lineReduced[i] = static_cast<GridValue>(summary.lineLargest[i] * scale) - lineMin[i];
  }
}

// Conditions (A) and (B) of the opening comment, in units. rowStart holds
// each row's potential after the reduction; R0max_r is bounded by
// lineReduced[r] when lines are rows, else by the largest of lineReduced.
bool gridCertificate(const GridEngine &e, const GridValue *rowStart, const GridValue *lineReduced) {
#if defined(PAIRSOLVE_CERTIFICATE_ALWAYS_HOLDS)
  (void)e, (void)rowStart, (void)lineReduced;
  return true;
#else
  const int M = e.M;
  const int N = e.N;
  if (e.total + kGridStepError * e.steps < kGridTheta) return true;  // (B)
  bool wide = M <= N;
  GridValue reducedMax = 0;
  if (!wide) {
    for (int c = 0; c < N; ++c)
      reducedMax = lineReduced[c] > reducedMax ? lineReduced[c] : reducedMax;
  }
  for (int r = 0; r < M; ++r) {  // (A)
    GridValue gained = rowStart[r] - e.rowPot[r];
    if ((wide ? lineReduced[r] : reducedMax) + gained > kGridTheta) return false;
  }
  return true;
#endif
}

// Solves C, finite and not all integers, with the grid engine: inexact when
// the costs are not on a grid it takes, or when its check fails (then
// nothing is written); otherwise writes the assignment vector. Finds the
// costs' grid when the check left it out.
SolveOutcome solveGrid(Scratch &scratch, double *assignment, const double *C, int M, int N,
                       CostSummary &summary, int slots, GridReport *report) {
  *report = GridReport();
  if (M == 0 || N == 0 || summary.anyNonFinite || !(summary.largestFinite > 0.0)) {
    return SolveOutcome::inexact;
  }
  completeGrid(summary, C, M, N);
  int k = gridExponent(summary.largestFinite);
  if (k < kGridLeastExponent || k > kGridLargestExponent || !gridAdmits(summary, k)) {
    return SolveOutcome::inexact;
  }
  report->admitted = true;
  ScratchScope part(scratch);
  bool wide = M <= N;
  int lines = wide ? M : N;
  GridPolicy policy;
  policy.scale = std::ldexp(1.0, -k);
  GridEngine e = newPotentials(scratch, policy, C, M, N, slots);
  GridValue *lineReduced = scratch.take<GridValue>(lines);
  gridLines(summary, lines, policy.scale, wide ? e.rowPot : e.colPot, lineReduced);
  GridValue *rowStart = scratch.take<GridValue>(M);
  for (int r = 0; r < M; ++r) rowStart[r] = wide ? e.rowPot[r] : 0;
  Marks marks = newMarks(scratch, M, N);
  SolveOutcome outcome = runPotentials(e, scratch, marks);
  report->total = e.total;
  report->steps = e.steps;
  if (outcome != SolveOutcome::complete || !gridCertificate(e, rowStart, lineReduced)) {
    return SolveOutcome::inexact;
  }
  report->certified = true;
  buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
