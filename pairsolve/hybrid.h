// hybrid.h: the hybrid engine. It serves costs off every grid the exact and
// grid engines take (distances, scaled or log-uniform doubles), with Inf
// for forbidden pairs and NaN forbidden in the second solve. It runs the
// exact engine's phases (exact.h) on doubles: it reads the reduced costs
// the steps compute, keeps potentials, column summaries and heaps, and
// never forms the working costs. Its values differ from the steps' by
// rounding, so every decision that rounding could change (is this a zero?
// which is the least uncovered cost?) is decided by a margin where the
// margin is clear, and otherwise by running the steps' own chain of
// operations again for that element (replay.h). When a decision would need
// too many such replays (heavily tied costs), it hands the costs to the
// dense engine.
//
// Why the decisions are the steps'. Write u = 2^-53; n for the number of
// step 5s so far, P for the phases, T for the sum of every h. For an
// element (r, c): F is its working cost as the steps compute it, element by
// element; R0 its reduced cost (the steps' rounded reduction, which the
// engine reads with the same operation); A_r the sum of the h of the step
// 5s that covered row r, B_c that of those that left column c uncovered;
// S = R0 + A_r - B_c in exact arithmetic; W the engine's own value of the
// working cost, (R0 - column potential) - row potential, the potentials
// summed in doubles. Assume every decision so far is the steps' (so every h
// is the steps' h); we show the next one is.
//  E1. The steps round each sum or difference to nearest, by at most u
//      times its magnitude. F never goes below zero (h is the least
//      uncovered F, and (h + F) - h >= 0), and every intermediate result of
//      an element is at most R0 + A_r + |F - S|. An element takes at most
//      2n operations, so |F - S| <= 2n u (R0 + A_r) (1 + 2^-20).
//  E2. The engine's row potential sums at most n values of h, its column
//      potential at most n through the shift of each phase and two more per
//      phase, each rounding by at most u T; W takes two more roundings, a
//      key one more, a slack one per step 5 since it was read. So
//      |W - S| <= u (3n + 2P + 8) (R0 + 2T).
//  E3. Only elements whose W is near a level L matter (L = 0 for zeros,
//      about h for the least cost). For them R0 = S - A_r + B_c <=
//      L + T + |W - S| (1 + 2^-20), so |F - W| <= u (5n + 2P + 8) (L + 4T).
//  E4. The heaps compare computed keys. Every computed key lies within
//      3u (R0 + 2T) of its exact value, and a step 5 lowers every exact key
//      of the phase by the same amount, so an ancestor's key exceeds its
//      descendant's by at most 6u (R0 + 2T) per level, and a heap is at
//      most 31 levels deep: a key at most L lies below ancestors at most
//      L + 192u (L + 4T). The heap of unstarred columns moves by one
//      rounding per phase: 64u P (L + 4T) covers it the same way.
// The margin: delta = u (128n + 64P + 1024) and margin(L) = delta (|L| + 4T)
// exceed every bound of E3 and E4, with room to spare.
//  D1. A zero of the steps (F = 0) has W <= margin(0). Every element that
//      step 3 could prime, with W <= zeroMargin = 2 margin(0) (the bounds
//      of summaries and heaps included), is replayed: its F is computed by
//      the steps' own operations in their order, from the log, and tested
//      for zero. A column is listed, and known to hold no zero, only while
//      its bound exceeds zeroMargin. So step 3 primes the steps' zeros.
//  D2. Step 5: let g be the least computed key or slack. The steps' h is
//      at most F of the element that has g, at most g + margin; an element
//      with F = h has W <= g + 2 margin. Every element with W at most
//      theta = g + 4 margin(2g) is collected (columns whose key or bound is
//      at most theta are read or searched) and replayed, and h is the least
//      F replayed: the steps' h. The zeros it leaves are at the elements
//      whose F was h, among those collected.
//  D3. Absorption: (h + w) - h can round a tiny w > 0 of a covered row to
//      zero. Such an element has W <= margin(0), so D1 finds it wherever
//      step 3 searches: unstarred columns known to hold no zero are searched
//      again when a phase begins if their bound is within zeroMargin.
//  D4. NaN left in place (the first solve of costs holding NaN): the
//      engine reads NaN where the steps do (the reduction takes each line's
//      minimum as they do, from its first cost on, so a NaN first cost
//      makes the whole line NaN), every comparison with NaN is false in
//      both, so such an element is never a zero, never the least cost, and
//      never listed in a summary.
// By induction the stars, primes, covers and every h are the steps', hence
// the assignment, and its cost, summed from C in row order; and a solve the
// steps cannot complete (more step 5s than stars in one phase, or no finite
// least cost) is one the engine cannot complete either.
//
// Limits: costs beyond 2^1000 (and a substitute beyond it) stay with the
// dense engine, so no sum overflows. A step 5 that would replay more than
// its cap of candidates, or replay work beyond a budget proportional to
// the matrix, ends the solve: the dense engine solves again; so does a
// solve that cannot complete while no NaN is in place (only overflowing
// costs could do that, and the dense engine decides). Scratch is O(M + N)
// plus the log (one entry per step 5 and per row covered).
#ifndef PAIRSOLVE_HYBRID_H
#define PAIRSOLVE_HYBRID_H

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "exact.h"
#include "marks.h"
#include "replay.h"
#include "summary.h"

namespace {

// Replay work allowed per element of the matrix (operations), plus a floor.
constexpr std::int64_t kReplayPerElement = 16;
constexpr std::int64_t kReplayFloor = std::int64_t{1} << 20;
// Candidates one step 5 may replay: at least this many, or one per eight
// rows plus columns.
constexpr int kLeastCandidateCap = 64;
constexpr int kCandidateShare = 8;
// Summary slots per column (exact_columns.h) when the plug-in's default is
// asked for and the matrix is not wider than tall.
constexpr int kHybridSummarySlots = 16;
// Costs beyond this stay with the dense engine.
constexpr double kHybridMagnitudeLimit = 0x1p1000;

// The margin's factor for the step 5s and phases so far (see the opening
// comment); zeroMargin follows it.
void hybridDelta(Exact &exact) {
  Replay &replay = *exact.replay;
  replay.delta =
      kUnitRoundoff * (kMarginPerStep * static_cast<double>(exact.steps) +
                       kMarginPerPhase * static_cast<double>(exact.phase) + kMarginConstant);
  exact.zeroMargin = 2.0 * exactMargin(exact, 0.0);
}

// The engine's working cost (r, c) for an uncovered row r (rowKey is its
// potential; +Inf for a covered row).
inline double hybridWorking(const Exact &exact, int r, int c) {
  return (exactRead(exact, exact.C + at(0, c, exact.replay->M), r, c) - colPotNow(exact, c)) -
         exact.rowKey[r];
}

// The first row r in [from, M) whose working cost is a zero of the steps,
// or M: the rows within the margin are replayed. kSubstitute: C holds
// non-finite costs.
template <bool kSubstitute>
int firstHybridZero(Exact &exact, int c, int from, int M) {
  const double *column = exact.C + at(0, c, M);
  double colPot = colPotNow(exact, c);
  double margin = exact.zeroMargin;
  int r = from;
#if defined(__SSE2__)
  const __m128d sub = _mm_set1_pd(exact.substitute);
  const __m128d base = _mm_set1_pd(exact.colBase[c]);
  const __m128d keepNaN = _mm_castsi128_pd(_mm_set1_epi64x(exact.nanInPlace ? -1 : 0));
  const __m128d pot = _mm_set1_pd(colPot);
  const __m128d limit = _mm_set1_pd(margin);
  for (; r + 2 <= M; r += 2) {
    __m128d reduced = _mm_sub_pd(_mm_sub_pd(hybridCosts<kSubstitute>(column + r, sub, keepNaN),
                                            _mm_loadu_pd(exact.rowBase + r)),
                                 base);
    __m128d w = _mm_sub_pd(_mm_sub_pd(reduced, pot), _mm_loadu_pd(exact.rowKey + r));
    int near = _mm_movemask_pd(_mm_cmple_pd(w, limit));
    if ((near & 1) && replayElement(*exact.replay, r, c) == 0.0) return r;
    if ((near & 2) && replayElement(*exact.replay, r + 1, c) == 0.0) return r + 1;
  }
#endif
  for (; r < M; ++r) {
    double w = (exactRead(exact, column, r, c) - colPot) - exact.rowKey[r];
    if (w <= margin && replayElement(*exact.replay, r, c) == 0.0) return r;
  }
  return M;
}

// The first uncovered zero row of a listed column c (its unlisted rows are
// beyond the margin), or kNone.
int hybridListedZero(Exact &exact, int c) {
  double least = exactListedLeast(exact, c);
  double colPot = colPotNow(exact, c);
  if (least - colPot > exact.zeroMargin) return kNone;
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  int found = kNone;
  for (int k = 0; k < exact.listedCount[c]; ++k) {
    int r = exact.listedRow[first + k];
    if (exact.rowKey[r] == -kInf || (found != kNone && r > found)) continue;
    double w = (exact.listedCost[first + k] - exact.rowKey[r]) - colPot;
    if (w <= exact.zeroMargin && replayElement(*exact.replay, r, c) == 0.0) found = r;
  }
  return found;
}

// Step 5 of the hybrid engine (D2 of the opening comment): the candidates
// for the least uncovered cost are collected and replayed; h is the least
// replayed value. False when no finite h exists, or when the candidates or
// the replay work exceed their limits (the dense engine then solves).
bool hybridStep5(Exact &exact, Marks &marks, Cursors &cursors, int *candidates) {
  Replay &replay = *exact.replay;
  int M = marks.M;
  if (exact.steps >= kMostSteps) replay.exhausted = true;
  if (replay.exhausted) return false;
  exactStep5Heap(exact, marks);
  double g = exactLeastSlack(exact, M);
  exactSettle(exact, M, g);
  if (exact.heap.size > 0) {
    double least = exactKeyNow(exact, exact.heap.entry[0]);
    if (least < g) g = least;
  }
  if (!std::isfinite(g)) return false;
  double theta = g + 4.0 * exactMargin(exact, 2.0 * std::fabs(g));
  // Unstarred columns that may hold a candidate join the heap of the phase.
  ExactKeyOrder<double> order{&exact};
  while (exact.zerolessHeap.size > 0 &&
         !(exactBoundNow(exact, exact.zerolessHeap.entry[0]) > theta)) {
    exactMoveZeroless(exact);
  }
  // The columns whose key is at most theta leave the heap: read into the
  // slacks when their unlisted rows may hold a candidate, else searched
  // among their listed rows (they return to the heap at the next step 5).
  int firstPopped = exact.pendingCount;
  while (exact.heap.size > 0) {
    int c = exact.heap.entry[0];
    if (exactKeyStale(exact, c)) {
      exactKey(exact, c);
      heapDown(exact.heap, 0, order);
      continue;
    }
    if (exactKeyNow(exact, c) > theta) break;
    heapPopTop(exact);
    if (exact.keyNeedsRead[c] || !(exact.tail[c] - colPotNow(exact, c) > theta)) {
      exactReadIntoSlack(exact, c, M);
    } else {
      exact.pending[exact.pendingCount++] = c;
    }
  }
  int cap = (M + marks.N) / kCandidateShare;
  if (cap < kLeastCandidateCap) cap = kLeastCandidateCap;
  int count = 0;
  double h = kInf;
  auto candidate = [&](int r, int c) {
    if (++count > cap) return;
    double F = replayElement(replay, r, c);
    if (F < h) h = F;
  };
  for (int i = firstPopped; i < exact.pendingCount; ++i) {
    int c = exact.pending[i];
    double colPot = colPotNow(exact, c);
    std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
    for (int k = 0; k < exact.listedCount[c]; ++k) {
      int r = exact.listedRow[first + k];
      if (exact.rowKey[r] == -kInf) continue;
      if ((exact.listedCost[first + k] - exact.rowKey[r]) - colPot <= theta) candidate(r, c);
    }
  }
  int zeroRows = 0;
  if (exact.slackColumns > 0) {
    for (int r = 0; r < M; ++r) {
      if (exact.rowKey[r] == -kInf || !(exact.slack[r] <= theta)) continue;
      candidates[zeroRows++] = r;
      for (int i = 0; i < exact.slackColumns; ++i) {
        int c = exact.slackColumn[i];
        if (hybridWorking(exact, r, c) <= theta) candidate(r, c);
      }
    }
  }
  if (count > cap || replay.exhausted || !std::isfinite(h)) {
    replay.exhausted = true;
    return false;
  }
  // The zeros this step 5 leaves: at listed rows of the searched columns,
  // and at the rows of the read columns whose slack was within theta.
  for (int i = firstPopped; i < exact.pendingCount; ++i) {
    int c = exact.pending[i];
    activate(marks, c);
    exact.zeroless[c] = 0;
  }
  cursors.zeroRowCount = zeroRows;
  for (int i = 0; i < zeroRows; ++i) cursors.zeroRows[i] = candidates[i];
  exactApplyStep5(exact, marks, cursors, h);
  grow(replay.h, *replay.scratch, h);
  hybridDelta(exact);
  return true;
}

// The hybrid engine as runPhases (marks.h) drives it: the exact engine's
// phases, with the zero tests and step 5 of the opening comment, and the
// log kept for replays.
template <class V>
struct HybridPhases {
  ExactOf<V> &exact;
  Marks &marks;
  Cursors &cursors;

  void newPhase() {
    Replay &replay = *exact.replay;
    if (exact.phase == 0) {
      for (int c = 0; c < marks.N; ++c) {
        replay.starredAt[c] = marks.starRow[c] != kNone ? 0 : kNotYet;
      }
    }
    exactNewPhase(exact, marks, cursors);
    if (replay.phaseStart.size == 0) grow(replay.phaseStart, *replay.scratch, 0);
    grow(replay.phaseStart, *replay.scratch, replay.h.size);
    hybridDelta(exact);
    // Unstarred columns known to hold no zero may have gained one by
    // absorption (D3): those within the margin are searched.
    ExactBoundOrder<double> boundOrder{&exact};
    while (exact.zerolessHeap.size > 0 &&
           !(exactBoundNow(exact, exact.zerolessHeap.entry[0]) > exact.zeroMargin)) {
      int c = exact.zerolessHeap.entry[0];
      heapRemove(exact.zerolessHeap, 0, boundOrder);
      exact.zeroless[c] = 0;
      activate(marks, c);
    }
  }

  int findZero(int c) {
    if (exact.tail[c] - colPotNow(exact, c) > exact.zeroMargin) {
      int r = hybridListedZero(exact, c);
      if (r == kNone && marks.unstarredSlot[c] != kNone) exactNoteZeroless(exact, c);
      return r;
    }
    int M = marks.M;
    ExactOf<V> &state = exact;
    return nextZero(
        cursors, marks, c,
        [&state](int r, int k) {
          return hybridWorking(state, r, k) <= state.zeroMargin &&
                 replayElement(*state.replay, r, k) == 0.0;
        },
        [&state, M](int k, int from) {
          return state.anySubstitute ? firstHybridZero<true>(state, k, from, M)
                                     : firstHybridZero<false>(state, k, from, M);
        });
  }

  void uncovered(int c) {
    Replay &replay = *exact.replay;
    int row = marks.coveredRows[marks.coveredCount - 1];
    addEvent(replay.rows, *replay.scratch, replay.phaseStart, row, replay.h.size, exact.phase);
    addEvent(replay.columns, *replay.scratch, replay.phaseStart, c, replay.h.size, exact.phase);
    exactUncovered(exact, marks, cursors, c);
  }

  bool step5() { return hybridStep5(exact, marks, cursors, exact.replay->candidates); }

  void endPhase(int starred) {
    Replay &replay = *exact.replay;
    replay.starredAt[starred] = replay.h.size;
    exactEndPhase(exact, marks);
  }
};

// The log and cache of a hybrid solve (replay.h), from scratch.
Replay newReplay(Scratch &scratch, const double *C, int M, int N, double substitute,
                 const double *rowBase, const double *colBase) {
  Replay replay;
  replay.C = C;
  replay.M = M;
  replay.N = N;
  replay.substitute = substitute;
  replay.nanInPlace = false;
  replay.rowBase = rowBase;
  replay.colBase = colBase;
  replay.scratch = &scratch;
  int phases = (M < N ? M : N) + 1;  // at most one per star
  replay.rows.chunks = replay.columns.chunks = 0;
  replay.rows.newest = scratch.take<LineNewest>(M);
  replay.columns.newest = scratch.take<LineNewest>(N);
  for (int r = 0; r < M; ++r) replay.rows.newest[r] = LineNewest{kNone, 0, 0, 0};
  for (int c = 0; c < N; ++c) replay.columns.newest[c] = LineNewest{kNone, 0, 0, 0};
  replay.starredAt = scratch.take<int>(N);
  int bits = 6;
  while (bits < 30 && (std::int64_t{1} << bits) < kCachePerLine * (std::int64_t{M} + N)) ++bits;
  replay.cacheBits = bits;
  replay.cacheKey = scratch.take<std::int64_t>(std::int64_t{1} << bits);
  replay.cacheValue = scratch.take<double>(std::int64_t{1} << bits);
  replay.cacheStep = scratch.take<int>(std::int64_t{1} << bits);
  for (std::int64_t i = 0; i < (std::int64_t{1} << bits); ++i) replay.cacheKey[i] = -1;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  replay.budget = kReplayPerElement * E + kReplayFloor;
  replay.exhausted = false;
  replay.delta = 0.0;
  replay.intervals = phases;
  replay.rowFrom = scratch.take<int>(phases);
  replay.rowTo = scratch.take<int>(phases);
  replay.colFrom = scratch.take<int>(phases + 1);
  replay.colTo = scratch.take<int>(phases + 1);
  replay.candidates = scratch.take<int>(M);
  return replay;
}

// Solves C with the hybrid engine: inexact when it does not take the costs
// (costs or substitute beyond 2^1000) or hands them on (see Limits above);
// otherwise writes the assignment vector when the steps complete. With NaN
// left in place (not nanForbidden) NaN costs are read as NaN, as the steps
// read them: never a zero, never the least cost; and a solve the steps
// cannot complete is reported stuck, as theirs (then NaN is forbidden and
// the costs solved again). Without NaN in place it hands a stuck solve to
// the dense engine, which decides.
SolveOutcome solveHybrid(const ScratchAllocator &allocator, double *assignment, const double *C,
                         int M, int N, const CostSummary &summary, double substitute,
                         bool nanForbidden, int slots) {
  if (M == 0 || N == 0) return SolveOutcome::inexact;
  if (!(summary.largestFinite <= kHybridMagnitudeLimit) ||
      (summary.anyNonFinite && !(substitute <= kHybridMagnitudeLimit))) {
    return SolveOutcome::inexact;
  }
  bool nanInPlace = summary.anyNaN && !nanForbidden;
  Scratch scratch(allocator);
  bool wide = M <= N;
  double *rowBase = scratch.take<double>(M);
  double *colBase = scratch.take<double>(N);
  // The reduction's line minima as the steps take them: from the line's
  // first cost on, a cost replaces the minimum when it is less (so a NaN
  // first cost stays the minimum of its line). Without NaN in place that is
  // the least of the line's finite costs and, if it holds any other, the
  // substitute: the check of C has them.
  if (!nanInPlace) {
    int lines = wide ? M : N;
    double *base = wide ? rowBase : colBase;
    for (int i = 0; i < lines; ++i) {
      double least = summary.lineLeast[i];
      if (summary.lineNonFinite[i] && substitute < least) least = substitute;
      base[i] = least;
    }
    double *other = wide ? colBase : rowBase;
    for (int i = 0; i < (wide ? N : M); ++i) other[i] = 0.0;
  }
  for (int c = 0; c < N && nanInPlace; ++c) {
    const double *column = C + at(0, c, M);
    double least = hybridCost(column[0], substitute, nanInPlace);
    for (int r = 0; r < M; ++r) {
      double x = hybridCost(column[r], substitute, nanInPlace);
      if (wide) {
        if (c == 0 || x < rowBase[r]) rowBase[r] = x;
      } else if (x < least) {
        least = x;
      }
    }
    colBase[c] = wide ? 0.0 : least;
  }
  if (!wide && nanInPlace) {
    for (int r = 0; r < M; ++r) rowBase[r] = 0.0;
  }
  // Off-grid costs, distances above all, cover a column's few least rows
  // soon: more summary slots save reading columns, except in wide matrices,
  // where most columns hold no star for long and the larger summaries of
  // all of them cost more than the reads they save.
  if (slots == kSummarySlots && M >= N) slots = kHybridSummarySlots;
  Exact exact = newExact(scratch, C, M, N, substitute, summary.anyNonFinite, slots);
  Replay replay = newReplay(scratch, C, M, N, substitute, rowBase, colBase);
  replay.nanInPlace = nanInPlace;
  exact.replay = &replay;
  exact.rowBase = rowBase;
  exact.colBase = colBase;
  exact.nanInPlace = nanInPlace;
  for (int r = 0; r < M; ++r) exact.rowPot[r] = 0.0;
  for (int c = 0; c < N; ++c) exact.colPot[c] = 0.0;
  Marks marks = newMarks(scratch, M, N);
  SolveOutcome outcome = runExact<HybridPhases>(exact, scratch, marks, M, N);
  if (replay.exhausted || (outcome == SolveOutcome::stuck && !nanInPlace)) {
    return SolveOutcome::inexact;
  }
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
