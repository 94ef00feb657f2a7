// exact_columns.h: the exact engine's state and what it knows of each
// column without reading it. This part owns the admission test (which
// inputs make every operation of the steps exact, exactBounds, with its
// proof), the potentials, and the column summaries: the rows of each
// column's least reduced costs and a bound for the others, built by reading
// a column once and consulted by step 3 and step 5 (exact.h) instead of
// the column.
//
// Working cost (r, c) = (cost(r, c) - colPot[c]) - rowPot[r], where cost is
// C with the substitute for non-finite costs. The reduction sets rowPot to
// the row minima (M <= N) or colPot to the column minima (M > N); step 5
// subtracts h from rowPot of covered rows and adds h to colPot of uncovered
// columns. exactBounds admits only inputs on which this is exact and equals
// the working cost the steps compute element by element.
//
// Column summaries. rowPot only decreases and colPot only increases, so the
// reduced cost cost(r, c) - rowPot[r] of an element only grows; and working
// costs are never negative, so every reduced cost of column c is at least
// colPot[c], with equality exactly at the column's zeros. Each column keeps
// the rows with the least reduced costs at the time it was last read (its
// listed rows, with their costs) and tail, the least reduced cost of its
// other rows at that time, a lower bound for them ever after. While
// tail > colPot[c], every zero of column c is a listed row (the column is
// listed): step 3 finds its first uncovered zero among those rows, and step
// 5 takes the column's least uncovered working cost from them whenever that
// is below tail - colPot[c], all without reading C. Otherwise the column is
// read: step 3 scans it from its resume point, and step 5 reads it into
// per-row slacks, renewing its summary on the way.
#ifndef PAIRSOLVE_EXACT_COLUMNS_H
#define PAIRSOLVE_EXACT_COLUMNS_H

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
#include "replay.h"
#include "summary.h"

namespace {

// The exact engine works in units of g, a power of two dividing every cost.
// Integers up to 2^53 units are exact doubles; costs up to 2^53 units and
// reduced costs up to 2^52 units keep every sum and difference of the steps
// within that range (see exactBounds). Costs above 2^1000 are left to the
// dense engine, so that no sum of two of them can overflow.
constexpr double kExactUnits = 9007199254740992.0;         // 2^53
constexpr double kExactReducedUnits = 4503599627370496.0;  // 2^52
constexpr double kExactMagnitudeLimit = 0x1p1000;

// Summary slots per column, and the most that may be asked for.
constexpr int kSummarySlots = 8;
constexpr int kMaxSummarySlots = 16;

template <class V>
struct ExactOf {
  using Value = V;
  const double *C;
  V substitute;        // stands for every non-finite cost
  bool anySubstitute;  // C holds non-finite costs
  int slots;           // summary slots per column
  V *rowPot;
  V *colPot;
  // Per row: rowPot for an uncovered row, -Inf for a covered one. Then
  // cost - rowKey[r] is the reduced cost of an uncovered row and +Inf for a
  // covered one, and (cost - colPot) == rowKey[r] holds exactly at the
  // uncovered zeros.
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
  V *slack;  // room for max(M, N): exactBounds uses it first
  // Step 5 adds h to colPot of every uncovered column; within a phase that
  // is kept as shift, the sum of h in this phase, and since[c], the shift
  // when column c was uncovered (uncoveredPhase[c] == phase), so that its
  // potential is colPot[c] + (shift - since[c]). Those are integers of the
  // grid, so the sums are exact and equal the step-by-step ones; the
  // potentials are brought up to date when the phase ends.
  V shift;
  int *uncoveredPhase;
  V *since;
  // Step 5 keeps the uncovered columns not read into slack in a heap
  // ordered by key: keyCost[c] - potential, where keyCost[c] is the least
  // reduced cost over the uncovered listed rows when that is below tail
  // (the key is then the column's least uncovered working cost), and tail
  // otherwise (keyNeedsRead[c]; the key is then a lower bound, and the
  // column is read when it comes to the top). A step 5 lowers every key by
  // h, which keeps the order. A key only grows as rows are covered, so a
  // key whose leastRow was covered since is a lower bound: it is renewed
  // when it comes to the top. The heap is built at the first step 5 of a
  // phase; columns uncovered later, and columns whose new zeros are handed
  // to step 3, wait in pending until the next step 5.
  ColumnHeap heap;
  bool heapBuilt;
  V *keyCost;
  unsigned char *keyNeedsRead;
  int *pending;
  int pendingCount;
  // zeroless[c]: unstarred column c (marks.h) holds no zero at all. The zeros of an unstarred
  // column never vanish (a step 5 lowers it only where a row is uncovered, and there it holds no
  // zero; covered rows first gain h), and it gains zeros only in a step 5 that finds its least cost
  // to be h; so such a column need not be searched when a phase starts.
  unsigned char *zeroless;
  // The unstarred columns known to hold no zero wait in a second heap
  // across phases, ordered by lowerBound[c] - potential: lowerBound[c] is
  // the least reduced cost of column c over every row at some time (its
  // listed rows and tail), which no reduced cost of it ever goes below.
  // Every unstarred column is uncovered at every step 5, so its potential
  // grows as all the others', which keeps the order. A step 5 moves the
  // columns whose bound does not exceed the least key into the heap of the
  // phase (keyed exactly); they come back when the next phase starts, if
  // they still hold no zero. The other unstarred columns (a zero bounds them
  // by 0) join the heap of each phase when it is built.
  ColumnHeap zerolessHeap;
  V *lowerBound;
  int *moved;  // the unstarred columns moved into the heap of this phase
  int movedCount;
  // What the certificate of the grid engine needs (grid.h): the sum of
  // every h and the number of step 5s.
  V total;
  std::int64_t steps;
  // The grid engine reads a cost x as x * scale (its units); 1 otherwise.
  double scale;
  // The hybrid engine (hybrid.h), null otherwise: the log from which the
  // steps' own working costs are replayed. It reads element (r, c) as its
  // reduced cost (cost - rowBase[r]) - colBase[c], rounded as the steps
  // round it, and its potentials start at zero. Its working costs differ
  // from the steps' by rounding: those at most zeroMargin may be zeros of
  // the steps (zeroMargin is 0 for the other engines).
  Replay *replay;
  const double *rowBase;
  const double *colBase;
  V zeroMargin;
  bool nanInPlace;  // hybrid engine: NaN costs are read as NaN, not the substitute
};

using Exact = ExactOf<double>;

// The value that stands for +Inf in the engine's arithmetic: +Inf for
// doubles; for the grid engine's integers (units of at most 2^56, see
// grid.h) 2^62, so that a real value plus or minus it stays beyond every
// real value without overflowing.
template <class V>
constexpr V exactInf() {
  if constexpr (std::numeric_limits<V>::has_infinity) {
    return std::numeric_limits<V>::infinity();
  } else {
    return V{1} << 62;
  }
}

// h is a real value, not one that stands for +Inf.
template <class V>
inline bool exactFinite(V h) {
  if constexpr (std::numeric_limits<V>::has_infinity) {
    return std::isfinite(h);
  } else {
    return h < exactInf<V>() / 2;
  }
}

// A cost as the exact engine reads it: non-finite costs are the substitute.
inline double exactCost(double x, double substitute) {
  return std::isfinite(x) ? x : substitute;
}

// A cost x of C as the engine reads it: the substitute when x is not
// finite (only the double engine meets those); the grid engine's integer
// units x * scale otherwise (scale a power of two: exact).
template <class V>
inline V exactValue(const ExactOf<V> &exact, double x) {
  if constexpr (std::numeric_limits<V>::has_infinity) {
    return exactCost(x, exact.substitute);
  } else {
    return static_cast<V>(x * exact.scale);
  }
}

// The potential of column c now.
template <class V>
inline V colPotNow(const ExactOf<V> &exact, int c) {
  return exact.uncoveredPhase[c] == exact.phase ? exact.colPot[c] + (exact.shift - exact.since[c])
                                                : exact.colPot[c];
}

template <class V>
inline V exactCost(const ExactOf<V> &exact, std::int64_t i) {
  return exactValue(exact, exact.C[i]);
}

// Element (r, c) as the engine reads it, column c's costs at column: the
// hybrid engine reads the reduced cost.
template <class V>
inline V exactRead(const ExactOf<V> &exact, const double *column, int r, int c) {
  if constexpr (std::is_same<V, double>::value) {
    if (exact.replay != nullptr) {
      double x = hybridCost(column[r], exact.substitute, exact.nanInPlace);
      return (x - exact.rowBase[r]) - exact.colBase[c];
    }
  }
  return exactValue(exact, column[r]);
}

#if defined(__SSE2__)
// Two costs as the exact engine reads them; kSubstitute: C holds
// non-finite costs, to be read as the substitute.
template <bool kSubstitute>
inline __m128d exactCosts(const double *p, __m128d substitute) {
  __m128d x = _mm_loadu_pd(p);
  if (!kSubstitute) return x;
  __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(x, x), _mm_setzero_pd());
  return _mm_or_pd(_mm_and_pd(finite, x), _mm_andnot_pd(finite, substitute));
}

// Two costs as the hybrid engine reads them (hybridCost); keepNaN is all
// ones when NaN stays in place, else zero.
template <bool kSubstitute>
inline __m128d hybridCosts(const double *p, __m128d substitute, __m128d keepNaN) {
  __m128d x = _mm_loadu_pd(p);
  if (!kSubstitute) return x;
  __m128d keep = _mm_or_pd(_mm_cmpeq_pd(_mm_sub_pd(x, x), _mm_setzero_pd()),
                           _mm_and_pd(_mm_cmpunord_pd(x, x), keepNaN));
  return _mm_or_pd(_mm_and_pd(keep, x), _mm_andnot_pd(keep, substitute));
}
#endif

// The first row r in [from, M) with (cost[r] - colPot) == rowKey[r], that
// is the first uncovered zero of the column with costs cost[0..M) and
// potential colPot, or M.
template <bool kSubstitute, class V>
int firstExactZero(const ExactOf<V> &exact, const double *cost, V colPot, const V *rowKey, int from,
                   int M) {
  int r = from;
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const double substitute = exact.substitute;
    const __m128d pot = _mm_set1_pd(colPot);
    const __m128d sub = _mm_set1_pd(substitute);
    for (; r + 4 <= M; r += 4) {
      __m128d low = _mm_cmpeq_pd(_mm_sub_pd(exactCosts<kSubstitute>(cost + r, sub), pot),
                                 _mm_loadu_pd(rowKey + r));
      __m128d high = _mm_cmpeq_pd(_mm_sub_pd(exactCosts<kSubstitute>(cost + r + 2, sub), pot),
                                  _mm_loadu_pd(rowKey + r + 2));
      if (_mm_movemask_pd(_mm_or_pd(low, high)) != 0) return firstSetLane(low, high, r);
    }
  }
#endif
  for (; r < M; ++r) {
    if (exactValue(exact, cost[r]) - colPot == rowKey[r]) return r;
  }
  return M;
}

// Decides whether the exact engine may solve C, and computes the
// reduction: the minimum of each row (M <= N) or column (M > N) into rowPot
// or colPot. It reads nothing of C: the line minima and maxima and the
// finest grid of the costs come from the check of C (summary.h).
//
// Let g be a power of two dividing every cost (the substitute included),
// Cmax the largest cost and Rmax the largest reduced cost (cost minus its
// line's minimum). Admitted: no NaN in the solve, Cmax <= 2^1000,
// Rmax <= 2^52 g and Cmax + Rmax <= 2^53 g. Why that suffices: in exact
// arithmetic the working costs never go below zero, and T, the sum of every
// h so far, never exceeds Rmax. (While step 5 runs fewer than K stars
// exist, so some row r0 and some column c0 have never held a star; a row is
// covered only while it holds a star and a column only while it is starred,
// so r0 never gained h and c0 lost every h: its working cost, reduced cost
// minus T, is still >= 0.) Hence every row potential moves by at most Rmax
// from the row minimum and every column potential by at most Rmax, every
// working cost and every x + h of step 5 lies in [0, 2 Rmax], and every
// potential and every cost minus a potential within Cmax + Rmax: all are
// integers of at most 2^53 units, so every operation of the steps and of
// this engine is exact, and both give the same numbers.
bool exactBounds(Exact &exact, int M, int N, const CostSummary &summary, bool nanForbidden) {
  if (summary.anyNaN && !nanForbidden) return false;
  bool wide = M <= N;
  double *lineMin = wide ? exact.rowPot : exact.colPot;
  double *lineMax = exact.slack;  // allocated with room for max(M, N)
  int lines = wide ? M : N;
  // The line minima and maxima from the check of C, the substitute taken in
  // where a line holds a non-finite cost.
  double S = exact.substitute;
  for (int i = 0; i < lines; ++i) {
    lineMin[i] = summary.lineLeast[i];
    lineMax[i] = summary.lineLargest[i];
    if (exact.anySubstitute && summary.lineNonFinite[i]) {
      if (S < lineMin[i]) lineMin[i] = S;
      if (S > lineMax[i]) lineMax[i] = S;
    }
  }
  // Every cost an integer: g = 1 will do. Otherwise the finest grid
  // g = 2^lowBit of all the costs, the substitute among them.
  bool integers = summary.integral && (!exact.anySubstitute || S >= kIntegerShifter ||
                                       (S + kIntegerShifter) - kIntegerShifter == S);
  int lowBit = 0;
  if (!integers) {
    lowBit = summary.finestBit;
    if (exact.anySubstitute && S != 0.0 && lowestBitExponent(S) < lowBit) {
      lowBit = lowestBitExponent(S);
    }
    if (lowBit == kNoCostBit) lowBit = 0;  // every cost is zero
  }
  double largest = 0.0;
  double reducedMax = 0.0;
  for (int i = 0; i < lines; ++i) {
    double reduced = lineMax[i] - lineMin[i];
    if (reduced > reducedMax) reducedMax = reduced;
    if (lineMax[i] > largest) largest = lineMax[i];
  }
  if (!(largest <= kExactMagnitudeLimit)) return false;
  double reducedUnits = std::ldexp(reducedMax, -lowBit);
  double largestUnits = std::ldexp(largest, -lowBit);
  return reducedUnits <= kExactReducedUnits && largestUnits <= kExactUnits - reducedUnits;
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
      if (build.slots % 2 == 0) {
        // The largest value two lanes at a time, then its first slot.
        __m128d most = _mm_loadu_pd(build.reduced);
        for (int k = 2; k < build.slots; k += 2) {
          most = _mm_max_pd(_mm_loadu_pd(build.reduced + k), most);
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
// the lesser of itself and working cost (r, c), for every row).
template <bool kSubstitute, bool kSlack, class V, bool kBase = false>
void exactReadColumn(ExactOf<V> &exact, int c, int M) {
  const double *costs = exact.C + at(0, c, M);
  const V *rowPot = exact.rowPot;
  V *slack = exact.slack;
  SummaryBuild<V> build;
  build.row = exact.listedRow + static_cast<std::int64_t>(c) * exact.slots;
  build.reduced = exact.listedReduced + static_cast<std::int64_t>(c) * exact.slots;
  build.slots = exact.slots;
  build.count = 0;
  build.largest = 0;
  build.threshold = exactInf<V>();
  build.tail = exactInf<V>();
  V colPot = kSlack ? colPotNow(exact, c) : V{0};  // slacks are read in the phases only
  int r = 0;
  if (M <= build.slots) {
    // Every row is listed, but those whose cost the hybrid engine reads as
    // NaN (never a zero, never the least, and unordered).
    for (; r < M; ++r) {
      V reduced = exactRead(exact, costs, r, c) - rowPot[r];
      if (kSlack && reduced - colPot < slack[r]) slack[r] = reduced - colPot;
      if (!(reduced == reduced)) continue;
      build.row[build.count] = r;
      build.reduced[build.count] = reduced;
      ++build.count;
    }
  }
#if defined(__SSE2__)
  if constexpr (std::is_same<V, double>::value) {
    const __m128d sub = _mm_set1_pd(exact.substitute);
    const __m128d pot = _mm_set1_pd(colPot);
    const __m128d columnBase = _mm_set1_pd(kBase ? exact.colBase[c] : 0.0);
    const __m128d keepNaN = _mm_castsi128_pd(_mm_set1_epi64x(exact.nanInPlace ? -1 : 0));
    const __m128d infinity = _mm_set1_pd(kInf);
    __m128d limit = _mm_set1_pd(build.threshold);
    __m128d lowTails = infinity;
    __m128d highTails = lowTails;
    for (; r + 4 <= M; r += 4) {
      __m128d lowCosts = kBase ? hybridCosts<kSubstitute>(costs + r, sub, keepNaN)
                               : exactCosts<kSubstitute>(costs + r, sub);
      __m128d highCosts = kBase ? hybridCosts<kSubstitute>(costs + r + 2, sub, keepNaN)
                                : exactCosts<kSubstitute>(costs + r + 2, sub);
      if (kBase) {
        lowCosts = _mm_sub_pd(_mm_sub_pd(lowCosts, _mm_loadu_pd(exact.rowBase + r)), columnBase);
        highCosts =
            _mm_sub_pd(_mm_sub_pd(highCosts, _mm_loadu_pd(exact.rowBase + r + 2)), columnBase);
      }
      __m128d low = _mm_sub_pd(lowCosts, _mm_loadu_pd(rowPot + r));
      __m128d high = _mm_sub_pd(highCosts, _mm_loadu_pd(rowPot + r + 2));
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
    V x = exactRead(exact, costs, r, c);
    V reduced = x - rowPot[r];
    if (kSlack) {
      V w = reduced - colPot;
      if (w < slack[r]) slack[r] = w;
    }
    summaryOffer(build, r, reduced);
  }
  // Sort the slots by reduced cost (insertion sort: few slots), and note
  // their costs.
  V *listedCost = exact.listedCost + static_cast<std::int64_t>(c) * exact.slots;
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
  for (int k = 0; k < build.count; ++k) {
    listedCost[k] = exactRead(exact, costs, build.row[k], c);
  }
  exact.listedCount[c] = build.count;
  exact.tail[c] = build.tail;
  exact.leastPhase[c] = kNone;
}

// Column c is listed: all its zeros are listed rows.
template <class V>
inline bool exactListed(const ExactOf<V> &exact, int c) {
  return exact.tail[c] > colPotNow(exact, c);
}

// The least reduced cost of column c over its uncovered listed rows (+Inf
// if they are all covered); leastRow[c] becomes the first row that has it.
template <class V>
V exactListedLeast(ExactOf<V> &exact, int c) {
  if (exact.leastPhase[c] == exact.phase) {
    int r = exact.leastRow[c];
    if (r == kNone || exact.rowKey[r] != -exactInf<V>()) return exact.leastCost[c];
  }
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  const int *rows = exact.listedRow + first;
  const V *costs = exact.listedCost + first;
  const V *floors = exact.listedReduced + first;
  int count = exact.listedCount[c];
  V least = exactInf<V>();
  int leastRow = kNone;
  // The slots are in ascending order of a lower bound of their reduced
  // costs: once that bound passes the least so far, no later slot can
  // reach or tie it.
  for (int k = 0; k < count && !(floors[k] > least); ++k) {
    int r = rows[k];
    V reduced = costs[k] - exact.rowKey[r];
    if (reduced < least || (reduced == least && r < leastRow)) {
      least = reduced;
      leastRow = r;
    }
  }
  exact.leastPhase[c] = exact.phase;
  exact.leastCost[c] = least;
  exact.leastRow[c] = leastRow;
  return least;
}

// The first uncovered zero row of a listed column c, or kNone: its zeros
// are the listed rows whose reduced cost is colPot[c], the least possible.
template <class V>
inline int exactListedZero(ExactOf<V> &exact, int c) {
  return exactListedLeast(exact, c) == colPotNow(exact, c) ? exact.leastRow[c] : kNone;
}

// Reads column c (exactReadColumn) with the kernel for its costs.
template <bool kSlack, class V>
void exactReadColumnOf(ExactOf<V> &exact, int c, int M) {
  if constexpr (std::is_same<V, double>::value) {
    if (exact.replay != nullptr) {
      if (exact.anySubstitute) {
        exactReadColumn<true, kSlack, V, true>(exact, c, M);
      } else {
        exactReadColumn<false, kSlack, V, true>(exact, c, M);
      }
      return;
    }
  }
  if (exact.anySubstitute) {
    exactReadColumn<true, kSlack>(exact, c, M);
  } else {
    exactReadColumn<false, kSlack>(exact, c, M);
  }
}

// Reads every column into its summary (no slacks).
template <class V>
void exactSummarize(ExactOf<V> &exact, int M, int N) {
  for (int c = 0; c < N; ++c) exactReadColumnOf<false>(exact, c, M);
}

}  // namespace

#endif
