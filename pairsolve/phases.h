// phases.h: the potential engine's phases (state and column reads in
// potentials.h), for every policy. Working costs are never formed: step 3
// finds zeros from the column summaries or by comparing a column's costs
// with the potentials, and step 5 takes h from a heap of columns keyed by
// their least uncovered working cost (and from per-row slacks of the
// columns it had to read) and changes potentials only. This part owns the
// first stars from the summaries, those heaps and keys, step 5 on
// potentials, and runPotentials, which runPhases (marks.h) drives. Scratch
// is O(M + N).
//
// Step 5 in one routine for every policy. g is the least computed key or
// slack once the heap is settled: the least uncovered working cost as the
// engine has it. The policy widens it to theta (candidateMargin: 0 for the
// exact and grid policies, whose values are the steps' own); every column
// whose key or bound is at most theta is read into the slacks or searched
// among its listed rows, and the rows whose slack is at most theta are the
// rows where the step may leave zeros. The policy then decides h
// (decideStep5: g itself, or the least of the candidates' values as the
// steps compute them) and may end the solve.
//
// The policy's other hooks: onNewPhase, onUncovered and onEndPhase after
// the engine's own work at those points, beforeStep5 (false ends the
// solve), afterStep5 with the h applied, onZeroTest with each zero step 3
// finds in a column (or kNone). PlainDecisions below is the policy
// part that does nothing at those points and decides by value alone.
#ifndef PAIRSOLVE_PHASES_H
#define PAIRSOLVE_PHASES_H

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "heap.h"
#include "marks.h"
#include "potentials.h"

namespace {

// The decisions of a policy whose values are the steps' own (exact, grid):
// a zero is a working cost of 0, h the least value, and no hook does
// anything.
template <class V>
struct PlainDecisions {
  static constexpr bool kConfirms = false;
  V zeroLimit() const { return V{0}; }
  bool confirmZero(int, int) const { return true; }
  V margin(V, V) const { return V{0}; }
  V candidateMargin(V, V) const { return V{0}; }
  template <class E>
  void onNewPhase(E &, Marks &) {}
  template <class E>
  void onUncovered(E &, Marks &, int) {}
  template <class E>
  void onEndPhase(E &, Marks &, int) {}
  template <class E>
  bool beforeStep5(E &) {
    return true;
  }
  template <class E>
  bool decideStep5(E &, Marks &, Cursors &, int, V, V *) {
    return true;
  }
  template <class E>
  void afterStep5(E &, Marks &, V) {}
  template <class E>
  void onZeroTest(E &, Marks &, int, int) {}
};

// The reduction has been made (rowPot or colPot hold the line minima, or
// both are zero): summarizes every column and places the first stars.
template <class P>
void startPotentials(Potentials<P> &e, Marks &marks, Scratch &scratch) {
  int M = marks.M;
  int N = marks.N;
  bool wide = M <= N;
  if (wide) {
    for (int c = 0; c < N; ++c) e.colPot[c] = 0;
  } else {
    for (int r = 0; r < M; ++r) e.rowPot[r] = 0;
  }
  for (int r = 0; r < M; ++r) e.rowKey[r] = e.rowPot[r];
  summarizeColumns(e);
  if (M == 0 || N == 0) return;
  marks.targetCount = wide ? M : N;
  // The reduction's zeros are exact in every policy (the hybrid policy
  // reads the steps' reduced costs, computed as they compute them).
  bool allListed = true;
  for (int c = 0; c < N; ++c) allListed = allListed && e.tail[c] > e.colPot[c];
  if (wide && allListed) {
    // The zeros from the summaries: the listed rows at their row minimum.
    placeStarsByRows(scratch, marks, [&e](int c, auto take) {
      std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
      for (int k = 0; k < e.listedCount[c]; ++k) {
        int r = e.listedRow[first + k];
        if (e.listedCost[first + k] == e.rowPot[r]) take(r);
      }
    });
  } else if (wide) {
    placeStarsByRowScan(marks, [&e](int r, int c) { return readCost(e, r, c) == e.rowPot[r]; });
  } else {
    placeStarsByColumns(marks, [&e, &marks, M](int c) {
      if (e.tail[c] > e.colPot[c]) {
        // Listed: the least row among its zeros without a star.
        std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
        int best = kNone;
        for (int k = 0; k < e.listedCount[c]; ++k) {
          int r = e.listedRow[first + k];
          if (marks.starColumn[r] == kNone && (best == kNone || r < best) &&
              e.listedCost[first + k] == e.colPot[c]) {
            best = r;
          }
        }
        return best;
      }
      for (int r = 0; r < M; ++r) {
        if (marks.starColumn[r] == kNone && readCost(e, r, c) == e.colPot[c]) return r;
      }
      return kNone;
    });
  }
}

// Sets the key of column c, uncovered in this phase, from its summary:
// keyCost, and heapKey, the value the heap of the phase compares
// (potentials.h).
template <class P>
void setKey(Potentials<P> &e, int c) {
  auto least = listedLeast(e, c);
  bool needsRead = !(least < e.tail[c]);
  e.keyCost[c] = needsRead ? e.tail[c] : least;
  e.keyNeedsRead[c] = needsRead;
  e.heapKey[c] = e.keyCost[c] - (e.colPot[c] - e.since[c]);
}

// The key of column c is a lower bound only: its least row has been covered.
template <class P>
inline bool keyStale(const Potentials<P> &e, int c) {
  if (e.keyNeedsRead[c]) return false;
  int r = e.leastRow[c];
  return r != kNone && e.rowKey[r] == -potentialInf<typename P::Value>();
}

// The key of column c now: its least uncovered working cost, or a lower
// bound of it (potentials.h).
template <class P>
inline typename P::Value keyNow(const Potentials<P> &e, int c) {
  return e.heapKey[c] - e.shift;
}

// The order of the heap of the phase: fixed values, the order of the keys.
template <class P>
struct KeyOrder {
  const Potentials<P> *e;
  bool operator()(int a, int b) const { return e->heapKey[a] < e->heapKey[b]; }
};

// The order of the heap of unstarred columns: fixed values, the order of
// their bounds (potentials.h).
template <class P>
struct BoundOrder {
  const Potentials<P> *e;
  bool operator()(int a, int b) const { return e->boundKey[a] < e->boundKey[b]; }
};

// An unstarred column c enters the heap of those known to hold no zero, at
// the start of a phase (its potential is colPot[c]).
template <class P>
void pushZeroless(Potentials<P> &e, int c) {
  e.boundKey[c] = (e.lowerBound[c] - e.colPot[c]) + e.unstarredShift;
  heapPush(e.zerolessHeap, c, BoundOrder<P>{&e});
}

// The lower bound of a column in the heap of unstarred columns, now.
template <class P>
inline typename P::Value boundNow(const Potentials<P> &e, int c) {
  return (e.boundKey[c] - e.unstarredShift) - e.shift;
}

template <class P>
void popTop(Potentials<P> &e) {
  heapRemove(e.heap, 0, KeyOrder<P>{&e});
}

// The heap of the phase has a top whose key is stale: it is renewed and
// sinks to its place (true), or none (false).
template <class P>
bool renewStaleTop(Potentials<P> &e) {
  if (e.heap.size == 0 || !keyStale(e, e.heap.entry[0])) return false;
  setKey(e, e.heap.entry[0]);
  heapDown(e.heap, 0, KeyOrder<P>{&e});
  return true;
}

// The least reduced cost of column c over every row, covered ones included:
// its listed rows' now, and tail.
template <class P>
typename P::Value lowestReduced(const Potentials<P> &e, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
  auto least = e.tail[c];
  for (int k = 0; k < e.listedCount[c]; ++k) {
    auto reduced = e.listedCost[first + k] - e.rowPot[e.listedRow[first + k]];
    if (reduced < least) least = reduced;
  }
  return least;
}

// Step 4 is about to end the phase: the potentials of the columns
// uncovered in it are brought up to date, and the covered rows get their
// keys back.
template <class P>
void endPotentialPhase(Potentials<P> &e, const Marks &marks) {
  for (int i = 0; i < marks.unstarredCount; ++i) e.colPot[marks.unstarred[i]] += e.shift;
  e.unstarredShift += e.shift;
  for (int i = 0; i < marks.coveredCount; ++i) {
    int c = marks.reachedColumns[i];
    e.colPot[c] += e.shift - e.since[c];
    int r = marks.coveredRows[i];
    e.rowKey[r] = e.rowPot[r];
  }
}

// A new phase: the uncovered columns are the unstarred ones; each that may
// hold a zero is searched afresh; no column has been read into the slacks.
template <class P>
void newPotentialPhase(Potentials<P> &e, Marks &marks, Cursors &cursors) {
  for (int i = 0; i < e.movedCount; ++i) {
    int c = e.moved[i];
    if (marks.unstarredSlot[c] != kNone && e.zeroless[c]) pushZeroless(e, c);
  }
  e.movedCount = 0;
  ++e.phase;
  e.shift = 0;
  e.slackColumns = 0;
  e.heapBuilt = false;
  e.pendingCount = 0;
  deactivateAll(marks);
  for (int i = 0; i < marks.unstarredCount; ++i) {
    int c = marks.unstarred[i];
    e.uncoveredPhase[c] = e.phase;
    e.since[c] = 0;
    searchFromTop(cursors, c);
    if (!e.zeroless[c]) {
      activate(marks, c);
    } else if (e.zerolessHeap.slot[c] == kNone) {
      // Found to hold no zero in the last phase.
      e.lowerBound[c] = lowestReduced(e, c);
      pushZeroless(e, c);
    }
  }
}

// An unstarred column in which step 3 found no uncovered zero: whether it
// holds no zero at all, covered rows included (it is listed).
template <class P>
void noteZeroless(Potentials<P> &e, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
  auto colPot = colPotNow(e, c);
  bool any = false;
  for (int k = 0; k < e.listedCount[c]; ++k) {
    auto w = (e.listedCost[first + k] - e.rowPot[e.listedRow[first + k]]) - colPot;
    any = any || w <= e.policy.zeroLimit();
  }
  e.zeroless[c] = !any;
}

// Step 3 covered a row and uncovered column c.
template <class P>
void uncoverColumn(Potentials<P> &e, Marks &marks, Cursors &cursors, int c) {
  e.rowKey[marks.coveredRows[marks.coveredCount - 1]] = -potentialInf<typename P::Value>();
  e.uncoveredPhase[c] = e.phase;
  e.since[c] = e.shift;
  searchFromTop(cursors, c);
  if (e.heapBuilt) e.pending[e.pendingCount++] = c;
}

// Reads column c into the slacks (it leaves the heap for this phase).
template <class P>
void readIntoSlack(Potentials<P> &e, int c) {
  if (e.slackColumns == 0) {
    for (int r = 0; r < e.M; ++r) e.slack[r] = potentialInf<typename P::Value>();
  }
  readColumnOf<true>(e, c);
  e.slackPhase[c] = e.phase;
  e.slackColumn[e.slackColumns++] = c;
}

// The least slack of an uncovered row (+Inf without slacks).
template <class P>
typename P::Value leastSlack(const Potentials<P> &e) {
  using V = typename P::Value;
  const int M = e.M;
  V least = potentialInf<V>();
  if (e.slackColumns == 0) return least;
  int r = 0;
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const __m128d covered = _mm_set1_pd(-kInf);
    const __m128d infinity = _mm_set1_pd(kInf);
    __m128d lanes = infinity;
    for (; r + 2 <= M; r += 2) {
      __m128d uncovered = _mm_cmpneq_pd(_mm_loadu_pd(e.rowKey + r), covered);
      __m128d slack = _mm_loadu_pd(e.slack + r);
      lanes = _mm_min_pd(
          _mm_or_pd(_mm_and_pd(uncovered, slack), _mm_andnot_pd(uncovered, infinity)), lanes);
    }
    least = lesserLane(lanes);
  }
#endif
  for (; r < M; ++r) {
    if (e.rowKey[r] != -potentialInf<V>() && e.slack[r] < least) least = e.slack[r];
  }
  return least;
}

// The top of the heap of unstarred columns known to hold no zero moves
// into the heap of the phase, keyed exactly (it returns when the next
// phase begins, if it still holds no zero).
template <class P>
void moveZeroless(Potentials<P> &e) {
  int c = e.zerolessHeap.entry[0];
  heapRemove(e.zerolessHeap, 0, BoundOrder<P>{&e});
  setKey(e, c);
  e.lowerBound[c] = lowestReduced(e, c);
  heapPush(e.heap, c, KeyOrder<P>{&e});
  e.moved[e.movedCount++] = c;
}

// The heap of the phase settled: its top renewed until its key is exact,
// or read into the slacks, and the unstarred columns whose bound does not
// exceed its top's key or bar (the least slack) moved into it, until
// neither changes: then its top's key, or bar, is the least cost (within
// the policy's margin). A column that needs reading is read when its bound
// is not above bar: only then can it hold the least cost.
template <class P>
void settleHeap(Potentials<P> &e, typename P::Value &bar) {
  using V = typename P::Value;
  for (;;) {
    if (renewStaleTop(e)) continue;
    if (e.heap.size > 0) {
      int c = e.heap.entry[0];
      if (e.keyNeedsRead[c] && !(keyNow(e, c) > bar + e.policy.margin(bar, e.total))) {
        popTop(e);
        readIntoSlack(e, c);
        bar = leastSlack(e);
        continue;
      }
    }
    if (e.zerolessHeap.size == 0) return;
    int c = e.zerolessHeap.entry[0];
    V least = e.heap.size > 0 ? keyNow(e, e.heap.entry[0]) : potentialInf<V>();
    if (bar < least) least = bar;
    if (boundNow(e, c) > least + e.policy.margin(least, e.total)) return;
    moveZeroless(e);
  }
}

// The heap of the phase made ready for a step 5: built at the first step 5
// of a phase, else joined by the pending columns.
template <class P>
void readyHeap(Potentials<P> &e, Marks &marks) {
  KeyOrder<P> order{&e};
  if (!e.heapBuilt) {
    // The columns step 3 uncovered so far, and the unstarred ones not in
    // their own heap.
    e.heap.size = 0;
    for (int i = 0; i < marks.unstarredCount + marks.coveredCount; ++i) {
      int c = i < marks.unstarredCount ? marks.unstarred[i]
                                       : marks.reachedColumns[i - marks.unstarredCount];
      if (e.slackPhase[c] == e.phase || e.zerolessHeap.slot[c] != kNone) continue;
      setKey(e, c);
      heapPlace(e.heap, e.heap.size++, c);
    }
    for (int at = e.heap.size / 2 - 1; at >= 0; --at) heapDown(e.heap, at, order);
    e.heapBuilt = true;
  } else {
    for (int i = 0; i < e.pendingCount; ++i) {
      int c = e.pending[i];
      setKey(e, c);
      heapPush(e.heap, c, order);
    }
  }
  e.pendingCount = 0;
}

// Step 5 with its h known and its zero rows in cursors: the uncovered
// rows' slacks fall by h and the columns read into them are searched among
// the zero rows; covered rows gain h, uncovered columns lose it (through
// shift).
template <class P>
void applyStep5(Potentials<P> &e, Marks &marks, Cursors &cursors, typename P::Value h) {
  if (e.slackColumns > 0) {
    for (int r = 0; r < marks.M; ++r) {
      if (e.rowKey[r] != -potentialInf<typename P::Value>()) e.slack[r] -= h;
    }
    for (int i = 0; i < e.slackColumns; ++i) {
      int c = e.slackColumn[i];
      activate(marks, c);
      e.zeroless[c] = 0;
      searchZeroRows(cursors, c);
    }
  }
  for (int i = 0; i < marks.coveredCount; ++i) e.rowPot[marks.coveredRows[i]] -= h;
  e.shift += h;
  e.total += h;
  ++e.steps;
}

// Step 5 (see the opening comment). False when no finite h exists, or when
// the policy ends the solve.
template <class P>
bool potentialStep5(Potentials<P> &e, Marks &marks, Cursors &cursors) {
  using V = typename P::Value;
  if (!e.policy.beforeStep5(e)) return false;
  readyHeap(e, marks);
  V g = leastSlack(e);
  settleHeap(e, g);
  if (e.heap.size > 0) {
    V least = keyNow(e, e.heap.entry[0]);
    if (least < g) g = least;
  }
  if (!potentialFinite(g)) return false;
  V theta = g + e.policy.candidateMargin(g, e.total);
  // Unstarred columns that may hold a candidate join the heap of the phase.
  while (e.zerolessHeap.size > 0 && !(boundNow(e, e.zerolessHeap.entry[0]) > theta)) {
    moveZeroless(e);
  }
  // The columns whose key is at most theta leave the heap: read into the
  // slacks when their unlisted rows may hold a candidate, else searched
  // among their listed rows by step 3 (they return to the heap at the next
  // step 5). A column read here cannot lower g: its key bounded it.
  int firstPopped = e.pendingCount;
  while (e.heap.size > 0) {
    if (renewStaleTop(e)) continue;
    int c = e.heap.entry[0];
    if (keyNow(e, c) > theta) break;
    popTop(e);
    if (e.keyNeedsRead[c] || !(e.tail[c] - colPotNow(e, c) > theta)) {
      readIntoSlack(e, c);
    } else {
      e.pending[e.pendingCount++] = c;
    }
  }
  // The rows of the columns read where this step may leave zeros.
  cursors.zeroRowCount = 0;
  if (e.slackColumns > 0) {
    for (int r = 0; r < marks.M; ++r) {
      if (e.rowKey[r] != -potentialInf<V>() && e.slack[r] <= theta) {
        cursors.zeroRows[cursors.zeroRowCount++] = r;
      }
    }
  }
  V h = g;
  if (!e.policy.decideStep5(e, marks, cursors, firstPopped, theta, &h)) return false;
  for (int i = firstPopped; i < e.pendingCount; ++i) {
    int c = e.pending[i];
    activate(marks, c);
    e.zeroless[c] = 0;
  }
  applyStep5(e, marks, cursors, h);
  e.policy.afterStep5(e, marks, h);
  return true;
}

// The potential engine as runPhases (marks.h) drives it.
template <class P>
struct PotentialPhases {
  Potentials<P> &e;
  Marks &marks;
  Cursors &cursors;

  void newPhase() {
    newPotentialPhase(e, marks, cursors);
    e.policy.onNewPhase(e, marks);
  }

  int findZero(int c) {
    int r = kNone;
    if (listed(e, c)) {
      r = listedZero(e, c);
      if (r == kNone && marks.unstarredSlot[c] != kNone) noteZeroless(e, c);
    } else {
      Potentials<P> &engine = e;
      r = nextZero(
          cursors, marks, c,
          [&engine](int row, int k) { return isZero(engine, workingCost(engine, row, k), row, k); },
          [&engine](int k, int from) { return firstZeroOf(engine, k, from); });
    }
    e.policy.onZeroTest(e, marks, c, r);
    return r;
  }

  void uncovered(int c) {
    uncoverColumn(e, marks, cursors, c);
    e.policy.onUncovered(e, marks, c);
  }

  bool step5() { return potentialStep5(e, marks, cursors); }

  void endPhase(int starred) {
    e.policy.onEndPhase(e, marks, starred);
    endPotentialPhase(e, marks);
  }
};

// The engine's structures for the reduction and the start, with its
// policy: potentials and column summaries of slots rows each (clamped).
template <class P>
Potentials<P> newPotentials(Scratch &scratch, const P &policy, const double *C, int M, int N,
                            int slots) {
  using V = typename P::Value;
  Potentials<P> e;
  e.policy = policy;
  e.C = C;
  e.M = M;
  e.N = N;
  e.slots = clampSlots(slots, kMaxSummarySlots, M);
  e.phase = 0;
  e.rowPot = scratch.take<V>(M);
  e.colPot = scratch.take<V>(N);
  e.rowKey = scratch.take<V>(M);
  e.slack = scratch.take<V>(M > N ? M : N);
  e.listedRow = scratch.take<int>(static_cast<std::int64_t>(N) * e.slots);
  e.listedCost = scratch.take<V>(static_cast<std::int64_t>(N) * e.slots);
  e.listedReduced = scratch.take<V>(static_cast<std::int64_t>(N) * e.slots);
  e.listedCount = scratch.take<int>(N);
  e.tail = scratch.take<V>(N);
  e.leastPhase = scratch.take<int>(N);
  e.total = 0;
  e.steps = 0;
  return e;
}

// The structures of the phases, N columns each; needed only when the
// first stars do not complete the solve.
template <class P>
void newPotentialPhases(Potentials<P> &e, Scratch &scratch) {
  using V = typename P::Value;
  const int N = e.N;
  e.leastCost = scratch.take<V>(N);
  e.leastRow = scratch.take<int>(N);
  e.slackPhase = scratch.take<int>(N);
  e.slackColumn = scratch.take<int>(N);
  e.slackColumns = 0;
  e.shift = 0;
  e.uncoveredPhase = scratch.take<int>(N);
  e.since = scratch.take<V>(N);
  e.heap.entry = scratch.take<int>(N);
  e.heap.slot = scratch.take<int>(N);
  e.heap.size = 0;
  e.heapBuilt = false;
  e.keyCost = scratch.take<V>(N);
  e.heapKey = scratch.take<V>(N);
  e.keyNeedsRead = scratch.take<unsigned char>(N);
  e.pending = scratch.take<int>(N);
  e.pendingCount = 0;
  e.zeroless = scratch.takeZeroed<unsigned char>(N);
  e.zerolessHeap.entry = scratch.take<int>(N);
  e.zerolessHeap.slot = scratch.take<int>(N);
  e.zerolessHeap.size = 0;
  e.lowerBound = scratch.take<V>(N);
  e.boundKey = scratch.take<V>(N);
  e.unstarredShift = 0;
  e.moved = scratch.take<int>(N);
  e.movedCount = 0;
  for (int c = 0; c < N; ++c) {
    e.slackPhase[c] = e.uncoveredPhase[c] = kNone;
    e.heap.slot[c] = e.zerolessHeap.slot[c] = kNone;
  }
}

// Places the first stars and runs the phases on a prepared engine (its
// reduction made); the phases' structures are made only when the first
// stars leave work to do.
template <class P>
SolveOutcome runPotentials(Potentials<P> &e, Scratch &scratch, Marks &marks) {
  startPotentials(e, marks, scratch);
  if (marks.starCount == marks.targetCount) return SolveOutcome::complete;
  Cursors cursors = newCursors(scratch, e.M, e.N);
  newPotentialPhases(e, scratch);
  collectUnstarred(marks);
  PotentialPhases<P> phases{e, marks, cursors};
  return runPhases(marks, phases);
}

}  // namespace

#endif
