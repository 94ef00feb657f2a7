// dense.h: the dense engine, which solves every input. It owns the working
// cost matrix, the per-row minima from which step 5 takes h, the candidate
// zero rows of each column, the log of past phases that columns catch up
// with, and solveDense, which runs the covering steps (marks.h) over them.
//
// It keeps the working costs in a matrix, but performs step 5's
// arithmetic late. Within a phase (from one step 4 to the next) rows are
// only covered and columns only uncovered, so the operations a working
// cost receives are fixed by the step 5 from which its row is covered and
// the one from which its column is uncovered: at each step 5, h + x when
// both are covered, (h + x) - h when only the row is, x - h when only the
// column is, and nothing when neither is. Step 5 only records its h; the
// operations are performed later, exactly and in the same order: for the
// unstarred columns when the phase ends (their row minima are rebuilt on
// the way), for any other column when step 3 next uncovers it (the phases
// it waits for are logged: their covered rows, the step 5 from which each
// was covered, and their h; a full log makes every column catch up), and
// for a single element when step 3 needs its value (denseElement). Between
// a column's uncovering and the next step 5 the working costs of its
// uncovered rows are current, which is when step 3 scans it. h comes from
// per-row minima: over the unstarred columns (kept across phases) and over
// the columns uncovered by step 3 (from the phase's first step 5).
//
// Each column keeps candidate rows for its zeros (zeroRow, a superset of
// them), so step 3 need not scan it; when more zeros arise than it has
// room for, the column is unlisted and scanned, until it is brought up to
// date with few zeros again.
#ifndef PAIRSOLVE_DENSE_H
#define PAIRSOLVE_DENSE_H

#include <cmath>
#include <cstdint>

#include "basics.h"
#include "columns.h"
#include "deferred.h"
#include "marks.h"

namespace {

// Candidate rows for the zeros of each column, and the most that may be
// asked for.
constexpr int kZeroSlots = 4;
constexpr int kMaxZeroSlots = 64;

// The log of deferred additions holds up to one entry per this many
// elements of the matrix.
constexpr int kLogShare = 16;

// The scratch a dense solve takes, at most: per element (the working
// costs and the log), per row plus column, and a base (one host
// allocation beside the solve's first).
constexpr std::size_t kDenseScratchPerElement = 10;
constexpr std::size_t kDenseScratchPerLine = 256;
constexpr std::size_t kDenseScratchBase = 4096;

struct Dense {
  double *workCost;  // M-by-N, brought up to date at the end of each phase
  int phase;
  double *shifts;  // h of each step 5 in this phase
  int shiftCount;
  int *coverShift;    // per row covered in this phase: shiftCount when it was covered; else kNone
  int *uncoverPhase;  // per column: phase in which it was uncovered last
  int *uncoverShift;  // per column uncovered in this phase: shiftCount when it was uncovered
  double *minUnstarred;     // per row: least working cost over the unstarred columns
  double *minReached;       // per row: least over the columns uncovered by step 3 in this phase
  bool reachedLive;         // minReached is kept (from the phase's first step 5)
  int slots;                // candidate zero rows per column
  int *zeroRow;             // per column: slots candidate rows
  int *zeroCount;           // per column: candidates held
  unsigned char *unlisted;  // per column: its zeros may not all be candidates
  double *buffer;           // scratch, per row
  double *coveredMin;       // scratch, per row: minima over unstarred columns of covered rows
  // The log of past phases: phase k has the rows logRow[logRowStart[k] ..
  // logRowStart[k + 1]), covered before its last step 5, in the order they
  // were covered, and the h logShift[logShiftStart[k] + t] of its step 5s.
  // The rows come in runs covered from the same step 5: the runs
  // [logRunStart[k], logRunStart[k + 1]) end at row logRunEnd (counted
  // from the phase's first) and are covered from step 5 logRunFrom on.
  // settled[c]: the logged phases column c has caught up with.
  int *logRow;
  int *logRowStart;
  int *logRunEnd;
  int *logRunFrom;
  int *logRunStart;
  double *logShift;
  int *logShiftStart;
  int logPhases;
  // Per column: the logged phase in which step 3 uncovered it, from step 5
  // pendingShift on, when it has not caught up with that phase; else kNone.
  int *pendingPhase;
  int *pendingShift;
  int logCapacity;  // entries of logRow, of the runs, of logShift, and of phases
  int *settled;
};

// The working cost (r, c) now, for a row r not covered in this phase: the
// stored one less every h since column c was uncovered.
double denseElement(const Dense &dense, int r, int c, int M) {
  double x = dense.workCost[at(r, c, M)];
  int from = dense.uncoverPhase[c] == dense.phase ? dense.uncoverShift[c] : dense.shiftCount;
  for (int t = from; t < dense.shiftCount; ++t) x = x - dense.shifts[t];
  return x;
}

// Row r is a candidate for a zero of column c.
void denseAddCandidate(Dense &dense, int c, int r) {
  if (dense.unlisted[c]) return;
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  for (int k = 0; k < dense.zeroCount[c]; ++k) {
    if (rows[k] == r) return;
  }
  if (dense.zeroCount[c] == dense.slots) {
    dense.unlisted[c] = 1;
    return;
  }
  rows[dense.zeroCount[c]++] = r;
}

// Rebuilds the candidates of column c, whose working costs are current:
// its zero rows, or unlisted when there are more than slots.
void denseListZeros(Dense &dense, int c, int M) {
  const double *column = dense.workCost + at(0, c, M);
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  int count = 0;
  int r = 0;
  for (;;) {
    r = firstZero(column, r, M);
    if (r == M) break;
    if (count == dense.slots) {
      dense.unlisted[c] = 1;
      dense.zeroCount[c] = 0;
      return;
    }
    rows[count++] = r++;
  }
  dense.unlisted[c] = 0;
  dense.zeroCount[c] = count;
}

// The first uncovered zero row of listed column c, or kNone; candidates
// that are no longer zeros are dropped (a zero that comes back is a
// candidate again).
int denseListedZero(Dense &dense, const Marks &marks, int c) {
  int M = marks.M;
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  int best = kNone;
  for (int k = 0; k < dense.zeroCount[c];) {
    int r = rows[k];
    if (marks.rowCovered[r] || (best != kNone && r > best)) {
      ++k;
      continue;
    }
    if (denseElement(dense, r, c, M) == 0.0) {
      best = r;
      ++k;
    } else {
      rows[k] = rows[--dense.zeroCount[c]];
    }
  }
  return best;
}

// Copies C into the working costs, with the substitute for infinite (and,
// when nanForbidden, NaN) costs, and reduces rows (M <= N) or columns
// (M > N) as the steps begin. Returns the number of stars to reach.
int denseReduce(Dense &dense, const double *C, int M, int N, double substitute, bool nanForbidden) {
  double *w = dense.workCost;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  for (std::int64_t i = 0; i < E; ++i) {
    double x = C[i];
    w[i] = (std::isinf(x) || (nanForbidden && std::isnan(x))) ? substitute : x;
  }
  if (M <= N && M > 0) {
    // Row minima in column order: for each row the same comparisons, in the
    // same order, as a scan along the row.
    double *minimum = dense.buffer;
    for (int r = 0; r < M; ++r) minimum[r] = w[r];
    for (int c = 1; c < N; ++c) {
      const double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) {
        if (column[r] < minimum[r]) minimum[r] = column[r];
      }
    }
    for (int c = 0; c < N; ++c) {
      double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) column[r] -= minimum[r];
    }
    return M;
  }
  if (M > N && N > 0) {
    for (int c = 0; c < N; ++c) {
      double *column = w + at(0, c, M);
      double minimum = column[0];
      for (int r = 1; r < M; ++r) {
        if (column[r] < minimum) minimum = column[r];
      }
      for (int r = 0; r < M; ++r) column[r] -= minimum;
    }
    return N;
  }
  return 0;
}

// Copies and reduces C (denseReduce), lists every column's zeros, places
// the first stars (by rows from the candidates when they hold every zero),
// and forms the row minima over the unstarred columns.
void denseStart(Scratch &scratch, Dense &dense, Marks &marks, const double *C, double substitute,
                bool nanForbidden) {
  int M = marks.M;
  int N = marks.N;
  const double *w = dense.workCost;
  marks.targetCount = denseReduce(dense, C, M, N, substitute, nanForbidden);
  bool allListed = true;
  for (int c = 0; c < N; ++c) {
    denseListZeros(dense, c, M);
    allListed = allListed && !dense.unlisted[c];
  }
  if (marks.targetCount == M && M > 0) {
    if (allListed) {
      placeStarsByRows(scratch, marks, [&dense](int c, auto take) {
        const int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
        for (int k = 0; k < dense.zeroCount[c]; ++k) take(rows[k]);
      });
    } else {
      placeStarsByRowScan(marks, [w, M](int r, int c) { return w[at(r, c, M)] == 0.0; });
    }
  } else if (marks.targetCount == N && N > 0) {
    placeStarsByColumns(marks, [w, &marks, M](int c) {
      const double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) {
        if (column[r] == 0.0 && marks.starColumn[r] == kNone) return r;
      }
      return kNone;
    });
  }
  collectUnstarred(marks);
  for (int r = 0; r < M; ++r) dense.minUnstarred[r] = kInf;
  for (int i = 0; i < marks.unstarredCount; ++i) {
    minInto(dense.minUnstarred, w + at(0, marks.unstarred[i], M), M);
  }
}

// Performs one phase's operations on column c (see the engine's note):
// rows[0..n) are the rows covered in it before its last step 5, in the
// order they were covered, in runs: run g ends at runEnd[g] and is covered
// from step 5 runFrom[g] on; shifts[0..T) are its h; the column was
// uncovered from step 5 uncovered on (T if it stayed covered). The other
// rows lose every h from uncovered on; the covered rows take theirs from
// values set aside first. When least is not null, it takes the column's
// working costs, the covered rows' going to coveredLeast. Zeros among the
// covered rows become candidates.
void denseApplyPhase(Dense &dense, int c, int M, const int *rows, int n, const int *runEnd,
                     const int *runFrom, int runs, const double *shifts, int T, int uncovered,
                     double *least, double *coveredLeast) {
  double *column = dense.workCost + at(0, c, M);
  double *buffer = dense.buffer;
  if (uncovered == T) {
    // Only the covered rows change: in place.
    for (int g = 0, i = 0; g < runs; i = runEnd[g++]) {
      applyToRows(column, rows + i, runEnd[g] - i, shifts, operationsFor(runFrom[g], T, T));
    }
    return;
  }
  for (int i = 0; i < n; ++i) buffer[i] = column[rows[i]];
  for (int g = 0, i = 0; g < runs; i = runEnd[g++]) {
    applyToRange(buffer, i, runEnd[g], shifts, operationsFor(runFrom[g], uncovered, T));
  }
  subtractShifts(column, M, shifts + uncovered, T - uncovered, least);
  // Where the column was uncovered, (h + x) - h can round to a zero.
  bool anyZero = false;
  for (int i = 0; i < n; ++i) {
    column[rows[i]] = buffer[i];
    anyZero = anyZero || buffer[i] == 0.0;
  }
  if (coveredLeast != nullptr) {
    for (int i = 0; i < n; ++i) {
      if (buffer[i] < coveredLeast[rows[i]]) coveredLeast[rows[i]] = buffer[i];
    }
  }
  if (anyZero) {
    for (int i = 0; i < n; ++i) {
      if (buffer[i] == 0.0) denseAddCandidate(dense, c, rows[i]);
    }
  }
}

// Column c catches up with the logged phases it has not received: in each,
// the rows covered from a step 5 on gain the h of every step 5 from then;
// in the one in which step 3 uncovered it (pendingPhase), it also loses
// every h from then. Then its working costs are current.
void denseCatchUp(Dense &dense, int c, int M) {
  if (dense.settled[c] == dense.logPhases) return;
  prefetchRange(dense.workCost + at(0, c, M), M);
  bool swept = false;
  for (int k = dense.settled[c]; k < dense.logPhases; ++k) {
    int first = dense.logRowStart[k];
    int firstRun = dense.logRunStart[k];
    int T = dense.logShiftStart[k + 1] - dense.logShiftStart[k];
    int uncovered = k == dense.pendingPhase[c] ? dense.pendingShift[c] : T;
    swept = swept || uncovered < T;
    denseApplyPhase(dense, c, M, dense.logRow + first, dense.logRowStart[k + 1] - first,
                    dense.logRunEnd + firstRun, dense.logRunFrom + firstRun,
                    dense.logRunStart[k + 1] - firstRun, dense.logShift + dense.logShiftStart[k], T,
                    uncovered, nullptr, nullptr);
  }
  dense.settled[c] = dense.logPhases;
  dense.pendingPhase[c] = kNone;
  if (swept && dense.unlisted[c]) denseListZeros(dense, c, M);
}

// A new phase: the uncovered columns are the unstarred ones, each searched
// from its first row.
void denseNewPhase(Dense &dense, Marks &marks, Cursors &cursors) {
  ++dense.phase;
  dense.shiftCount = 0;
  dense.reachedLive = false;
  deactivateAll(marks);
  for (int i = 0; i < marks.unstarredCount; ++i) {
    int c = marks.unstarred[i];
    dense.uncoverPhase[c] = dense.phase;
    dense.uncoverShift[c] = 0;
    searchFromTop(cursors, c);
    activate(marks, c);
  }
}

// Step 3 covered a row and uncovered column c.
void denseUncovered(Dense &dense, const Marks &marks, Cursors &cursors, int c) {
  dense.coverShift[marks.coveredRows[marks.coveredCount - 1]] = dense.shiftCount;
  denseCatchUp(dense, c, marks.M);
  dense.uncoverPhase[c] = dense.phase;
  dense.uncoverShift[c] = dense.shiftCount;
  searchFromTop(cursors, c);
  if (dense.reachedLive) minInto(dense.minReached, dense.workCost + at(0, c, marks.M), marks.M);
}

// Step 5. h is the least uncovered working cost (from the row minima);
// its operations are recorded, to be performed later. Subtraction is
// monotone, so each uncovered row's minimum is its old minimum minus h,
// and the new zeros are in the rows whose minimum was h. Returns false
// when no finite h exists (NaN or overflowed costs): the steps cannot
// complete.
bool denseStep5(Dense &dense, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  if (!dense.reachedLive) {
    for (int r = 0; r < M; ++r) dense.minReached[r] = kInf;
    for (int i = 0; i < marks.coveredCount; ++i) {
      minInto(dense.minReached, dense.workCost + at(0, marks.reachedColumns[i], M), M);
    }
    dense.reachedLive = true;
  }
  double h = kInf;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    if (dense.minUnstarred[r] < h) h = dense.minUnstarred[r];
    if (dense.minReached[r] < h) h = dense.minReached[r];
  }
  if (!std::isfinite(h)) return false;
  cursors.zeroRowCount = 0;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    if (dense.minUnstarred[r] == h || dense.minReached[r] == h) {
      cursors.zeroRows[cursors.zeroRowCount++] = r;
    }
    dense.minUnstarred[r] = dense.minUnstarred[r] - h;
    dense.minReached[r] = dense.minReached[r] - h;
  }
  dense.shifts[dense.shiftCount++] = h;
  // Every uncovered column: its new zeros become candidates, and step 3
  // searches it again, in the zero rows.
  for (int i = 0; i < marks.unstarredCount + marks.coveredCount; ++i) {
    int c = i < marks.unstarredCount ? marks.unstarred[i]
                                     : marks.reachedColumns[i - marks.unstarredCount];
    searchZeroRows(cursors, c);
    for (int k = 0; k < cursors.zeroRowCount; ++k) {
      int r = cursors.zeroRows[k];
      if (denseElement(dense, r, c, M) == 0.0) {
        denseAddCandidate(dense, c, r);
        activate(marks, c);
      }
    }
  }
  return true;
}

// Step 4 uncovers every row covered in the phase.
void clearCoverShifts(Dense &dense, const Marks &marks) {
  for (int i = 0; i < marks.coveredCount; ++i) dense.coverShift[marks.coveredRows[i]] = kNone;
}

// The phase ends (step 4 is next, and will star column starred). The phase
// is logged (when the log is full, every column catches up first and it
// starts empty); the unstarred columns are brought up to date, and the row
// minima over them rebuilt; the columns step 3 uncovered wait for their
// next uncovering; the covered rows are uncovered for the next phase.
void denseEndPhase(Dense &dense, Marks &marks, int starred) {
  int M = marks.M;
  int N = marks.N;
  int T = dense.shiftCount;
  if (T == 0) {
    // Nothing changed; column starred leaves the unstarred ones: the rows
    // whose minimum it held find theirs again.
    const double *column = dense.workCost + at(0, starred, M);
    for (int r = 0; r < M; ++r) {
      if (!(column[r] == dense.minUnstarred[r])) continue;
      double least = kInf;
      for (int i = 0; i < marks.unstarredCount; ++i) {
        int c = marks.unstarred[i];
        double x = dense.workCost[at(r, c, M)];
        if (c != starred && x < least) least = x;
      }
      dense.minUnstarred[r] = least;
    }
    clearCoverShifts(dense, marks);
    return;
  }
  // Rows covered after the last step 5 took none of its operations as
  // covered rows: they are not logged.
  int logged = 0;
  while (logged < marks.coveredCount && dense.coverShift[marks.coveredRows[logged]] < T) ++logged;
  int rowsUsed = dense.logRowStart[dense.logPhases];
  int runsUsed = dense.logRunStart[dense.logPhases];
  int shiftsUsed = dense.logShiftStart[dense.logPhases];
  if (rowsUsed + logged > dense.logCapacity || shiftsUsed + T > dense.logCapacity ||
      dense.logPhases + 1 > dense.logCapacity) {
    for (int c = 0; c < N; ++c) denseCatchUp(dense, c, M);
    dense.logPhases = 0;
    for (int c = 0; c < N; ++c) dense.settled[c] = 0;
    rowsUsed = runsUsed = shiftsUsed = 0;
  }
  int phase = dense.logPhases;
  for (int i = 0; i < logged; ++i) {
    dense.logRow[rowsUsed + i] = marks.coveredRows[i];
  }
  // The runs: rows covered from the same step 5 (coverShift never
  // decreases along the cover order).
  int runs = 0;
  for (int i = 0; i < logged; ++i) {
    int from = dense.coverShift[marks.coveredRows[i]];
    if (runs > 0 && dense.logRunFrom[runsUsed + runs - 1] == from) {
      dense.logRunEnd[runsUsed + runs - 1] = i + 1;
    } else {
      dense.logRunFrom[runsUsed + runs] = from;
      dense.logRunEnd[runsUsed + runs] = i + 1;
      ++runs;
    }
  }
  for (int t = 0; t < T; ++t) dense.logShift[shiftsUsed + t] = dense.shifts[t];
  dense.logPhases = phase + 1;
  dense.logRowStart[phase + 1] = rowsUsed + logged;
  dense.logRunStart[phase + 1] = runsUsed + runs;
  dense.logShiftStart[phase + 1] = shiftsUsed + T;
  for (int r = 0; r < M; ++r) dense.minUnstarred[r] = kInf;
  for (int i = 0; i < logged; ++i) dense.coveredMin[marks.coveredRows[i]] = kInf;
  for (int i = 0; i < marks.unstarredCount; ++i) {
    int c = marks.unstarred[i];
    bool stays = c != starred;
    prefetchRange(dense.workCost + at(0, c, M), M);
    denseApplyPhase(dense, c, M, dense.logRow + rowsUsed, logged, dense.logRunEnd + runsUsed,
                    dense.logRunFrom + runsUsed, runs, dense.shifts, T, 0,
                    stays ? dense.minUnstarred : nullptr, stays ? dense.coveredMin : nullptr);
    dense.settled[c] = phase + 1;
    if (dense.unlisted[c]) denseListZeros(dense, c, M);
  }
  for (int i = 0; i < logged; ++i) {
    int r = marks.coveredRows[i];
    dense.minUnstarred[r] = dense.coveredMin[r];
  }
  for (int i = 0; i < marks.coveredCount; ++i) {
    int c = marks.reachedColumns[i];
    dense.pendingPhase[c] = phase;
    dense.pendingShift[c] = dense.uncoverShift[c];
  }
  clearCoverShifts(dense, marks);
}

// The dense engine's structures for an M-by-N solve: zeroSlots candidate
// rows per column (clamped), a log of logEntries entries (0: one per
// kLogShare elements of the matrix; at least one phase).
Dense newDense(Scratch &scratch, int M, int N, int zeroSlots, int logEntries) {
  Dense dense;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  dense.workCost = scratch.take<double>(E);
  dense.phase = 0;
  dense.shifts = scratch.take<double>((M < N ? M : N) + 1);
  dense.shiftCount = 0;
  dense.coverShift = scratch.take<int>(M);
  dense.uncoverPhase = scratch.take<int>(N);
  dense.uncoverShift = scratch.take<int>(N);
  dense.minUnstarred = scratch.take<double>(M);
  dense.minReached = scratch.take<double>(M);
  dense.reachedLive = false;
  dense.slots = clampSlots(zeroSlots, kMaxZeroSlots, M);
  dense.zeroRow = scratch.take<int>(static_cast<std::int64_t>(N) * dense.slots);
  dense.zeroCount = scratch.take<int>(N);
  dense.unlisted = scratch.take<unsigned char>(N);
  dense.buffer = scratch.take<double>(M);
  dense.coveredMin = scratch.take<double>(M);
  dense.pendingPhase = scratch.take<int>(N);
  dense.pendingShift = scratch.take<int>(N);
  std::int64_t capacity = logEntries > 0 ? logEntries : E / kLogShare;
  if (capacity < M + 1) capacity = M + 1;
  if (capacity < N + 1) capacity = N + 1;
  dense.logCapacity = static_cast<int>(capacity);
  dense.logRow = scratch.take<int>(capacity);
  dense.logRunEnd = scratch.take<int>(capacity);
  dense.logRunFrom = scratch.take<int>(capacity);
  dense.logRunStart = scratch.take<int>(capacity + 1);
  dense.logShift = scratch.take<double>(capacity);
  dense.logRowStart = scratch.take<int>(capacity + 1);
  dense.logShiftStart = scratch.take<int>(capacity + 1);
  dense.logRowStart[0] = dense.logRunStart[0] = dense.logShiftStart[0] = 0;
  dense.logPhases = 0;
  dense.settled = scratch.takeZeroed<int>(N);
  for (int r = 0; r < M; ++r) dense.coverShift[r] = kNone;
  for (int c = 0; c < N; ++c) dense.uncoverPhase[c] = dense.pendingPhase[c] = kNone;
  return dense;
}

// The dense engine as runPhases (marks.h) drives it.
struct DensePhases {
  Dense &dense;
  Marks &marks;
  Cursors &cursors;

  void newPhase() { denseNewPhase(dense, marks, cursors); }

  int findZero(int c) {
    if (!dense.unlisted[c]) return denseListedZero(dense, marks, c);
    int M = marks.M;
    const Dense &costs = dense;
    const unsigned char *rowCovered = marks.rowCovered;
    return nextZero(
        cursors, marks, c,
        [&costs, M](int r, int k) { return denseElement(costs, r, k, M) == 0.0; },
        [&costs, rowCovered, M](int k, int from) {
          return firstZeroRow(costs.workCost + at(0, k, M), rowCovered, from, M);
        });
  }

  void uncovered(int c) { denseUncovered(dense, marks, cursors, c); }
  bool step5() { return denseStep5(dense, marks, cursors); }
  void endPhase(int starred) { denseEndPhase(dense, marks, starred); }
};

// Solves C with the dense engine; writes the assignment vector when the
// steps complete. substitute stands for the infinite costs (and NaN ones,
// with nanForbidden).
SolveOutcome solveDense(Scratch &scratch, double *assignment, const double *C, int M, int N,
                        double substitute, bool nanForbidden, int zeroSlots, int logEntries) {
  ScratchScope part(scratch);
  scratch.reserve(kDenseScratchPerElement * static_cast<std::size_t>(M) * N +
                  kDenseScratchPerLine * (static_cast<std::size_t>(M) + N) + kDenseScratchBase);
  Marks marks = newMarks(scratch, M, N);
  Cursors cursors = newCursors(scratch, M, N);
  Dense dense = newDense(scratch, M, N, zeroSlots, logEntries);
  denseStart(scratch, dense, marks, C, substitute, nanForbidden);
  DensePhases phases{dense, marks, cursors};
  SolveOutcome outcome = runPhases(marks, phases);
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
