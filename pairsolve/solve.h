// solve.h: one solve of a cost matrix, from the check of the costs to the
// assignment vector and its cost, on the engine chosen (the exact engine
// whenever it can take the costs, else the dense engine). This part owns
// the substitute for infinite costs, the re-solve with NaN forbidden when
// the steps cannot complete with NaN in place, and computeassignmentcost.
// The plug-in's driver (pairsolve.cpp) and the tests and benchmarks call
// solveWithFallback.
#ifndef PAIRSOLVE_SOLVE_H
#define PAIRSOLVE_SOLVE_H

#include <cmath>
#include <cstdint>

#include "basics.h"
#include "dense.h"
#include "exact.h"
#include "failure.h"
#include "grid.h"
#include "hybrid.h"
#include "summary.h"

namespace {

// Substitute for infinite costs: (largest finite cost x 10) x element count,
// or this value when every finite cost is zero.
constexpr double kSubstituteFactor = 10.0;
constexpr double kSubstituteWhenAllZero = 10.0;

// Which engine solves: the exact one whenever it can, else the grid one
// whenever it can and its check holds, else the dense one (automatic); or
// one of them only (for tests and benchmarks: the exact engine then reports
// the inputs it cannot take as inexact; the grid engine hands the inputs it
// cannot take, or cannot certify, to the dense engine; so does the hybrid
// engine). A solve reports the engine whose result it returns (grid only
// when certified).
enum class Engine { automatic, dense, exact, grid, hybrid };

// The sizes of the engines' per-column structures. The plug-in uses the
// defaults; tests use small ones so that the paths taken when they are too
// small (reading the column instead) run often.
struct Capacities {
  int summarySlots = kSummarySlots;
  int zeroSlots = kZeroSlots;
  int logEntries = 0;  // 0: one per kLogShare elements of the matrix
};

void clearOutputs(double *assignment, double *cost, int M) {
  *cost = 0.0;
  for (int r = 0; r < M; ++r) assignment[r] = 0.0;
}

// Sums the caller's costs of the pairs, in row order; a pair made on a
// non-finite cost is withdrawn (reported as no pair, adding nothing).
void computeassignmentcost(double *assignment, double *cost, const double *C, int M) {
  for (int r = 0; r < M; ++r) {
    int c = static_cast<int>(assignment[r] - 1.0);
    if (c >= 0) {
      double value = C[at(r, c, M)];
      if (std::isfinite(value)) {
        *cost = *cost + value;
      } else {
        assignment[r] = 0.0;
      }
    }
  }
}

// One solve. With nanForbidden, NaN costs are replaced by the substitute like
// infinite ones; otherwise they are left in place. The outputs are zero.
SolveOutcome solve(const ScratchAllocator &allocator, double *assignment, double *cost,
                   const double *C, int M, int N, const CostSummary &summary, bool nanForbidden,
                   Engine engine, const Capacities &capacities, Engine *solvedBy) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  double substitute = 0.0;
  if (E > 0 && summary.anyNonFinite) {
    double F = summary.largestFinite;
    if (F == -1.0) return SolveOutcome::complete;  // nothing finite: no pairs, cost 0
    substitute =
        F > 0.0 ? (F * kSubstituteFactor) * static_cast<double>(E) : kSubstituteWhenAllZero;
  }
  SolveOutcome outcome = SolveOutcome::inexact;
  *solvedBy = Engine::exact;
  // Finite costs that are not all integers: those the grid engine cannot
  // take, the exact engine cannot take either (its admission implies the
  // grid engine's), so the grid engine tries first.
  bool gridFirst = engine == Engine::grid ||
                   (engine == Engine::automatic && !summary.integral && !summary.anyNonFinite);
  if (gridFirst) {
    GridReport report;
    outcome = solveGrid(allocator, assignment, C, M, N, summary, capacities.summarySlots, &report);
    *solvedBy = Engine::grid;
    if (outcome == SolveOutcome::inexact && report.admitted) engine = Engine::dense;
  }
  if (outcome == SolveOutcome::inexact &&
      (engine == Engine::automatic || engine == Engine::exact)) {
    // With NaN left in place the exact engine cannot run; when NaN is
    // forbidden it stands for the substitute like Inf.
    outcome = solveExact(allocator, assignment, C, M, N, substitute, summary, nanForbidden,
                         capacities.summarySlots);
    *solvedBy = Engine::exact;
  }
  if (outcome == SolveOutcome::inexact && engine == Engine::automatic && !gridFirst &&
      !summary.anyNonFinite) {
    // Integers the exact engine cannot take (such as those up to 2^53).
    GridReport report;
    outcome = solveGrid(allocator, assignment, C, M, N, summary, capacities.summarySlots, &report);
    *solvedBy = Engine::grid;
  }
  if (outcome == SolveOutcome::inexact &&
      (engine == Engine::automatic || engine == Engine::hybrid)) {
    // Costs off every grid the exact and grid engines take, or gated ones.
    outcome = solveHybrid(allocator, assignment, C, M, N, summary, substitute, nanForbidden,
                          capacities.summarySlots);
    *solvedBy = Engine::hybrid;
  }
  if (outcome == SolveOutcome::inexact && engine != Engine::exact) {
    outcome = solveDense(allocator, assignment, C, M, N, substitute, nanForbidden,
                         capacities.zeroSlots, capacities.logEntries);
    *solvedBy = Engine::dense;
  }
  if (outcome == SolveOutcome::complete) computeassignmentcost(assignment, cost, C, M);
  return outcome;
}

// Checks C (checkCosts) and solves; if the steps cannot complete and C
// holds NaN, solves again with NaN forbidden. Returns refused, with
// *failure set, when C holds a finite negative cost (nothing is solved
// then); stuck when even the second solve cannot complete; inexact when
// only the exact engine was asked for and it cannot take C. The outputs
// are zero unless the solve completes. *solvedBy (when given) becomes the
// engine whose result is returned.
SolveOutcome solveWithFallback(const ScratchAllocator &allocator, double *assignment, double *cost,
                               const double *C, int M, int N, Engine engine, Failure *failure,
                               const Capacities &capacities = Capacities(),
                               Engine *solvedBy = nullptr) {
  Engine solver = Engine::dense;
  if (solvedBy == nullptr) solvedBy = &solver;
  *solvedBy = engine;
  clearOutputs(assignment, cost, M);
  Scratch scratch(allocator);
  CostSummary summary;
  if (!checkCosts(C, M, N, scratch, &summary, failure)) return SolveOutcome::refused;
  SolveOutcome outcome =
      solve(allocator, assignment, cost, C, M, N, summary, false, engine, capacities, solvedBy);
  if (outcome == SolveOutcome::stuck && summary.anyNaN) {
    clearOutputs(assignment, cost, M);
    outcome =
        solve(allocator, assignment, cost, C, M, N, summary, true, engine, capacities, solvedBy);
  }
  if (outcome != SolveOutcome::complete) clearOutputs(assignment, cost, M);
  return outcome;
}

}  // namespace

#endif
