// solve.h: one solve of a cost matrix, from the check of the costs to the
// assignment vector and its cost, on the engines of its plan (plan.h, the
// one place the engines are chosen). This part owns the substitute for
// infinite costs, the re-solve with NaN forbidden when the steps cannot
// complete with NaN in place, and computeassignmentcost. The plug-in's
// driver (pairsolve.cpp) and the tests and benchmarks call
// solveWithFallback, with the allocator the solve takes its scratch from.
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
#include "plan.h"
#include "summary.h"
#include "unique.h"

namespace {

// Substitute for infinite costs: (largest finite cost x 10) x element count,
// or this value when every finite cost is zero.
constexpr double kSubstituteFactor = 10.0;
constexpr double kSubstituteWhenAllZero = 10.0;

// The sizes of the engines' per-column structures. The plug-in uses the
// defaults; tests use small ones so that the paths taken when they are too
// small (reading the column instead) run often.
struct Capacities {
  int summarySlots = kSummarySlots;
  int zeroSlots = kZeroSlots;
  int logEntries = 0;            // 0: one per kLogShare elements of the matrix
  std::size_t scratchChunk = 0;  // 0: firstScratchChunk
};

// A solve's first chunk of scratch (common/scratch.h): room for what a
// solve of the exact or grid policy takes, per row plus column, and for
// every engine's whole solve of a small matrix, so that it makes one host
// allocation; the hybrid policy and the dense engine reserve one more
// (kHybridScratchPerLine, kDenseScratchPerElement) when they need it.
constexpr std::size_t kScratchPerLine = 256;
constexpr std::size_t kScratchBase = 8192;
// The buffer on the stack a solve starts its scratch on: it holds the
// whole scratch of the unique engine up to about 64-by-64 and of every
// engine up to about 32-by-32, so that those solves make no host
// allocation (in Octave a host allocation and its release cost about as
// much as a 5-by-5 solve).
constexpr std::size_t kStackScratchBytes = 16384;

inline std::size_t firstScratchChunk(int M, int N) {
  return kScratchPerLine * (static_cast<std::size_t>(M) + static_cast<std::size_t>(N)) +
         kScratchBase;
}

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

// One solve, on the engines of the plan for the request. With nanForbidden,
// NaN costs are replaced by the substitute like infinite ones; otherwise
// they are left in place. The outputs are zero on entry.
SolveOutcome solve(Scratch &scratch, double *assignment, double *cost, const double *C, int M,
                   int N, CostSummary &summary, bool nanForbidden, Engine request,
                   const Capacities &capacities, Engine *solvedBy) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  double substitute = 0.0;
  if (E > 0 && summary.anyNonFinite) {
    double F = summary.largestFinite;
    if (F == -1.0) return SolveOutcome::complete;  // nothing finite: no pairs, cost 0
    substitute =
        F > 0.0 ? (F * kSubstituteFactor) * static_cast<double>(E) : kSubstituteWhenAllZero;
  }
  SolveOutcome outcome = SolveOutcome::inexact;
  Plan order = plan(summary, C, request, M, N);
  for (int i = 0; i < order.count && outcome == SolveOutcome::inexact; ++i) {
    Engine engine = order.engines[i];
    *solvedBy = engine;
    switch (engine) {
      case Engine::exact:
        // NaN left in place is not the exact policy's; when NaN is
        // forbidden it stands for the substitute like Inf.
        outcome = solveExact(scratch, assignment, C, M, N, substitute, summary, nanForbidden,
                             capacities.summarySlots);
        break;
      case Engine::grid: {
        GridReport report;
        outcome =
            solveGrid(scratch, assignment, C, M, N, summary, capacities.summarySlots, &report);
        if (outcome == SolveOutcome::inexact && report.admitted) i = afterUncertified(order) - 1;
        break;
      }
      case Engine::hybrid:
        outcome = solveHybrid(scratch, assignment, C, M, N, summary, substitute, nanForbidden,
                              capacities.summarySlots);
        break;
      case Engine::unique:
        outcome = solveUnique(scratch, assignment, C, M, N, summary, substitute);
        break;
      case Engine::dense:
        outcome = solveDense(scratch, assignment, C, M, N, substitute, nanForbidden,
                             capacities.zeroSlots, capacities.logEntries);
        break;
      case Engine::automatic: break;
    }
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
  // Tests that ask for small chunks get no stack buffer either, so that
  // small solves run through the chunks' growth too.
  alignas(16) unsigned char stackScratch[kStackScratchBytes];
  Scratch scratch(allocator,
                  capacities.scratchChunk > 0 ? capacities.scratchChunk : firstScratchChunk(M, N),
                  capacities.scratchChunk > 0 ? nullptr : stackScratch, kStackScratchBytes);
  CostSummary summary;
  if (!checkCosts(C, M, N, scratch, &summary, failure)) return SolveOutcome::refused;
  SolveOutcome outcome =
      solve(scratch, assignment, cost, C, M, N, summary, false, engine, capacities, solvedBy);
  if (outcome == SolveOutcome::stuck && summary.anyNaN) {
    clearOutputs(assignment, cost, M);
    outcome =
        solve(scratch, assignment, cost, C, M, N, summary, true, engine, capacities, solvedBy);
  }
  if (outcome != SolveOutcome::complete) clearOutputs(assignment, cost, M);
  return outcome;
}

}  // namespace

#endif
