// decision_check.h: the decision-checking build of the hybrid policy
// (PAIRSOLVE_CHECK_DECISIONS; the engine comparison's checked build, never
// a plug-in). It keeps every working cost as the steps compute it, element
// by element (a shadow of the plain steps, updated at every step 5 from the
// engine's covers), and checks each decision the hybrid policy makes
// against it:
//   - every zero test of step 3: the row found is the column's first
//     uncovered zero of the steps, or the column holds none;
//   - every step 5: no uncovered zero is left, h is the least uncovered
//     working cost of the steps, bit for bit; every uncovered element's
//     value replayed from the log without the cache (replay.h) equals the
//     shadow's; and |F - W|, the steps' value against the engine's, is
//     within the bound of E3 in hybrid.h, u (5n + 3P + 8) (|W| + 4T).
// A violation ends the process, after printing the matrix and the step.
// The largest |F - W| seen, as a fraction of the margin, and the counts of
// decisions checked are kept for the whole process (checkedDecisions).
#ifndef PAIRSOLVE_DECISION_CHECK_H
#define PAIRSOLVE_DECISION_CHECK_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "basics.h"
#include "marks.h"
#include "replay.h"

namespace {

// The exit status of a run that found a violation.
constexpr int kViolationExit = 3;

// What the checks found over the whole process.
struct CheckedDecisions {
  std::int64_t zeroTests = 0;
  std::int64_t steps = 0;
  std::int64_t elements = 0;  // uncovered elements compared at step 5s
  double largestRatio = 0.0;  // the largest |F - W| / margin(|W|)
};

inline CheckedDecisions &checkedDecisions() {
  static CheckedDecisions totals;
  return totals;
}

// The steps' working costs of one solve.
struct DecisionCheck {
  const double *C;
  int M, N;
  std::vector<double> F;  // column-major, as the steps have them now
};

// Starts a solve's shadow from the steps' reduced costs.
inline void startDecisionCheck(DecisionCheck &check, const Replay &replay) {
  check.C = replay.C;
  check.M = replay.M;
  check.N = replay.N;
  check.F.assign(static_cast<std::size_t>(replay.M) * replay.N, 0.0);
  for (int c = 0; c < replay.N; ++c) {
    for (int r = 0; r < replay.M; ++r) check.F[at(r, c, replay.M)] = reducedCost(replay, r, c);
  }
}

[[noreturn]] inline void decisionViolation(const DecisionCheck &check, std::int64_t step, int phase,
                                           const char *what) {
  std::fprintf(stderr, "decision check: violation after %lld step 5s, phase %d: %s\nC = [",
               static_cast<long long>(step), phase, what);
  for (int r = 0; r < check.M; ++r) {
    for (int c = 0; c < check.N; ++c) {
      std::fprintf(stderr, "%s%.17g", c > 0 ? " " : (r > 0 ? "; " : ""),
                   check.C[at(r, c, check.M)]);
    }
  }
  std::fprintf(stderr, "]\n");
  std::fflush(stderr);
  std::fflush(stdout);
  std::_Exit(kViolationExit);
}

// Step 3 found row found (kNone: none) as the first uncovered zero of
// column c.
inline void checkZeroTest(const DecisionCheck &check, const Marks &marks, int c, int found,
                          std::int64_t step, int phase) {
  ++checkedDecisions().zeroTests;
  int first = kNone;
  for (int r = 0; r < check.M && first == kNone; ++r) {
    if (!marks.rowCovered[r] && check.F[at(r, c, check.M)] == 0.0) first = r;
  }
  if (first != found) {
    char what[160];
    std::snprintf(what, sizeof what,
                  "step 3 found row %d as the first uncovered zero of column "
                  "%d, the steps' is row %d",
                  found, c, first);
    decisionViolation(check, step, phase, what);
  }
}

// Step 5 chose h; W(r, c) is the engine's working cost of an uncovered
// element, replay(r, c) its value replayed from the log without the cache;
// delta and T the margin's factor and the sum of every h so far.
template <class Working, class Replayed>
void checkStep5(const DecisionCheck &check, const Marks &marks, double h, std::int64_t step,
                int phase, double delta, double T, Working W, Replayed replay) {
  CheckedDecisions &totals = checkedDecisions();
  ++totals.steps;
  double least = kInf;
  const double bound = kUnitRoundoff * (5.0 * static_cast<double>(step) + 3.0 * phase + 8.0);
  for (int c = 0; c < check.N; ++c) {
    if (marks.colCovered[c]) continue;
    for (int r = 0; r < check.M; ++r) {
      if (marks.rowCovered[r]) continue;
      double F = check.F[at(r, c, check.M)];
      char what[200];
      if (F == 0.0) {
        std::snprintf(what, sizeof what, "step 5 with the uncovered zero (%d, %d) left", r, c);
        decisionViolation(check, step, phase, what);
      }
      double replayed = replay(r, c);
      if (!(replayed == F) && !(std::isnan(replayed) && std::isnan(F))) {
        std::snprintf(what, sizeof what, "(%d, %d) replays as %.17g, the steps have %.17g", r, c,
                      replayed, F);
        decisionViolation(check, step, phase, what);
      }
      if (F < least) least = F;
      if (std::isnan(F)) continue;
      double w = W(r, c);
      double error = std::fabs(F - w);
      ++totals.elements;
      if (error > bound * (std::fabs(w) + 4.0 * T)) {
        std::snprintf(what, sizeof what, "|F - W| = %.3g at (%d, %d) beyond the bound %.3g", error,
                      r, c, bound * (std::fabs(w) + 4.0 * T));
        decisionViolation(check, step, phase, what);
      }
      double margin = delta * (std::fabs(w) + 4.0 * T);
      if (margin > 0.0 && error / margin > totals.largestRatio) {
        totals.largestRatio = error / margin;
      }
    }
  }
  if (!(least == h)) {
    char what[160];
    std::snprintf(what, sizeof what, "step 5 took h = %.17g, the steps' least is %.17g", h, least);
    decisionViolation(check, step, phase, what);
  }
}

// The steps' step 5 with h: covered rows gain h, then uncovered columns
// lose it.
inline void applyCheckedStep5(DecisionCheck &check, const Marks &marks, double h) {
  for (int c = 0; c < check.N; ++c) {
    for (int r = 0; r < check.M; ++r) {
      double &F = check.F[at(r, c, check.M)];
      if (marks.rowCovered[r]) F = h + F;
      if (!marks.colCovered[c]) F = F - h;
    }
  }
}

}  // namespace

#endif
