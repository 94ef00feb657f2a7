// exact.h: the exact engine's phases, for the inputs exactBounds admits
// (exact_columns.h). Working costs are never formed: step 3 finds zeros
// from the column summaries or by comparing a column's costs with the
// potentials, and step 5 takes h from a heap of columns keyed by their
// least uncovered working cost (and from per-row slacks of the columns it
// had to read) and changes potentials only. This part owns the first
// stars from the summaries, those heaps and keys, step 5 on potentials,
// and solveExact. Scratch is O(M + N).
#ifndef PAIRSOLVE_EXACT_H
#define PAIRSOLVE_EXACT_H

#include <cmath>
#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "exact_columns.h"
#include "heap.h"
#include "marks.h"
#include "summary.h"

namespace {

// The reduction has been made (exactBounds): summarizes every column and
// places the first stars.
template <class V>
void exactStart(ExactOf<V> &exact, Marks &marks, const ScratchAllocator &allocator) {
  int M = marks.M;
  int N = marks.N;
  bool wide = M <= N;
  if (wide) {
    for (int c = 0; c < N; ++c) exact.colPot[c] = 0;
  } else {
    for (int r = 0; r < M; ++r) exact.rowPot[r] = 0;
  }
  for (int r = 0; r < M; ++r) exact.rowKey[r] = exact.rowPot[r];
  exactSummarize(exact, M, N);
  if (M == 0 || N == 0) return;
  marks.targetCount = wide ? M : N;
  bool allListed = true;
  for (int c = 0; c < N; ++c) allListed = allListed && exact.tail[c] > exact.colPot[c];
  if (wide && allListed) {
    // The zeros from the summaries: the listed rows at their row minimum.
    placeStarsByRows(allocator, marks, [&exact](int c, auto take) {
      std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
      for (int k = 0; k < exact.listedCount[c]; ++k) {
        int r = exact.listedRow[first + k];
        if (exact.listedCost[first + k] == exact.rowPot[r]) take(r);
      }
    });
  } else if (wide) {
    placeStarsByRowScan(marks, [&exact, M](int r, int c) {
      return exactRead(exact, exact.C + at(0, c, M), r, c) == exact.rowPot[r];
    });
  } else {
    placeStarsByColumns(marks, [&exact, &marks, M](int c) {
      if (exact.tail[c] > exact.colPot[c]) {
        // Listed: the least row among its zeros without a star.
        std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
        int best = kNone;
        for (int k = 0; k < exact.listedCount[c]; ++k) {
          int r = exact.listedRow[first + k];
          if (marks.starColumn[r] == kNone && (best == kNone || r < best) &&
              exact.listedCost[first + k] == exact.colPot[c]) {
            best = r;
          }
        }
        return best;
      }
      for (int r = 0; r < M; ++r) {
        if (marks.starColumn[r] == kNone &&
            exactRead(exact, exact.C + at(0, c, M), r, c) == exact.colPot[c]) {
          return r;
        }
      }
      return kNone;
    });
  }
}

// The margin around a working cost of magnitude level within which the
// engine's value and the steps' one lie (hybrid engine, see hybrid.h); 0
// for the other engines, whose values are the steps' own.
template <class V>
inline V exactMargin(const ExactOf<V> &exact, V level) {
  if constexpr (std::is_same<V, double>::value) {
    if (exact.replay != nullptr && exact.replay->delta > 0.0) {
      return exact.replay->delta * (std::fabs(level) + 4.0 * exact.total);
    }
  }
  return V{0};
}

// A working cost w (engine's value) may be a zero of the steps.
template <class V>
inline bool exactMayBeZero(const ExactOf<V> &exact, V w) {
  return exact.replay != nullptr ? w <= exact.zeroMargin : w == V{0};
}

// Sets the key of column c from its summary.
template <class V>
void exactKey(ExactOf<V> &exact, int c) {
  V least = exactListedLeast(exact, c);
  bool needsRead = !(least < exact.tail[c]);
  exact.keyCost[c] = needsRead ? exact.tail[c] : least;
  exact.keyNeedsRead[c] = needsRead;
}

// The key of column c is a lower bound only: its least row has been covered.
template <class V>
inline bool exactKeyStale(const ExactOf<V> &exact, int c) {
  if (exact.keyNeedsRead[c]) return false;
  int r = exact.leastRow[c];
  return r != kNone && exact.rowKey[r] == -exactInf<V>();
}

template <class V>
inline V exactKeyNow(const ExactOf<V> &exact, int c) {
  return exact.keyCost[c] - colPotNow(exact, c);
}

template <class V>
inline bool exactKeyBefore(const ExactOf<V> &exact, int a, int b) {
  return exactKeyNow(exact, a) < exactKeyNow(exact, b);
}

// The order of the heap of the phase.
template <class V>
struct ExactKeyOrder {
  const ExactOf<V> *exact;
  bool operator()(int a, int b) const { return exactKeyBefore(*exact, a, b); }
};

// The order of the heap of unstarred columns: their potentials grow
// together, so comparing bound minus base potential compares the keys.
template <class V>
struct ExactBoundOrder {
  const ExactOf<V> *exact;
  bool operator()(int a, int b) const {
    return exact->lowerBound[a] - exact->colPot[a] < exact->lowerBound[b] - exact->colPot[b];
  }
};

template <class V>
inline V exactBoundNow(const ExactOf<V> &exact, int c) {
  return exact.lowerBound[c] - colPotNow(exact, c);
}

template <class V>
void heapPopTop(ExactOf<V> &exact) {
  heapRemove(exact.heap, 0, ExactKeyOrder<V>{&exact});
}

// The least reduced cost of column c over every row, covered ones included:
// its listed rows' now, and tail.
template <class V>
V exactLowerBound(const ExactOf<V> &exact, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  V least = exact.tail[c];
  for (int k = 0; k < exact.listedCount[c]; ++k) {
    V reduced = exact.listedCost[first + k] - exact.rowPot[exact.listedRow[first + k]];
    if (reduced < least) least = reduced;
  }
  return least;
}

// Step 4 is about to end the phase: the potentials of the columns
// uncovered in it are brought up to date, and the covered rows get their
// keys back.
template <class V>
void exactEndPhase(ExactOf<V> &exact, const Marks &marks) {
  for (int i = 0; i < marks.unstarredCount; ++i) exact.colPot[marks.unstarred[i]] += exact.shift;
  for (int i = 0; i < marks.coveredCount; ++i) {
    int c = marks.reachedColumns[i];
    exact.colPot[c] += exact.shift - exact.since[c];
    int r = marks.coveredRows[i];
    exact.rowKey[r] = exact.rowPot[r];
  }
}

// A new phase: the uncovered columns are the unstarred ones; each that may
// hold a zero is searched afresh; no column has been read into the slacks.
template <class V>
void exactNewPhase(ExactOf<V> &exact, Marks &marks, Cursors &cursors) {
  ExactBoundOrder<V> boundOrder{&exact};
  for (int i = 0; i < exact.movedCount; ++i) {
    int c = exact.moved[i];
    if (marks.unstarredSlot[c] != kNone && exact.zeroless[c]) {
      heapPush(exact.zerolessHeap, c, boundOrder);
    }
  }
  exact.movedCount = 0;
  ++exact.phase;
  exact.shift = 0;
  exact.slackColumns = 0;
  exact.heapBuilt = false;
  exact.pendingCount = 0;
  deactivateAll(marks);
  for (int i = 0; i < marks.unstarredCount; ++i) {
    int c = marks.unstarred[i];
    exact.uncoveredPhase[c] = exact.phase;
    exact.since[c] = 0;
    searchFromTop(cursors, c);
    if (!exact.zeroless[c]) {
      activate(marks, c);
    } else if (exact.zerolessHeap.slot[c] == kNone) {
      // Found to hold no zero in the last phase.
      exact.lowerBound[c] = exactLowerBound(exact, c);
      heapPush(exact.zerolessHeap, c, boundOrder);
    }
  }
}

// An unstarred column in which step 3 found no uncovered zero: whether it
// holds no zero at all, covered rows included (it is listed).
template <class V>
void exactNoteZeroless(ExactOf<V> &exact, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  V colPot = colPotNow(exact, c);
  bool any = false;
  for (int k = 0; k < exact.listedCount[c]; ++k) {
    any = any ||
          exactMayBeZero(
              exact,
              (exact.listedCost[first + k] - exact.rowPot[exact.listedRow[first + k]]) - colPot);
  }
  exact.zeroless[c] = !any;
}

// Step 3 covered a row and uncovered column c.
template <class V>
void exactUncovered(ExactOf<V> &exact, Marks &marks, Cursors &cursors, int c) {
  exact.rowKey[marks.coveredRows[marks.coveredCount - 1]] = -exactInf<V>();
  exact.uncoveredPhase[c] = exact.phase;
  exact.since[c] = exact.shift;
  searchFromTop(cursors, c);
  if (exact.heapBuilt) exact.pending[exact.pendingCount++] = c;
}

// Reads column c into the slacks (it leaves the heap for this phase).
template <class V>
void exactReadIntoSlack(ExactOf<V> &exact, int c, int M) {
  if (exact.slackColumns == 0) {
    for (int r = 0; r < M; ++r) exact.slack[r] = exactInf<V>();
  }
  exactReadColumnOf<true>(exact, c, M);
  exact.slackPhase[c] = exact.phase;
  exact.slackColumn[exact.slackColumns++] = c;
}

// The least slack of an uncovered row (+Inf without slacks).
template <class V>
V exactLeastSlack(const ExactOf<V> &exact, int M) {
  V least = exactInf<V>();
  if (exact.slackColumns == 0) return least;
  int r = 0;
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const __m128d covered = _mm_set1_pd(-kInf);
    const __m128d infinity = _mm_set1_pd(kInf);
    __m128d lanes = infinity;
    for (; r + 2 <= M; r += 2) {
      __m128d uncovered = _mm_cmpneq_pd(_mm_loadu_pd(exact.rowKey + r), covered);
      __m128d slack = _mm_loadu_pd(exact.slack + r);
      lanes = _mm_min_pd(
          _mm_or_pd(_mm_and_pd(uncovered, slack), _mm_andnot_pd(uncovered, infinity)), lanes);
    }
    least = lesserLane(lanes);
  }
#endif
  for (; r < M; ++r) {
    if (exact.rowKey[r] != -exactInf<V>() && exact.slack[r] < least) least = exact.slack[r];
  }
  return least;
}

// The top of the heap of unstarred columns known to hold no zero moves
// into the heap of the phase, keyed exactly (it returns when the next
// phase begins, if it still holds no zero).
template <class V>
void exactMoveZeroless(ExactOf<V> &exact) {
  int c = exact.zerolessHeap.entry[0];
  heapRemove(exact.zerolessHeap, 0, ExactBoundOrder<V>{&exact});
  exactKey(exact, c);
  exact.lowerBound[c] = exactLowerBound(exact, c);
  heapPush(exact.heap, c, ExactKeyOrder<V>{&exact});
  exact.moved[exact.movedCount++] = c;
}

// The heap of the phase settled: its top renewed until its key is exact,
// or read into the slacks, and the unstarred columns whose bound does not
// exceed its top's key or bar (the least slack) moved into it, until
// neither changes: then its top's key, or bar, is the least cost. A column
// that needs reading is read when its bound is not above bar: only then
// can it hold the least cost.
template <class V>
void exactSettle(ExactOf<V> &exact, int M, V &bar) {
  ExactKeyOrder<V> order{&exact};
  for (;;) {
    if (exact.heap.size > 0) {
      int c = exact.heap.entry[0];
      if (exactKeyStale(exact, c)) {
        exactKey(exact, c);
        heapDown(exact.heap, 0, order);
        continue;
      }
      if (exact.keyNeedsRead[c] && !(exactKeyNow(exact, c) > bar + exactMargin(exact, bar))) {
        heapPopTop(exact);
        exactReadIntoSlack(exact, c, M);
        bar = exactLeastSlack(exact, M);
        continue;
      }
    }
    if (exact.zerolessHeap.size == 0) return;
    int c = exact.zerolessHeap.entry[0];
    V least = exact.heap.size > 0 ? exactKeyNow(exact, exact.heap.entry[0]) : exactInf<V>();
    if (bar < least) least = bar;
    if (exactBoundNow(exact, c) > least + exactMargin(exact, least)) return;
    exactMoveZeroless(exact);
  }
}

// Step 5 on potentials: h is the least uncovered working cost, from the
// slacks of the columns read in this phase and the keys of the others;
// covered rows gain h, uncovered columns lose h.
// The heap of the phase made ready for a step 5: built at the first step 5
// of a phase, else joined by the pending columns.
template <class V>
void exactStep5Heap(ExactOf<V> &exact, Marks &marks) {
  ExactKeyOrder<V> order{&exact};
  if (!exact.heapBuilt) {
    // The columns step 3 uncovered so far, and the unstarred ones not in
    // their own heap.
    exact.heap.size = 0;
    for (int i = 0; i < marks.unstarredCount + marks.coveredCount; ++i) {
      int c = i < marks.unstarredCount ? marks.unstarred[i]
                                       : marks.reachedColumns[i - marks.unstarredCount];
      if (exact.slackPhase[c] == exact.phase || exact.zerolessHeap.slot[c] != kNone) continue;
      exactKey(exact, c);
      heapPlace(exact.heap, exact.heap.size++, c);
    }
    for (int at = exact.heap.size / 2 - 1; at >= 0; --at) heapDown(exact.heap, at, order);
    exact.heapBuilt = true;
  } else {
    for (int i = 0; i < exact.pendingCount; ++i) {
      int c = exact.pending[i];
      exactKey(exact, c);
      heapPush(exact.heap, c, order);
    }
  }
  exact.pendingCount = 0;
}

// Step 5 with its h known and its zero rows in cursors: the uncovered
// rows' slacks fall by h and the columns read into them are searched among
// the zero rows; covered rows gain h, uncovered columns lose it (through
// shift).
template <class V>
void exactApplyStep5(ExactOf<V> &exact, Marks &marks, Cursors &cursors, V h) {
  if (exact.slackColumns > 0) {
    for (int r = 0; r < marks.M; ++r) {
      if (exact.rowKey[r] != -exactInf<V>()) exact.slack[r] -= h;
    }
    for (int i = 0; i < exact.slackColumns; ++i) {
      int c = exact.slackColumn[i];
      activate(marks, c);
      exact.zeroless[c] = 0;
      searchZeroRows(cursors, c);
    }
  }
  for (int i = 0; i < marks.coveredCount; ++i) exact.rowPot[marks.coveredRows[i]] -= h;
  exact.shift += h;
  exact.total += h;
  ++exact.steps;
}

template <class V>
bool exactStep5(ExactOf<V> &exact, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  exactStep5Heap(exact, marks);
  V h = exactLeastSlack(exact, M);
  exactSettle(exact, M, h);
  if (exact.heap.size > 0) {
    V least = exactKeyNow(exact, exact.heap.entry[0]);
    if (least < h) h = least;
  }
  if (!exactFinite(h)) return false;
  // The columns whose key is h hold new zeros at listed rows: step 3 finds
  // them; they return to the heap at the next step 5. (A column read here
  // has a bound of h: it cannot lower h.)
  for (;;) {
    V bar = h;
    exactSettle(exact, M, bar);
    if (exact.heap.size == 0 || exactKeyNow(exact, exact.heap.entry[0]) > h) break;
    int c = exact.heap.entry[0];
    heapPopTop(exact);
    activate(marks, c);
    exact.zeroless[c] = 0;
    exact.pending[exact.pendingCount++] = c;
  }
  // The new zeros of the columns read: at the rows whose slack was h.
  cursors.zeroRowCount = 0;
  if (exact.slackColumns > 0) {
    for (int r = 0; r < M; ++r) {
      if (exact.rowKey[r] != -exactInf<V>() && exact.slack[r] == h) {
        cursors.zeroRows[cursors.zeroRowCount++] = r;
      }
    }
  }
  exactApplyStep5(exact, marks, cursors, h);
  return true;
}

// The exact engine's structures for the phases, N columns each; needed only
// when the first stars do not complete the solve.
template <class V>
void newExactPhases(ExactOf<V> &exact, Scratch &scratch, int N) {
  exact.leastCost = scratch.take<V>(N);
  exact.leastRow = scratch.take<int>(N);
  exact.slackPhase = scratch.take<int>(N);
  exact.slackColumn = scratch.take<int>(N);
  exact.slackColumns = 0;
  exact.shift = 0;
  exact.uncoveredPhase = scratch.take<int>(N);
  exact.since = scratch.take<V>(N);
  exact.heap.entry = scratch.take<int>(N);
  exact.heap.slot = scratch.take<int>(N);
  exact.heap.size = 0;
  exact.heapBuilt = false;
  exact.keyCost = scratch.take<V>(N);
  exact.keyNeedsRead = scratch.take<unsigned char>(N);
  exact.pending = scratch.take<int>(N);
  exact.pendingCount = 0;
  exact.zeroless = scratch.takeZeroed<unsigned char>(N);
  exact.zerolessHeap.entry = scratch.take<int>(N);
  exact.zerolessHeap.slot = scratch.take<int>(N);
  exact.zerolessHeap.size = 0;
  exact.lowerBound = scratch.take<V>(N);
  exact.moved = scratch.take<int>(N);
  exact.movedCount = 0;
  for (int c = 0; c < N; ++c) {
    exact.slackPhase[c] = exact.uncoveredPhase[c] = kNone;
    exact.heap.slot[c] = exact.zerolessHeap.slot[c] = kNone;
  }
}

// The exact engine as runPhases (marks.h) drives it.
template <class V>
struct ExactPhases {
  ExactOf<V> &exact;
  Marks &marks;
  Cursors &cursors;

  void newPhase() { exactNewPhase(exact, marks, cursors); }

  int findZero(int c) {
    if (exactListed(exact, c)) {
      int r = exactListedZero(exact, c);
      if (r == kNone && marks.unstarredSlot[c] != kNone) exactNoteZeroless(exact, c);
      return r;
    }
    int M = marks.M;
    const ExactOf<V> &costs = exact;
    return nextZero(
        cursors, marks, c,
        [&costs, M](int r, int k) {
          return exactCost(costs, at(r, k, M)) - colPotNow(costs, k) == costs.rowKey[r];
        },
        [&costs, M](int k, int from) {
          const double *column = costs.C + at(0, k, M);
          V colPot = colPotNow(costs, k);
          return costs.anySubstitute
                     ? firstExactZero<true>(costs, column, colPot, costs.rowKey, from, M)
                     : firstExactZero<false>(costs, column, colPot, costs.rowKey, from, M);
        });
  }

  void uncovered(int c) { exactUncovered(exact, marks, cursors, c); }
  bool step5() { return exactStep5(exact, marks, cursors); }
  // The exact engine does not need to know which column step 4 stars.
  void endPhase(int /*starred*/) { exactEndPhase(exact, marks); }
};

// The exact engine's structures for the admission test and the start:
// potentials and column summaries of slots rows each (clamped).
template <class V>
ExactOf<V> newExact(Scratch &scratch, const double *C, int M, int N, V substitute,
                    bool anySubstitute, int slots) {
  ExactOf<V> exact;
  exact.C = C;
  exact.substitute = substitute;
  exact.anySubstitute = anySubstitute;
  exact.slots = clampSlots(slots, kMaxSummarySlots, M);
  exact.phase = 0;
  exact.rowPot = scratch.take<V>(M);
  exact.colPot = scratch.take<V>(N);
  exact.rowKey = scratch.take<V>(M);
  exact.slack = scratch.take<V>(M > N ? M : N);
  exact.listedRow = scratch.take<int>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedCost = scratch.take<V>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedReduced = scratch.take<V>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedCount = scratch.take<int>(N);
  exact.tail = scratch.take<V>(N);
  exact.leastPhase = scratch.take<int>(N);
  exact.total = 0;
  exact.steps = 0;
  exact.scale = 1.0;
  exact.replay = nullptr;
  exact.rowBase = nullptr;
  exact.colBase = nullptr;
  exact.zeroMargin = 0;
  exact.nanInPlace = false;
  return exact;
}

// Places the first stars and runs the phases on a prepared exact engine of
// either value type; the phases' structures are made only when the first
// stars leave work to do.
template <template <class> class Phases = ExactPhases, typename V>
SolveOutcome runExact(ExactOf<V> &exact, Scratch &scratch, Marks &marks, int M, int N) {
  exactStart(exact, marks, scratch.allocator());
  if (marks.starCount == marks.targetCount) return SolveOutcome::complete;
  Cursors cursors = newCursors(scratch, M, N);
  newExactPhases(exact, scratch, N);
  collectUnstarred(marks);
  Phases<V> phases{exact, marks, cursors};
  return runPhases(marks, phases);
}

// Solves C with the exact engine when exactBounds admits it (else inexact);
// writes the assignment vector when the steps complete. substitute stands
// for the non-finite costs (NaN among them only with nanForbidden).
SolveOutcome solveExact(const ScratchAllocator &allocator, double *assignment, const double *C,
                        int M, int N, double substitute, const CostSummary &summary,
                        bool nanForbidden, int slots) {
  Scratch scratch(allocator);
  Exact exact = newExact(scratch, C, M, N, substitute, summary.anyNonFinite, slots);
  if (!exactBounds(exact, M, N, summary, nanForbidden)) return SolveOutcome::inexact;
  Marks marks = newMarks(scratch, M, N);
  SolveOutcome outcome = runExact(exact, scratch, marks, M, N);
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
