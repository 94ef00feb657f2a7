// deferred.h: the dense engine's deferred arithmetic. Within a phase, the
// operations step 5 makes on one working cost are fixed by the step 5 from
// which its row is covered and the one from which its column is uncovered;
// this part performs such runs of operations on a value, on a stretch of a
// column, on chosen rows of a column, and the plain subtractions of an
// uncovered row, in the order and with the rounding of the steps. SSE2 is
// used where the compiler offers it: the same operations, two values at a
// time, several pairs in flight.
#ifndef PAIRSOLVE_DEFERRED_H
#define PAIRSOLVE_DEFERRED_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The operations that step 5s [0, T) of a phase make on one working cost,
// as three runs: x - h[t] for t in [subtractFrom, addFrom) (row and column
// uncovered), h[t] + x for t in [addFrom, bothFrom) (both covered), and
// (h[t] + x) - h[t] for t in [bothFrom, end) (row covered, column
// uncovered). The row is covered from step 5 covered on (the end when it
// is not), the column uncovered from step 5 uncovered on.
struct Operations {
  int subtractFrom, addFrom, bothFrom, end;
};

inline Operations operationsFor(int covered, int uncovered, int end) {
  int later = covered > uncovered ? covered : uncovered;
  Operations ops;
  ops.subtractFrom = uncovered < covered ? uncovered : covered;
  ops.addFrom = covered;
  ops.bothFrom = later < end ? later : end;
  ops.end = end;
  if (uncovered >= covered) ops.subtractFrom = covered;  // no subtraction run
  return ops;
}

inline double applyOperations(double x, const double *h, const Operations &ops) {
  for (int t = ops.subtractFrom; t < ops.addFrom; ++t) x = x - h[t];
  for (int t = ops.addFrom; t < ops.bothFrom; ++t) x = h[t] + x;
  for (int t = ops.bothFrom; t < ops.end; ++t) x = (h[t] + x) - h[t];
  return x;
}

#if defined(__SSE2__)
inline __m128d applyOperations(__m128d x, const double *h, const Operations &ops) {
  for (int t = ops.subtractFrom; t < ops.addFrom; ++t) x = _mm_sub_pd(x, _mm_set1_pd(h[t]));
  for (int t = ops.addFrom; t < ops.bothFrom; ++t) x = _mm_add_pd(_mm_set1_pd(h[t]), x);
  for (int t = ops.bothFrom; t < ops.end; ++t) {
    __m128d s = _mm_set1_pd(h[t]);
    x = _mm_sub_pd(_mm_add_pd(s, x), s);
  }
  return x;
}

// Four pairs at once: their chains of operations overlap.
inline void applyOperations(__m128d &v0, __m128d &v1, __m128d &v2, __m128d &v3, const double *h,
                            const Operations &ops) {
  for (int t = ops.subtractFrom; t < ops.addFrom; ++t) {
    __m128d s = _mm_set1_pd(h[t]);
    v0 = _mm_sub_pd(v0, s);
    v1 = _mm_sub_pd(v1, s);
    v2 = _mm_sub_pd(v2, s);
    v3 = _mm_sub_pd(v3, s);
  }
  for (int t = ops.addFrom; t < ops.bothFrom; ++t) {
    __m128d s = _mm_set1_pd(h[t]);
    v0 = _mm_add_pd(s, v0);
    v1 = _mm_add_pd(s, v1);
    v2 = _mm_add_pd(s, v2);
    v3 = _mm_add_pd(s, v3);
  }
  for (int t = ops.bothFrom; t < ops.end; ++t) {
    __m128d s = _mm_set1_pd(h[t]);
    v0 = _mm_sub_pd(_mm_add_pd(s, v0), s);
    v1 = _mm_sub_pd(_mm_add_pd(s, v1), s);
    v2 = _mm_sub_pd(_mm_add_pd(s, v2), s);
    v3 = _mm_sub_pd(_mm_add_pd(s, v3), s);
  }
}
#endif

// x[i] for i in [from, to) go through the same operations.
void applyToRange(double *x, int from, int to, const double *h, const Operations &ops) {
  int i = from;
#if defined(__SSE2__)
  for (; i + 8 <= to; i += 8) {
    __m128d v0 = _mm_loadu_pd(x + i), v1 = _mm_loadu_pd(x + i + 2);
    __m128d v2 = _mm_loadu_pd(x + i + 4), v3 = _mm_loadu_pd(x + i + 6);
    applyOperations(v0, v1, v2, v3, h, ops);
    _mm_storeu_pd(x + i, v0);
    _mm_storeu_pd(x + i + 2, v1);
    _mm_storeu_pd(x + i + 4, v2);
    _mm_storeu_pd(x + i + 6, v3);
  }
  for (; i + 2 <= to; i += 2) _mm_storeu_pd(x + i, applyOperations(_mm_loadu_pd(x + i), h, ops));
#endif
  for (; i < to; ++i) x[i] = applyOperations(x[i], h, ops);
}

// column[rows[i]] for i < m go through the same operations.
void applyToRows(double *column, const int *rows, int m, const double *h, const Operations &ops) {
  int i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= m; i += 8) {
    const int *r = rows + i;
    __m128d v0 = _mm_loadh_pd(_mm_load_sd(column + r[0]), column + r[1]);
    __m128d v1 = _mm_loadh_pd(_mm_load_sd(column + r[2]), column + r[3]);
    __m128d v2 = _mm_loadh_pd(_mm_load_sd(column + r[4]), column + r[5]);
    __m128d v3 = _mm_loadh_pd(_mm_load_sd(column + r[6]), column + r[7]);
    applyOperations(v0, v1, v2, v3, h, ops);
    _mm_storel_pd(column + r[0], v0);
    _mm_storeh_pd(column + r[1], v0);
    _mm_storel_pd(column + r[2], v1);
    _mm_storeh_pd(column + r[3], v1);
    _mm_storel_pd(column + r[4], v2);
    _mm_storeh_pd(column + r[5], v2);
    _mm_storel_pd(column + r[6], v3);
    _mm_storeh_pd(column + r[7], v3);
  }
  for (; i + 2 <= m; i += 2) {
    __m128d v = _mm_loadh_pd(_mm_load_sd(column + rows[i]), column + rows[i + 1]);
    v = applyOperations(v, h, ops);
    _mm_storel_pd(column + rows[i], v);
    _mm_storeh_pd(column + rows[i + 1], v);
  }
#endif
  for (; i < m; ++i) column[rows[i]] = applyOperations(column[rows[i]], h, ops);
}

// Asks for the n doubles at x to be brought into the cache: the scattered
// reads that follow then find them there.
inline void prefetchRange(const double *x, int n) {
#if defined(__SSE2__)
  constexpr int kLineDoubles = 8;  // 64-byte cache lines
  for (int i = 0; i < n; i += kLineDoubles) {
    _mm_prefetch(reinterpret_cast<const char *>(x + i), _MM_HINT_T0);
  }
#else
  (void)x;
  (void)n;
#endif
}

// x[r] = ((x[r] - h[0]) - h[1]) ... - h[k - 1] for r < n: the step 5s of
// an uncovered row in an uncovered column, in order; then, when least is
// not null, least[r] becomes the lesser of itself and x[r].
void subtractShifts(double *x, int n, const double *h, int k, double *least) {
  int r = 0;
#if defined(__SSE2__)
  constexpr int kLanes = 16;  // eight independent pairs keep the subtractions in flight
  for (; r + kLanes <= n; r += kLanes) {
    __m128d v0 = _mm_loadu_pd(x + r), v1 = _mm_loadu_pd(x + r + 2);
    __m128d v2 = _mm_loadu_pd(x + r + 4), v3 = _mm_loadu_pd(x + r + 6);
    __m128d v4 = _mm_loadu_pd(x + r + 8), v5 = _mm_loadu_pd(x + r + 10);
    __m128d v6 = _mm_loadu_pd(x + r + 12), v7 = _mm_loadu_pd(x + r + 14);
    for (int i = 0; i < k; ++i) {
      __m128d s = _mm_set1_pd(h[i]);
      v0 = _mm_sub_pd(v0, s);
      v1 = _mm_sub_pd(v1, s);
      v2 = _mm_sub_pd(v2, s);
      v3 = _mm_sub_pd(v3, s);
      v4 = _mm_sub_pd(v4, s);
      v5 = _mm_sub_pd(v5, s);
      v6 = _mm_sub_pd(v6, s);
      v7 = _mm_sub_pd(v7, s);
    }
    _mm_storeu_pd(x + r, v0);
    _mm_storeu_pd(x + r + 2, v1);
    _mm_storeu_pd(x + r + 4, v2);
    _mm_storeu_pd(x + r + 6, v3);
    _mm_storeu_pd(x + r + 8, v4);
    _mm_storeu_pd(x + r + 10, v5);
    _mm_storeu_pd(x + r + 12, v6);
    _mm_storeu_pd(x + r + 14, v7);
    if (least != nullptr) {
      double *m = least + r;
      _mm_storeu_pd(m, _mm_min_pd(v0, _mm_loadu_pd(m)));
      _mm_storeu_pd(m + 2, _mm_min_pd(v1, _mm_loadu_pd(m + 2)));
      _mm_storeu_pd(m + 4, _mm_min_pd(v2, _mm_loadu_pd(m + 4)));
      _mm_storeu_pd(m + 6, _mm_min_pd(v3, _mm_loadu_pd(m + 6)));
      _mm_storeu_pd(m + 8, _mm_min_pd(v4, _mm_loadu_pd(m + 8)));
      _mm_storeu_pd(m + 10, _mm_min_pd(v5, _mm_loadu_pd(m + 10)));
      _mm_storeu_pd(m + 12, _mm_min_pd(v6, _mm_loadu_pd(m + 12)));
      _mm_storeu_pd(m + 14, _mm_min_pd(v7, _mm_loadu_pd(m + 14)));
    }
  }
#endif
  for (; r < n; ++r) {
    double v = x[r];
    for (int i = 0; i < k; ++i) v = v - h[i];
    x[r] = v;
    if (least != nullptr && v < least[r]) least[r] = v;
  }
}
}  // namespace

#endif
