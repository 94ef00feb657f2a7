// columns.h: small kernels over one column of working costs, used by the
// dense engine's start and its phases: running row minima and the search
// for zeros; and the two lane reductions of the SSE2 loops elsewhere. They use SSE2 where the
// compiler offers it and make the same comparisons, with the same results, as the plain loops after
// them.
//
// min(x, m) below is "x if x < m, else m": NaN is never taken, exactly like
// the strict comparisons of the steps, so the order in which minima are
// formed does not matter.
#ifndef PAIRSOLVE_COLUMNS_H
#define PAIRSOLVE_COLUMNS_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
// The first of the rows r .. r + 3 whose lane is set in low (rows r and
// r + 1) or high (rows r + 2 and r + 3), one of which is.
inline int firstSetLane(__m128d low, __m128d high, int r) {
  int lowMask = _mm_movemask_pd(low);
  if (lowMask != 0) return (lowMask & 1) ? r : r + 1;
  return (_mm_movemask_pd(high) & 1) ? r + 2 : r + 3;
}
#endif

// m[r] = min(x[r], m[r]) for r < n.
void minInto(double *m, const double *x, int n) {
  int r = 0;
#if defined(__SSE2__)
  for (; r + 2 <= n; r += 2) {
    _mm_storeu_pd(m + r, _mm_min_pd(_mm_loadu_pd(x + r), _mm_loadu_pd(m + r)));
  }
#endif
  for (; r < n; ++r) {
    if (x[r] < m[r]) m[r] = x[r];
  }
}

// The first row r in [from, M) whose working cost w[r] is zero, or M.
int firstZero(const double *w, int from, int M) {
  int r = from;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  for (; r + 4 <= M; r += 4) {
    __m128d low = _mm_cmpeq_pd(_mm_loadu_pd(w + r), zero);
    __m128d high = _mm_cmpeq_pd(_mm_loadu_pd(w + r + 2), zero);
    if (_mm_movemask_pd(_mm_or_pd(low, high)) != 0) return firstSetLane(low, high, r);
  }
#endif
  for (; r < M; ++r) {
    if (w[r] == 0.0) return r;
  }
  return M;
}

// The first row r in [from, M) that is not covered and whose working cost
// w[r] is zero, or M.
int firstZeroRow(const double *w, const unsigned char *rowCovered, int from, int M) {
  int r = from;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  for (; r + 2 <= M; r += 2) {
    int equal = _mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(w + r), zero));
    if ((equal & 1) && !rowCovered[r]) return r;
    if ((equal & 2) && !rowCovered[r + 1]) return r + 1;
  }
#endif
  for (; r < M; ++r) {
    if (w[r] == 0.0 && !rowCovered[r]) return r;
  }
  return M;
}

#if defined(__SSE2__)
// The lesser and the larger of the two lanes of x.
inline double lesserLane(__m128d x) {
  double lanes[2];
  _mm_storeu_pd(lanes, x);
  return lanes[1] < lanes[0] ? lanes[1] : lanes[0];
}

inline double largerLane(__m128d x) {
  double lanes[2];
  _mm_storeu_pd(lanes, x);
  return lanes[1] > lanes[0] ? lanes[1] : lanes[0];
}
#endif

}  // namespace

#endif
