// The plain engine: a literal transcription of the covering steps, the
// reference that every engine of pairsolve must match decision for decision
// (the same primes, stars and covers, hence the same assignment among
// equal-cost ones) and bit for bit in the cost. The tests compare with it
// and the benchmarks time it; it needs no host.
//
// Every step scans the Boolean star and prime matrices and the working
// costs in the order of the steps: rows and columns ascending, step 3
// restarting at column 0 after every pass that primed, step 5 adding h to
// every element of the covered rows and then subtracting it from every
// element of the uncovered columns. It is slow on purpose: each step reads
// as one routine, one scan at a time.
#ifndef TOOLBOX_REFERENCE_PAIRSOLVE_PLAIN_H
#define TOOLBOX_REFERENCE_PAIRSOLVE_PLAIN_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace plain {

// Substitute for infinite costs: (largest finite cost x 10) x element count,
// or this value when every finite cost is zero.
constexpr double kSubstituteFactor = 10.0;
constexpr double kSubstituteWhenAllZero = 10.0;

// The steps, as states of the loop that drives a solve.
enum class Step { step2a, step2b, step3, step4, step5, complete, stuck };

struct Transition {
  Step next;
  int row;  // step 4 only: the primed zero whose row holds no star
  int column;
};

inline std::int64_t at(int r, int c, int M) {
  return static_cast<std::int64_t>(r) + static_cast<std::int64_t>(M) * c;
}

// Writes, for every row with a star, the star's 1-based column.
inline void buildassignmentvector(double *assignment, const bool *starred, int M, int N) {
  for (int r = 0; r < M; ++r) {
    for (int c = 0; c < N; ++c) {
      if (starred[at(r, c, M)]) {
        assignment[r] = c + 1.0;
        break;
      }
    }
  }
}

// Sums the caller's costs of the pairs, in row order; a pair made on a
// non-finite cost is withdrawn (reported as no pair, adding nothing).
inline void computeassignmentcost(double *assignment, double *cost, const double *C, int M) {
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

// Covers every column that holds a star (never uncovers one).
inline Transition step2a(double *, double *, bool *starred, bool *, bool *, bool *colCovered,
                         bool *, int M, int N, int) {
  for (int c = 0; c < N; ++c) {
    for (int r = 0; r < M; ++r) {
      if (starred[at(r, c, M)]) {
        colCovered[c] = true;
        break;
      }
    }
  }
  return {Step::step2b, 0, 0};
}

// Done when K columns are covered; otherwise go on priming.
inline Transition step2b(double *assignment, double *, bool *starred, bool *, bool *,
                         bool *colCovered, bool *, int M, int N, int targetCount) {
  int covered = 0;
  for (int c = 0; c < N; ++c) {
    if (colCovered[c]) {
      ++covered;
    }
  }
  if (covered == targetCount) {
    buildassignmentvector(assignment, starred, M, N);
    return {Step::complete, 0, 0};
  }
  return {Step::step3, 0, 0};
}

// Primes uncovered zeros, one per uncovered column per pass, columns and rows
// ascending. A prime whose row holds no star starts step 4; otherwise its row
// is covered and the star's column uncovered. A pass that primed anything is
// followed by a new pass from column 0; a pass that primed nothing by step 5.
inline Transition step3(double *, double *workCost, bool *starred, bool *, bool *primed,
                        bool *colCovered, bool *rowCovered, int M, int N, int) {
  for (;;) {
    bool found = false;
    for (int c = 0; c < N; ++c) {
      if (colCovered[c]) {
        continue;
      }
      for (int r = 0; r < M; ++r) {
        if (rowCovered[r] || workCost[at(r, c, M)] != 0.0) {
          continue;
        }
        primed[at(r, c, M)] = true;
        int starColumn = -1;
        for (int c2 = 0; c2 < N; ++c2) {
          if (starred[at(r, c2, M)]) {
            starColumn = c2;
            break;
          }
        }
        if (starColumn < 0) {
          return {Step::step4, r, c};
        }
        rowCovered[r] = true;
        colCovered[starColumn] = false;
        found = true;
        break;  // leave column c; the pass goes on with column c + 1
      }
    }
    if (!found) {
      return {Step::step5, 0, 0};
    }
  }
}

// Stars the prime at (r0, c0) and walks the alternating path: the star in the
// prime's column is unstarred and the prime in that star's row starred, until
// a column without a star is reached. Then all primes and row covers go.
inline Transition step4(double *, double *, bool *starred, bool *nextStarred, bool *primed, bool *,
                        bool *rowCovered, int M, int N, int, int r0, int c0) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  for (std::int64_t i = 0; i < E; ++i) {
    nextStarred[i] = starred[i];
  }
  nextStarred[at(r0, c0, M)] = true;
  int c = c0;
  for (;;) {
    int r = 0;
    while (r < M && !starred[at(r, c, M)]) {
      ++r;
    }
    if (r == M) {
      break;
    }
    nextStarred[at(r, c, M)] = false;
    int primeColumn = 0;
    while (primeColumn < N && !primed[at(r, primeColumn, M)]) {
      ++primeColumn;
    }
    if (primeColumn == N) {
      return {Step::stuck, 0, 0};  // a star without a prime in its row: the state is corrupt
    }
    nextStarred[at(r, primeColumn, M)] = true;
    c = primeColumn;
  }
  for (std::int64_t i = 0; i < E; ++i) {
    primed[i] = false;
    starred[i] = nextStarred[i];
  }
  for (int r = 0; r < M; ++r) {
    rowCovered[r] = false;
  }
  return {Step::step2a, 0, 0};
}

// Takes h, the least uncovered working cost, adds it to every element of the
// covered rows and then subtracts it from every element of the uncovered
// columns. Without a finite h (NaN or overflowed costs) the solve is stuck.
inline Transition step5(double *, double *workCost, bool *, bool *, bool *, bool *colCovered,
                        bool *rowCovered, int M, int N, int) {
  double h = std::numeric_limits<double>::infinity();
  for (int r = 0; r < M; ++r) {
    if (rowCovered[r]) {
      continue;
    }
    for (int c = 0; c < N; ++c) {
      if (!colCovered[c] && workCost[at(r, c, M)] < h) {
        h = workCost[at(r, c, M)];
      }
    }
  }
  if (!std::isfinite(h)) {
    return {Step::stuck, 0, 0};
  }
  for (int r = 0; r < M; ++r) {
    if (rowCovered[r]) {
      for (int c = 0; c < N; ++c) {
        workCost[at(r, c, M)] = h + workCost[at(r, c, M)];
      }
    }
  }
  for (int c = 0; c < N; ++c) {
    if (!colCovered[c]) {
      for (int r = 0; r < M; ++r) {
        workCost[at(r, c, M)] = workCost[at(r, c, M)] - h;
      }
    }
  }
  return {Step::step3, 0, 0};
}

// Runs the steps from step 2b until the solve completes or is stuck. Between
// two runs of step 4, step 5 can run at most targetCount times on any input
// whose working costs stay finite; more runs mean the solve cannot finish.
inline bool runSteps(double *assignment, double *workCost, bool *starred, bool *nextStarred,
                     bool *primed, bool *colCovered, bool *rowCovered, int M, int N,
                     int targetCount) {
  Transition t{Step::step2b, 0, 0};
  std::int64_t shiftsSinceAugment = 0;
  for (;;) {
    switch (t.next) {
      case Step::step2a:
        t = step2a(assignment, workCost, starred, nextStarred, primed, colCovered, rowCovered, M, N,
                   targetCount);
        break;
      case Step::step2b:
        t = step2b(assignment, workCost, starred, nextStarred, primed, colCovered, rowCovered, M, N,
                   targetCount);
        break;
      case Step::step3:
        t = step3(assignment, workCost, starred, nextStarred, primed, colCovered, rowCovered, M, N,
                  targetCount);
        break;
      case Step::step4:
        shiftsSinceAugment = 0;
        t = step4(assignment, workCost, starred, nextStarred, primed, colCovered, rowCovered, M, N,
                  targetCount, t.row, t.column);
        break;
      case Step::step5:
        if (++shiftsSinceAugment > targetCount) {
          return false;
        }
        t = step5(assignment, workCost, starred, nextStarred, primed, colCovered, rowCovered, M, N,
                  targetCount);
        break;
      case Step::complete: return true;
      case Step::stuck: return false;
    }
  }
}

enum class SolveOutcome { complete, stuck };

// One solve. With nanForbidden, NaN costs are replaced by the substitute like
// infinite ones; otherwise they are left in place. The caller has checked C
// and set the outputs to zero.
inline SolveOutcome solve(double *assignment, double *cost, const double *C, int M, int N,
                          bool nanForbidden) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  auto *workCost = static_cast<double *>(std::malloc(sizeof(double) * static_cast<size_t>(E)));
  for (std::int64_t i = 0; i < E; ++i) {
    workCost[i] = C[i];
  }
  if (E > 0) {
    double F = -1.0;
    bool anyNonFinite = false;
    for (std::int64_t i = 0; i < E; ++i) {
      if (std::isfinite(workCost[i])) {
        if (workCost[i] > F) {
          F = workCost[i];
        }
      } else {
        anyNonFinite = true;
      }
    }
    if (anyNonFinite) {
      if (F == -1.0) {
        std::free(workCost);
        return SolveOutcome::complete;  // nothing finite: no pairs, cost 0
      }
      double S =
          F > 0.0 ? (F * kSubstituteFactor) * static_cast<double>(E) : kSubstituteWhenAllZero;
      for (std::int64_t i = 0; i < E; ++i) {
        if (std::isinf(workCost[i]) || (nanForbidden && std::isnan(workCost[i]))) {
          workCost[i] = S;
        }
      }
    }
  }
  auto *colCovered = static_cast<bool *>(std::calloc(static_cast<size_t>(N), 1));
  auto *rowCovered = static_cast<bool *>(std::calloc(static_cast<size_t>(M), 1));
  auto *starred = static_cast<bool *>(std::calloc(static_cast<size_t>(E), 1));
  auto *primed = static_cast<bool *>(std::calloc(static_cast<size_t>(E), 1));
  auto *nextStarred = static_cast<bool *>(std::calloc(static_cast<size_t>(E), 1));

  int targetCount = 0;
  if (M <= N && M > 0) {
    for (int r = 0; r < M; ++r) {
      double minimum = workCost[at(r, 0, M)];
      for (int c = 1; c < N; ++c) {
        if (workCost[at(r, c, M)] < minimum) {
          minimum = workCost[at(r, c, M)];
        }
      }
      for (int c = 0; c < N; ++c) {
        workCost[at(r, c, M)] -= minimum;
      }
    }
    for (int r = 0; r < M; ++r) {
      for (int c = 0; c < N; ++c) {
        if (workCost[at(r, c, M)] == 0.0 && !colCovered[c]) {
          starred[at(r, c, M)] = true;
          colCovered[c] = true;
          break;
        }
      }
    }
    targetCount = M;
  } else if (M > N && N > 0) {
    for (int c = 0; c < N; ++c) {
      double minimum = workCost[at(0, c, M)];
      for (int r = 1; r < M; ++r) {
        if (workCost[at(r, c, M)] < minimum) {
          minimum = workCost[at(r, c, M)];
        }
      }
      for (int r = 0; r < M; ++r) {
        workCost[at(r, c, M)] -= minimum;
      }
    }
    for (int c = 0; c < N; ++c) {
      for (int r = 0; r < M; ++r) {
        if (workCost[at(r, c, M)] == 0.0 && !rowCovered[r]) {
          starred[at(r, c, M)] = true;
          colCovered[c] = true;
          rowCovered[r] = true;
          break;
        }
      }
    }
    for (int r = 0; r < M; ++r) {
      rowCovered[r] = false;
    }
    targetCount = N;
  }

  bool complete = runSteps(assignment, workCost, starred, nextStarred, primed, colCovered,
                           rowCovered, M, N, targetCount);
  if (complete) {
    computeassignmentcost(assignment, cost, C, M);
  }
  std::free(workCost);
  std::free(colCovered);
  std::free(rowCovered);
  std::free(starred);
  std::free(primed);
  std::free(nextStarred);
  return complete ? SolveOutcome::complete : SolveOutcome::stuck;
}

inline void clearOutputs(double *assignment, double *cost, int M) {
  *cost = 0.0;
  for (int r = 0; r < M; ++r) {
    assignment[r] = 0.0;
  }
}

// The driver, for a matrix without finite negative costs: solves with NaN in
// place; if the steps cannot complete and C holds NaN, solves again with NaN
// forbidden like Inf. Returns false when even that cannot complete (the
// plug-in then raises pairsolve:costOverflow).
inline bool pairsolve(double *assignment, double *cost, const double *C, int M, int N) {
  clearOutputs(assignment, cost, M);
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  bool anyNaN = false;
  for (std::int64_t i = 0; i < E; ++i) {
    anyNaN = anyNaN || std::isnan(C[i]);
  }
  if (solve(assignment, cost, C, M, N, false) == SolveOutcome::complete) {
    return true;
  }
  if (anyNaN) {
    clearOutputs(assignment, cost, M);
    if (solve(assignment, cost, C, M, N, true) == SolveOutcome::complete) {
      return true;
    }
  }
  clearOutputs(assignment, cost, M);
  return false;
}

}  // namespace plain

#endif
