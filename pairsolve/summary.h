// summary.h: the one pass over the caller's costs before anything is
// solved. It refuses a finite negative cost (the first in column-major
// order ends the pass) and gathers everything the engines decide their
// admission on, so that none of them reads C again for it:
// - the largest finite cost (for the substitute of infinite ones; the
//   largest of the line maxima), and whether any cost is not finite or NaN;
// - per line the least and largest finite cost and whether the line holds
//   a cost that is not finite (the exact engine's reduction and bounds, the
//   grid engine's line minima and largest reduced costs);
// - whether every finite cost is an integer (the exact engine then works
//   in units of 1), and the finest power-of-two grid of the finite costs,
//   2^finestBit (the exact engine's units otherwise; the grid engine admits
//   the costs when that grid is no finer than the one their largest
//   allows). On matrices of at most kDeferredGridElements elements whose
//   costs are not all integers the pass leaves the grid out (gridPending):
//   most of those solves never need it, and a later pass over C in cache
//   costs little when one does. gridStepsAtMost answers the plan's
//   question (at most so many steps of the grid?) then, mostly from the
//   first costs; completeGrid finds the grid for the engines that work on
//   it.
// The pass reads C four doubles at a time with SSE2 where it can; see
// checkColumn for how it finds the grid without a scalar bit scan.
#ifndef PAIRSOLVE_SUMMARY_H
#define PAIRSOLVE_SUMMARY_H

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basics.h"
#include "columns.h"
#include "failure.h"

namespace {

// (x + 2^52) - 2^52 == x holds for the integers below 2^52.
constexpr double kIntegerShifter = 4503599627370496.0;  // 2^52

// The bits of a double: 52 stored mantissa bits, then 11 exponent bits;
// exponent field e stands for 2^(e - 1075) times the integer mantissa.
constexpr int kMantissaBits = 52;
constexpr std::uint64_t kMantissaMask = (std::uint64_t{1} << kMantissaBits) - 1;
constexpr std::uint64_t kExponentMask = 0x7ff;
constexpr int kIntegerMantissaBias = 1075;

// finestBit when no finite cost is non-zero: every grid holds the costs.
constexpr int kNoCostBit = INT_MAX;
// Up to this many elements the check leaves the grid of costs that are not
// all integers to a later pass. Measured (host-free, 20-by-20 uniform
// costs): the grid is 37% of the check's time, and the check a fifth of a
// solve by the unique engine.
constexpr std::int64_t kDeferredGridElements = 4096;
// The sign and exponent bits of x + 2^52 for x in [0, 2^52).
constexpr std::uint64_t kShiftedExponent = 0x433;

// The least positive normal double.
constexpr double kLeastNormal = 0x1p-1022;
constexpr int kExponentBias = 1023;

// The exponent e of a positive normal double x: 2^e <= x < 2^(e + 1).
inline int normalExponent(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return static_cast<int>((bits >> kMantissaBits) & kExponentMask) - kExponentBias;
}

// 2^e, for e from -1022 to 1023.
inline double powerOfTwo(int e) {
  std::uint64_t bits = static_cast<std::uint64_t>(e + kExponentBias) << kMantissaBits;
  double power;
  std::memcpy(&power, &bits, sizeof power);
  return power;
}

// The exponent of the lowest set bit of a finite non-zero double: x is an
// integer multiple of 2^(that exponent), and of no finer power of two.
inline int lowestBitExponent(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  int exponent = static_cast<int>((bits >> kMantissaBits) & kExponentMask);
  std::uint64_t mantissa = bits & kMantissaMask;
  if (exponent != 0) {
    mantissa |= std::uint64_t{1} << kMantissaBits;
  } else {
    exponent = 1;  // subnormal
  }
  return exponent - kIntegerMantissaBias + __builtin_ctzll(mantissa);
}

// What one pass over C tells the driver and the engines. Lines are the
// rows when M <= N, the columns otherwise (those the reduction runs along).
struct CostSummary {
  double largestFinite;  // -1.0 when no element is finite
  bool anyNonFinite;
  bool anyNaN;
  bool negative;  // a finite cost is below zero
  // Every finite cost is an integer (odd integers above 2^52 may be
  // reported as not integers).
  bool integral;
  // The least lowestBitExponent over the finite non-zero costs: every
  // finite cost is an integer multiple of 2^finestBit. kNoCostBit when none
  // is non-zero. Not yet found while gridPending (completeGrid finds it).
  int finestBit;
  bool gridPending;
  // Per line: the least and largest finite cost (+Inf and -Inf when none
  // is finite), and whether the line holds a cost that is not finite.
  double *lineLeast;
  double *lineLargest;
  unsigned char *lineNonFinite;
};

// One element of C in checkCosts, at line line (largestFinite is taken
// from the line maxima at the end).
inline void checkCost(CostSummary &summary, double x, int line) {
  if (!std::isfinite(x)) {
    summary.anyNonFinite = true;
    summary.anyNaN = summary.anyNaN || std::isnan(x);
    summary.lineNonFinite[line] = 1;
    return;
  }
  summary.negative = summary.negative || x < 0.0;
  if (x < summary.lineLeast[line]) summary.lineLeast[line] = x;
  if (x > summary.lineLargest[line]) summary.lineLargest[line] = x;
  if (x != 0.0) {
    int bit = lowestBitExponent(x);
    if (bit < summary.finestBit) summary.finestBit = bit;
  }
  if (summary.integral) summary.integral = (x + kIntegerShifter) - kIntegerShifter == x;
}

#if defined(__SSE2__)
// The least lowest set bit of finite non-negative doubles, gathered two at
// a time without a bit scan. For x with a non-zero mantissa, clearing the
// mantissa's lowest set bit (found as m & -m on the bits) gives x' < x with
// x - x' = 2^lowestBitExponent(x), exact; for a power of two x the
// difference is 0 and x itself is that power. So the least such power is
// the least of the non-zero differences and the non-zero costs (a cost is
// never below its own lowest bit). Zeros are left out without a branch:
// the bits of a non-negative double minus one are the next lower double,
// except at zero, where they become a NaN, which minpd passes over (it
// returns its second operand when either is NaN).
struct LowestBits {
  __m128i mantissa = _mm_set1_epi64x(static_cast<long long>(kMantissaMask));
  __m128i one = _mm_set1_epi64x(1);
  __m128d least = _mm_set1_pd(kInf);  // one below the bits of the least power

  void add(__m128d x) {
    __m128i bits = _mm_castpd_si128(x);
    __m128i m = _mm_and_si128(bits, mantissa);
    __m128i lowest = _mm_and_si128(m, _mm_sub_epi64(_mm_setzero_si128(), m));
    __m128d difference = _mm_sub_pd(x, _mm_castsi128_pd(_mm_xor_si128(bits, lowest)));
    __m128d below = _mm_min_pd(_mm_castsi128_pd(_mm_sub_epi64(_mm_castpd_si128(difference), one)),
                               _mm_castsi128_pd(_mm_sub_epi64(bits, one)));
    least = _mm_min_pd(below, least);
  }

  // Takes the result into finestBit.
  void finish(int &finestBit) const {
    double below = lesserLane(least);
    if (below == kInf) return;
    std::uint64_t bits;
    std::memcpy(&bits, &below, sizeof bits);
    ++bits;
    double power;
    std::memcpy(&power, &bits, sizeof power);
    int bit = lowestBitExponent(power);
    if (bit < finestBit) finestBit = bit;
  }
};

// x where finite is set (all ones), fill elsewhere.
inline __m128d finiteOr(__m128d finite, __m128d x, __m128d fill) {
  return _mm_or_pd(_mm_and_pd(finite, x), _mm_andnot_pd(finite, fill));
}

// checkCosts on rows [0, end) of column c, four at a time (end a multiple
// of four); kWide: lines are rows. kGrid: the grid is gathered (else left
// to completeGrid). kIntegral: the costs are integers so far, so each is
// tested. kSmall (with kIntegral): and below 2^52 so far,
// so the integer test's x + 2^52 holds x in its mantissa bits, and or-ing
// those gives the least lowest set bit at one or per pair of costs. That
// holds only if every cost of the column is an integer in [0, 2^52), that
// is every x + 2^52 is exact and has the exponent of 2^52 (then so has
// their or); the function returns whether it held (false: run the column
// again without kSmall). Blocks holding a NaN go one cost at a time;
// infinite costs are masked out of the block's statistics.
template <bool kWide, bool kGrid, bool kIntegral, bool kSmall>
bool checkColumn(CostSummary &summary, const double *costs, int c, int end) {
  static_assert(kIntegral || !kSmall, "kSmall tests integers");
  const __m128d zero = _mm_setzero_pd();
  const __m128d shifter = _mm_set1_pd(kIntegerShifter);
  __m128d integral = _mm_cmpeq_pd(zero, zero);
  __m128d shiftedBits = shifter;      // the exponent of 2^52, no mantissa bits
  __m128d least = _mm_set1_pd(kInf);  // of the column: tells negative costs
  __m128d most = _mm_set1_pd(-kInf);
  LowestBits lowestBits;
  // One block of four costs: lo/hi for the least, up for the largest, and
  // grid for the integer test and the grid (each the costs themselves,
  // when every one is finite).
  auto block = [&](int r, __m128d loLow, __m128d loHigh, __m128d upLow, __m128d upHigh,
                   __m128d gridLow, __m128d gridHigh) {
    least = _mm_min_pd(_mm_min_pd(loLow, loHigh), least);
    if (kWide) {
      double *lowest = summary.lineLeast + r;
      double *highest = summary.lineLargest + r;
      _mm_storeu_pd(lowest, _mm_min_pd(loLow, _mm_loadu_pd(lowest)));
      _mm_storeu_pd(lowest + 2, _mm_min_pd(loHigh, _mm_loadu_pd(lowest + 2)));
      _mm_storeu_pd(highest, _mm_max_pd(upLow, _mm_loadu_pd(highest)));
      _mm_storeu_pd(highest + 2, _mm_max_pd(upHigh, _mm_loadu_pd(highest + 2)));
    } else {
      most = _mm_max_pd(_mm_max_pd(upLow, upHigh), most);
    }
    if (kIntegral) {
      __m128d shiftedLow = _mm_add_pd(gridLow, shifter);
      __m128d shiftedHigh = _mm_add_pd(gridHigh, shifter);
      integral = _mm_and_pd(
          integral, _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(shiftedLow, shifter), gridLow),
                               _mm_cmpeq_pd(_mm_sub_pd(shiftedHigh, shifter), gridHigh)));
      if (kSmall) shiftedBits = _mm_or_pd(shiftedBits, _mm_or_pd(shiftedLow, shiftedHigh));
    }
    if (kGrid && !kSmall) {
      lowestBits.add(gridLow);
      lowestBits.add(gridHigh);
    }
  };
  const __m128d infinity = _mm_set1_pd(kInf);
  const __m128d minusInfinity = _mm_set1_pd(-kInf);
  for (int r = 0; r < end; r += 4) {
    __m128d low = _mm_loadu_pd(costs + r);
    __m128d high = _mm_loadu_pd(costs + r + 2);
    __m128d finiteLow = _mm_cmpeq_pd(_mm_sub_pd(low, low), zero);
    __m128d finiteHigh = _mm_cmpeq_pd(_mm_sub_pd(high, high), zero);
    int finite = _mm_movemask_pd(finiteLow) | _mm_movemask_pd(finiteHigh) << 2;
    if (finite == 0xf) {
      block(r, low, high, low, high, low, high);
      continue;
    }
    if (_mm_movemask_pd(_mm_cmpunord_pd(low, high)) != 0) {
      // A NaN (in low or high: unordered lanes): one cost at a time.
      summary.integral = summary.integral && _mm_movemask_pd(integral) == 3;
      for (int j = r; j < r + 4; ++j) checkCost(summary, costs[j], kWide ? j : c);
      if (!summary.integral) integral = zero;
      continue;
    }
    // Infinite costs: they count as +Inf for the least, -Inf for the
    // largest and 0 for the grid (an integer, outside every grid), that is
    // not at all; their lines are marked.
    summary.anyNonFinite = true;
    for (int j = 0; j < 4; ++j) {
      if (!(finite >> j & 1)) summary.lineNonFinite[kWide ? r + j : c] = 1;
    }
    block(r, finiteOr(finiteLow, low, infinity), finiteOr(finiteHigh, high, infinity),
          finiteOr(finiteLow, low, minusInfinity), finiteOr(finiteHigh, high, minusInfinity),
          finiteOr(finiteLow, low, zero), finiteOr(finiteHigh, high, zero));
  }
  double leastLane = lesserLane(least);
  summary.negative = summary.negative || leastLane < 0.0;
  if (kIntegral) summary.integral = summary.integral && _mm_movemask_pd(integral) == 3;
  if (!kWide) {
    if (leastLane < summary.lineLeast[c]) summary.lineLeast[c] = leastLane;
    double mostLane = largerLane(most);
    if (mostLane > summary.lineLargest[c]) summary.lineLargest[c] = mostLane;
  }
  if (!kSmall) {
    if (kGrid) lowestBits.finish(summary.finestBit);
    return true;
  }
  std::uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), _mm_castpd_si128(shiftedBits));
  std::uint64_t shifted = lanes[0] | lanes[1];
  if (!summary.integral || (shifted >> kMantissaBits) != kShiftedExponent) return false;
  std::uint64_t ones = shifted & kMantissaMask;
  if (ones != 0 && __builtin_ctzll(ones) < summary.finestBit) {
    summary.finestBit = __builtin_ctzll(ones);
  }
  return true;
}

// checkColumn on rows [0, end) of column c, in the cheapest form that the
// costs so far allow; small: every cost read four at a time so far is an
// integer below 2^52 (cleared here when one is not); deferGrid: the grid of
// costs that are not all integers is left to completeGrid.
template <bool kWide>
void checkColumnOf(CostSummary &summary, bool &small, bool deferGrid, const double *costs, int c,
                   int end) {
  if (!summary.integral) {
    if (deferGrid) {
      checkColumn<kWide, false, false, false>(summary, costs, c, end);
    } else {
      checkColumn<kWide, true, false, false>(summary, costs, c, end);
    }
  } else if (!small) {
    checkColumn<kWide, true, true, false>(summary, costs, c, end);
  } else if (!checkColumn<kWide, true, true, true>(summary, costs, c, end)) {
    // Every statistic is a least, a largest or a flag: a second reading of
    // the column leaves them as they are and adds the grid.
    small = false;
    checkColumnOf<kWide>(summary, small, deferGrid, costs, c, end);
  }
}
#endif

// Summarizes C in one pass (see CostSummary), with line arrays taken from
// scratch. Fails at the first column holding a finite negative cost, with
// a plain message (no identifier). (x + 2^52) - 2^52 == x tells integers
// below 2^52, and odd ones above, which may be reported as not integers:
// that only means the exact engine works on their grid instead of units
// of 1.
bool checkCosts(const double *C, int M, int N, Scratch &scratch, CostSummary *summary,
                Failure *failure) {
  bool wide = M <= N;
  int lines = wide ? M : N;
  *summary = CostSummary{-1.0,
                         false,
                         false,
                         false,
                         true,
                         kNoCostBit,
                         false,
                         scratch.take<double>(lines),
                         scratch.take<double>(lines),
                         scratch.take<unsigned char>(lines)};
  for (int i = 0; i < lines; ++i) {
    summary->lineLeast[i] = kInf;
    summary->lineLargest[i] = -kInf;
    summary->lineNonFinite[i] = 0;
  }
  bool small = true;
  const bool deferGrid = static_cast<std::int64_t>(M) * N <= kDeferredGridElements;
  for (int c = 0; c < N && !summary->negative; ++c) {
    const double *costs = C + at(0, c, M);
    int r = 0;
#if defined(__SSE2__)
    r = M - M % 4;
    if (wide) {
      checkColumnOf<true>(*summary, small, deferGrid, costs, c, r);
    } else {
      checkColumnOf<false>(*summary, small, deferGrid, costs, c, r);
    }
#endif
    for (; r < M; ++r) checkCost(*summary, costs[r], wide ? r : c);
  }
  for (int i = 0; i < lines; ++i) {
    if (summary->lineLargest[i] > summary->largestFinite) {
      summary->largestFinite = summary->lineLargest[i];
    }
  }
  if (summary->negative) {
    return fail(failure, "", "All matrix elements have to be non-negative.");
  }
  summary->gridPending = deferGrid && !summary->integral;
  return true;
}

// Finds the grid the check left out (gridPending): the least lowest set bit
// over the finite non-zero costs of C, read as one array.
void completeGrid(CostSummary &summary, const double *C, int M, int N) {
  if (!summary.gridPending) return;
  const std::int64_t E = static_cast<std::int64_t>(M) * N;
  int finest = kNoCostBit;
  std::int64_t e = 0;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  LowestBits lowestBits;
  for (; e + 2 <= E; e += 2) {
    __m128d x = _mm_loadu_pd(C + e);
    // Costs that are not finite count as 0: outside every grid.
    lowestBits.add(finiteOr(_mm_cmpeq_pd(_mm_sub_pd(x, x), zero), x, zero));
  }
  lowestBits.finish(finest);
#endif
  for (; e < E; ++e) {
    if (!std::isfinite(C[e]) || C[e] == 0.0) continue;
    const int bit = lowestBitExponent(C[e]);
    if (bit < finest) finest = bit;
  }
  summary.finestBit = finest;
  summary.gridPending = false;
}

// The number of steps of the costs' grid up to their largest finite one (0
// when no finite cost is above zero); the grid must be known.
inline double gridSteps(const CostSummary &summary) {
  if (summary.finestBit == kNoCostBit) return 0.0;
  return summary.largestFinite / std::ldexp(1.0, summary.finestBit);
}

// Whether gridSteps(summary) <= steps. While the grid is pending, and for
// steps from 1 to below 2^52, that is whether every finite cost of C is a
// multiple of 2^b, b the least exponent with largest / 2^b <= steps: if
// every cost is, the finest grid is 2^b or coarser and holds at most steps
// steps; if one is not, the finest grid is 2^(b - 1) or finer, and holds
// more. A non-zero multiple of 2^b is at least 2^b, so x / 2^b is taken
// only from there (no underflow) and tested as an integer below 2^52. The
// test mostly ends at the first costs; otherwise (or with 2^-b beyond the
// doubles) the grid is found.
bool gridStepsAtMost(CostSummary &summary, const double *C, int M, int N, double steps) {
  constexpr int kLeastExponent = -1022;  // 2^b and 2^-b normal doubles
  constexpr int kMostExponent = 1022;
  const double largest = summary.largestFinite;
  if (summary.gridPending && largest >= kLeastNormal && steps >= 1.0 && steps < kIntegerShifter) {
    // largest / 2^b is more than steps at b = exponent(largest) -
    // exponent(steps) - 1, and at most steps two exponents on: the loop
    // ends on the least b.
    int b = normalExponent(largest) - normalExponent(steps) - 1;
    if (b >= kLeastExponent && b + 2 <= kMostExponent) {
      double scale = powerOfTwo(-b);
      while (largest * scale > steps) {
        ++b;
        scale *= 0.5;
      }
      const double power = powerOfTwo(b);
      const std::int64_t E = static_cast<std::int64_t>(M) * N;
      for (std::int64_t e = 0; e < E; ++e) {
        const double x = C[e];
        if (x == 0.0 || !std::isfinite(x)) continue;
        const double units = x * scale;
        if (!(x >= power) || (units + kIntegerShifter) - kIntegerShifter != units) return false;
      }
      return true;
    }
  }
  completeGrid(summary, C, M, N);
  return gridSteps(summary) <= steps;
}

}  // namespace

#endif
