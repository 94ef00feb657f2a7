// pairsolve: minimum-cost assignment of rows to columns by the Munkres
// covering method.
//
//   [assignment, cost] = pairsolve(C)
//
// C is an M-by-N matrix of non-negative costs; Inf (and NaN, see below)
// marks a forbidden pair. assignment(r) is the column paired with row r, or
// 0; cost is the sum of the paired costs.
//
// The result is the one the classic steps reach: an initial reduction and
// initial stars, then step 2b (done?), step 3 (prime uncovered zeros, columns
// ascending, the first uncovered zero row of each column, a new pass after
// every pass that primed), step 4 (move stars along the alternating path),
// step 2a (cover starred columns) and step 5 (add h to the covered rows, then
// subtract it from the uncovered columns). Among equal-cost assignments that
// fixes which one is returned, and the floating-point operations fix every
// working cost. Two engines make exactly those decisions, faster than a
// literal transcription of the steps:
//
// - The dense engine works for every input. It keeps the working costs in a
//   matrix, but stars, primes and covers as row and column indices, follows
//   step 4's path in time proportional to the path, takes h from per-row
//   minima kept up to date, and finds zeros from per-column candidate rows.
//   Step 5 only records h: every working cost later receives exactly the
//   additions and subtractions the steps make, in the same order, when its
//   phase ends or when its column is next uncovered (see "The dense
//   engine").
// - The exact engine serves inputs on which one pass proves every operation
//   of the steps exact (integer costs, or integer multiples of one power of
//   two, small enough; see exactBounds). Then a working cost equals the input
//   cost minus a column potential minus a row potential, exactly, and no
//   matrix is needed: costs are read from C, each column keeps the rows of
//   its least reduced costs and a bound for the others (which tell its zeros
//   and its least uncovered cost without reading it), step 5 takes h from a
//   heap of columns and changes potentials only. Its scratch is O(M + N).
//
// Control passes between the steps through loops, so the stack depth stays
// constant however many transitions a solve takes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mex.h"
#include "mexgateway.h"

namespace {

// Substitute for infinite costs: (largest finite cost x 10) x element count,
// or this value when every finite cost is zero.
constexpr double kSubstituteFactor = 10.0;
constexpr double kSubstituteWhenAllZero = 10.0;

// No row or column (an index that is not one).
constexpr int kNone = -1;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The exact engine works in units of g, a power of two dividing every cost.
// Integers up to 2^53 units are exact doubles; costs up to 2^53 units and
// reduced costs up to 2^52 units keep every sum and difference of the steps
// within that range (see exactBounds). Costs above 2^1000 are left to the
// dense engine, so that no sum of two of them can overflow.
constexpr double kExactUnits = 9007199254740992.0;         // 2^53
constexpr double kExactReducedUnits = 4503599627370496.0;  // 2^52
constexpr double kExactMagnitudeLimit = 0x1p1000;

// The bits of a double: 52 stored mantissa bits, then 11 exponent bits;
// exponent field e stands for 2^(e - 1075) times the integer mantissa.
constexpr int kMantissaBits = 52;
constexpr std::uint64_t kMantissaMask = (std::uint64_t{1} << kMantissaBits) - 1;
constexpr std::uint64_t kExponentMask = 0x7ff;
constexpr int kIntegerMantissaBias = 1075;
constexpr double kInt32Limit = 2147483648.0;            // 2^31
constexpr double kIntegerShifter = 4503599627370496.0;  // 2^52

inline std::int64_t at(int r, int c, int M) {
  return static_cast<std::int64_t>(r) + static_cast<std::int64_t>(M) * c;
}

template <class T>
T *allocate(std::int64_t count) {
  return static_cast<T *>(mxMalloc(sizeof(T) * static_cast<size_t>(count)));
}

// ---------------------------------------------------------------------------
// Small kernels over columns. min(x, m) below is "x if x < m, else m": NaN is
// never taken, exactly like the strict comparisons of the steps, so the order
// in which minima are formed does not matter.

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
    if (_mm_movemask_pd(_mm_or_pd(low, high)) == 0) continue;
    int lowMask = _mm_movemask_pd(low);
    if (lowMask != 0) return (lowMask & 1) ? r : r + 1;
    return (_mm_movemask_pd(high) & 1) ? r + 2 : r + 3;
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

// ---------------------------------------------------------------------------
// Stars, primes and covers, shared by both engines. At most one star per row
// and per column and at most one prime per row, so indices replace the
// Boolean matrices of the steps.

struct Marks {
  int M, N, targetCount;
  int starCount;     // number of stars, which is the number of starred columns
  int *starColumn;   // per row: the column of its star, or kNone
  int *starRow;      // per column: the row of its star, or kNone
  int *primeColumn;  // per row: the column of its prime, or kNone
  unsigned char *rowCovered;
  unsigned char *colCovered;
  int *coveredRows;     // rows covered since the last step 4, in order
  int *reachedColumns;  // the starred column uncovered with each of them
  int coveredCount;
  // The uncovered columns in which step 3 may still find an uncovered zero,
  // one bit per column. A column whose search found nothing leaves the set
  // until the working costs change (step 5) or it is uncovered again.
  std::uint64_t *active;
  int activeWords;
};

constexpr int kWordBits = 64;

inline void activate(Marks &marks, int c) {
  marks.active[c / kWordBits] |= std::uint64_t{1} << (c % kWordBits);
}

inline void deactivate(Marks &marks, int c) {
  marks.active[c / kWordBits] &= ~(std::uint64_t{1} << (c % kWordBits));
}

// The first active column at or after column from, or N.
inline int nextActive(const Marks &marks, int from) {
  if (from >= marks.N) return marks.N;
  int word = from / kWordBits;
  std::uint64_t bits = marks.active[word] & (~std::uint64_t{0} << (from % kWordBits));
  while (bits == 0) {
    if (++word >= marks.activeWords) return marks.N;
    bits = marks.active[word];
  }
  return word * kWordBits + __builtin_ctzll(bits);
}

void allocateMarks(Marks &marks, int M, int N, int targetCount) {
  marks.M = M;
  marks.N = N;
  marks.targetCount = targetCount;
  marks.starCount = 0;
  marks.starColumn = allocate<int>(M);
  marks.starRow = allocate<int>(N);
  marks.primeColumn = allocate<int>(M);
  marks.rowCovered = static_cast<unsigned char *>(mxCalloc(static_cast<size_t>(M), 1));
  marks.colCovered = static_cast<unsigned char *>(mxCalloc(static_cast<size_t>(N), 1));
  marks.coveredRows = allocate<int>(M);
  marks.reachedColumns = allocate<int>(M);
  marks.coveredCount = 0;
  marks.activeWords = (N + kWordBits - 1) / kWordBits;
  marks.active = allocate<std::uint64_t>(marks.activeWords);
  for (int r = 0; r < M; ++r) marks.starColumn[r] = marks.primeColumn[r] = kNone;
  for (int c = 0; c < N; ++c) marks.starRow[c] = kNone;
}

void releaseMarks(Marks &marks) {
  mxFree(marks.starColumn);
  mxFree(marks.starRow);
  mxFree(marks.primeColumn);
  mxFree(marks.rowCovered);
  mxFree(marks.colCovered);
  mxFree(marks.coveredRows);
  mxFree(marks.reachedColumns);
  mxFree(marks.active);
}

void placeStar(Marks &marks, int r, int c) {
  marks.starColumn[r] = c;
  marks.starRow[c] = r;
  marks.colCovered[c] = 1;
  ++marks.starCount;
}

// Writes, for every row with a star, the star's 1-based column.
void buildassignmentvector(double *assignment, const Marks &marks) {
  for (int r = 0; r < marks.M; ++r) {
    if (marks.starColumn[r] != kNone) assignment[r] = marks.starColumn[r] + 1.0;
  }
}

// Sums the caller's costs of the pairs, in row order; a pair made on a
// non-finite cost is withdrawn (reported as no pair, adding nothing).
void computeassignmentcost(double *assignment, double *cost, const double *C, int M) {
  for (int r = 0; r < M; ++r) {
    int c = static_cast<int>(assignment[r] - 1.0);
    if (c >= 0) {
      double value = C[at(r, c, M)];
      if (std::isfinite(value)) {
        *cost = *cost + value;
      } else {
        assignment[r] = 0.0;
      }
    }
  }
}

// Where step 3 resumes in each column. Within a stretch of steps without a
// step 4 or step 5 the working costs do not change and rows only get
// covered, so every row before the resume point stays covered or non-zero.
// In column mode position[c] is a row of column c. After a step 5 the only
// uncovered zeros lie in the rows whose least uncovered cost was h (the
// zero rows, ascending), and position[c] indexes that list (list mode).
struct Cursors {
  int *position;
  unsigned char *listMode;
  int *zeroRows;
  int zeroRowCount;
};

void allocateCursors(Cursors &cursors, int M, int N) {
  cursors.position = allocate<int>(N);
  cursors.listMode = static_cast<unsigned char *>(mxCalloc(static_cast<size_t>(N), 1));
  cursors.zeroRows = allocate<int>(M);
  cursors.zeroRowCount = 0;
}

void releaseCursors(Cursors &cursors) {
  mxFree(cursors.position);
  mxFree(cursors.listMode);
  mxFree(cursors.zeroRows);
}

// The first uncovered zero of column c at or after its resume point, or
// kNone; the resume point moves past it (its row is covered next, or step 4
// starts). isZero(r, c) tells whether a working cost is zero; in column mode
// findInColumn(c, from) finds the first uncovered zero row from a row on (M
// if none).
template <class IsZero, class FindInColumn>
int nextZero(Cursors &cursors, const Marks &marks, int c, IsZero isZero,
             FindInColumn findInColumn) {
  if (cursors.listMode[c]) {
    for (int i = cursors.position[c]; i < cursors.zeroRowCount; ++i) {
      int r = cursors.zeroRows[i];
      if (!marks.rowCovered[r] && isZero(r, c)) {
        cursors.position[c] = i + 1;
        return r;
      }
    }
    cursors.position[c] = cursors.zeroRowCount;
    return kNone;
  }
  if (cursors.position[c] >= marks.M) return kNone;
  int r = findInColumn(c, cursors.position[c]);
  if (r == marks.M) {
    cursors.position[c] = marks.M;
    return kNone;
  }
  cursors.position[c] = r + 1;
  return r;
}

struct Prime {
  int row, column;  // kNone: a whole pass primed nothing (go to step 5)
};

// Step 3: passes over the uncovered columns in ascending order, each priming
// the first uncovered zero of a column. A prime whose row holds no star is
// returned (step 4 follows); otherwise its row is covered and the star's
// column uncovered, which a later column of the same pass or the next pass
// visits. Only active columns are visited: the others hold no uncovered
// zero. findZero(c) returns the first uncovered zero row of column c, or
// kNone; uncovered(c) is told of every column uncovered.
template <class FindZero, class Uncovered>
Prime step3(Marks &marks, FindZero findZero, Uncovered uncovered) {
  for (;;) {
    bool found = false;
    for (int c = nextActive(marks, 0); c < marks.N; c = nextActive(marks, c + 1)) {
      int r = findZero(c);
      if (r == kNone) {
        deactivate(marks, c);
        continue;
      }
      marks.primeColumn[r] = c;
      int starColumn = marks.starColumn[r];
      if (starColumn == kNone) return {r, c};
      marks.rowCovered[r] = 1;
      marks.colCovered[starColumn] = 0;
      marks.coveredRows[marks.coveredCount] = r;
      marks.reachedColumns[marks.coveredCount] = starColumn;
      ++marks.coveredCount;
      activate(marks, starColumn);
      uncovered(starColumn);
      found = true;
    }
    if (!found) return {kNone, kNone};
  }
}

// The column that step 4 will star, from the prime at (r0, c0): the end of
// its alternating path. kNone if a star on the path has no prime in its
// row (the marks would be corrupt).
int augmentedColumn(const Marks &marks, int r0, int c0) {
  (void)r0;
  int c = c0;
  for (;;) {
    int starredRow = marks.starRow[c];
    if (starredRow == kNone) return c;
    c = marks.primeColumn[starredRow];
    if (c == kNone) return kNone;
  }
}

// Step 4 and step 2a: stars the prime at (r0, c0) and walks the alternating
// path (the star in the prime's column gives way to the prime in the star's
// row) until a column without a star; then clears the primes and the row
// covers and covers every starred column again. Returns the column that
// gained a star, or kNone if a star on the path had no prime in its row (the
// marks would be corrupt; the steps guarantee it never happens).
int step4(Marks &marks, int r0, int c0) {
  int r = r0;
  int c = c0;
  for (;;) {
    int starredRow = marks.starRow[c];
    marks.starRow[c] = r;
    marks.starColumn[r] = c;
    if (starredRow == kNone) break;
    r = starredRow;
    c = marks.primeColumn[r];
    if (c == kNone) return kNone;
  }
  // Every prime lies in a covered row, except the one the path started at.
  marks.primeColumn[r0] = kNone;
  for (int i = 0; i < marks.coveredCount; ++i) {
    int row = marks.coveredRows[i];
    marks.primeColumn[row] = kNone;
    marks.rowCovered[row] = 0;
    marks.colCovered[marks.reachedColumns[i]] = 1;
  }
  marks.coveredCount = 0;
  marks.colCovered[c] = 1;
  ++marks.starCount;
  return c;
}

// ---------------------------------------------------------------------------
// The dense engine.
//
// It keeps the working costs in a matrix, but performs step 5's
// arithmetic late. Within a phase (from one step 4 to the next) rows are
// only covered and columns only uncovered, so the operations a working
// cost receives are fixed by the step 5 from which its row is covered and
// the one from which its column is uncovered: at each step 5, h + x when
// both are covered, (h + x) - h when only the row is, x - h when only the
// column is, and nothing when neither is. Step 5 only records its h; the
// operations are performed later, exactly and in the same order: for the
// unstarred columns when the phase ends (their row minima are rebuilt on
// the way), for any other column when step 3 next uncovers it (the phases
// it waits for are logged: their covered rows, the step 5 from which each
// was covered, and their h; a full log makes every column catch up), and
// for a single element when step 3 needs its value (denseElement). Between
// a column's uncovering and the next step 5 the working costs of its
// uncovered rows are current, which is when step 3 scans it. h comes from
// per-row minima: over the unstarred columns (kept across phases) and over
// the columns uncovered by step 3 (from the phase's first step 5).
//
// Each column keeps candidate rows for its zeros (zeroRow, a superset of
// them), so step 3 need not scan it; when more zeros arise than it has
// room for, the column is unlisted and scanned, until it is brought up to
// date with few zeros again.

// Candidate rows for the zeros of each column, and the most that may be
// asked for.
constexpr int kZeroSlots = 4;
constexpr int kMaxZeroSlots = 64;

// The log of deferred additions holds up to one entry per this many
// elements of the matrix.
constexpr int kLogShare = 16;

struct Dense {
  double *workCost;  // M-by-N, brought up to date at the end of each phase
  int phase;
  double *shifts;  // h of each step 5 in this phase
  int shiftCount;
  int *coverShift;     // per row covered in this phase: shiftCount when it was covered; else kNone
  int *uncoverPhase;   // per column: phase in which it was uncovered last
  int *uncoverShift;   // per column uncovered in this phase: shiftCount when it was uncovered
  double *minFree;     // per row: least working cost over the unstarred columns
  double *minReached;  // per row: least over the columns uncovered by step 3 in this phase
  bool reachedLive;    // minReached is kept (from the phase's first step 5)
  int *freeColumn;     // the unstarred columns, in no order
  int *freeSlot;       // per column: its place in freeColumn, or kNone
  int freeCount;
  int slots;                // candidate zero rows per column
  int *zeroRow;             // per column: slots candidate rows
  int *zeroCount;           // per column: candidates held
  unsigned char *unlisted;  // per column: its zeros may not all be candidates
  double *buffer;           // scratch, per row
  double *coveredMin;       // scratch, per row: minima over unstarred columns of covered rows
  // The log of past phases: phase k has the rows logRow[logRowStart[k] ..
  // logRowStart[k + 1]), covered before its last step 5, in the order they
  // were covered, and the h logShift[logShiftStart[k] + t] of its step 5s.
  // The rows come in runs covered from the same step 5: the runs
  // [logRunStart[k], logRunStart[k + 1]) end at row logRunEnd (counted
  // from the phase's first) and are covered from step 5 logRunFrom on.
  // settled[c]: the logged phases column c has caught up with.
  int *logRow;
  int *logRowStart;
  int *logRunEnd;
  int *logRunFrom;
  int *logRunStart;
  double *logShift;
  int *logShiftStart;
  int logPhases;
  // Per column: the logged phase in which step 3 uncovered it, from step 5
  // pendingShift on, when it has not caught up with that phase; else kNone.
  int *pendingPhase;
  int *pendingShift;
  int logCapacity;  // entries of logRow, of the runs, of logShift, and of phases
  int *settled;
};

// The working cost (r, c) now, for a row r not covered in this phase: the
// stored one less every h since column c was uncovered.
double denseElement(const Dense &dense, int r, int c, int M) {
  double x = dense.workCost[at(r, c, M)];
  int from = dense.uncoverPhase[c] == dense.phase ? dense.uncoverShift[c] : dense.shiftCount;
  for (int t = from; t < dense.shiftCount; ++t) x = x - dense.shifts[t];
  return x;
}

// Row r is a candidate for a zero of column c.
void denseAddCandidate(Dense &dense, int c, int r) {
  if (dense.unlisted[c]) return;
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  for (int k = 0; k < dense.zeroCount[c]; ++k) {
    if (rows[k] == r) return;
  }
  if (dense.zeroCount[c] == dense.slots) {
    dense.unlisted[c] = 1;
    return;
  }
  rows[dense.zeroCount[c]++] = r;
}

// Rebuilds the candidates of column c, whose working costs are current:
// its zero rows, or unlisted when there are more than slots.
void denseListZeros(Dense &dense, int c, int M) {
  const double *column = dense.workCost + at(0, c, M);
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  int count = 0;
  int r = 0;
  for (;;) {
    r = firstZero(column, r, M);
    if (r == M) break;
    if (count == dense.slots) {
      dense.unlisted[c] = 1;
      dense.zeroCount[c] = 0;
      return;
    }
    rows[count++] = r++;
  }
  dense.unlisted[c] = 0;
  dense.zeroCount[c] = count;
}

// The first uncovered zero row of listed column c, or kNone; candidates
// that are no longer zeros are dropped (a zero that comes back is a
// candidate again).
int denseListedZero(Dense &dense, const Marks &marks, int c) {
  int M = marks.M;
  int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
  int best = kNone;
  for (int k = 0; k < dense.zeroCount[c];) {
    int r = rows[k];
    if (marks.rowCovered[r] || (best != kNone && r > best)) {
      ++k;
      continue;
    }
    if (denseElement(dense, r, c, M) == 0.0) {
      best = r;
      ++k;
    } else {
      rows[k] = rows[--dense.zeroCount[c]];
    }
  }
  return best;
}

// Copies C, with the substitute for infinite (and, when nanForbidden, NaN)
// costs; reduces rows (M <= N) or columns (M > N) and places the first
// stars, as the steps begin. Returns the number of stars to reach.
int denseStart(Dense &dense, Marks &marks, const double *C, int M, int N, double substitute,
               bool nanForbidden) {
  double *w = dense.workCost;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  for (std::int64_t i = 0; i < E; ++i) {
    double x = C[i];
    w[i] = (std::isinf(x) || (nanForbidden && std::isnan(x))) ? substitute : x;
  }
  int targetCount = 0;
  if (M <= N && M > 0) {
    // Row minima in column order: for each row the same comparisons, in the
    // same order, as a scan along the row.
    double *minimum = dense.buffer;
    for (int r = 0; r < M; ++r) minimum[r] = w[r];
    for (int c = 1; c < N; ++c) {
      const double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) {
        if (column[r] < minimum[r]) minimum[r] = column[r];
      }
    }
    for (int c = 0; c < N; ++c) {
      double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) column[r] -= minimum[r];
    }
    targetCount = M;
  } else if (M > N && N > 0) {
    for (int c = 0; c < N; ++c) {
      double *column = w + at(0, c, M);
      double minimum = column[0];
      for (int r = 1; r < M; ++r) {
        if (column[r] < minimum) minimum = column[r];
      }
      for (int r = 0; r < M; ++r) column[r] -= minimum;
    }
    targetCount = N;
  }
  bool allListed = true;
  for (int c = 0; c < N; ++c) {
    denseListZeros(dense, c, M);
    allListed = allListed && !dense.unlisted[c];
  }
  if (targetCount == M && M > 0) {
    // Stars by rows: each row's first zero in a column without one. From
    // the candidates, sorted by row and column, when they are complete.
    if (allListed) {
      int *rowStart = static_cast<int *>(mxCalloc(static_cast<size_t>(M) + 1, sizeof(int)));
      int *fill = allocate<int>(M);
      int *zeroColumn = allocate<int>(static_cast<std::int64_t>(N) * dense.slots);
      for (int c = 0; c < N; ++c) {
        const int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
        for (int k = 0; k < dense.zeroCount[c]; ++k) ++rowStart[rows[k] + 1];
      }
      for (int r = 0; r < M; ++r) {
        rowStart[r + 1] += rowStart[r];
        fill[r] = rowStart[r];
      }
      for (int c = 0; c < N; ++c) {
        const int *rows = dense.zeroRow + static_cast<std::int64_t>(c) * dense.slots;
        for (int k = 0; k < dense.zeroCount[c]; ++k) zeroColumn[fill[rows[k]]++] = c;
      }
      for (int r = 0; r < M; ++r) {
        for (int i = rowStart[r]; i < rowStart[r + 1]; ++i) {
          if (!marks.colCovered[zeroColumn[i]]) {
            placeStar(marks, r, zeroColumn[i]);
            break;
          }
        }
      }
      mxFree(rowStart);
      mxFree(fill);
      mxFree(zeroColumn);
    } else {
      for (int r = 0; r < M; ++r) {
        for (int c = 0; c < N; ++c) {
          if (w[at(r, c, M)] == 0.0 && !marks.colCovered[c]) {
            placeStar(marks, r, c);
            break;
          }
        }
      }
    }
  } else if (targetCount == N && N > 0) {
    for (int c = 0; c < N; ++c) {
      const double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) {
        if (column[r] == 0.0 && marks.starColumn[r] == kNone) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
  }
  // The unstarred columns and the row minima over them.
  dense.freeCount = 0;
  for (int r = 0; r < M; ++r) dense.minFree[r] = kInf;
  for (int c = 0; c < N; ++c) {
    dense.freeSlot[c] = kNone;
    if (marks.starRow[c] != kNone) continue;
    dense.freeSlot[c] = dense.freeCount;
    dense.freeColumn[dense.freeCount++] = c;
    minInto(dense.minFree, w + at(0, c, M), M);
  }
  return targetCount;
}

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

// Performs one phase's operations on column c (see the engine's note):
// rows[0..n) are the rows covered in it before its last step 5, in the
// order they were covered, in runs: run g ends at runEnd[g] and is covered
// from step 5 runFrom[g] on; shifts[0..T) are its h; the column was
// uncovered from step 5 uncovered on (T if it stayed covered). The other
// rows lose every h from uncovered on; the covered rows take theirs from
// values set aside first. When least is not null, it takes the column's
// working costs, the covered rows' going to coveredLeast. Zeros among the
// covered rows become candidates.
void denseApplyPhase(Dense &dense, int c, int M, const int *rows, int n, const int *runEnd,
                     const int *runFrom, int runs, const double *shifts, int T, int uncovered,
                     double *least, double *coveredLeast) {
  double *column = dense.workCost + at(0, c, M);
  double *buffer = dense.buffer;
  if (uncovered == T) {
    // Only the covered rows change: in place.
    for (int g = 0, i = 0; g < runs; i = runEnd[g++]) {
      applyToRows(column, rows + i, runEnd[g] - i, shifts, operationsFor(runFrom[g], T, T));
    }
    return;
  }
  for (int i = 0; i < n; ++i) buffer[i] = column[rows[i]];
  for (int g = 0, i = 0; g < runs; i = runEnd[g++]) {
    applyToRange(buffer, i, runEnd[g], shifts, operationsFor(runFrom[g], uncovered, T));
  }
  subtractShifts(column, M, shifts + uncovered, T - uncovered, least);
  // Where the column was uncovered, (h + x) - h can round to a zero.
  bool anyZero = false;
  for (int i = 0; i < n; ++i) {
    column[rows[i]] = buffer[i];
    anyZero = anyZero || buffer[i] == 0.0;
  }
  if (coveredLeast != nullptr) {
    for (int i = 0; i < n; ++i) {
      if (buffer[i] < coveredLeast[rows[i]]) coveredLeast[rows[i]] = buffer[i];
    }
  }
  if (anyZero) {
    for (int i = 0; i < n; ++i) {
      if (buffer[i] == 0.0) denseAddCandidate(dense, c, rows[i]);
    }
  }
}

// Column c catches up with the logged phases it has not received: in each,
// the rows covered from a step 5 on gain the h of every step 5 from then;
// in the one in which step 3 uncovered it (pendingPhase), it also loses
// every h from then. Then its working costs are current.
void denseCatchUp(Dense &dense, int c, int M) {
  if (dense.settled[c] == dense.logPhases) return;
  prefetchRange(dense.workCost + at(0, c, M), M);
  bool swept = false;
  for (int k = dense.settled[c]; k < dense.logPhases; ++k) {
    int first = dense.logRowStart[k];
    int firstRun = dense.logRunStart[k];
    int T = dense.logShiftStart[k + 1] - dense.logShiftStart[k];
    int uncovered = k == dense.pendingPhase[c] ? dense.pendingShift[c] : T;
    swept = swept || uncovered < T;
    denseApplyPhase(dense, c, M, dense.logRow + first, dense.logRowStart[k + 1] - first,
                    dense.logRunEnd + firstRun, dense.logRunFrom + firstRun,
                    dense.logRunStart[k + 1] - firstRun, dense.logShift + dense.logShiftStart[k], T,
                    uncovered, nullptr, nullptr);
  }
  dense.settled[c] = dense.logPhases;
  dense.pendingPhase[c] = kNone;
  if (swept && dense.unlisted[c]) denseListZeros(dense, c, M);
}

// A new phase: the uncovered columns are the unstarred ones, each searched
// from its first row.
void denseNewPhase(Dense &dense, Marks &marks, Cursors &cursors) {
  ++dense.phase;
  dense.shiftCount = 0;
  dense.reachedLive = false;
  for (int i = 0; i < marks.activeWords; ++i) marks.active[i] = 0;
  for (int i = 0; i < dense.freeCount; ++i) {
    int c = dense.freeColumn[i];
    dense.uncoverPhase[c] = dense.phase;
    dense.uncoverShift[c] = 0;
    cursors.position[c] = 0;
    cursors.listMode[c] = 0;
    activate(marks, c);
  }
}

// Step 3 covered a row and uncovered column c.
void denseUncovered(Dense &dense, const Marks &marks, Cursors &cursors, int c) {
  dense.coverShift[marks.coveredRows[marks.coveredCount - 1]] = dense.shiftCount;
  denseCatchUp(dense, c, marks.M);
  dense.uncoverPhase[c] = dense.phase;
  dense.uncoverShift[c] = dense.shiftCount;
  cursors.position[c] = 0;
  cursors.listMode[c] = 0;
  if (dense.reachedLive) minInto(dense.minReached, dense.workCost + at(0, c, marks.M), marks.M);
}

// Step 5. h is the least uncovered working cost (from the row minima);
// its operations are recorded, to be performed later. Subtraction is
// monotone, so each uncovered row's minimum is its old minimum minus h,
// and the new zeros are in the rows whose minimum was h. Returns false
// when no finite h exists (NaN or overflowed costs): the steps cannot
// complete.
bool denseStep5(Dense &dense, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  if (!dense.reachedLive) {
    for (int r = 0; r < M; ++r) dense.minReached[r] = kInf;
    for (int i = 0; i < marks.coveredCount; ++i) {
      minInto(dense.minReached, dense.workCost + at(0, marks.reachedColumns[i], M), M);
    }
    dense.reachedLive = true;
  }
  double h = kInf;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    if (dense.minFree[r] < h) h = dense.minFree[r];
    if (dense.minReached[r] < h) h = dense.minReached[r];
  }
  if (!std::isfinite(h)) return false;
  cursors.zeroRowCount = 0;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    if (dense.minFree[r] == h || dense.minReached[r] == h) {
      cursors.zeroRows[cursors.zeroRowCount++] = r;
    }
    dense.minFree[r] = dense.minFree[r] - h;
    dense.minReached[r] = dense.minReached[r] - h;
  }
  dense.shifts[dense.shiftCount++] = h;
  // Every uncovered column: its new zeros become candidates, and step 3
  // searches it again, in the zero rows.
  for (int i = 0; i < dense.freeCount + marks.coveredCount; ++i) {
    int c = i < dense.freeCount ? dense.freeColumn[i] : marks.reachedColumns[i - dense.freeCount];
    cursors.listMode[c] = 1;
    cursors.position[c] = 0;
    for (int k = 0; k < cursors.zeroRowCount; ++k) {
      int r = cursors.zeroRows[k];
      if (denseElement(dense, r, c, M) == 0.0) {
        denseAddCandidate(dense, c, r);
        activate(marks, c);
      }
    }
  }
  return true;
}

// The phase ends (step 4 is next, and will star column starred). The phase
// is logged (when the log is full, every column catches up first and it
// starts empty); the unstarred columns are brought up to date, and the row
// minima over them rebuilt; the columns step 3 uncovered wait for their
// next uncovering.
void denseEndPhase(Dense &dense, Marks &marks, int starred) {
  int M = marks.M;
  int N = marks.N;
  int T = dense.shiftCount;
  if (T == 0) {
    // Nothing changed; column starred leaves the unstarred ones: the rows
    // whose minimum it held find theirs again.
    const double *column = dense.workCost + at(0, starred, M);
    for (int r = 0; r < M; ++r) {
      if (!(column[r] == dense.minFree[r])) continue;
      double least = kInf;
      for (int i = 0; i < dense.freeCount; ++i) {
        int c = dense.freeColumn[i];
        double x = dense.workCost[at(r, c, M)];
        if (c != starred && x < least) least = x;
      }
      dense.minFree[r] = least;
    }
    return;
  }
  // Rows covered after the last step 5 took none of its operations as
  // covered rows: they are not logged.
  int logged = 0;
  while (logged < marks.coveredCount && dense.coverShift[marks.coveredRows[logged]] < T) ++logged;
  int rowsUsed = dense.logRowStart[dense.logPhases];
  int runsUsed = dense.logRunStart[dense.logPhases];
  int shiftsUsed = dense.logShiftStart[dense.logPhases];
  if (rowsUsed + logged > dense.logCapacity || shiftsUsed + T > dense.logCapacity ||
      dense.logPhases + 1 > dense.logCapacity) {
    for (int c = 0; c < N; ++c) denseCatchUp(dense, c, M);
    dense.logPhases = 0;
    for (int c = 0; c < N; ++c) dense.settled[c] = 0;
    rowsUsed = runsUsed = shiftsUsed = 0;
  }
  int phase = dense.logPhases;
  for (int i = 0; i < logged; ++i) {
    dense.logRow[rowsUsed + i] = marks.coveredRows[i];
  }
  // The runs: rows covered from the same step 5 (coverShift never
  // decreases along the cover order).
  int runs = 0;
  for (int i = 0; i < logged; ++i) {
    int from = dense.coverShift[marks.coveredRows[i]];
    if (runs > 0 && dense.logRunFrom[runsUsed + runs - 1] == from) {
      dense.logRunEnd[runsUsed + runs - 1] = i + 1;
    } else {
      dense.logRunFrom[runsUsed + runs] = from;
      dense.logRunEnd[runsUsed + runs] = i + 1;
      ++runs;
    }
  }
  for (int t = 0; t < T; ++t) dense.logShift[shiftsUsed + t] = dense.shifts[t];
  dense.logPhases = phase + 1;
  dense.logRowStart[phase + 1] = rowsUsed + logged;
  dense.logRunStart[phase + 1] = runsUsed + runs;
  dense.logShiftStart[phase + 1] = shiftsUsed + T;
  for (int r = 0; r < M; ++r) dense.minFree[r] = kInf;
  for (int i = 0; i < logged; ++i) dense.coveredMin[marks.coveredRows[i]] = kInf;
  for (int i = 0; i < dense.freeCount; ++i) {
    int c = dense.freeColumn[i];
    bool stays = c != starred;
    prefetchRange(dense.workCost + at(0, c, M), M);
    denseApplyPhase(dense, c, M, dense.logRow + rowsUsed, logged, dense.logRunEnd + runsUsed,
                    dense.logRunFrom + runsUsed, runs, dense.shifts, T, 0,
                    stays ? dense.minFree : nullptr, stays ? dense.coveredMin : nullptr);
    dense.settled[c] = phase + 1;
    if (dense.unlisted[c]) denseListZeros(dense, c, M);
  }
  for (int i = 0; i < logged; ++i) {
    int r = marks.coveredRows[i];
    dense.minFree[r] = dense.coveredMin[r];
  }
  for (int i = 0; i < marks.coveredCount; ++i) {
    int c = marks.reachedColumns[i];
    dense.pendingPhase[c] = phase;
    dense.pendingShift[c] = dense.uncoverShift[c];
  }
}

enum class SolveOutcome { complete, stuck, inexact };

SolveOutcome solveDense(double *assignment, const double *C, int M, int N, double substitute,
                        bool nanForbidden, int zeroSlots, int logEntries) {
  Dense dense;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  dense.workCost = allocate<double>(E);
  dense.phase = 0;
  dense.shifts = allocate<double>((M < N ? M : N) + 1);
  dense.shiftCount = 0;
  dense.coverShift = allocate<int>(M);
  dense.uncoverPhase = allocate<int>(N);
  dense.uncoverShift = allocate<int>(N);
  dense.minFree = allocate<double>(M);
  dense.minReached = allocate<double>(M);
  dense.reachedLive = false;
  dense.freeColumn = allocate<int>(N);
  dense.freeSlot = allocate<int>(N);
  dense.freeCount = 0;
  // A column of M rows needs no more than M candidates.
  dense.slots = zeroSlots < 1 ? 1 : (zeroSlots > kMaxZeroSlots ? kMaxZeroSlots : zeroSlots);
  if (dense.slots > M && M > 0) dense.slots = M;
  dense.zeroRow = allocate<int>(static_cast<std::int64_t>(N) * dense.slots);
  dense.zeroCount = allocate<int>(N);
  dense.unlisted = allocate<unsigned char>(N);
  dense.buffer = allocate<double>(M);
  dense.coveredMin = allocate<double>(M);
  dense.pendingPhase = allocate<int>(N);
  dense.pendingShift = allocate<int>(N);
  for (int c = 0; c < N; ++c) dense.pendingPhase[c] = kNone;
  // Room for a sixteenth of the matrix's elements (or the entries asked
  // for), and at least one phase.
  std::int64_t capacity = logEntries > 0 ? logEntries : E / kLogShare;
  if (capacity < M + 1) capacity = M + 1;
  if (capacity < N + 1) capacity = N + 1;
  dense.logCapacity = static_cast<int>(capacity);
  dense.logRow = allocate<int>(capacity);
  dense.logRunEnd = allocate<int>(capacity);
  dense.logRunFrom = allocate<int>(capacity);
  dense.logRunStart = allocate<int>(capacity + 1);
  dense.logShift = allocate<double>(capacity);
  dense.logRowStart = allocate<int>(capacity + 1);
  dense.logShiftStart = allocate<int>(capacity + 1);
  dense.logRowStart[0] = dense.logRunStart[0] = dense.logShiftStart[0] = 0;
  dense.logPhases = 0;
  dense.settled = static_cast<int *>(mxCalloc(static_cast<size_t>(N), sizeof(int)));
  for (int r = 0; r < M; ++r) dense.coverShift[r] = kNone;
  for (int c = 0; c < N; ++c) dense.uncoverPhase[c] = kNone;
  Marks marks;
  allocateMarks(marks, M, N, 0);
  Cursors cursors;
  allocateCursors(cursors, M, N);
  marks.targetCount = denseStart(dense, marks, C, M, N, substitute, nanForbidden);

  auto isZero = [&dense, M](int r, int c) { return denseElement(dense, r, c, M) == 0.0; };
  auto findInColumn = [&dense, &marks, M](int c, int from) {
    return firstZeroRow(dense.workCost + at(0, c, M), marks.rowCovered, from, M);
  };
  auto findZero = [&dense, &cursors, &marks, &isZero, &findInColumn](int c) {
    if (!dense.unlisted[c]) return denseListedZero(dense, marks, c);
    return nextZero(cursors, marks, c, isZero, findInColumn);
  };
  auto uncovered = [&dense, &marks, &cursors](int c) { denseUncovered(dense, marks, cursors, c); };
  SolveOutcome outcome = SolveOutcome::complete;
  while (marks.starCount != marks.targetCount) {
    denseNewPhase(dense, marks, cursors);
    int shifts = 0;
    Prime prime = step3(marks, findZero, uncovered);
    while (prime.row == kNone) {
      // Between two runs of step 4, step 5 runs at most targetCount times
      // while the working costs stay finite.
      if (++shifts > marks.targetCount || !denseStep5(dense, marks, cursors)) break;
      prime = step3(marks, findZero, uncovered);
    }
    if (prime.row == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
    int starred = augmentedColumn(marks, prime.row, prime.column);
    if (starred == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
    denseEndPhase(dense, marks, starred);
    for (int i = 0; i < marks.coveredCount; ++i) dense.coverShift[marks.coveredRows[i]] = kNone;
    step4(marks, prime.row, prime.column);
    if (dense.freeSlot[starred] != kNone) {
      int slot = dense.freeSlot[starred];
      int last = dense.freeColumn[--dense.freeCount];
      dense.freeColumn[slot] = last;
      dense.freeSlot[last] = slot;
      dense.freeSlot[starred] = kNone;
    }
  }
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  mxFree(dense.workCost);
  mxFree(dense.shifts);
  mxFree(dense.coverShift);
  mxFree(dense.uncoverPhase);
  mxFree(dense.uncoverShift);
  mxFree(dense.minFree);
  mxFree(dense.minReached);
  mxFree(dense.freeColumn);
  mxFree(dense.freeSlot);
  mxFree(dense.zeroRow);
  mxFree(dense.zeroCount);
  mxFree(dense.unlisted);
  mxFree(dense.buffer);
  mxFree(dense.coveredMin);
  mxFree(dense.pendingPhase);
  mxFree(dense.pendingShift);
  mxFree(dense.logRow);
  mxFree(dense.logRunEnd);
  mxFree(dense.logRunFrom);
  mxFree(dense.logRunStart);
  mxFree(dense.logShift);
  mxFree(dense.logRowStart);
  mxFree(dense.logShiftStart);
  mxFree(dense.settled);
  releaseMarks(marks);
  releaseCursors(cursors);
  return outcome;
}

// ---------------------------------------------------------------------------
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

// A binary heap of columns, ordered by a comparison that the caller
// passes (before(a, b): column a comes first), with each column's place.

struct ColumnHeap {
  int *entry;  // the columns, entry[0] first
  int *slot;   // per column: its place in entry, or kNone
  int size;
};

inline void heapPlace(ColumnHeap &heap, int at, int c) {
  heap.entry[at] = c;
  heap.slot[c] = at;
}

template <class Before>
void heapUp(ColumnHeap &heap, int at, Before before) {
  int c = heap.entry[at];
  while (at > 0) {
    int parent = (at - 1) / 2;
    if (!before(c, heap.entry[parent])) break;
    heapPlace(heap, at, heap.entry[parent]);
    at = parent;
  }
  heapPlace(heap, at, c);
}

template <class Before>
void heapDown(ColumnHeap &heap, int at, Before before) {
  int c = heap.entry[at];
  for (;;) {
    int child = 2 * at + 1;
    if (child >= heap.size) break;
    if (child + 1 < heap.size && before(heap.entry[child + 1], heap.entry[child])) ++child;
    if (!before(heap.entry[child], c)) break;
    heapPlace(heap, at, heap.entry[child]);
    at = child;
  }
  heapPlace(heap, at, c);
}

template <class Before>
void heapPush(ColumnHeap &heap, int c, Before before) {
  heapPlace(heap, heap.size++, c);
  heapUp(heap, heap.size - 1, before);
}

// Removes the column at place at.
template <class Before>
void heapRemove(ColumnHeap &heap, int at, Before before) {
  heap.slot[heap.entry[at]] = kNone;
  if (--heap.size == at) return;
  heapPlace(heap, at, heap.entry[heap.size]);
  heapDown(heap, at, before);
  heapUp(heap, at, before);
}

// ---------------------------------------------------------------------------
// The exact engine.
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

// Summary slots per column, and the most that may be asked for.
constexpr int kSummarySlots = 8;
constexpr int kMaxSummarySlots = 16;

struct Exact {
  const double *C;
  double substitute;   // stands for every non-finite cost
  bool anySubstitute;  // C holds non-finite costs
  int slots;           // summary slots per column
  double *rowPot;
  double *colPot;
  // Per row: rowPot for an uncovered row, -Inf for a covered one. Then
  // cost - rowKey[r] is the reduced cost of an uncovered row and +Inf for a
  // covered one, and (cost - colPot) == rowKey[r] holds exactly at the
  // uncovered zeros.
  double *rowKey;
  // Column summaries: slots entries per column, in ascending order of
  // their reduced costs when the column was read (listedReduced), which
  // bound their reduced costs from below ever after.
  int *listedRow;
  double *listedCost;
  double *listedReduced;
  int *listedCount;
  double *tail;
  // Per phase. phase numbers the phases; a column's least reduced cost over
  // its uncovered listed rows is kept (leastCost, first reached at
  // leastRow, kNone if every listed row is covered) while leastPhase says
  // it is from this phase: the reduced costs of uncovered rows do not
  // change within a phase, so it holds until leastRow is covered.
  int phase;
  int *leastPhase;
  double *leastCost;
  int *leastRow;
  // Columns read into slack in this phase (slackPhase[c] == phase, listed
  // in slackColumn): slack[r] is the least working cost of row r over them,
  // kept through every step 5.
  int *slackPhase;
  int *slackColumn;
  int slackColumns;
  double *slack;  // room for max(M, N): exactBounds uses it first
  // Step 5 adds h to colPot of every uncovered column; within a phase that
  // is kept as shift, the sum of h in this phase, and since[c], the shift
  // when column c was uncovered (uncoveredPhase[c] == phase), so that its
  // potential is colPot[c] + (shift - since[c]). Those are integers of the
  // grid, so the sums are exact and equal the step-by-step ones; the
  // potentials are brought up to date when the phase ends.
  double shift;
  int *uncoveredPhase;
  double *since;
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
  double *keyCost;
  unsigned char *keyNeedsRead;
  int *pending;
  int pendingCount;
  // The unstarred columns (the ones uncovered when a phase starts), and
  // per column its place in freeColumn or kNone. zeroless[c]: unstarred
  // column c holds no zero at all. The zeros of an unstarred column never
  // vanish (a step 5 lowers it only where a row is uncovered, and there it
  // holds no zero; covered rows first gain h), and it gains zeros only in a
  // step 5 that finds its least cost to be h; so such a column need not be
  // searched when a phase starts.
  int *freeColumn;
  int *freeSlot;
  int freeCount;
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
  ColumnHeap freeHeap;
  double *lowerBound;
  int *moved;  // the unstarred columns moved into the heap of this phase
  int movedCount;
};

// A cost as the exact engine reads it: non-finite costs are the substitute.
inline double exactCost(double x, double substitute) {
  return std::isfinite(x) ? x : substitute;
}

// The potential of column c now.
inline double colPotNow(const Exact &exact, int c) {
  return exact.uncoveredPhase[c] == exact.phase ? exact.colPot[c] + (exact.shift - exact.since[c])
                                                : exact.colPot[c];
}

inline double exactCost(const Exact &exact, std::int64_t i) {
  return exactCost(exact.C[i], exact.substitute);
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

inline double lesserLane(__m128d x) {
  double lanes[2];
  _mm_storeu_pd(lanes, x);
  return lanes[1] < lanes[0] ? lanes[1] : lanes[0];
}
#endif

// The first row r in [from, M) with (cost[r] - colPot) == rowKey[r], that
// is the first uncovered zero of the column with costs cost[0..M) and
// potential colPot, or M.
template <bool kSubstitute>
int firstExactZero(const double *cost, double colPot, const double *rowKey, double substitute,
                   int from, int M) {
  int r = from;
#if defined(__SSE2__)
  const __m128d pot = _mm_set1_pd(colPot);
  const __m128d sub = _mm_set1_pd(substitute);
  for (; r + 4 <= M; r += 4) {
    __m128d low = _mm_cmpeq_pd(_mm_sub_pd(exactCosts<kSubstitute>(cost + r, sub), pot),
                               _mm_loadu_pd(rowKey + r));
    __m128d high = _mm_cmpeq_pd(_mm_sub_pd(exactCosts<kSubstitute>(cost + r + 2, sub), pot),
                                _mm_loadu_pd(rowKey + r + 2));
    if (_mm_movemask_pd(_mm_or_pd(low, high)) == 0) continue;
    int lowMask = _mm_movemask_pd(low);
    if (lowMask != 0) return (lowMask & 1) ? r : r + 1;
    return (_mm_movemask_pd(high) & 1) ? r + 2 : r + 3;
  }
#endif
  for (; r < M; ++r) {
    if (exactCost(cost[r], substitute) - colPot == rowKey[r]) return r;
  }
  return M;
}

// The exponent of the lowest set bit of a finite non-zero double: x is an
// integer multiple of 2^(that exponent).
int lowestBitExponent(double x) {
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

// Decides whether the exact engine may solve C, and computes the
// reduction: the minimum of each row (M <= N) or column (M > N) into rowPot
// or colPot.
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
  auto clearLines = [lineMin, lineMax, lines]() {
    for (int i = 0; i < lines; ++i) {
      lineMin[i] = kInf;
      lineMax[i] = -kInf;
    }
  };
  int lowBit = 0;
  double S = exact.substitute;
  bool integers = summary.integral && (!exact.anySubstitute || S >= kIntegerShifter ||
                                       (S + kIntegerShifter) - kIntegerShifter == S);
  if (integers) {
    // The line minima and maxima from the check of C; every cost an
    // integer, so g = 1 will do.
    for (int i = 0; i < lines; ++i) {
      lineMin[i] = summary.lineLeast[i];
      lineMax[i] = summary.lineLargest[i];
      if (exact.anySubstitute && summary.lineNonFinite[i]) {
        if (S < lineMin[i]) lineMin[i] = S;
        if (S > lineMax[i]) lineMax[i] = S;
      }
    }
  } else {
    // The general pass: the finest grid g = 2^lowBit of all the costs.
    clearLines();
    lowBit = std::numeric_limits<int>::max();
    double largest = 0.0;
    for (int c = 0; c < N; ++c) {
      for (int r = 0; r < M; ++r) {
        double x = exactCost(exact, at(r, c, M));
        int line = wide ? r : c;
        if (x < lineMin[line]) lineMin[line] = x;
        if (x > lineMax[line]) lineMax[line] = x;
        if (x > largest) largest = x;
        if (x != 0.0) {
          // Integers below 2^31 are multiples of 2^0: a cheap test first.
          bool smallInteger =
              x < kInt32Limit && static_cast<double>(static_cast<std::int32_t>(x)) == x;
          int bit = smallInteger ? 0 : lowestBitExponent(x);
          if (bit < lowBit) lowBit = bit;
        }
      }
      // The grid only gets finer and the largest cost only larger: give up
      // as soon as the costs cannot fit.
      if (lowBit != std::numeric_limits<int>::max() &&
          (!(largest <= kExactMagnitudeLimit) || !(std::ldexp(largest, -lowBit) <= kExactUnits))) {
        return false;
      }
    }
    if (lowBit == std::numeric_limits<int>::max()) lowBit = 0;  // every cost is zero
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
struct SummaryBuild {
  int *row;
  double *reduced;
  int slots;
  int count;
  int largest;
  double threshold;
  double tail;
};

// Row r, of reduced cost reduced below the threshold, enters the summary;
// when every slot was taken, the row with the largest reduced cost leaves
// for the tail.
void summaryInsert(SummaryBuild &build, int r, double reduced) {
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
    double threshold = build.reduced[0];
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
inline void summaryOffer(SummaryBuild &build, int r, double reduced) {
  if (reduced < build.threshold) {
    summaryInsert(build, r, reduced);
  } else if (reduced < build.tail) {
    build.tail = reduced;
  }
}

// Reads column c: renews its summary from the current row potentials and,
// with kSlack, takes its working costs into the slacks (slack[r] becomes
// the lesser of itself and working cost (r, c), for every row).
template <bool kSubstitute, bool kSlack>
void exactReadColumn(Exact &exact, int c, int M) {
  const double *costs = exact.C + at(0, c, M);
  const double *rowPot = exact.rowPot;
  double *slack = exact.slack;
  SummaryBuild build;
  build.row = exact.listedRow + static_cast<std::int64_t>(c) * exact.slots;
  build.reduced = exact.listedReduced + static_cast<std::int64_t>(c) * exact.slots;
  build.slots = exact.slots;
  build.count = 0;
  build.largest = 0;
  build.threshold = kInf;
  build.tail = kInf;
  double colPot = kSlack ? colPotNow(exact, c) : 0.0;  // slacks are read in the phases only
  int r = 0;
  if (M <= build.slots) {
    // Every row is listed.
    for (; r < M; ++r) {
      double reduced = exactCost(costs[r], exact.substitute) - rowPot[r];
      if (kSlack && reduced - colPot < slack[r]) slack[r] = reduced - colPot;
      build.row[r] = r;
      build.reduced[r] = reduced;
    }
    build.count = M;
  }
#if defined(__SSE2__)
  const __m128d sub = _mm_set1_pd(exact.substitute);
  const __m128d pot = _mm_set1_pd(colPot);
  const __m128d infinity = _mm_set1_pd(kInf);
  __m128d limit = _mm_set1_pd(build.threshold);
  __m128d lowTails = infinity;
  __m128d highTails = lowTails;
  for (; r + 4 <= M; r += 4) {
    __m128d lowCosts = exactCosts<kSubstitute>(costs + r, sub);
    __m128d highCosts = exactCosts<kSubstitute>(costs + r + 2, sub);
    __m128d low = _mm_sub_pd(lowCosts, _mm_loadu_pd(rowPot + r));
    __m128d high = _mm_sub_pd(highCosts, _mm_loadu_pd(rowPot + r + 2));
    if (kSlack) {
      _mm_storeu_pd(slack + r, _mm_min_pd(_mm_sub_pd(low, pot), _mm_loadu_pd(slack + r)));
      _mm_storeu_pd(slack + r + 2, _mm_min_pd(_mm_sub_pd(high, pot), _mm_loadu_pd(slack + r + 2)));
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
#endif
  for (; r < M; ++r) {
    double x = exactCost(costs[r], exact.substitute);
    double reduced = x - rowPot[r];
    if (kSlack) {
      double w = reduced - colPot;
      if (w < slack[r]) slack[r] = w;
    }
    summaryOffer(build, r, reduced);
  }
  // Sort the slots by reduced cost (insertion sort: few slots), and note
  // their costs.
  double *listedCost = exact.listedCost + static_cast<std::int64_t>(c) * exact.slots;
  for (int k = 1; k < build.count; ++k) {
    int row = build.row[k];
    double reduced = build.reduced[k];
    int j = k;
    for (; j > 0 && build.reduced[j - 1] > reduced; --j) {
      build.row[j] = build.row[j - 1];
      build.reduced[j] = build.reduced[j - 1];
    }
    build.row[j] = row;
    build.reduced[j] = reduced;
  }
  for (int k = 0; k < build.count; ++k) {
    listedCost[k] = exactCost(costs[build.row[k]], exact.substitute);
  }
  exact.listedCount[c] = build.count;
  exact.tail[c] = build.tail;
  exact.leastPhase[c] = kNone;
}

// Column c is listed: all its zeros are listed rows.
inline bool exactListed(const Exact &exact, int c) {
  return exact.tail[c] > colPotNow(exact, c);
}

// The least reduced cost of column c over its uncovered listed rows (+Inf
// if they are all covered); leastRow[c] becomes the first row that has it.
double exactListedLeast(Exact &exact, int c) {
  if (exact.leastPhase[c] == exact.phase) {
    int r = exact.leastRow[c];
    if (r == kNone || exact.rowKey[r] != -kInf) return exact.leastCost[c];
  }
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  const int *rows = exact.listedRow + first;
  const double *costs = exact.listedCost + first;
  const double *floors = exact.listedReduced + first;
  int count = exact.listedCount[c];
  double least = kInf;
  int leastRow = kNone;
  // The slots are in ascending order of a lower bound of their reduced
  // costs: once that bound passes the least so far, no later slot can
  // reach or tie it.
  for (int k = 0; k < count && !(floors[k] > least); ++k) {
    int r = rows[k];
    double reduced = costs[k] - exact.rowKey[r];
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
inline int exactListedZero(Exact &exact, int c) {
  return exactListedLeast(exact, c) == colPotNow(exact, c) ? exact.leastRow[c] : kNone;
}

// Reads every column into its summary (no slacks).
void exactSummarize(Exact &exact, int M, int N) {
  for (int c = 0; c < N; ++c) {
    if (exact.anySubstitute) {
      exactReadColumn<true, false>(exact, c, M);
    } else {
      exactReadColumn<false, false>(exact, c, M);
    }
  }
}

// The reduction has been made (exactBounds): summarizes every column and
// places the first stars. Returns the number of stars to reach.
int exactStart(Exact &exact, Marks &marks, int M, int N) {
  bool wide = M <= N;
  if (wide) {
    for (int c = 0; c < N; ++c) exact.colPot[c] = 0.0;
  } else {
    for (int r = 0; r < M; ++r) exact.rowPot[r] = 0.0;
  }
  for (int r = 0; r < M; ++r) exact.rowKey[r] = exact.rowPot[r];
  exactSummarize(exact, M, N);
  if (M == 0 || N == 0) return 0;
  bool allListed = true;
  for (int c = 0; c < N; ++c) allListed = allListed && exact.tail[c] > exact.colPot[c];
  if (wide && allListed) {
    // The zeros from the summaries, by row, each row's in ascending columns.
    int *rowStart = static_cast<int *>(mxCalloc(static_cast<size_t>(M) + 1, sizeof(int)));
    int *fill = allocate<int>(M);
    int *zeroColumn = allocate<int>(static_cast<std::int64_t>(N) * exact.slots);
    for (int pass = 0; pass < 2; ++pass) {
      for (int c = 0; c < N; ++c) {
        std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
        for (int k = 0; k < exact.listedCount[c]; ++k) {
          int r = exact.listedRow[first + k];
          if (exact.listedCost[first + k] != exact.rowPot[r]) continue;
          if (pass == 0) {
            ++rowStart[r + 1];
          } else {
            zeroColumn[fill[r]++] = c;
          }
        }
      }
      if (pass == 0) {
        for (int r = 0; r < M; ++r) {
          rowStart[r + 1] += rowStart[r];
          fill[r] = rowStart[r];
        }
      }
    }
    for (int r = 0; r < M; ++r) {
      for (int i = rowStart[r]; i < rowStart[r + 1]; ++i) {
        if (!marks.colCovered[zeroColumn[i]]) {
          placeStar(marks, r, zeroColumn[i]);
          break;
        }
      }
    }
    mxFree(rowStart);
    mxFree(fill);
    mxFree(zeroColumn);
  } else if (wide) {
    for (int r = 0; r < M; ++r) {
      for (int c = 0; c < N; ++c) {
        if (!marks.colCovered[c] && exactCost(exact, at(r, c, M)) == exact.rowPot[r]) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
  } else {
    for (int c = 0; c < N; ++c) {
      if (exact.tail[c] > exact.colPot[c]) {
        std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
        int best = kNone;
        for (int k = 0; k < exact.listedCount[c]; ++k) {
          int r = exact.listedRow[first + k];
          if (marks.starColumn[r] == kNone && (best == kNone || r < best) &&
              exact.listedCost[first + k] == exact.colPot[c]) {
            best = r;
          }
        }
        if (best != kNone) placeStar(marks, best, c);
        continue;
      }
      for (int r = 0; r < M; ++r) {
        if (marks.starColumn[r] == kNone && exactCost(exact, at(r, c, M)) == exact.colPot[c]) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
  }
  return wide ? M : N;
}

// Sets the key of column c from its summary.
void exactKey(Exact &exact, int c) {
  double least = exactListedLeast(exact, c);
  bool needsRead = !(least < exact.tail[c]);
  exact.keyCost[c] = needsRead ? exact.tail[c] : least;
  exact.keyNeedsRead[c] = needsRead;
}

// The key of column c is a lower bound only: its least row has been covered.
inline bool exactKeyStale(const Exact &exact, int c) {
  if (exact.keyNeedsRead[c]) return false;
  int r = exact.leastRow[c];
  return r != kNone && exact.rowKey[r] == -kInf;
}

inline double exactKeyNow(const Exact &exact, int c) {
  return exact.keyCost[c] - colPotNow(exact, c);
}

inline bool exactKeyBefore(const Exact &exact, int a, int b) {
  return exactKeyNow(exact, a) < exactKeyNow(exact, b);
}

// The order of the heap of the phase.
struct ExactKeyOrder {
  const Exact *exact;
  bool operator()(int a, int b) const { return exactKeyBefore(*exact, a, b); }
};

// The order of the heap of unstarred columns: their potentials grow
// together, so comparing bound minus base potential compares the keys.
struct ExactBoundOrder {
  const Exact *exact;
  bool operator()(int a, int b) const {
    return exact->lowerBound[a] - exact->colPot[a] < exact->lowerBound[b] - exact->colPot[b];
  }
};

inline double exactBoundNow(const Exact &exact, int c) {
  return exact.lowerBound[c] - colPotNow(exact, c);
}

void heapPopTop(Exact &exact) {
  heapRemove(exact.heap, 0, ExactKeyOrder{&exact});
}

// The least reduced cost of column c over every row, covered ones included:
// its listed rows' now, and tail.
double exactLowerBound(const Exact &exact, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  double least = exact.tail[c];
  for (int k = 0; k < exact.listedCount[c]; ++k) {
    double reduced = exact.listedCost[first + k] - exact.rowPot[exact.listedRow[first + k]];
    if (reduced < least) least = reduced;
  }
  return least;
}

// Step 4 is about to end the phase: the potentials of the columns
// uncovered in it are brought up to date, and the covered rows get their
// keys back.
void exactEndPhase(Exact &exact, const Marks &marks) {
  for (int i = 0; i < exact.freeCount; ++i) exact.colPot[exact.freeColumn[i]] += exact.shift;
  for (int i = 0; i < marks.coveredCount; ++i) {
    int c = marks.reachedColumns[i];
    exact.colPot[c] += exact.shift - exact.since[c];
    int r = marks.coveredRows[i];
    exact.rowKey[r] = exact.rowPot[r];
  }
}

// Step 4 starred column c: it leaves the unstarred columns. (It is not in
// the heap of lower bounds: it held a prime, so a zero; a column in that heap
// holds none, and gains one only in a step 5 that first moves it out.)
void exactColumnStarred(Exact &exact, int c) {
  int slot = exact.freeSlot[c];
  int last = exact.freeColumn[--exact.freeCount];
  exact.freeColumn[slot] = last;
  exact.freeSlot[last] = slot;
  exact.freeSlot[c] = kNone;
}

// A new phase: the uncovered columns are the unstarred ones; each that may
// hold a zero is searched afresh; no column has been read into the slacks.
void exactNewPhase(Exact &exact, Marks &marks, Cursors &cursors) {
  ExactBoundOrder boundOrder{&exact};
  for (int i = 0; i < exact.movedCount; ++i) {
    int c = exact.moved[i];
    if (exact.freeSlot[c] != kNone && exact.zeroless[c]) heapPush(exact.freeHeap, c, boundOrder);
  }
  exact.movedCount = 0;
  ++exact.phase;
  exact.shift = 0.0;
  exact.slackColumns = 0;
  exact.heapBuilt = false;
  exact.pendingCount = 0;
  for (int i = 0; i < marks.activeWords; ++i) marks.active[i] = 0;
  for (int i = 0; i < exact.freeCount; ++i) {
    int c = exact.freeColumn[i];
    exact.uncoveredPhase[c] = exact.phase;
    exact.since[c] = 0.0;
    cursors.position[c] = 0;
    cursors.listMode[c] = 0;
    if (!exact.zeroless[c]) {
      activate(marks, c);
    } else if (exact.freeHeap.slot[c] == kNone) {
      // Found to hold no zero in the last phase.
      exact.lowerBound[c] = exactLowerBound(exact, c);
      heapPush(exact.freeHeap, c, boundOrder);
    }
  }
}

// An unstarred column in which step 3 found no uncovered zero: whether it
// holds no zero at all, covered rows included (it is listed).
void exactNoteZeroless(Exact &exact, int c) {
  std::int64_t first = static_cast<std::int64_t>(c) * exact.slots;
  double colPot = colPotNow(exact, c);
  bool any = false;
  for (int k = 0; k < exact.listedCount[c]; ++k) {
    any = any || exact.listedCost[first + k] - exact.rowPot[exact.listedRow[first + k]] == colPot;
  }
  exact.zeroless[c] = !any;
}

// Step 3 covered a row and uncovered column c.
void exactUncovered(Exact &exact, Marks &marks, Cursors &cursors, int c) {
  exact.rowKey[marks.coveredRows[marks.coveredCount - 1]] = -kInf;
  exact.uncoveredPhase[c] = exact.phase;
  exact.since[c] = exact.shift;
  cursors.position[c] = 0;
  cursors.listMode[c] = 0;
  if (exact.heapBuilt) exact.pending[exact.pendingCount++] = c;
}

// Reads column c into the slacks (it leaves the heap for this phase).
void exactReadIntoSlack(Exact &exact, int c, int M) {
  if (exact.slackColumns == 0) {
    for (int r = 0; r < M; ++r) exact.slack[r] = kInf;
  }
  if (exact.anySubstitute) {
    exactReadColumn<true, true>(exact, c, M);
  } else {
    exactReadColumn<false, true>(exact, c, M);
  }
  exact.slackPhase[c] = exact.phase;
  exact.slackColumn[exact.slackColumns++] = c;
}

// The least slack of an uncovered row (+Inf without slacks).
double exactLeastSlack(const Exact &exact, int M) {
  double least = kInf;
  if (exact.slackColumns > 0) {
    for (int r = 0; r < M; ++r) {
      if (exact.rowKey[r] != -kInf && exact.slack[r] < least) least = exact.slack[r];
    }
  }
  return least;
}

// The heap of the phase settled: its top renewed until its key is exact,
// or read into the slacks, and the unstarred columns whose bound does not
// exceed its top's key or bar (the least slack) moved into it, until
// neither changes: then its top's key, or bar, is the least cost. A column
// that needs reading is read when its bound is not above bar: only then
// can it hold the least cost.
void exactSettle(Exact &exact, int M, double &bar) {
  ExactKeyOrder order{&exact};
  ExactBoundOrder boundOrder{&exact};
  for (;;) {
    if (exact.heap.size > 0) {
      int c = exact.heap.entry[0];
      if (exactKeyStale(exact, c)) {
        exactKey(exact, c);
        heapDown(exact.heap, 0, order);
        continue;
      }
      if (exact.keyNeedsRead[c] && !(exactKeyNow(exact, c) > bar)) {
        heapPopTop(exact);
        exactReadIntoSlack(exact, c, M);
        bar = exactLeastSlack(exact, M);
        continue;
      }
    }
    if (exact.freeHeap.size == 0) return;
    int c = exact.freeHeap.entry[0];
    double least = exact.heap.size > 0 ? exactKeyNow(exact, exact.heap.entry[0]) : kInf;
    if (bar < least) least = bar;
    if (exactBoundNow(exact, c) > least) return;
    heapRemove(exact.freeHeap, 0, boundOrder);
    exactKey(exact, c);
    exact.lowerBound[c] = exactLowerBound(exact, c);
    heapPush(exact.heap, c, order);
    exact.moved[exact.movedCount++] = c;
  }
}

// Step 5 on potentials: h is the least uncovered working cost, from the
// slacks of the columns read in this phase and the keys of the others;
// covered rows gain h, uncovered columns lose h.
bool exactStep5(Exact &exact, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  ExactKeyOrder order{&exact};
  if (!exact.heapBuilt) {
    // The columns step 3 uncovered so far, and the unstarred ones not in
    // their own heap.
    exact.heap.size = 0;
    for (int i = 0; i < exact.freeCount + marks.coveredCount; ++i) {
      int c = i < exact.freeCount ? exact.freeColumn[i] : marks.reachedColumns[i - exact.freeCount];
      if (exact.slackPhase[c] == exact.phase || exact.freeHeap.slot[c] != kNone) continue;
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
  double h = exactLeastSlack(exact, M);
  exactSettle(exact, M, h);
  if (exact.heap.size > 0) {
    double least = exactKeyNow(exact, exact.heap.entry[0]);
    if (least < h) h = least;
  }
  if (!std::isfinite(h)) return false;
  // The columns whose key is h hold new zeros at listed rows: step 3 finds
  // them; they return to the heap at the next step 5. (A column read here
  // has a bound of h: it cannot lower h.)
  for (;;) {
    double bar = h;
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
      if (exact.rowKey[r] == -kInf) continue;
      if (exact.slack[r] == h) cursors.zeroRows[cursors.zeroRowCount++] = r;
      exact.slack[r] -= h;
    }
    for (int i = 0; i < exact.slackColumns; ++i) {
      int c = exact.slackColumn[i];
      activate(marks, c);
      exact.zeroless[c] = 0;
      cursors.listMode[c] = 1;
      cursors.position[c] = 0;
    }
  }
  for (int i = 0; i < marks.coveredCount; ++i) exact.rowPot[marks.coveredRows[i]] -= h;
  exact.shift += h;
  return true;
}

// The exact engine's structures for the phases, N columns each; needed only
// when the first stars do not complete the solve.
void allocateExactPhases(Exact &exact, int N) {
  exact.leastCost = allocate<double>(N);
  exact.leastRow = allocate<int>(N);
  exact.slackPhase = allocate<int>(N);
  exact.slackColumn = allocate<int>(N);
  exact.slackColumns = 0;
  exact.shift = 0.0;
  exact.uncoveredPhase = allocate<int>(N);
  exact.since = allocate<double>(N);
  exact.heap.entry = allocate<int>(N);
  exact.heap.slot = allocate<int>(N);
  exact.heap.size = 0;
  exact.heapBuilt = false;
  exact.keyCost = allocate<double>(N);
  exact.keyNeedsRead = allocate<unsigned char>(N);
  exact.pending = allocate<int>(N);
  exact.pendingCount = 0;
  exact.freeColumn = allocate<int>(N);
  exact.freeSlot = allocate<int>(N);
  exact.freeCount = 0;
  exact.zeroless = static_cast<unsigned char *>(mxCalloc(static_cast<size_t>(N), 1));
  exact.freeHeap.entry = allocate<int>(N);
  exact.freeHeap.slot = allocate<int>(N);
  exact.freeHeap.size = 0;
  exact.lowerBound = allocate<double>(N);
  exact.moved = allocate<int>(N);
  exact.movedCount = 0;
  for (int c = 0; c < N; ++c) {
    exact.slackPhase[c] = exact.uncoveredPhase[c] = kNone;
    exact.heap.slot[c] = exact.freeHeap.slot[c] = kNone;
  }
}

void releaseExactPhases(Exact &exact) {
  mxFree(exact.leastCost);
  mxFree(exact.leastRow);
  mxFree(exact.slackPhase);
  mxFree(exact.slackColumn);
  mxFree(exact.uncoveredPhase);
  mxFree(exact.since);
  mxFree(exact.heap.entry);
  mxFree(exact.heap.slot);
  mxFree(exact.keyCost);
  mxFree(exact.keyNeedsRead);
  mxFree(exact.pending);
  mxFree(exact.freeColumn);
  mxFree(exact.freeSlot);
  mxFree(exact.zeroless);
  mxFree(exact.freeHeap.entry);
  mxFree(exact.freeHeap.slot);
  mxFree(exact.lowerBound);
  mxFree(exact.moved);
}

// The phases of the exact engine, from the first stars to the last.
SolveOutcome exactPhases(Exact &exact, Marks &marks, int M, int N) {
  Cursors cursors;
  allocateCursors(cursors, M, N);
  allocateExactPhases(exact, N);
  for (int c = 0; c < N; ++c) {
    exact.freeSlot[c] = kNone;
    if (marks.starRow[c] != kNone) continue;
    exact.freeSlot[c] = exact.freeCount;
    exact.freeColumn[exact.freeCount++] = c;
  }
  auto isZero = [&exact, M](int r, int c) {
    return exactCost(exact, at(r, c, M)) - colPotNow(exact, c) == exact.rowKey[r];
  };
  auto findInColumn = [&exact, M](int c, int from) {
    const double *costs = exact.C + at(0, c, M);
    double colPot = colPotNow(exact, c);
    return exact.anySubstitute
               ? firstExactZero<true>(costs, colPot, exact.rowKey, exact.substitute, from, M)
               : firstExactZero<false>(costs, colPot, exact.rowKey, exact.substitute, from, M);
  };
  auto findZero = [&exact, &marks, &cursors, &isZero, &findInColumn](int c) {
    if (!exactListed(exact, c)) return nextZero(cursors, marks, c, isZero, findInColumn);
    int r = exactListedZero(exact, c);
    if (r == kNone && exact.freeSlot[c] != kNone) exactNoteZeroless(exact, c);
    return r;
  };
  auto uncovered = [&exact, &marks, &cursors](int c) { exactUncovered(exact, marks, cursors, c); };
  SolveOutcome outcome = SolveOutcome::complete;
  while (marks.starCount != marks.targetCount) {
    exactNewPhase(exact, marks, cursors);
    int shifts = 0;
    Prime prime = step3(marks, findZero, uncovered);
    while (prime.row == kNone) {
      if (++shifts > marks.targetCount || !exactStep5(exact, marks, cursors)) break;
      prime = step3(marks, findZero, uncovered);
    }
    if (prime.row == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
    exactEndPhase(exact, marks);
    int starred = step4(marks, prime.row, prime.column);
    if (starred == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
    exactColumnStarred(exact, starred);
  }
  releaseExactPhases(exact);
  releaseCursors(cursors);
  return outcome;
}

SolveOutcome solveExact(double *assignment, const double *C, int M, int N, double substitute,
                        const CostSummary &summary, bool nanForbidden, int slots) {
  Exact exact;
  exact.C = C;
  exact.substitute = substitute;
  exact.anySubstitute = summary.anyNonFinite;
  // A column of M rows needs no more than M slots.
  exact.slots = slots < 1 ? 1 : (slots > kMaxSummarySlots ? kMaxSummarySlots : slots);
  if (exact.slots > M && M > 0) exact.slots = M;
  exact.phase = 0;
  exact.rowPot = allocate<double>(M);
  exact.colPot = allocate<double>(N);
  exact.rowKey = allocate<double>(M);
  exact.slack = allocate<double>(M > N ? M : N);
  exact.listedRow = allocate<int>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedCost = allocate<double>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedReduced = allocate<double>(static_cast<std::int64_t>(N) * exact.slots);
  exact.listedCount = allocate<int>(N);
  exact.tail = allocate<double>(N);
  exact.leastPhase = allocate<int>(N);
  SolveOutcome outcome = SolveOutcome::inexact;
  if (exactBounds(exact, M, N, summary, nanForbidden)) {
    Marks marks;
    allocateMarks(marks, M, N, 0);
    marks.targetCount = exactStart(exact, marks, M, N);
    outcome = marks.starCount == marks.targetCount ? SolveOutcome::complete
                                                   : exactPhases(exact, marks, M, N);
    if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
    releaseMarks(marks);
  }
  mxFree(exact.rowPot);
  mxFree(exact.colPot);
  mxFree(exact.rowKey);
  mxFree(exact.slack);
  mxFree(exact.listedRow);
  mxFree(exact.listedCost);
  mxFree(exact.listedReduced);
  mxFree(exact.listedCount);
  mxFree(exact.tail);
  mxFree(exact.leastPhase);
  return outcome;
}

// ---------------------------------------------------------------------------
// The driver.

// Which engine solves: the exact one whenever it can (automatic), or one of
// them only (for tests and benchmarks; the exact engine then reports the
// inputs it cannot take as inexact).
enum class Engine { automatic, dense, exact };

// The sizes of the engines' per-column structures. The plug-in uses the
// defaults; tests use small ones so that the paths taken when they are too
// small (reading the column instead) run often.
struct Capacities {
  int summarySlots = kSummarySlots;
  int zeroSlots = kZeroSlots;
  int logEntries = 0;  // 0: one per kLogShare elements of the matrix
};

void clearOutputs(double *assignment, double *cost, int M) {
  *cost = 0.0;
  for (int r = 0; r < M; ++r) assignment[r] = 0.0;
}

// One solve. With nanForbidden, NaN costs are replaced by the substitute like
// infinite ones; otherwise they are left in place. The outputs are zero.
SolveOutcome solve(double *assignment, double *cost, const double *C, int M, int N,
                   const CostSummary &summary, bool nanForbidden, Engine engine,
                   const Capacities &capacities) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  double substitute = 0.0;
  if (E > 0 && summary.anyNonFinite) {
    double F = summary.largestFinite;
    if (F == -1.0) return SolveOutcome::complete;  // nothing finite: no pairs, cost 0
    substitute =
        F > 0.0 ? (F * kSubstituteFactor) * static_cast<double>(E) : kSubstituteWhenAllZero;
  }
  SolveOutcome outcome = SolveOutcome::inexact;
  if (engine != Engine::dense) {
    // With NaN left in place the exact engine cannot run; when NaN is
    // forbidden it stands for the substitute like Inf.
    outcome =
        solveExact(assignment, C, M, N, substitute, summary, nanForbidden, capacities.summarySlots);
  }
  if (outcome == SolveOutcome::inexact && engine != Engine::exact) {
    outcome = solveDense(assignment, C, M, N, substitute, nanForbidden, capacities.zeroSlots,
                         capacities.logEntries);
  }
  if (outcome == SolveOutcome::complete) computeassignmentcost(assignment, cost, C, M);
  return outcome;
}

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
// The larger lane.
inline double largerLane(__m128d x) {
  double lanes[2];
  _mm_storeu_pd(lanes, x);
  return lanes[1] > lanes[0] ? lanes[1] : lanes[0];
}

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

// Summarizes C in one pass (see CostSummary), into line arrays that the
// caller provides; stops at the first column holding a finite negative
// cost. (x + 2^52) - 2^52 == x tells integers below 2^52, and odd ones
// above, which may be reported as not integers: that only means the exact
// engine checks them again.
CostSummary checkCosts(const double *C, int M, int N, double *lineLeast, double *lineLargest,
                       unsigned char *lineNonFinite) {
  CostSummary summary{-1.0, false, false, false, true, lineLeast, lineLargest, lineNonFinite};
  bool wide = M <= N;
  int lines = wide ? M : N;
  for (int i = 0; i < lines; ++i) {
    lineLeast[i] = kInf;
    lineLargest[i] = -kInf;
    lineNonFinite[i] = 0;
  }
  for (int c = 0; c < N && !summary.negative; ++c) {
    const double *costs = C + at(0, c, M);
    int r = 0;
#if defined(__SSE2__)
    r = M - M % 4;
    if (wide) {
      if (summary.integral) {
        checkColumn<true, true>(summary, costs, c, r);
      } else {
        checkColumn<true, false>(summary, costs, c, r);
      }
    } else if (summary.integral) {
      checkColumn<false, true>(summary, costs, c, r);
    } else {
      checkColumn<false, false>(summary, costs, c, r);
    }
#endif
    for (; r < M; ++r) checkCost(summary, costs[r], wide ? r : c);
  }
  return summary;
}

// Solves; if the steps cannot complete and C holds NaN, solves again with
// NaN forbidden. Returns stuck when even that cannot complete, and inexact
// when only the exact engine was asked for and it cannot take C.
// Refuses finite negative costs with the historical message; then solves.
SolveOutcome solveWithFallback(double *assignment, double *cost, const double *C, int M, int N,
                               Engine engine, const Capacities &capacities = Capacities()) {
  clearOutputs(assignment, cost, M);
  int lines = M <= N ? M : N;
  double *lineLeast = allocate<double>(lines);
  double *lineLargest = allocate<double>(lines);
  unsigned char *lineNonFinite = allocate<unsigned char>(lines);
  CostSummary summary = checkCosts(C, M, N, lineLeast, lineLargest, lineNonFinite);
  if (summary.negative) {
    mxFree(lineLeast);
    mxFree(lineLargest);
    mxFree(lineNonFinite);
    mexErrMsgTxt("All matrix elements have to be non-negative.");
  }
  SolveOutcome outcome = solve(assignment, cost, C, M, N, summary, false, engine, capacities);
  if (outcome == SolveOutcome::stuck && summary.anyNaN) {
    clearOutputs(assignment, cost, M);
    outcome = solve(assignment, cost, C, M, N, summary, true, engine, capacities);
  }
  if (outcome != SolveOutcome::complete) clearOutputs(assignment, cost, M);
  mxFree(lineLeast);
  mxFree(lineLargest);
  mxFree(lineNonFinite);
  return outcome;
}

// The solver driver: refuses finite negative costs; solves; if the steps
// still cannot complete, the costs are too large to work with.
void pairsolve(double *assignment, double *cost, const double *C, int M, int N) {
  if (solveWithFallback(assignment, cost, C, M, N, Engine::automatic) == SolveOutcome::complete) {
    return;
  }
  mexErrMsgIdAndTxt("pairsolve:costOverflow",
                    "The costs are too large to solve with: the working costs overflow. "
                    "Scale the finite costs down (divide C by a large constant) and call "
                    "pairsolve again.");
}

}  // namespace

MEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs != 1) {
    mexErrMsgIdAndTxt("pairsolve:wrongNumInputs",
                      "pairsolve takes exactly one input, the cost matrix C (got %d).", nrhs);
  }
  if (nlhs > 2) {
    mexErrMsgIdAndTxt("pairsolve:tooManyOutputs",
                      "pairsolve returns at most two outputs, [assignment, cost] (asked for %d).",
                      nlhs);
  }
  const mxArray *input = prhs[0];
  if (!mxIsDouble(input) || mxIsComplex(input) || mxIsSparse(input) ||
      mxGetNumberOfDimensions(input) != 2) {
    mexErrMsgIdAndTxt("pairsolve:invalidInput",
                      "The cost matrix C must be a real, full, two-dimensional double matrix.");
  }
  size_t rows = mxGetM(input);
  size_t columns = mxGetN(input);
  if (rows > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      columns > static_cast<size_t>(std::numeric_limits<int>::max())) {
    mexErrMsgIdAndTxt("pairsolve:tooLarge",
                      "The cost matrix C has more than 2147483647 rows or columns.");
  }
  int M = static_cast<int>(rows);
  int N = static_cast<int>(columns);
  const double *C = mxGetPr(input);
  plhs[0] = mxCreateDoubleMatrix(M, 1, mxREAL);
  double cost = 0.0;
  pairsolve(mxGetPr(plhs[0]), &cost, C, M, N);
  if (nlhs >= 2) {
    plhs[1] = mxCreateDoubleScalar(cost);
  }
}
