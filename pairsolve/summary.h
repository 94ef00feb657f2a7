// summary.h: the one pass over the caller's costs before anything is
// solved. It refuses a finite negative cost (the first in column-major
// order ends the pass) and tells the driver and the engines what they need:
// the largest finite cost (for the substitute of infinite ones), whether
// any cost is not finite or NaN, and, while every finite cost is an
// integer, the least and largest cost of each line, from which the exact
// engine decides whether it can take the costs without reading them again.
#ifndef PAIRSOLVE_SUMMARY_H
#define PAIRSOLVE_SUMMARY_H

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "columns.h"
#include "failure.h"

namespace {

// (x + 2^52) - 2^52 == x holds for the integers below 2^52.
constexpr double kIntegerShifter = 4503599627370496.0;  // 2^52

// What one pass over C tells the driver and the engines. Lines are the
// rows when M <= N, the columns otherwise (those the reduction runs along).
struct CostSummary {
  double largestFinite;  // -1.0 when no element is finite
  bool anyNonFinite;
  bool anyNaN;
  bool negative;  // a finite cost is below zero
  // Every finite cost is an integer; and, followed only while that holds,
  // per line the least and largest finite cost and whether it holds a cost
  // that is not finite.
  bool integral;
  double *lineLeast;
  double *lineLargest;
  unsigned char *lineNonFinite;
};

// One element of C in checkCosts, at line line.
inline void checkCost(CostSummary &summary, double x, int line) {
  if (!std::isfinite(x)) {
    summary.anyNonFinite = true;
    summary.anyNaN = summary.anyNaN || std::isnan(x);
    summary.lineNonFinite[line] = 1;
    return;
  }
  summary.negative = summary.negative || x < 0.0;
  if (x > summary.largestFinite) summary.largestFinite = x;
  if (!summary.integral) return;
  summary.integral = (x + kIntegerShifter) - kIntegerShifter == x;
  if (x < summary.lineLeast[line]) summary.lineLeast[line] = x;
  if (x > summary.lineLargest[line]) summary.lineLargest[line] = x;
}

#if defined(__SSE2__)
// checkCosts on rows [0, end) of column c, four at a time (end a multiple
// of four); kWide: lines are rows; kLines: the costs are integers so far,
// and the line statistics are gathered. Blocks holding a cost that is not
// finite go one cost at a time.
template <bool kWide, bool kLines>
void checkColumn(CostSummary &summary, const double *costs, int c, int end) {
  const __m128d zero = _mm_setzero_pd();
  const __m128d shifter = _mm_set1_pd(kIntegerShifter);
  __m128d negative = zero;
  __m128d largest = _mm_set1_pd(summary.largestFinite);
  __m128d integral = _mm_cmpeq_pd(zero, zero);
  __m128d least = _mm_set1_pd(kInf);
  __m128d most = _mm_set1_pd(-kInf);
  for (int r = 0; r < end; r += 4) {
    __m128d low = _mm_loadu_pd(costs + r);
    __m128d high = _mm_loadu_pd(costs + r + 2);
    __m128d finite = _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(low, low), zero),
                                _mm_cmpeq_pd(_mm_sub_pd(high, high), zero));
    if (_mm_movemask_pd(finite) != 3) {
      summary.largestFinite = largerLane(largest);
      summary.integral = summary.integral && _mm_movemask_pd(integral) == 3;
      for (int j = r; j < r + 4; ++j) checkCost(summary, costs[j], kWide ? j : c);
      largest = _mm_set1_pd(summary.largestFinite);
      if (!summary.integral) integral = zero;
      continue;
    }
    negative = _mm_or_pd(negative, _mm_or_pd(_mm_cmplt_pd(low, zero), _mm_cmplt_pd(high, zero)));
    largest = _mm_max_pd(_mm_max_pd(low, high), largest);
    if (!kLines) continue;
    integral = _mm_and_pd(
        integral, _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(_mm_add_pd(low, shifter), shifter), low),
                             _mm_cmpeq_pd(_mm_sub_pd(_mm_add_pd(high, shifter), shifter), high)));
    if (kWide) {
      double *lowest = summary.lineLeast + r;
      double *highest = summary.lineLargest + r;
      _mm_storeu_pd(lowest, _mm_min_pd(low, _mm_loadu_pd(lowest)));
      _mm_storeu_pd(lowest + 2, _mm_min_pd(high, _mm_loadu_pd(lowest + 2)));
      _mm_storeu_pd(highest, _mm_max_pd(low, _mm_loadu_pd(highest)));
      _mm_storeu_pd(highest + 2, _mm_max_pd(high, _mm_loadu_pd(highest + 2)));
    } else {
      least = _mm_min_pd(_mm_min_pd(low, high), least);
      most = _mm_max_pd(_mm_max_pd(low, high), most);
    }
  }
  summary.largestFinite = largerLane(largest);
  summary.negative = summary.negative || _mm_movemask_pd(negative) != 0;
  summary.integral = summary.integral && _mm_movemask_pd(integral) == 3;
  if (!kWide && kLines && summary.integral) {
    double leastLane = lesserLane(least);
    if (leastLane < summary.lineLeast[c]) summary.lineLeast[c] = leastLane;
    double mostLane = largerLane(most);
    if (mostLane > summary.lineLargest[c]) summary.lineLargest[c] = mostLane;
  }
}
#endif

// Summarizes C in one pass (see CostSummary), with line arrays taken from
// scratch. Fails at the first column holding a finite negative cost, with
// a plain message (no identifier). (x + 2^52) - 2^52 == x tells integers
// below 2^52, and odd ones above, which may be reported as not integers:
// that only means the exact engine checks them again.
bool checkCosts(const double *C, int M, int N, Scratch &scratch, CostSummary *summary,
                Failure *failure) {
  bool wide = M <= N;
  int lines = wide ? M : N;
  *summary = CostSummary{-1.0,
                         false,
                         false,
                         false,
                         true,
                         scratch.take<double>(lines),
                         scratch.take<double>(lines),
                         scratch.take<unsigned char>(lines)};
  for (int i = 0; i < lines; ++i) {
    summary->lineLeast[i] = kInf;
    summary->lineLargest[i] = -kInf;
    summary->lineNonFinite[i] = 0;
  }
  for (int c = 0; c < N && !summary->negative; ++c) {
    const double *costs = C + at(0, c, M);
    int r = 0;
#if defined(__SSE2__)
    r = M - M % 4;
    if (wide) {
      if (summary->integral) {
        checkColumn<true, true>(*summary, costs, c, r);
      } else {
        checkColumn<true, false>(*summary, costs, c, r);
      }
    } else if (summary->integral) {
      checkColumn<false, true>(*summary, costs, c, r);
    } else {
      checkColumn<false, false>(*summary, costs, c, r);
    }
#endif
    for (; r < M; ++r) checkCost(*summary, costs[r], wide ? r : c);
  }
  if (summary->negative) {
    return fail(failure, "", "All matrix elements have to be non-negative.");
  }
  return true;
}

}  // namespace

#endif
