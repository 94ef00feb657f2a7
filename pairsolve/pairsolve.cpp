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
//   step 4's path in time proportional to the path, resumes step 3 where it
//   left each column (between two changes of the working costs rows only get
//   covered, so a zero passed over stays passed over), takes h from per-row
//   minima kept up to date, and in step 5 touches only the elements that
//   change, with exactly the additions and subtractions the steps make.
// - The exact engine serves inputs on which one pass proves every operation
//   of the steps exact (integer costs, or integer multiples of one power of
//   two, small enough; see exactBounds). Then a working cost equals the input
//   cost minus a column potential minus a row potential, exactly, and no
//   matrix is needed: costs are read from C, each column keeps a pointer to
//   its first zero row, each row its least cost over the uncovered columns,
//   and step 5 changes potentials only. Its scratch is O(M + N).
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
constexpr double kInt32Limit = 2147483648.0;  // 2^31

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

// w[r] = (w[r] + addend[r]) - h for r < n: one column of step 5, in which
// covered rows (addend h) first gain h and then every row loses it. Rows
// with addend -0.0 are unchanged by the addition, bit for bit.
void shiftColumn(double *w, const double *addend, double h, int n) {
  int r = 0;
#if defined(__SSE2__)
  __m128d hh = _mm_set1_pd(h);
  for (; r + 2 <= n; r += 2) {
    __m128d sum = _mm_add_pd(_mm_loadu_pd(w + r), _mm_loadu_pd(addend + r));
    _mm_storeu_pd(w + r, _mm_sub_pd(sum, hh));
  }
#endif
  for (; r < n; ++r) w[r] = (w[r] + addend[r]) - h;
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

// A cost as the exact engine reads it: non-finite costs are the substitute.
inline double exactCost(double x, double substitute) {
  return std::isfinite(x) ? x : substitute;
}

#if defined(__SSE2__)
inline __m128d exactCosts(const double *p, __m128d substitute) {
  __m128d x = _mm_loadu_pd(p);
  __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(x, x), _mm_setzero_pd());
  return _mm_or_pd(_mm_and_pd(finite, x), _mm_andnot_pd(finite, substitute));
}
#endif

// For the exact engine's column with costs cost[0..M) and potential colPot:
// the first row r in [from, M) that is not covered and whose working cost
// (cost[r] - colPot) - rowPot[r] is zero, or M.
int firstExactZero(const double *cost, double colPot, const double *rowPot,
                   const unsigned char *rowCovered, double substitute, int from, int M) {
  int r = from;
#if defined(__SSE2__)
  const __m128d pot = _mm_set1_pd(colPot);
  const __m128d sub = _mm_set1_pd(substitute);
  for (; r + 2 <= M; r += 2) {
    __m128d reduced = _mm_sub_pd(exactCosts(cost + r, sub), pot);
    int equal = _mm_movemask_pd(_mm_cmpeq_pd(reduced, _mm_loadu_pd(rowPot + r)));
    if ((equal & 1) && !rowCovered[r]) return r;
    if ((equal & 2) && !rowCovered[r + 1]) return r + 1;
  }
#endif
  for (; r < M; ++r) {
    if (exactCost(cost[r], substitute) - colPot == rowPot[r] && !rowCovered[r]) return r;
  }
  return M;
}

// The same column: slack[r] = min(working cost, slack[r]) for every row;
// returns the first uncovered row whose working cost is zero, or M.
int exactSlackColumn(const double *cost, double colPot, const double *rowPot,
                     const unsigned char *rowCovered, double substitute, int M, double *slack) {
  int first = M;
  int r = 0;
#if defined(__SSE2__)
  const __m128d pot = _mm_set1_pd(colPot);
  const __m128d sub = _mm_set1_pd(substitute);
  const __m128d zero = _mm_setzero_pd();
  for (; r + 2 <= M; r += 2) {
    __m128d w = _mm_sub_pd(_mm_sub_pd(exactCosts(cost + r, sub), pot), _mm_loadu_pd(rowPot + r));
    _mm_storeu_pd(slack + r, _mm_min_pd(w, _mm_loadu_pd(slack + r)));
    if (first == M) {
      int equal = _mm_movemask_pd(_mm_cmpeq_pd(w, zero));
      if ((equal & 1) && !rowCovered[r]) {
        first = r;
      } else if ((equal & 2) && !rowCovered[r + 1]) {
        first = r + 1;
      }
    }
  }
#endif
  for (; r < M; ++r) {
    double w = (exactCost(cost[r], substitute) - colPot) - rowPot[r];
    if (w < slack[r]) slack[r] = w;
    if (w == 0.0 && first == M && !rowCovered[r]) first = r;
  }
  return first;
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
};

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
// visits. uncovered(c) is told of every column uncovered.
template <class IsZero, class FindInColumn, class Uncovered>
Prime step3(Marks &marks, Cursors &cursors, IsZero isZero, FindInColumn findInColumn,
            Uncovered uncovered) {
  for (;;) {
    bool found = false;
    for (int c = 0; c < marks.N; ++c) {
      if (marks.colCovered[c]) continue;
      int r = nextZero(cursors, marks, c, isZero, findInColumn);
      if (r == kNone) continue;
      marks.primeColumn[r] = c;
      int starColumn = marks.starColumn[r];
      if (starColumn == kNone) return {r, c};
      marks.rowCovered[r] = 1;
      marks.colCovered[starColumn] = 0;
      marks.coveredRows[marks.coveredCount] = r;
      marks.reachedColumns[marks.coveredCount] = starColumn;
      ++marks.coveredCount;
      uncovered(starColumn);
      found = true;
    }
    if (!found) return {kNone, kNone};
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

struct Dense {
  double *workCost;  // M-by-N working costs, column-major
  double *rowMin;    // per uncovered row: least working cost over the uncovered columns
  bool rowMinValid;  // rowMin is kept up to date (from the first step 5 after a step 4)
  double *addend;    // per row: -0.0, or h while step 5 shifts the covered rows
  // Covered rows of covered columns are never read until the column is
  // uncovered or step 4 uncovers the rows, so step 5's additions to them
  // wait until then: shifts holds every h since the last step 4, and
  // coverShift, for each row covered since then (in the order of
  // Marks::coveredRows), how many of them came before the row was covered.
  double *shifts;
  int shiftCount;
  int *coverShift;
  int *rowShift;  // scratch: coverShift by row
};

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
  if (M <= N && M > 0) {
    // Row minima in column order: for each row the same comparisons, in the
    // same order, as a scan along the row.
    double *minimum = dense.rowMin;
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
    for (int r = 0; r < M; ++r) {
      for (int c = 0; c < N; ++c) {
        if (w[at(r, c, M)] == 0.0 && !marks.colCovered[c]) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
    return M;
  }
  if (M > N && N > 0) {
    for (int c = 0; c < N; ++c) {
      double *column = w + at(0, c, M);
      double minimum = column[0];
      for (int r = 1; r < M; ++r) {
        if (column[r] < minimum) minimum = column[r];
      }
      for (int r = 0; r < M; ++r) column[r] -= minimum;
    }
    for (int c = 0; c < N; ++c) {
      const double *column = w + at(0, c, M);
      for (int r = 0; r < M; ++r) {
        if (column[r] == 0.0 && marks.starColumn[r] == kNone) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
    return N;
  }
  return 0;
}

// After a step 4 (or at the start): every uncovered column is searched from
// its first row, and the row minima are rebuilt when step 5 first needs them.
void denseNewPhase(Dense &dense, Cursors &cursors, int N) {
  dense.rowMinValid = false;
  dense.shiftCount = 0;
  for (int c = 0; c < N; ++c) {
    cursors.position[c] = 0;
    cursors.listMode[c] = 0;
  }
}

// Makes the waiting additions to the covered rows of column c: each covered
// row gains, in order, every h since it was covered.
void denseCatchUp(Dense &dense, const Marks &marks, int c) {
  double *column = dense.workCost + at(0, c, marks.M);
  for (int i = 0; i < marks.coveredCount; ++i) {
    int r = marks.coveredRows[i];
    double x = column[r];
    for (int j = dense.coverShift[i]; j < dense.shiftCount; ++j) x = dense.shifts[j] + x;
    column[r] = x;
  }
}

// Step 4 is about to uncover every row: the covered columns catch up. The
// covered rows are put in ascending order first (with their cover shifts),
// so that each column is walked front to back.
void denseEndPhase(Dense &dense, Marks &marks) {
  if (dense.shiftCount == 0) return;
  for (int i = 0; i < marks.coveredCount; ++i) {
    dense.rowShift[marks.coveredRows[i]] = dense.coverShift[i];
  }
  int n = 0;
  for (int r = 0; r < marks.M && n < marks.coveredCount; ++r) {
    if (!marks.rowCovered[r]) continue;
    marks.coveredRows[n] = r;  // step 4 uses the covered rows and reached columns as sets
    dense.coverShift[n] = dense.rowShift[r];
    ++n;
  }
  for (int c = 0; c < marks.N; ++c) {
    if (marks.colCovered[c]) denseCatchUp(dense, marks, c);
  }
}

// Step 3 covered a row and uncovered column c.
void denseUncovered(Dense &dense, const Marks &marks, Cursors &cursors, int c) {
  dense.coverShift[marks.coveredCount - 1] = dense.shiftCount;
  denseCatchUp(dense, marks, c);
  cursors.position[c] = 0;
  cursors.listMode[c] = 0;
  if (dense.rowMinValid) minInto(dense.rowMin, dense.workCost + at(0, c, marks.M), marks.M);
}

// Step 5. h is the least uncovered working cost (from the row minima). Each
// covered row gains h in every column and then each uncovered column loses h
// in every row: covered rows of uncovered columns get (x + h) - h, uncovered
// rows of uncovered columns x - h, covered rows of covered columns x + h
// (later, see Dense::shifts), and the rest is untouched. Returns false when no finite h exists (NaN
// or overflowed costs): the steps cannot complete.
bool denseStep5(Dense &dense, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  int N = marks.N;
  double *rowMin = dense.rowMin;
  if (!dense.rowMinValid) {
    for (int r = 0; r < M; ++r) rowMin[r] = kInf;
    for (int c = 0; c < N; ++c) {
      if (!marks.colCovered[c]) minInto(rowMin, dense.workCost + at(0, c, M), M);
    }
    dense.rowMinValid = true;
  }
  double h = kInf;
  for (int r = 0; r < M; ++r) {
    if (!marks.rowCovered[r] && rowMin[r] < h) h = rowMin[r];
  }
  if (!std::isfinite(h)) return false;
  // No uncovered zero exists now, so afterwards the uncovered zeros are
  // exactly the uncovered elements equal to h: in the rows whose minimum is h.
  cursors.zeroRowCount = 0;
  for (int r = 0; r < M; ++r) {
    if (!marks.rowCovered[r] && rowMin[r] == h) cursors.zeroRows[cursors.zeroRowCount++] = r;
  }
  for (int i = 0; i < marks.coveredCount; ++i) dense.addend[marks.coveredRows[i]] = h;
  for (int c = 0; c < N; ++c) {
    if (marks.colCovered[c]) continue;
    shiftColumn(dense.workCost + at(0, c, M), dense.addend, h, M);
    cursors.listMode[c] = 1;
    cursors.position[c] = 0;
  }
  dense.shifts[dense.shiftCount++] = h;
  for (int i = 0; i < marks.coveredCount; ++i) dense.addend[marks.coveredRows[i]] = -0.0;
  // Subtraction is monotone, so each uncovered row's minimum is its old
  // minimum minus h.
  for (int r = 0; r < M; ++r) {
    if (!marks.rowCovered[r]) rowMin[r] = rowMin[r] - h;
  }
  return true;
}

enum class SolveOutcome { complete, stuck, inexact };

SolveOutcome solveDense(double *assignment, const double *C, int M, int N, double substitute,
                        bool nanForbidden) {
  Dense dense;
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  dense.workCost = allocate<double>(E);
  dense.rowMin = allocate<double>(M);
  dense.addend = allocate<double>(M);
  for (int r = 0; r < M; ++r) dense.addend[r] = -0.0;
  dense.shifts = allocate<double>((M < N ? M : N) + 1);
  dense.coverShift = allocate<int>(M);
  dense.rowShift = allocate<int>(M);
  Marks marks;
  allocateMarks(marks, M, N, 0);
  Cursors cursors;
  allocateCursors(cursors, M, N);
  marks.targetCount = denseStart(dense, marks, C, M, N, substitute, nanForbidden);

  auto isZero = [&dense, M](int r, int c) { return dense.workCost[at(r, c, M)] == 0.0; };
  auto findInColumn = [&dense, &marks, M](int c, int from) {
    return firstZeroRow(dense.workCost + at(0, c, M), marks.rowCovered, from, M);
  };
  auto uncovered = [&dense, &marks, &cursors](int c) { denseUncovered(dense, marks, cursors, c); };
  SolveOutcome outcome = SolveOutcome::complete;
  while (marks.starCount != marks.targetCount) {
    denseNewPhase(dense, cursors, N);
    int shifts = 0;
    Prime prime = step3(marks, cursors, isZero, findInColumn, uncovered);
    while (prime.row == kNone) {
      // Between two runs of step 4, step 5 runs at most targetCount times
      // while the working costs stay finite.
      if (++shifts > marks.targetCount || !denseStep5(dense, marks, cursors)) break;
      prime = step3(marks, cursors, isZero, findInColumn, uncovered);
    }
    if (prime.row == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
    denseEndPhase(dense, marks);
    if (step4(marks, prime.row, prime.column) == kNone) {
      outcome = SolveOutcome::stuck;
      break;
    }
  }
  if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
  mxFree(dense.workCost);
  mxFree(dense.rowMin);
  mxFree(dense.addend);
  mxFree(dense.shifts);
  mxFree(dense.coverShift);
  mxFree(dense.rowShift);
  releaseMarks(marks);
  releaseCursors(cursors);
  return outcome;
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

struct Exact {
  const double *C;
  double substitute;  // stands for every non-finite cost
  double *rowPot;
  double *colPot;
  double *slackFree;     // per row: least working cost over the unstarred columns
  unsigned char *stale;  // per row: slackFree needs recomputing (a column left that set)
  double *slackReached;  // per row: least working cost over the columns uncovered by step 3
  bool slackLive;        // slackReached is kept (from the first step 5 after a step 4)
  int *firstZero;        // per unstarred column: its first row holding a zero, or M
  int *freeColumns;      // the unstarred columns (in no order)
  int *freeIndex;        // per column: its place in freeColumns
  int freeCount;
};

inline double exactCost(const Exact &exact, std::int64_t i) {
  return exactCost(exact.C[i], exact.substitute);
}

inline double workingCost(const Exact &exact, int r, int c, int M) {
  return (exactCost(exact, at(r, c, M)) - exact.colPot[c]) - exact.rowPot[r];
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

// One pass over C that decides whether the exact engine may solve it, and
// computes the reduction: the minimum of each row (M <= N) or column (M > N)
// into rowPot or colPot.
//
// Let g be the largest power of two dividing every cost (the substitute
// included), Cmax the largest cost and Rmax the largest reduced cost (cost
// minus its line's minimum). Admitted: no NaN in the solve, Cmax <= 2^1000,
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
bool exactBounds(Exact &exact, int M, int N, bool anyNaN, bool nanForbidden) {
  if (anyNaN && !nanForbidden) return false;
  bool wide = M <= N;
  double *lineMin = wide ? exact.rowPot : exact.colPot;
  double *lineMax = exact.slackFree;  // allocated with room for max(M, N)
  int lines = wide ? M : N;
  for (int i = 0; i < lines; ++i) {
    lineMin[i] = kInf;
    lineMax[i] = -kInf;
  }
  int lowBit = std::numeric_limits<int>::max();
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
    // The grid only gets finer and the largest cost only larger: give up as
    // soon as the costs cannot fit.
    if (lowBit != std::numeric_limits<int>::max() &&
        (!(largest <= kExactMagnitudeLimit) || !(std::ldexp(largest, -lowBit) <= kExactUnits))) {
      return false;
    }
  }
  if (lowBit == std::numeric_limits<int>::max()) lowBit = 0;  // every cost is zero
  double reducedMax = 0.0;
  for (int i = 0; i < lines; ++i) {
    double reduced = lineMax[i] - lineMin[i];
    if (reduced > reducedMax) reducedMax = reduced;
  }
  double reducedUnits = std::ldexp(reducedMax, -lowBit);
  double largestUnits = std::ldexp(largest, -lowBit);
  return reducedUnits <= kExactReducedUnits && largestUnits <= kExactUnits - reducedUnits;
}

// Scans column c: every row's least cost (in slack) takes the column's cost
// into account; returns the first uncovered row holding a zero, or M.
int exactScanColumn(Exact &exact, const Marks &marks, int c, double *slack) {
  return exactSlackColumn(exact.C + at(0, c, marks.M), exact.colPot[c], exact.rowPot,
                          marks.rowCovered, exact.substitute, marks.M, slack);
}

// The reduction has been made (exactBounds); places the first stars and
// builds the row slacks over the unstarred columns and their first zeros.
int exactStart(Exact &exact, Marks &marks, int M, int N) {
  int targetCount = 0;
  if (M <= N && M > 0) {
    for (int c = 0; c < N; ++c) exact.colPot[c] = 0.0;
    for (int r = 0; r < M; ++r) {
      for (int c = 0; c < N; ++c) {
        if (!marks.colCovered[c] && exactCost(exact, at(r, c, M)) == exact.rowPot[r]) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
    targetCount = M;
  } else if (M > N && N > 0) {
    for (int r = 0; r < M; ++r) exact.rowPot[r] = 0.0;
    for (int c = 0; c < N; ++c) {
      for (int r = 0; r < M; ++r) {
        if (marks.starColumn[r] == kNone && exactCost(exact, at(r, c, M)) == exact.colPot[c]) {
          placeStar(marks, r, c);
          break;
        }
      }
    }
    targetCount = N;
  }
  exact.freeCount = 0;
  for (int r = 0; r < M; ++r) {
    exact.slackFree[r] = kInf;
    exact.stale[r] = 0;
  }
  for (int c = 0; c < N; ++c) {
    if (marks.starRow[c] != kNone) continue;
    exact.freeIndex[c] = exact.freeCount;
    exact.freeColumns[exact.freeCount++] = c;
    exact.firstZero[c] = exactScanColumn(exact, marks, c, exact.slackFree);
  }
  return targetCount;
}

// After a step 4 (or at the start): the unstarred columns resume at their
// first zero (zeros in a column that stays uncovered are never lost: step 5
// finds no uncovered zero, and covered rows keep their costs in uncovered
// columns), and the reached columns are covered again.
void exactNewPhase(Exact &exact, Cursors &cursors) {
  exact.slackLive = false;
  for (int i = 0; i < exact.freeCount; ++i) {
    int c = exact.freeColumns[i];
    cursors.position[c] = exact.firstZero[c];
    cursors.listMode[c] = 0;
  }
}

// A starred column left the unstarred set: rows whose least cost it held
// must recompute theirs before they are next needed.
void exactColumnStarred(Exact &exact, const Marks &marks, int c) {
  int M = marks.M;
  for (int r = 0; r < M; ++r) {
    if (workingCost(exact, r, c, M) == exact.slackFree[r]) exact.stale[r] = 1;
  }
  int last = exact.freeColumns[--exact.freeCount];
  exact.freeColumns[exact.freeIndex[c]] = last;
  exact.freeIndex[last] = exact.freeIndex[c];
}

// Step 3 uncovered column c. Until step 5 needs the row slacks, only its
// first uncovered zero is looked for.
void exactUncovered(Exact &exact, Marks &marks, Cursors &cursors, int c) {
  cursors.listMode[c] = 0;
  if (exact.slackLive) {
    cursors.position[c] = exactScanColumn(exact, marks, c, exact.slackReached);
  } else {
    cursors.position[c] = 0;
  }
}

// Step 5 on potentials: h is the least uncovered working cost (from the row
// slacks); covered rows gain h, uncovered columns lose h.
bool exactStep5(Exact &exact, Marks &marks, Cursors &cursors) {
  int M = marks.M;
  int N = marks.N;
  if (!exact.slackLive) {
    for (int r = 0; r < M; ++r) exact.slackReached[r] = kInf;
    for (int i = 0; i < marks.coveredCount; ++i) {
      exactScanColumn(exact, marks, marks.reachedColumns[i], exact.slackReached);
    }
    exact.slackLive = true;
  }
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r] || !exact.stale[r]) continue;
    double least = kInf;
    for (int i = 0; i < exact.freeCount; ++i) {
      double w = workingCost(exact, r, exact.freeColumns[i], M);
      if (w < least) least = w;
    }
    exact.slackFree[r] = least;
    exact.stale[r] = 0;
  }
  double h = kInf;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    double least =
        exact.slackReached[r] < exact.slackFree[r] ? exact.slackReached[r] : exact.slackFree[r];
    if (least < h) h = least;
  }
  if (!std::isfinite(h)) return false;
  cursors.zeroRowCount = 0;
  for (int r = 0; r < M; ++r) {
    if (marks.rowCovered[r]) continue;
    if (exact.slackFree[r] == h || exact.slackReached[r] == h) {
      cursors.zeroRows[cursors.zeroRowCount++] = r;
    }
    exact.slackFree[r] -= h;
    exact.slackReached[r] -= h;
  }
  for (int i = 0; i < marks.coveredCount; ++i) exact.rowPot[marks.coveredRows[i]] -= h;
  for (int c = 0; c < N; ++c) {
    if (marks.colCovered[c]) continue;
    exact.colPot[c] += h;
    // The new zeros of this column, all in zero rows; an unstarred column
    // keeps them, so its first zero may move up.
    int i = 0;
    while (i < cursors.zeroRowCount && workingCost(exact, cursors.zeroRows[i], c, M) != 0.0) ++i;
    cursors.listMode[c] = 1;
    cursors.position[c] = i;
    if (i < cursors.zeroRowCount && marks.starRow[c] == kNone &&
        cursors.zeroRows[i] < exact.firstZero[c]) {
      exact.firstZero[c] = cursors.zeroRows[i];
    }
  }
  return true;
}

SolveOutcome solveExact(double *assignment, const double *C, int M, int N, double substitute,
                        bool anyNaN, bool nanForbidden) {
  Exact exact;
  exact.C = C;
  exact.substitute = substitute;
  exact.rowPot = allocate<double>(M);
  exact.colPot = allocate<double>(N);
  exact.slackFree = allocate<double>(M > N ? M : N);
  exact.stale = allocate<unsigned char>(M);
  exact.slackReached = allocate<double>(M);
  exact.firstZero = allocate<int>(N);
  exact.freeColumns = allocate<int>(N);
  exact.freeIndex = allocate<int>(N);
  Marks marks;
  Cursors cursors;
  SolveOutcome outcome = SolveOutcome::inexact;
  if (exactBounds(exact, M, N, anyNaN, nanForbidden)) {
    allocateMarks(marks, M, N, 0);
    allocateCursors(cursors, M, N);
    marks.targetCount = exactStart(exact, marks, M, N);
    auto isZero = [&exact, M](int r, int c) {
      return exactCost(exact, at(r, c, M)) - exact.colPot[c] == exact.rowPot[r];
    };
    auto findInColumn = [&exact, &marks, M](int c, int from) {
      return firstExactZero(exact.C + at(0, c, M), exact.colPot[c], exact.rowPot, marks.rowCovered,
                            exact.substitute, from, M);
    };
    auto uncovered = [&exact, &marks, &cursors](int c) {
      exactUncovered(exact, marks, cursors, c);
    };
    outcome = SolveOutcome::complete;
    while (marks.starCount != marks.targetCount) {
      exactNewPhase(exact, cursors);
      int shifts = 0;
      Prime prime = step3(marks, cursors, isZero, findInColumn, uncovered);
      while (prime.row == kNone) {
        if (++shifts > marks.targetCount || !exactStep5(exact, marks, cursors)) break;
        prime = step3(marks, cursors, isZero, findInColumn, uncovered);
      }
      int starred = prime.row == kNone ? kNone : step4(marks, prime.row, prime.column);
      if (starred == kNone) {
        outcome = SolveOutcome::stuck;
        break;
      }
      exactColumnStarred(exact, marks, starred);
    }
    if (outcome == SolveOutcome::complete) buildassignmentvector(assignment, marks);
    releaseMarks(marks);
    releaseCursors(cursors);
  }
  mxFree(exact.rowPot);
  mxFree(exact.colPot);
  mxFree(exact.slackFree);
  mxFree(exact.stale);
  mxFree(exact.slackReached);
  mxFree(exact.firstZero);
  mxFree(exact.freeColumns);
  mxFree(exact.freeIndex);
  return outcome;
}

// ---------------------------------------------------------------------------
// The driver.

// Which engine solves: the exact one whenever it can (automatic), or one of
// them only (for tests and benchmarks; the exact engine then reports the
// inputs it cannot take as inexact).
enum class Engine { automatic, dense, exact };

// What one pass over C tells the driver.
struct CostSummary {
  double largestFinite;  // -1.0 when no element is finite
  bool anyNonFinite;
  bool anyNaN;
};

void clearOutputs(double *assignment, double *cost, int M) {
  *cost = 0.0;
  for (int r = 0; r < M; ++r) assignment[r] = 0.0;
}

// One solve. With nanForbidden, NaN costs are replaced by the substitute like
// infinite ones; otherwise they are left in place. The outputs are zero.
SolveOutcome solve(double *assignment, double *cost, const double *C, int M, int N,
                   const CostSummary &summary, bool nanForbidden, Engine engine) {
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
    outcome = solveExact(assignment, C, M, N, substitute, summary.anyNaN, nanForbidden);
  }
  if (outcome == SolveOutcome::inexact && engine != Engine::exact) {
    outcome = solveDense(assignment, C, M, N, substitute, nanForbidden);
  }
  if (outcome == SolveOutcome::complete) computeassignmentcost(assignment, cost, C, M);
  return outcome;
}

// Refuses finite negative costs and summarizes C for the solves.
CostSummary checkCosts(const double *C, int M, int N) {
  std::int64_t E = static_cast<std::int64_t>(M) * N;
  CostSummary summary{-1.0, false, false};
  for (std::int64_t i = 0; i < E; ++i) {
    double x = C[i];
    if (std::isfinite(x)) {
      if (x < 0.0) mexErrMsgTxt("All matrix elements have to be non-negative.");
      if (x > summary.largestFinite) summary.largestFinite = x;
    } else {
      summary.anyNonFinite = true;
      summary.anyNaN = summary.anyNaN || std::isnan(x);
    }
  }
  return summary;
}

// Solves; if the steps cannot complete and C holds NaN, solves again with
// NaN forbidden. Returns stuck when even that cannot complete, and inexact
// when only the exact engine was asked for and it cannot take C.
SolveOutcome solveWithFallback(double *assignment, double *cost, const double *C, int M, int N,
                               const CostSummary &summary, Engine engine) {
  clearOutputs(assignment, cost, M);
  SolveOutcome outcome = solve(assignment, cost, C, M, N, summary, false, engine);
  if (outcome == SolveOutcome::stuck && summary.anyNaN) {
    clearOutputs(assignment, cost, M);
    outcome = solve(assignment, cost, C, M, N, summary, true, engine);
  }
  if (outcome != SolveOutcome::complete) clearOutputs(assignment, cost, M);
  return outcome;
}

// The solver driver: refuses finite negative costs; solves; if the steps
// still cannot complete, the costs are too large to work with.
void pairsolve(double *assignment, double *cost, const double *C, int M, int N) {
  clearOutputs(assignment, cost, M);
  CostSummary summary = checkCosts(C, M, N);
  if (solveWithFallback(assignment, cost, C, M, N, summary, Engine::automatic) ==
      SolveOutcome::complete) {
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
