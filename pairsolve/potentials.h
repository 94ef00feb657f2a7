// potentials.h: the potential engine's state and what it knows of each
// column without reading it. The potential engine runs the covering steps
// without forming the working costs: it keeps row and column potentials,
// column summaries and heaps, and reads C only where it must. It is one
// engine, generic over a policy that says how it reads a cost and how it
// decides what rounding could change: the exact policy (exact.h), the grid
// policy (grid.h) and the hybrid policy (hybrid.h) each own their fields,
// their zero test, their step 5 decision and their proof. This part owns
// the state every policy shares, the reading of a column into its summary,
// and the zero tests built on the policy's; phases.h owns the phases.
//
// Working cost (r, c) = (cost(r, c) - colPot[c]) - rowPot[r], where cost is
// what the policy reads at (r, c): C with a substitute for non-finite costs
// (exact), C in integer units (grid), or the steps' reduced cost (hybrid,
// whose potentials start at zero). The reduction sets rowPot to the row
// minima (M <= N) or colPot to the column minima (M > N); step 5 subtracts
// h from rowPot of covered rows and adds h to colPot of uncovered columns.
//
// Column summaries. rowPot only decreases and colPot only increases, so the
// reduced cost cost(r, c) - rowPot[r] of an element only grows; and working
// costs are never negative, so every reduced cost of column c is at least
// colPot[c], with equality exactly at the column's zeros. Each column keeps
// the rows with the least reduced costs at the time it was last read (its
// listed rows, with their costs) and tail, the least reduced cost of its
// other rows at that time, a lower bound for them ever after. While tail
// exceeds colPot[c] by more than the policy's zero limit, every zero of
// column c is a listed row (the column is listed): step 3 finds its first
// uncovered zero among those rows, and step 5 takes the column's least
// uncovered working cost from them whenever that is below tail - colPot[c],
// all without reading C. Otherwise the column is read: step 3 scans it from
// its resume point, and step 5 reads it into per-row slacks, renewing its
// summary on the way.
//
// A policy P provides (see ExactPolicy in exact.h for the plainest):
//   Value                    double, or int64 for the grid policy
//   kConfirms                whether a value within the zero limit must be
//                            confirmed (confirmZero) to be a zero
//   anySubstitute()          C holds costs read as a substitute
//   read(column, r, c)       element (r, c), column c's costs at column
//   lanes(c), read2<kSubstitute>(lanes, column, r)   (doubles, SSE2) the
//                            same for rows r and r + 1
//   zeroLimit()              a working cost at most this may be a zero
//   confirmZero(r, c)        whether it is one
//   margin(level, total)     how far the engine's values may lie from the
//                            steps' near level (0: they are the steps')
//   step 5 and phase hooks   see phases.h
#ifndef PAIRSOLVE_POTENTIALS_H
#define PAIRSOLVE_POTENTIALS_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "columns.h"
#include "heap.h"

namespace {

// Summary slots per column, and the most that may be asked for.
constexpr int kSummarySlots = 8;
constexpr int kMaxSummarySlots = 16;

template <class P>
struct Potentials {
  using V = typename P::Value;
  P policy;
  const double *C;
  int M, N;
  int slots;  // summary slots per column
  V *rowPot;
  V *colPot;
  // Per row: rowPot for an uncovered row, -Inf for a covered one. Then
  // (cost - colPot) - rowKey[r] is the working cost of an uncovered row and
  // +Inf for a covered one.
  V *rowKey;
  // Column summaries: slots entries per column, in ascending order of
  // their reduced costs when the column was read (listedReduced), which
  // bound their reduced costs from below ever after.
  int *listedRow;
  V *listedCost;
  V *listedReduced;
  int *listedCount;
  V *tail;
  // Per phase. phase numbers the phases; a column's least reduced cost over
  // its uncovered listed rows is kept (leastCost, first reached at
  // leastRow, kNone if every listed row is covered) while leastPhase says
  // it is from this phase: the reduced costs of uncovered rows do not
  // change within a phase, so it holds until leastRow is covered.
  int phase;
  int *leastPhase;
  V *leastCost;
  int *leastRow;
  // Columns read into slack in this phase (slackPhase[c] == phase, listed
  // in slackColumn): slack[r] is the least working cost of row r over them,
  // kept through every step 5.
  int *slackPhase;
  int *slackColumn;
  int slackColumns;
  V *slack;  // room for max(M, N): the exact policy's admission uses it first
  // Step 5 adds h to colPot of every uncovered column; within a phase that
  // is kept as shift, the sum of h in this phase, and since[c], the shift
  // when column c was uncovered (uncoveredPhase[c] == phase), so that its
  // potential is colPot[c] + (shift - since[c]). The potentials are brought
  // up to date when the phase ends. (Exact and grid: integers of the grid,
  // so the sums equal the step-by-step ones; hybrid: the margin covers the
  // difference.)
  V shift;
  int *uncoveredPhase;
  V *since;
  // Step 5 keeps the uncovered columns not read into slack in a heap
  // ordered by key: keyCost[c] - potential, where keyCost[c] is the least
  // reduced cost over the uncovered listed rows when that is below tail
  // (the key is then the column's least uncovered working cost), and tail
  // otherwise (keyNeedsRead[c]; the key is then a lower bound, and the
  // column is read when it comes to the top). A step 5 lowers every key by
  // the same h. So that the order is exact in every policy, the heap
  // compares a value fixed when the key is set, heapKey[c] = keyCost[c] -
  // (colPot[c] - since[c]), and a key now is heapKey[c] - shift: the same
  // shift for every column, and rounding is monotone, so the computed keys
  // keep the heap's order. A key only grows as rows are covered, so a key
  // whose leastRow was covered since is a lower bound: it is renewed when
  // it comes to the top. The heap is built at the first step 5 of a phase;
  // columns uncovered later, and columns whose new zeros are handed to step
  // 3, wait in pending until the next step 5.
  ColumnHeap heap;
  bool heapBuilt;
  V *keyCost;
  V *heapKey;
  unsigned char *keyNeedsRead;
  int *pending;
  int pendingCount;
  // zeroless[c]: unstarred column c (marks.h) holds no zero at all. The
  // zeros of an unstarred column never vanish (a step 5 lowers it only
  // where a row is uncovered, and there it holds no zero; covered rows
  // first gain h), and it gains zeros only in a step 5 that finds its least
  // cost to be h; so such a column need not be searched when a phase
  // starts.
  unsigned char *zeroless;
  // The unstarred columns known to hold no zero wait in a second heap
  // across phases, ordered by lowerBound[c] - potential: lowerBound[c] is
  // the least reduced cost of column c over every row at some time (its
  // listed rows and tail), which no reduced cost of it ever goes below.
  // Every unstarred column is uncovered at every step 5, so its potential
  // grows as all the others': by each phase's shift, which unstarredShift
  // sums. The heap compares a value fixed when the column enters,
  // boundKey[c] = (lowerBound[c] - colPot[c]) + unstarredShift, and a bound
  // now is (boundKey[c] - unstarredShift) - shift, so its order is exact.
  // A step 5 moves the columns whose bound does not exceed the least key
  // into the heap of the phase (keyed exactly); they come back when the
  // next phase starts, if they still hold no zero. The other unstarred
  // columns (a zero bounds them by 0) join the heap of each phase when it
  // is built.
  ColumnHeap zerolessHeap;
  V *lowerBound;
  V *boundKey;
  V unstarredShift;
  int *moved;  // the unstarred columns moved into the heap of this phase
  int movedCount;
  // The run so far, which the grid and hybrid proofs bound their errors
  // by: T, the sum of every h, and the number of step 5s.
  V total;
  std::int64_t steps;
};

// The value that stands for +Inf in the engine's arithmetic: +Inf for
// doubles; for the grid policy's integers (units of at most 2^56, see
// grid.h) 2^62, so that a real value plus or minus it stays beyond every
// real value without overflowing.
template <class V>
constexpr V potentialInf() {
  if constexpr (std::numeric_limits<V>::has_infinity) {
    return std::numeric_limits<V>::infinity();
  } else {
    return V{1} << 62;
  }
}

// h is a real value, not one that stands for +Inf.
template <class V>
inline bool potentialFinite(V h) {
  if constexpr (std::numeric_limits<V>::has_infinity) {
    return std::isfinite(h);
  } else {
    return h < potentialInf<V>() / 2;
  }
}

// The potential of column c now.
template <class P>
inline typename P::Value colPotNow(const Potentials<P> &e, int c) {
  return e.uncoveredPhase[c] == e.phase ? e.colPot[c] + (e.shift - e.since[c]) : e.colPot[c];
}

// Element (r, c) as the policy reads it.
template <class P>
inline typename P::Value readCost(const Potentials<P> &e, int r, int c) {
  return e.policy.read(e.C + at(0, c, e.M), r, c);
}

// The working cost (r, c) as the engine has it: +Inf for a covered row.
template <class P>
inline typename P::Value workingCost(const Potentials<P> &e, int r, int c) {
  return (readCost(e, r, c) - colPotNow(e, c)) - e.rowKey[r];
}

// Whether a working cost w of element (r, c) is a zero of the steps.
template <class P>
inline bool isZero(Potentials<P> &e, typename P::Value w, int r, int c) {
  return w <= e.policy.zeroLimit() && e.policy.confirmZero(r, c);
}

// Column c is listed: all its zeros are listed rows.
template <class P>
inline bool listed(const Potentials<P> &e, int c) {
  return e.tail[c] - colPotNow(e, c) > e.policy.zeroLimit();
}

// A column summary being built from its rows in ascending order: the rows
// and reduced costs of the taken slots (their costs are filled in at the
// end), the slot with the largest reduced cost and that cost, the
// threshold below which a row enters (+Inf while slots are free).
template <class V>
struct SummaryBuild {
  int *row;
  V *reduced;
  int slots;
  int count;
  int largest;
  V threshold;
  V tail;
};

#if defined(__SSE2__)
// Finding the slot of the largest reduced cost again, after a row took the
// slot of the last largest. The slots are read a pair at a time, 8 bytes
// at a time (slotPair): one 16-byte read over the slot just written cannot
// take its value from the pending store and waits until the store
// completes, about as long as the rest of the search. Read that way,
// integer costs on the exact engine took 0.78 to 0.82 of the time at
// 100-by-200 and 200-by-100, the same at 1000-by-1000 (without a host).
//
// The hybrid engine's 16 slots (square and tall matrices of off-grid
// costs) then find the slot without a branch (firstLargestOfSixteen): the
// largest by pairs, then that slot from the pairs' equality masks, with
// no loop left at -O2. There the search for the slot missed its guess
// about as often as not, and 1000-by-1000 2-D distances took 0.91 to 0.96
// of the time with this. The 8 slots keep the search: on the exact
// engine's integer costs (100-by-200) the same without a branch took 1.4
// to 1.5 times as long. There the search's guess holds, and the column's
// read goes on past a guessed slot without waiting for the largest value.
inline __m128d slotPair(const double *values) {
  return _mm_loadh_pd(_mm_load_sd(values), values + 1);
}
inline unsigned equalPair(__m128d pair, __m128d value) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpeq_pd(pair, value)));
}
constexpr int kBranchFreeSlots = 16;
// The last slot stands in should no slot hold the largest (one always
// does: the slots hold no NaN).
inline int firstLargestOfSixteen(const double *values) {
  const __m128d p0 = slotPair(values), p1 = slotPair(values + 2);
  const __m128d p2 = slotPair(values + 4), p3 = slotPair(values + 6);
  const __m128d p4 = slotPair(values + 8), p5 = slotPair(values + 10);
  const __m128d p6 = slotPair(values + 12), p7 = slotPair(values + 14);
  __m128d most = _mm_max_pd(_mm_max_pd(_mm_max_pd(p0, p1), _mm_max_pd(p2, p3)),
                            _mm_max_pd(_mm_max_pd(p4, p5), _mm_max_pd(p6, p7)));
  most = _mm_max_pd(most, _mm_shuffle_pd(most, most, 1));
  unsigned at = equalPair(p0, most) | equalPair(p1, most) << 2 | equalPair(p2, most) << 4 |
                equalPair(p3, most) << 6 | equalPair(p4, most) << 8 | equalPair(p5, most) << 10 |
                equalPair(p6, most) << 12 | equalPair(p7, most) << 14;
  return __builtin_ctz(at | 1u << (kBranchFreeSlots - 1));
}
#endif

// Row r, of reduced cost reduced below the threshold, enters the summary;
// when every slot was taken, the row with the largest reduced cost leaves
// for the tail.
template <class V>
void summaryInsert(SummaryBuild<V> &build, int r, V reduced) {
  int slot = build.count;
  if (build.count < build.slots) {
    ++build.count;
  } else {
    if (build.threshold < build.tail) build.tail = build.threshold;
    slot = build.largest;
  }
  build.row[slot] = r;
  build.reduced[slot] = reduced;
  if (build.count == build.slots) {
    int largest = 0;
    V threshold = build.reduced[0];
#if defined(__SSE2__)
    if constexpr (std::is_same<V, double>::value) {
      if (build.slots == kBranchFreeSlots) {
        build.largest = firstLargestOfSixteen(build.reduced);
        build.threshold = build.reduced[build.largest];
        return;
      }
      if (build.slots % 2 == 0) {
        // The largest value two lanes at a time, then its first slot.
        __m128d most = slotPair(build.reduced);
        for (int k = 2; k < build.slots; k += 2) {
          most = _mm_max_pd(slotPair(build.reduced + k), most);
        }
        V value = largerLane(most);
        while (!(build.reduced[largest] == value)) ++largest;
        build.largest = largest;
        build.threshold = build.reduced[largest];
        return;
      }
    }
#endif
    for (int k = 1; k < build.slots; ++k) {
      bool larger = build.reduced[k] > threshold;
      largest = larger ? k : largest;
      threshold = larger ? build.reduced[k] : threshold;
    }
    build.largest = largest;
    build.threshold = threshold;
  }
}

// Row r, of reduced cost reduced, enters the summary or the tail.
template <class V>
inline void summaryOffer(SummaryBuild<V> &build, int r, V reduced) {
  if (reduced < build.threshold) {
    summaryInsert(build, r, reduced);
  } else if (reduced < build.tail) {
    build.tail = reduced;
  }
}

// Reads column c: renews its summary from the current row potentials and,
// with kSlack, takes its working costs into the slacks (slack[r] becomes
// the lesser of itself and working cost (r, c), for every row). kSubstitute:
// the policy reads some costs as a substitute.
template <bool kSubstitute, bool kSlack, class P>
void readColumn(Potentials<P> &e, int c) {
  using V = typename P::Value;
  const int M = e.M;
  const double *costs = e.C + at(0, c, M);
  const V *rowPot = e.rowPot;
  V *slack = e.slack;
  SummaryBuild<V> build;
  build.row = e.listedRow + static_cast<std::int64_t>(c) * e.slots;
  build.reduced = e.listedReduced + static_cast<std::int64_t>(c) * e.slots;
  build.slots = e.slots;
  build.count = 0;
  build.largest = 0;
  build.threshold = potentialInf<V>();
  build.tail = potentialInf<V>();
  V colPot = kSlack ? colPotNow(e, c) : V{0};  // slacks are read in the phases only
  int r = 0;
  if (M <= build.slots) {
    // Every row is listed, but those the policy reads as NaN (never a
    // zero, never the least, and unordered).
    for (; r < M; ++r) {
      V reduced = e.policy.read(costs, r, c) - rowPot[r];
      if (kSlack && reduced - colPot < slack[r]) slack[r] = reduced - colPot;
      if (!(reduced == reduced)) continue;
      build.row[build.count] = r;
      build.reduced[build.count] = reduced;
      ++build.count;
    }
  }
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const auto lanes = e.policy.lanes(c);
    const __m128d pot = _mm_set1_pd(colPot);
    const __m128d infinity = _mm_set1_pd(kInf);
    __m128d limit = _mm_set1_pd(build.threshold);
    __m128d lowTails = infinity;
    __m128d highTails = lowTails;
    for (; r + 4 <= M; r += 4) {
      __m128d low = _mm_sub_pd(e.policy.template read2<kSubstitute>(lanes, costs, r),
                               _mm_loadu_pd(rowPot + r));
      __m128d high = _mm_sub_pd(e.policy.template read2<kSubstitute>(lanes, costs, r + 2),
                                _mm_loadu_pd(rowPot + r + 2));
      if (kSlack) {
        _mm_storeu_pd(slack + r, _mm_min_pd(_mm_sub_pd(low, pot), _mm_loadu_pd(slack + r)));
        _mm_storeu_pd(slack + r + 2,
                      _mm_min_pd(_mm_sub_pd(high, pot), _mm_loadu_pd(slack + r + 2)));
      }
      __m128d lowBelow = _mm_cmplt_pd(low, limit);
      __m128d highBelow = _mm_cmplt_pd(high, limit);
      int below = _mm_movemask_pd(lowBelow) | (_mm_movemask_pd(highBelow) << 2);
      if (below == 0) {
        lowTails = _mm_min_pd(low, lowTails);
        highTails = _mm_min_pd(high, highTails);
        continue;
      }
      // Rows below the threshold (rare once the slots are taken) are offered
      // one by one; the others go to the tail.
      lowTails = _mm_min_pd(_mm_or_pd(_mm_andnot_pd(lowBelow, low), _mm_and_pd(lowBelow, infinity)),
                            lowTails);
      highTails = _mm_min_pd(
          _mm_or_pd(_mm_andnot_pd(highBelow, high), _mm_and_pd(highBelow, infinity)), highTails);
      double reduced[4];
      _mm_storeu_pd(reduced, low);
      _mm_storeu_pd(reduced + 2, high);
      while (below != 0) {
        int j = __builtin_ctz(below);
        below &= below - 1;
        summaryOffer(build, r + j, reduced[j]);
      }
      limit = _mm_set1_pd(build.threshold);
    }
    double tail = lesserLane(_mm_min_pd(lowTails, highTails));
    if (tail < build.tail) build.tail = tail;
  }
#endif
  for (; r < M; ++r) {
    V reduced = e.policy.read(costs, r, c) - rowPot[r];
    if (kSlack) {
      V w = reduced - colPot;
      if (w < slack[r]) slack[r] = w;
    }
    summaryOffer(build, r, reduced);
  }
  // Sort the slots by reduced cost (insertion sort: few slots), and note
  // their costs.
  V *listedCost = e.listedCost + static_cast<std::int64_t>(c) * e.slots;
  for (int k = 1; k < build.count; ++k) {
    int row = build.row[k];
    V reduced = build.reduced[k];
    int j = k;
    for (; j > 0 && build.reduced[j - 1] > reduced; --j) {
      build.row[j] = build.row[j - 1];
      build.reduced[j] = build.reduced[j - 1];
    }
    build.row[j] = row;
    build.reduced[j] = reduced;
  }
  for (int k = 0; k < build.count; ++k) listedCost[k] = e.policy.read(costs, build.row[k], c);
  e.listedCount[c] = build.count;
  e.tail[c] = build.tail;
  e.leastPhase[c] = kNone;
}

// Reads column c (readColumn) with the kernel for its costs.
template <bool kSlack, class P>
void readColumnOf(Potentials<P> &e, int c) {
  if (e.policy.anySubstitute()) {
    readColumn<true, kSlack>(e, c);
  } else {
    readColumn<false, kSlack>(e, c);
  }
}

// Reads every column into its summary (no slacks).
template <class P>
void summarizeColumns(Potentials<P> &e) {
  for (int c = 0; c < e.N; ++c) readColumnOf<false>(e, c);
}

// The least reduced cost of column c over its uncovered listed rows (+Inf
// if they are all covered); leastRow[c] becomes the first row that has it.
template <class P>
typename P::Value listedLeast(Potentials<P> &e, int c) {
  using V = typename P::Value;
  if (e.leastPhase[c] == e.phase) {
    int r = e.leastRow[c];
    if (r == kNone || e.rowKey[r] != -potentialInf<V>()) return e.leastCost[c];
  }
  std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
  const int *rows = e.listedRow + first;
  const V *costs = e.listedCost + first;
  const V *floors = e.listedReduced + first;
  int count = e.listedCount[c];
  V least = potentialInf<V>();
  int leastRow = kNone;
  // The slots are in ascending order of a lower bound of their reduced
  // costs: once that bound passes the least so far, no later slot can
  // reach or tie it.
  for (int k = 0; k < count && !(floors[k] > least); ++k) {
    int r = rows[k];
    V reduced = costs[k] - e.rowKey[r];
    if (reduced < least || (reduced == least && r < leastRow)) {
      least = reduced;
      leastRow = r;
    }
  }
  e.leastPhase[c] = e.phase;
  e.leastCost[c] = least;
  e.leastRow[c] = leastRow;
  return least;
}

// The first uncovered zero row of a listed column c, or kNone. Without
// confirmation its zeros are the listed rows at the least working cost, 0;
// with it (hybrid), every uncovered listed row within the zero limit is a
// candidate, and the first confirmed one is the zero.
template <class P>
int listedZero(Potentials<P> &e, int c) {
  using V = typename P::Value;
  V colPot = colPotNow(e, c);
  if (listedLeast(e, c) - colPot > e.policy.zeroLimit()) return kNone;
  if constexpr (!P::kConfirms) {
    return e.leastRow[c];
  } else {
    std::int64_t first = static_cast<std::int64_t>(c) * e.slots;
    int found = kNone;
    for (int k = 0; k < e.listedCount[c]; ++k) {
      int r = e.listedRow[first + k];
      if (e.rowKey[r] == -potentialInf<V>() || (found != kNone && r > found)) continue;
      V w = (e.listedCost[first + k] - e.rowKey[r]) - colPot;
      if (isZero(e, w, r, c)) found = r;
    }
    return found;
  }
}

// The first row r in [from, M) whose working cost in column c is a zero of
// the steps, or M; kSubstitute as in readColumn.
template <bool kSubstitute, class P>
int firstZero(Potentials<P> &e, int c, int from) {
  using V = typename P::Value;
  const int M = e.M;
  const double *column = e.C + at(0, c, M);
  V colPot = colPotNow(e, c);
  int r = from;
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const auto lanes = e.policy.lanes(c);
    const __m128d pot = _mm_set1_pd(colPot);
    const __m128d limit = _mm_set1_pd(e.policy.zeroLimit());
    for (; r + 4 <= M; r += 4) {
      __m128d low = _mm_cmple_pd(
          _mm_sub_pd(_mm_sub_pd(e.policy.template read2<kSubstitute>(lanes, column, r), pot),
                     _mm_loadu_pd(e.rowKey + r)),
          limit);
      __m128d high = _mm_cmple_pd(
          _mm_sub_pd(_mm_sub_pd(e.policy.template read2<kSubstitute>(lanes, column, r + 2), pot),
                     _mm_loadu_pd(e.rowKey + r + 2)),
          limit);
      int near = _mm_movemask_pd(low) | (_mm_movemask_pd(high) << 2);
      while (near != 0) {
        int j = __builtin_ctz(near);
        near &= near - 1;
        if (e.policy.confirmZero(r + j, c)) return r + j;
      }
    }
  }
#endif
  for (; r < M; ++r) {
    V w = (e.policy.read(column, r, c) - colPot) - e.rowKey[r];
    if (isZero(e, w, r, c)) return r;
  }
  return M;
}

// firstZero with the kernel for column c's costs.
template <class P>
int firstZeroOf(Potentials<P> &e, int c, int from) {
  return e.policy.anySubstitute() ? firstZero<true>(e, c, from) : firstZero<false>(e, c, from);
}

}  // namespace

#endif
