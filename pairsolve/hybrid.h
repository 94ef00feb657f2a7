// hybrid.h: the hybrid policy of the potential engine (potentials.h,
// phases.h). It serves costs off every grid the exact and grid policies
// take (distances, scaled or log-uniform doubles), Inf for forbidden pairs
// included, and NaN, left in place or forbidden. The engine reads the
// reduced costs the steps compute, keeps potentials, column summaries and
// heaps in doubles, and never forms the working costs. Its values differ
// from the steps' by rounding, so every decision that rounding could
// change (is this a zero? which is the least uncovered cost?) is decided
// by a margin where the margin is clear, and otherwise by running the
// steps' own chain of operations again for that element (replay.h). When a
// decision would need too many such replays (heavily tied costs), it hands
// the costs to the dense engine. This part owns the policy (its reading of
// a cost, its zero test, its step 5 decision, the log it keeps for
// replays), the margin with its constants and its proof, and solveHybrid.
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
//  E2. The engine's values, each rounding by at most u (R0 + 2T), since
//      every value below is at most R0 + 2T in magnitude: the row
//      potential rowPot (potentials.h) starts at 0 and loses h at each of
//      at most n step 5s that cover the row (applyStep5, phases.h); the
//      column potential colPot gains each phase's shift when the phase
//      ends (endPotentialPhase, at most P roundings), shift sums the
//      phase's h (at most n in all), and colPotNow = colPot + (shift -
//      since) takes two more. W = (R0 - colPotNow) - rowKey (workingCost)
//      takes two more: |W - S| <= u (2n + P + 4) (R0 + 2T). The engine's
//      other values of an element: a key of the heap of the phase (setKey
//      and keyNow, phases.h: (R0 - rowKey) - (colPot - since), then
//      - shift) takes four roundings beside the potentials'; a bound of the
//      heap of unstarred columns (pushZeroless and boundNow: lowerBound =
//      R0 - rowPot at some time, then - colPot, + unstarredShift,
//      - unstarredShift and - shift) five, and unstarredShift, which sums
//      the same shifts as each unstarred column's colPot, differs from that
//      sum by at most 2P roundings; a slack (readColumn, potentials.h) is a
//      W when read and loses h at each later step 5 (at most n). So each
//      such value X lies within u (3n + 3P + 8) (R0 + 2T) of S.
//  E3. Only values near a level L matter (L = 0 for zeros, about h for the
//      least cost). For them R0 = S - A_r + B_c <= L + T + |X - S|
//      (1 + 2^-20), so |F - X| <= u (5n + 3P + 8) (L + 4T).
//  E4. The heaps (phases.h) compare values fixed when a column enters or
//      its key is renewed: heapKey (setKey) in the heap of the phase,
//      boundKey (pushZeroless) in the heap of unstarred columns. A key now
//      is heapKey - shift and a bound now (boundKey - unstarredShift) -
//      shift (keyNow, boundNow): the same subtrahends for every column of a
//      heap, and rounding to nearest is monotone. So each heap is an exact
//      binary heap of fixed values at every moment, ordered as its keys
//      (bounds) now: no ancestor's key exceeds its descendant's, the top's
//      key is the least in the heap, and popping tops until a top's key
//      exceeds a level pops every column whose key is at most that level.
//      A stale key (its least row covered since it was set) is a lower
//      bound of the column's least uncovered value; settleHeap and the pops
//      of step 5 renew a stale top (setKey, from the uncovered listed rows:
//      listedLeast, potentials.h) before they use it, and the renewed
//      column sinks to its place.
// The margin: delta = u (128n + 64P + 1024) and margin(L) = delta (|L| + 4T)
// exceed twice every bound of E3, with room to spare.
//  D1. A zero of the steps (F = 0) has every value X <= margin(0) (E3 with
//      L = X, and delta >= 2u (5n + 3P + 8)). Every element that step 3
//      could prime, with W <= zeroMargin = 2 margin(0), is replayed: its F
//      is computed by the steps' own operations in their order, from the
//      log (replayElement, replay.h), and tested for zero; that holds for
//      the listed rows of a listed column (listedZero, potentials.h) and
//      the rows of a scanned one (firstZero) alike. A column is listed
//      while tail - colPotNow exceeds zeroMargin (listed, potentials.h),
//      and known to hold no zero while no listed row's value is within
//      zeroMargin (noteZeroless, phases.h); below the margin it is
//      scanned. So step 3 primes the steps' zeros, in their order.
//  D2. Step 5 (potentialStep5 in phases.h, then decideStep5 here). g is
//      the lesser of the least slack of an uncovered row and the key of the
//      heap's top once settled (settleHeap, phases.h). A slack is the value
//      of an uncovered element of a read column. The settled top is not
//      stale (E4), and it does not need reading unless its key exceeds the
//      least slack by more than the margin, when g is that slack; else its
//      key is the value of its least uncovered listed row. So g is the
//      value X0 of an uncovered element e0, and the steps' h, their least
//      uncovered F, is at most F(e0) <= g + margin(g) (E3). An element
//      with F = h then has W <= h + margin(h) <= g + 4 margin(2|g|) =
//      theta. Every uncovered element with W <= theta is a candidate:
//      the unstarred columns known to hold no zero whose bound is at most
//      theta move into the heap of the phase, every column of that heap
//      whose key is at most theta is popped (E4), and a popped column is
//      read into the slacks when its tail is within theta (its unlisted
//      rows may then hold such an element), else its uncovered listed
//      rows with W <= theta are the candidates; for the read columns, the
//      uncovered rows whose slack is at most theta, each element tested
//      on its own W. Every candidate is replayed (D1), and h is the least
//      F replayed: the steps' h, since the element with F = h is a
//      candidate and every candidate's F is at least h. The zeros the step
//      leaves in uncovered rows and columns are the elements whose F was h
//      (F - h is 0 only when F = h), all among the candidates: the rows of
//      the read columns whose slack was within theta, and the popped
//      columns' listed rows, which step 3 searches next.
//  D3. Absorption: (h + w) - h can round a tiny w > 0 of a covered row to
//      zero. Such an element has W <= margin(0), so D1 finds it wherever
//      step 3 searches: unstarred columns known to hold no zero are
//      searched again when a phase begins if their bound is within
//      zeroMargin (onNewPhase here).
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
// Limits: costs beyond 2^1000 (and a substitute beyond it) go to the
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
#include "marks.h"
#include "phases.h"
#include "potentials.h"
#include "replay.h"
#include "summary.h"

#if defined(PAIRSOLVE_CHECK_DECISIONS)
#include "decision_check.h"
#endif

namespace {

// The margin's weights, in units of the roundoff (the opening comment
// proves them): per step 5, per phase and a constant.
constexpr double kMarginPerStep = 128.0;
constexpr double kMarginPerPhase = 64.0;
constexpr double kMarginConstant = 1024.0;
#if defined(PAIRSOLVE_HYBRID_MARGIN_SCALE)
// Deliberately wrong builds (tests only): the margin times this factor, 0
// or 1e-4, which the engine comparison and the decision checks must catch.
constexpr double kMarginScale = PAIRSOLVE_HYBRID_MARGIN_SCALE;
#else
constexpr double kMarginScale = 1.0;
#endif

// Replay work allowed per element of the matrix (operations), plus a floor:
// enough for realistic costs (a 2000-by-2000 distance matrix of about
// 10,000 step 5s took a little over 16 per element), while heavily tied
// costs, which would replay far more, reach the dense engine soon.
constexpr std::int64_t kReplayPerElement = 64;
constexpr std::int64_t kReplayFloor = std::int64_t{1} << 20;
// Candidates one step 5 may replay: at least this many, or one per eight
// rows plus columns.
constexpr int kLeastCandidateCap = 64;
constexpr int kCandidateShare = 8;
// Summary slots per column (potentials.h) when the plug-in's default is
// asked for and the matrix is not wider than tall.
constexpr int kHybridSummarySlots = 16;
#if defined(__SSE2__)
static_assert(kHybridSummarySlots == kBranchFreeSlots,
              "summaryInsert finds the largest slot without a branch for this many slots only "
              "(potentials.h); measure both searches before changing either");
#endif
// Costs beyond this go to the dense engine.
constexpr double kHybridMagnitudeLimit = 0x1p1000;
// The scratch a hybrid solve takes, per row plus column and at least, its
// log included on most inputs (one host allocation beside the solve's
// first; a longer log takes more).
constexpr std::size_t kHybridScratchPerLine = 1536;
constexpr std::size_t kHybridScratchBase = 4096;

struct HybridPolicy {
  using Value = double;
  static constexpr bool kConfirms = true;
  double substitute;   // stands for every non-finite cost, but NaN when nanInPlace
  bool hasSubstitute;  // C holds non-finite costs
  bool nanInPlace;     // NaN costs are read as NaN (the first solve of costs holding NaN)
  // The steps' reduction: R0 = (cost - rowBase[r]) - colBase[c].
  const double *rowBase;
  const double *colBase;
  Replay *replay;  // the log from which the steps' own working costs are replayed
  // The margin's factor for the step 5s and phases so far (D1-D2 of the
  // opening comment), and zeroMargin = 2 margin(0).
  double delta;
  double zeroMargin;
#if defined(PAIRSOLVE_CHECK_DECISIONS)
  DecisionCheck *check;  // the steps' own working costs, for the checks
#endif

  bool anySubstitute() const {
    return hasSubstitute;
  }
  // Element (r, c) as the engine reads it: its reduced cost, rounded as the
  // steps round it.
  double read(const double *column, int r, int c) const {
    return (stepsCost(column[r], substitute, nanInPlace) - rowBase[r]) - colBase[c];
  }
#if defined(__SSE2__)
  struct Lanes {
    __m128d substitute;
    __m128d keepNaN;  // all ones when NaN stays in place
    __m128d columnBase;
  };
  Lanes lanes(int c) const {
    return {_mm_set1_pd(substitute), _mm_castsi128_pd(_mm_set1_epi64x(nanInPlace ? -1 : 0)),
            _mm_set1_pd(colBase[c])};
  }
  template <bool kSubstitute>
  __m128d read2(const Lanes &lanes, const double *column, int r) const {
    __m128d x = _mm_loadu_pd(column + r);
    if (kSubstitute) {
      __m128d keep = _mm_or_pd(_mm_cmpeq_pd(_mm_sub_pd(x, x), _mm_setzero_pd()),
                               _mm_and_pd(_mm_cmpunord_pd(x, x), lanes.keepNaN));
      x = _mm_or_pd(_mm_and_pd(keep, x), _mm_andnot_pd(keep, lanes.substitute));
    }
    return _mm_sub_pd(_mm_sub_pd(x, _mm_loadu_pd(rowBase + r)), lanes.columnBase);
  }
#endif

  // D1: a working cost within zeroMargin is replayed; its steps' value
  // decides.
  double zeroLimit() const {
    return zeroMargin;
  }
  bool confirmZero(int r, int c) {
    return replayElement(*replay, r, c) == 0.0;
  }
  // The margin around a working cost of magnitude level (E3, E4).
  double margin(double level, double total) const {
    return delta > 0.0 ? delta * (std::fabs(level) + 4.0 * total) : 0.0;
  }
  // D2: theta = g + 4 margin(2g).
  double candidateMargin(double g, double total) const {
    return 4.0 * margin(2.0 * std::fabs(g), total);
  }

  // The margin for the step 5s and phases so far.
  template <class E>
  void renewMargin(E &e) {
    delta = kMarginScale * kUnitRoundoff *
            (kMarginPerStep * static_cast<double>(e.steps) +
             kMarginPerPhase * static_cast<double>(e.phase) + kMarginConstant);
    zeroMargin = 2.0 * margin(0.0, e.total);
  }

  template <class E>
  void onNewPhase(E &e, Marks &marks) {
    if (e.phase == 1) {
      for (int c = 0; c < marks.N; ++c) {
        replay->starredAt[c] = marks.starRow[c] != kNone ? 0 : kNotYet;
      }
    }
    if (replay->phaseStart.size == 0) grow(replay->phaseStart, *replay->scratch, 0);
    grow(replay->phaseStart, *replay->scratch, replay->h.size);
    renewMargin(e);
    // Unstarred columns known to hold no zero may have gained one by
    // absorption (D3): those within the margin are searched.
    BoundOrder<HybridPolicy> boundOrder{&e};
    while (e.zerolessHeap.size > 0 && !(boundNow(e, e.zerolessHeap.entry[0]) > zeroMargin)) {
      int c = e.zerolessHeap.entry[0];
      heapRemove(e.zerolessHeap, 0, boundOrder);
      e.zeroless[c] = 0;
      activate(marks, c);
    }
  }

  template <class E>
  void onUncovered(E &e, Marks &marks, int c) {
    int row = marks.coveredRows[marks.coveredCount - 1];
    addEvent(replay->rows, *replay->scratch, replay->phaseStart, row, replay->h.size, e.phase);
    addEvent(replay->columns, *replay->scratch, replay->phaseStart, c, replay->h.size, e.phase);
  }

  template <class E>
  void onEndPhase(E &, Marks &, int starred) {
    replay->starredAt[starred] = replay->h.size;
  }

  template <class E>
  bool beforeStep5(E &e) {
    if (e.steps >= kMostSteps) replay->exhausted = true;
    return !replay->exhausted;
  }

  // D2: every element with a working cost at most theta, in the columns
  // step 5 took from the heap (firstPopped on in pending) and in the rows
  // of the columns read (cursors' zero rows), is a candidate; h is the
  // least of their values as the steps compute them. False, and the solve
  // ends, when the candidates or the replay work exceed their limits or no
  // finite h exists (the dense engine then solves).
  template <class E>
  bool decideStep5(E &e, Marks &marks, Cursors &cursors, int firstPopped, double theta, double *h) {
    int cap = (marks.M + marks.N) / kCandidateShare;
    if (cap < kLeastCandidateCap) cap = kLeastCandidateCap;
    int count = 0;
    double least = kInf;
    auto candidate = [&](int r, int c) {
      if (++count > cap) return;
      double F = replayElement(*replay, r, c);
      if (F < least) least = F;
    };
    for (int i = firstPopped; i < e.pendingCount; ++i) {
      int c = e.pending[i];
      double colPot = colPotNow(e, c);
      std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
      for (int k = 0; k < e.listedCount[c]; ++k) {
        int r = e.listedRow[first + k];
        if (e.rowKey[r] == -kInf) continue;
        if ((e.listedCost[first + k] - e.rowKey[r]) - colPot <= theta) candidate(r, c);
      }
    }
    for (int i = 0; i < cursors.zeroRowCount; ++i) {
      int r = cursors.zeroRows[i];
      for (int j = 0; j < e.slackColumns; ++j) {
        int c = e.slackColumn[j];
        if (workingCost(e, r, c) <= theta) candidate(r, c);
      }
    }
    if (count > cap || replay->exhausted || !std::isfinite(least)) {
      replay->exhausted = true;
      return false;
    }
    *h = least;
#if defined(PAIRSOLVE_CHECK_DECISIONS)
    checkStep5(
        *check, marks, least, e.steps, e.phase, delta, e.total,
        [&e](int r, int c) { return workingCost(e, r, c); },
        [this](int r, int c) { return replayUncached(*replay, r, c); });
#endif
    return true;
  }

  template <class E>
  void afterStep5(E &e, Marks &marks, double h) {
#if defined(PAIRSOLVE_CHECK_DECISIONS)
    applyCheckedStep5(*check, marks, h);
#else
    (void)marks;
#endif
    grow(replay->h, *replay->scratch, h);
    renewMargin(e);
  }

  template <class E>
  void onZeroTest(E &e, Marks &marks, int c, int found) {
#if defined(PAIRSOLVE_CHECK_DECISIONS)
    checkZeroTest(*check, marks, c, found, e.steps, e.phase);
#else
    (void)e, (void)marks, (void)c, (void)found;
#endif
  }
};

using HybridEngine = Potentials<HybridPolicy>;

// The log and cache of a hybrid solve (replay.h), from scratch.
Replay newReplay(Scratch &scratch, const double *C, int M, int N, double substitute,
                 bool nanInPlace, const double *rowBase, const double *colBase) {
  Replay replay;
  replay.C = C;
  replay.M = M;
  replay.N = N;
  replay.substitute = substitute;
  replay.nanInPlace = nanInPlace;
  replay.rowBase = rowBase;
  replay.colBase = colBase;
  replay.scratch = &scratch;
  int phases = (M < N ? M : N) + 1;  // at most one per star
  replay.rows.chunks = replay.columns.chunks = 0;
  replay.rows.blockBits = replay.columns.blockBits = chunkBlockBits(std::int64_t{M} + N);
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
  replay.intervals = phases;
  replay.rowFrom = scratch.take<int>(phases);
  replay.rowTo = scratch.take<int>(phases);
  replay.colFrom = scratch.take<int>(phases + 1);
  replay.colTo = scratch.take<int>(phases + 1);
  return replay;
}

// Solves C with the hybrid policy: inexact when it does not take the costs
// (costs or substitute beyond 2^1000) or hands them on (see Limits above);
// otherwise writes the assignment vector when the steps complete. With NaN
// left in place (not nanForbidden) NaN costs are read as NaN, as the steps
// read them: never a zero, never the least cost; and a solve the steps
// cannot complete is reported stuck, as theirs (then NaN is forbidden and
// the costs solved again). Without NaN in place it hands a stuck solve to
// the dense engine, which decides.
SolveOutcome solveHybrid(Scratch &scratch, double *assignment, const double *C, int M, int N,
                         const CostSummary &summary, double substitute, bool nanForbidden,
                         int slots) {
  if (M == 0 || N == 0) return SolveOutcome::inexact;
  if (!(summary.largestFinite <= kHybridMagnitudeLimit) ||
      (summary.anyNonFinite && !(substitute <= kHybridMagnitudeLimit))) {
    return SolveOutcome::inexact;
  }
  bool nanInPlace = summary.anyNaN && !nanForbidden;
  ScratchScope part(scratch);
  scratch.reserve(kHybridScratchPerLine * (static_cast<std::size_t>(M) + N) + kHybridScratchBase);
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
    double least = stepsCost(column[0], substitute, nanInPlace);
    for (int r = 0; r < M; ++r) {
      double x = stepsCost(column[r], substitute, nanInPlace);
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
  Replay replay = newReplay(scratch, C, M, N, substitute, nanInPlace, rowBase, colBase);
  HybridPolicy policy;
  policy.substitute = substitute;
  policy.hasSubstitute = summary.anyNonFinite;
  policy.nanInPlace = nanInPlace;
  policy.rowBase = rowBase;
  policy.colBase = colBase;
  policy.replay = &replay;
  policy.delta = 0.0;
  policy.zeroMargin = 0.0;
#if defined(PAIRSOLVE_CHECK_DECISIONS)
  DecisionCheck check;
  startDecisionCheck(check, replay);
  policy.check = &check;
#endif
  HybridEngine e = newPotentials(scratch, policy, C, M, N, slots);
  for (int r = 0; r < M; ++r) e.rowPot[r] = 0.0;
  for (int c = 0; c < N; ++c) e.colPot[c] = 0.0;
  Marks marks = newMarks(scratch, M, N);
  SolveOutcome outcome = runPotentials(e, scratch, marks);
  if (replay.exhausted || (outcome == SolveOutcome::stuck && !nanInPlace)) {
    return SolveOutcome::inexact;
  }
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  return outcome;
}

}  // namespace

#endif
