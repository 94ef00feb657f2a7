// marks.h: stars, primes and covers, and the covering steps that move them,
// shared by every engine. At most one star per row and per column and at
// most one prime per row, so row and column indices replace the Boolean
// matrices of the steps. This part owns the first stars (by rows or by
// columns), step 3's passes and resume points, step 4's path with step 2a,
// the set of unstarred columns, the assignment vector built from the stars,
// and the one loop of phases that every engine drives (runPhases).
//
// An engine supplies what depends on how it keeps the working costs: where
// step 3 finds a column's first uncovered zero, what it does when step 3
// uncovers a column, step 5, and what it does when a phase begins and ends.
#ifndef PAIRSOLVE_MARKS_H
#define PAIRSOLVE_MARKS_H

#include <cstdint>

#include "basics.h"

namespace {

constexpr int kWordBits = 64;

struct Marks {
  int M, N, targetCount;
  int starCount;     // number of stars, which is the number of starred columns
  int *starColumn;   // per row: the column of its star, or kNone
  int *starRow;      // per column: the row of its star, or kNone
  int *primeColumn;  // per row: the column of its prime, or kNone
  unsigned char *rowCovered;
  unsigned char *colCovered;
  int *coveredRows;     // rows covered since the last step 4, in order
  int *reachedColumns;  // the starred column uncovered with each of them
  int coveredCount;
  // The uncovered columns in which step 3 may still find an uncovered zero,
  // one bit per column. A column whose search found nothing leaves the set
  // until the working costs change (step 5) or it is uncovered again.
  std::uint64_t *active;
  int activeWords;
  // The columns without a star (the ones uncovered when a phase begins), in
  // no order, and per column its place among them or kNone.
  int *unstarred;
  int *unstarredSlot;
  int unstarredCount;
};

inline void activate(Marks &marks, int c) {
  marks.active[c / kWordBits] |= std::uint64_t{1} << (c % kWordBits);
}

inline void deactivate(Marks &marks, int c) {
  marks.active[c / kWordBits] &= ~(std::uint64_t{1} << (c % kWordBits));
}

// No column is active.
inline void deactivateAll(Marks &marks) {
  for (int i = 0; i < marks.activeWords; ++i) marks.active[i] = 0;
}

// The first active column at or after column from, or N.
inline int nextActive(const Marks &marks, int from) {
  if (from >= marks.N) return marks.N;
  int word = from / kWordBits;
  std::uint64_t bits = marks.active[word] & (~std::uint64_t{0} << (from % kWordBits));
  while (bits == 0) {
    if (++word >= marks.activeWords) return marks.N;
    bits = marks.active[word];
  }
  return word * kWordBits + __builtin_ctzll(bits);
}

// Marks without stars, primes or covers; the engine's start sets
// targetCount and places the first stars.
Marks newMarks(Scratch &scratch, int M, int N) {
  Marks marks;
  marks.M = M;
  marks.N = N;
  marks.targetCount = 0;
  marks.starCount = 0;
  marks.starColumn = scratch.take<int>(M);
  marks.starRow = scratch.take<int>(N);
  marks.primeColumn = scratch.take<int>(M);
  marks.rowCovered = scratch.takeZeroed<unsigned char>(M);
  marks.colCovered = scratch.takeZeroed<unsigned char>(N);
  marks.coveredRows = scratch.take<int>(M);
  marks.reachedColumns = scratch.take<int>(M);
  marks.coveredCount = 0;
  marks.activeWords = (N + kWordBits - 1) / kWordBits;
  marks.active = scratch.take<std::uint64_t>(marks.activeWords);
  marks.unstarred = scratch.take<int>(N);
  marks.unstarredSlot = scratch.take<int>(N);
  marks.unstarredCount = 0;
  for (int r = 0; r < M; ++r) marks.starColumn[r] = marks.primeColumn[r] = kNone;
  for (int c = 0; c < N; ++c) marks.starRow[c] = kNone;
  return marks;
}

void placeStar(Marks &marks, int r, int c) {
  marks.starColumn[r] = c;
  marks.starRow[c] = r;
  marks.colCovered[c] = 1;
  ++marks.starCount;
}

// The first stars when M <= N, from columns whose zeros are all known:
// each row, in ascending order, stars its first zero (the lowest column) in
// a column without a star. forEachZero(c, take) calls take(r) for every
// zero row r of column c, in any order; the zeros are sorted by row here.
template <class ForEachZero>
void placeStarsByRows(Scratch &scratch, Marks &marks, ForEachZero forEachZero) {
  ScratchScope part(scratch);
  int M = marks.M;
  int N = marks.N;
  int *rowStart = scratch.takeZeroed<int>(static_cast<std::int64_t>(M) + 1);
  for (int c = 0; c < N; ++c) forEachZero(c, [rowStart](int r) { ++rowStart[r + 1]; });
  int *fill = scratch.take<int>(M);
  for (int r = 0; r < M; ++r) {
    rowStart[r + 1] += rowStart[r];
    fill[r] = rowStart[r];
  }
  int *zeroColumn = scratch.take<int>(rowStart[M]);
  for (int c = 0; c < N; ++c) {
    forEachZero(c, [zeroColumn, fill, c](int r) { zeroColumn[fill[r]++] = c; });
  }
  for (int r = 0; r < M; ++r) {
    for (int i = rowStart[r]; i < rowStart[r + 1]; ++i) {
      if (!marks.colCovered[zeroColumn[i]]) {
        placeStar(marks, r, zeroColumn[i]);
        break;
      }
    }
  }
}

// The same stars as placeStarsByRows, asking isZero(r, c) element by
// element, rows in ascending order and each row's columns in ascending
// order.
template <class IsZero>
void placeStarsByRowScan(Marks &marks, IsZero isZero) {
  for (int r = 0; r < marks.M; ++r) {
    for (int c = 0; c < marks.N; ++c) {
      if (!marks.colCovered[c] && isZero(r, c)) {
        placeStar(marks, r, c);
        break;
      }
    }
  }
}

// The first stars when M > N: each column, in ascending order, stars its
// first zero in a row without a star; firstZeroOfFreeRow(c) finds that
// row, or returns kNone.
template <class FirstZeroOfFreeRow>
void placeStarsByColumns(Marks &marks, FirstZeroOfFreeRow firstZeroOfFreeRow) {
  for (int c = 0; c < marks.N; ++c) {
    int r = firstZeroOfFreeRow(c);
    if (r != kNone) placeStar(marks, r, c);
  }
}

// The unstarred columns after the first stars, in ascending order.
void collectUnstarred(Marks &marks) {
  marks.unstarredCount = 0;
  for (int c = 0; c < marks.N; ++c) {
    marks.unstarredSlot[c] = kNone;
    if (marks.starRow[c] != kNone) continue;
    marks.unstarredSlot[c] = marks.unstarredCount;
    marks.unstarred[marks.unstarredCount++] = c;
  }
}

// Column c gained a star: it leaves the unstarred columns (the last one
// takes its place).
void removeUnstarred(Marks &marks, int c) {
  int slot = marks.unstarredSlot[c];
  if (slot == kNone) return;
  int last = marks.unstarred[--marks.unstarredCount];
  marks.unstarred[slot] = last;
  marks.unstarredSlot[last] = slot;
  marks.unstarredSlot[c] = kNone;
}

// The number of per-column slots an engine keeps: asked for, at least one,
// at most most, and no more than the M rows a column has.
int clampSlots(int asked, int most, int M) {
  int slots = asked < 1 ? 1 : (asked > most ? most : asked);
  if (slots > M && M > 0) slots = M;
  return slots;
}

// Writes, for every row with a star, the star's 1-based column.
void buildassignmentvector(double *assignment, const Marks &marks) {
  for (int r = 0; r < marks.M; ++r) {
    if (marks.starColumn[r] != kNone) assignment[r] = marks.starColumn[r] + 1.0;
  }
}

// Where step 3 resumes in each column. Within a stretch of steps without a
// step 4 or step 5 the working costs do not change and rows only get
// covered, so every row before the resume point stays covered or non-zero.
// In column mode position[c] is a row of column c. After a step 5 the only
// uncovered zeros lie in the rows whose least uncovered cost was h (the
// zero rows, ascending), and position[c] indexes that list (list mode).
struct Cursors {
  int *position;
  unsigned char *listMode;
  int *zeroRows;
  int zeroRowCount;
};

Cursors newCursors(Scratch &scratch, int M, int N) {
  Cursors cursors;
  cursors.position = scratch.take<int>(N);
  cursors.listMode = scratch.takeZeroed<unsigned char>(N);
  cursors.zeroRows = scratch.take<int>(M);
  cursors.zeroRowCount = 0;
  return cursors;
}

// Step 3 searches column c from its first row (column mode).
inline void searchFromTop(Cursors &cursors, int c) {
  cursors.position[c] = 0;
  cursors.listMode[c] = 0;
}

// Step 3 searches column c in the zero rows of the last step 5 (list mode).
inline void searchZeroRows(Cursors &cursors, int c) {
  cursors.position[c] = 0;
  cursors.listMode[c] = 1;
}

// The first uncovered zero of column c at or after its resume point, or
// kNone; the resume point moves past it (its row is covered next, or step 4
// starts). isZero(r, c) tells whether a working cost is zero; in column mode
// findInColumn(c, from) finds the first uncovered zero row from a row on (M
// if none).
template <class IsZero, class FindInColumn>
int nextZero(Cursors &cursors, const Marks &marks, int c, IsZero isZero,
             FindInColumn findInColumn) {
  if (cursors.listMode[c]) {
    for (int i = cursors.position[c]; i < cursors.zeroRowCount; ++i) {
      int r = cursors.zeroRows[i];
      if (!marks.rowCovered[r] && isZero(r, c)) {
        cursors.position[c] = i + 1;
        return r;
      }
    }
    cursors.position[c] = cursors.zeroRowCount;
    return kNone;
  }
  if (cursors.position[c] >= marks.M) return kNone;
  int r = findInColumn(c, cursors.position[c]);
  if (r == marks.M) {
    cursors.position[c] = marks.M;
    return kNone;
  }
  cursors.position[c] = r + 1;
  return r;
}

struct Prime {
  int row, column;  // kNone: a whole pass primed nothing (go to step 5)
};

// Step 3: passes over the uncovered columns in ascending order, each priming
// the first uncovered zero of a column. A prime whose row holds no star is
// returned (step 4 follows); otherwise its row is covered and the star's
// column uncovered, which a later column of the same pass or the next pass
// visits. Only active columns are visited: the others hold no uncovered
// zero. phases.findZero(c) returns the first uncovered zero row of column c,
// or kNone; phases.uncovered(c) is told of every column uncovered.
template <class Phases>
Prime step3(Marks &marks, Phases &phases) {
  for (;;) {
    bool found = false;
    for (int c = nextActive(marks, 0); c < marks.N; c = nextActive(marks, c + 1)) {
      int r = phases.findZero(c);
      if (r == kNone) {
        deactivate(marks, c);
        continue;
      }
      marks.primeColumn[r] = c;
      int starColumn = marks.starColumn[r];
      if (starColumn == kNone) return {r, c};
      marks.rowCovered[r] = 1;
      marks.colCovered[starColumn] = 0;
      marks.coveredRows[marks.coveredCount] = r;
      marks.reachedColumns[marks.coveredCount] = starColumn;
      ++marks.coveredCount;
      activate(marks, starColumn);
      phases.uncovered(starColumn);
      found = true;
    }
    if (!found) return {kNone, kNone};
  }
}

// The column that step 4 will star, from a prime in column c0 whose row
// holds no star: the end of its alternating path (the star in the prime's
// column gives way to the prime in the star's row). kNone if a star on the
// path has no prime in its row (the marks would be corrupt; the steps
// guarantee it never happens).
int augmentedColumn(const Marks &marks, int c0) {
  int c = c0;
  for (;;) {
    int starredRow = marks.starRow[c];
    if (starredRow == kNone) return c;
    c = marks.primeColumn[starredRow];
    if (c == kNone) return kNone;
  }
}

// Step 4 and step 2a: stars the prime at (r0, c0) and walks its alternating
// path, which augmentedColumn has checked, to the column without a star;
// that column leaves the unstarred ones. Then clears the primes and the row
// covers and covers every starred column again.
void step4(Marks &marks, int r0, int c0) {
  int r = r0;
  int c = c0;
  for (;;) {
    int starredRow = marks.starRow[c];
    marks.starRow[c] = r;
    marks.starColumn[r] = c;
    if (starredRow == kNone) break;
    r = starredRow;
    c = marks.primeColumn[r];
  }
  // Every prime lies in a covered row, except the one the path started at.
  marks.primeColumn[r0] = kNone;
  for (int i = 0; i < marks.coveredCount; ++i) {
    int row = marks.coveredRows[i];
    marks.primeColumn[row] = kNone;
    marks.rowCovered[row] = 0;
    marks.colCovered[marks.reachedColumns[i]] = 1;
  }
  marks.coveredCount = 0;
  marks.colCovered[c] = 1;
  ++marks.starCount;
  removeUnstarred(marks, c);
}

// The covering steps from the first stars to the last, one phase (one run
// of step 4) at a time: step 3, and step 5 whenever a pass of step 3 primes
// nothing, until a prime's row holds no star; then step 4 and step 2a. An
// engine (Phases) keeps the working costs: newPhase() as a phase begins,
// findZero(c) and uncovered(c) for step 3, step5() (false when no finite h
// exists), and endPhase(starred) before step 4 stars column starred, while
// the phase's covers are still in place. Returns complete or stuck.
template <class Phases>
SolveOutcome runPhases(Marks &marks, Phases &phases) {
  while (marks.starCount != marks.targetCount) {
    phases.newPhase();
    Prime prime = step3(marks, phases);
    // Between two runs of step 4, step 5 runs at most targetCount times
    // while the working costs stay finite.
    for (int shifts = 1; prime.row == kNone; ++shifts) {
      if (shifts > marks.targetCount || !phases.step5()) return SolveOutcome::stuck;
      prime = step3(marks, phases);
    }
    int starred = augmentedColumn(marks, prime.column);
    if (starred == kNone) return SolveOutcome::stuck;
    phases.endPhase(starred);
    step4(marks, prime.row, prime.column);
  }
  return SolveOutcome::complete;
}

}  // namespace

#endif
