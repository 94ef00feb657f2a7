// plan.h: which engines a solve tries, and in which order. The one place
// the choice is made; every engine's own part says only what it takes.
//
// A solve's plan comes from the check of the costs (summary.h) and the
// request (automatic for the plug-in; one engine for the tests and
// benchmarks). The engines are tried in the plan's order until one takes
// the costs; the others report that they do not (SolveOutcome::inexact):
//   - exact    the potential engine with the exact policy (exact.h): costs
//              whose every operation in the steps is exact (integers, or
//              integer multiples of one power of two, small enough); Inf
//              and NaN (forbidden) through their substitute.
//   - grid     the potential engine with the grid policy (grid.h): finite
//              costs on one power-of-two grid, the largest at most 2^53
//              units, when its check certifies the result.
//   - unique   the unique-optimum engine (unique.h): costs without NaN up
//              to 2^500, when it proves that the steps end on the optimum
//              its search found (a clear margin over every other
//              assignment).
//   - hybrid   the potential engine with the hybrid policy (hybrid.h):
//              costs up to 2^1000, Inf and NaN included, unless heavy ties
//              exhaust its replays.
//   - dense    every input (dense.h).
// The automatic plans, by what the check found:
//   costs holding Inf, no NaN          exact, unique, hybrid, dense
//   costs holding NaN                  exact, hybrid, dense
//   finite integers                    exact, grid, hybrid, dense
//   finite, not all integers           grid, exact, unique, hybrid, dense
// The exact policy admits only costs the grid policy admits too, so for
// costs that are not all integers the grid engine goes first. The unique
// engine is planned where its search beats the potential engine: at most
// kPlannedUniquePairs pairs and kUniqueElements elements, or, on matrices
// at least kUniqueAspect times as long one way as the other, at most
// kPlannedOblongUniquePairs pairs and kOblongUniqueElements elements. Its
// margin grows as the cube of the pairs: beyond 500 pairs it stops holding
// on square 2-D distances (1000-by-1000, also 1000-by-1050), while oblong
// matrices hold clearer optima (certified up to 1000-by-2000 and
// 2000-by-1000, where it takes 0.35 to 0.9 of the hybrid or grid engine's
// time; 1300-by-1950 and 2000-by-4000 fail). Then, by size and shape:
// - The unique engine goes first (integers and rand included) on matrices
//   of at most kUniqueFirstElements elements and on oblong ones, unless
//   the costs take few values (fewValues: at most K^2 / 5, K^2 / 2 on
//   oblong matrices, or K^3 / 1000 steps of their grid for K pairs,
//   whichever is more, such as integers 0..1000 from 71 pairs, 45 on
//   oblong ones, or 0..10^6 from 1000), where ties make its proof fail too
//   often for its search to pay. Measured (host-free): on 20-by-20
//   it takes about half the exact or grid engine's time, on 50-by-50 0.7
//   to 1, on 100-by-100 and 200-by-200 1 to 2.3 (there the potential
//   engine goes first); on 100-by-50 to 2000-by-1000 and 100-by-200 to
//   1000-by-2000 0.5 to 0.9.
// - A matrix of at most kDenseElements elements skips the hybrid engine:
//   there the dense engine's plain loops beat its heaps and replays
//   (measured: dense is the faster up to about 64-by-64, on distances,
//   rand * 100 and 10^U(-3, 3) alike). Among those, costs of very few values
//   (at most K steps of their grid, such as integers 0..10 from 10 pairs
//   on) go to the dense engine alone: its zeros come in bulk there, and it
//   takes 0.6 of the exact engine's time (20-by-20 and 50-by-50).
// One engine's plan is that engine, then dense, except for the exact engine
// alone (which then reports inexact costs as such).
//
// One rule depends on the attempt: when the grid engine admits the costs
// but its check cannot certify its result, the solve goes straight to the
// plan's last engine, dense (afterUncertified): its costs are then on a
// grid too coarse for the potential engine's other policies to help.
#ifndef PAIRSOLVE_PLAN_H
#define PAIRSOLVE_PLAN_H

#include <cstdint>

#include "summary.h"

namespace {

// Which engine solves: the automatic plan, or one engine (see above). A
// solve reports the engine whose result it returns.
enum class Engine { automatic, dense, exact, grid, hybrid, unique };

// The most engines a plan holds.
constexpr int kMostPlannedEngines = 5;
// Up to this many elements, the automatic plans leave out the hybrid engine.
constexpr std::int64_t kDenseElements = 4096;
// Where the automatic plans hold the unique engine: at most this many
// pairs and elements, or at most the oblong ones on matrices at least
// kUniqueAspect times as long one way as the other.
constexpr int kPlannedUniquePairs = 500;
constexpr std::int64_t kUniqueElements = 1000000;
constexpr int kPlannedOblongUniquePairs = 1000;
constexpr std::int64_t kOblongUniqueElements = 2000000;
constexpr double kUniqueAspect = 1.5;
// Up to this many elements the unique engine goes first on square
// matrices too.
constexpr std::int64_t kUniqueFirstElements = 2500;
// Costs of at most K^2 / kTiesPerSquare (square) or K^2 /
// kOblongTiesPerSquare (oblong), or K^3 / kTiesDivisor steps of their
// grid, whichever is more, count as few values for K pairs. Measured on
// integer costs (host-free): on square matrices of 20 to 50 pairs the
// unique engine takes 0.4 to 0.55 of the exact engine's time and
// certifies 12 to 17 of 20 at 0.2 K^2 steps, more above (integers
// 0..1000: 18 of 20 at 50 pairs, 14 at 70, 12 at 100); oblong ones tie
// more often (their lines left unpaired offer every tie of the lines'
// least costs): integers 0..1000 certify 4 to 10 of 20 at 50 pairs.
constexpr double kTiesPerSquare = 5.0;
constexpr double kOblongTiesPerSquare = 2.0;
constexpr double kTiesDivisor = 1000.0;

// Whether the finite costs of the M-by-N matrix C take so few values that
// K pairs likely tie.
inline bool fewValues(CostSummary &summary, const double *C, int M, int N, int K, bool oblong) {
  const double k = static_cast<double>(K);
  const double perSquare = oblong ? kOblongTiesPerSquare : kTiesPerSquare;
  const double square = k * k / perSquare, cube = k * k * k / kTiesDivisor;
  return gridStepsAtMost(summary, C, M, N, square > cube ? square : cube);
}

struct Plan {
  Engine engines[kMostPlannedEngines];
  int count;
};

// The engines to try, in order, for the M-by-N costs C summarized by
// summary and the request. C is read only while the summary's grid is
// pending (gridStepsAtMost).
Plan plan(CostSummary &summary, const double *C, Engine request, int M, int N) {
  switch (request) {
    case Engine::dense: return {{Engine::dense}, 1};
    case Engine::exact: return {{Engine::exact}, 1};
    case Engine::grid: return {{Engine::grid, Engine::dense}, 2};
    case Engine::hybrid: return {{Engine::hybrid, Engine::dense}, 2};
    case Engine::unique: return {{Engine::unique, Engine::dense}, 2};
    case Engine::automatic: break;
  }
  const std::int64_t elements = static_cast<std::int64_t>(M) * N;
  const int K = M < N ? M : N;
  if (elements <= kDenseElements && !summary.anyNaN && gridStepsAtMost(summary, C, M, N, K)) {
    return {{Engine::dense}, 1};
  }
  Plan automatic;
  if (summary.anyNonFinite) {
    automatic = {{Engine::exact, Engine::hybrid, Engine::dense}, 3};
  } else if (summary.integral) {
    automatic = {{Engine::exact, Engine::grid, Engine::hybrid, Engine::dense}, 4};
  } else {
    automatic = {{Engine::grid, Engine::exact, Engine::hybrid, Engine::dense}, 4};
  }
  const bool oblong = static_cast<double>(M < N ? N : M) >= kUniqueAspect * K;
  const bool uniqueFits =
      (K <= kPlannedUniquePairs && elements <= kUniqueElements) ||
      (oblong && K <= kPlannedOblongUniquePairs && elements <= kOblongUniqueElements);
  const bool uniqueFirst =
      uniqueFits && (elements <= kUniqueFirstElements || oblong) &&
      !fewValues(summary, C, M, N, K, oblong);
  const bool finiteIntegers = summary.integral && !summary.anyNonFinite;
  if (uniqueFits && !summary.anyNaN && (uniqueFirst || !finiteIntegers)) {
    // The unique engine goes first, or just before the hybrid engine (the
    // last but one).
    int place = uniqueFirst ? 0 : automatic.count - 2;
    for (int i = automatic.count; i > place; --i) automatic.engines[i] = automatic.engines[i - 1];
    automatic.engines[place] = Engine::unique;
    ++automatic.count;
  }
  if (elements <= kDenseElements) {
    // The hybrid engine is the last but one: dense takes its place.
    automatic.engines[automatic.count - 2] = Engine::dense;
    --automatic.count;
  }
  return automatic;
}

// The place in the plan to go on from after the grid engine admitted the
// costs but could not certify its result: its last engine, when that is
// dense; else past its end.
inline int afterUncertified(const Plan &plan) {
  return plan.engines[plan.count - 1] == Engine::dense ? plan.count - 1 : plan.count;
}

}  // namespace

#endif
